#include "platform/error_text.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/last_error.h"
#include "platform/resources.h"

using namespace platform;

TEST(DownloadErrorText, FixedTextsForTheCodesTheDownloaderLeaves) {
  EXPECT_EQ(DownloadErrorText(0), "Unexpected error");
  EXPECT_EQ(DownloadErrorText(12002), "The connection has timed out");
  EXPECT_EQ(DownloadErrorText(12028), "The file does not exist.");
  EXPECT_EQ(DownloadErrorText(12029), "Unsuccessful download");
}

TEST(DownloadErrorText, ErrnoValuesGetTheSystemText) {
  EXPECT_EQ(DownloadErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(DownloadErrorText(EACCES), "Permission denied");
}

TEST(DownloadErrorText, CodesWithoutTextAreShownInHex) {
  EXPECT_EQ(DownloadErrorText(12345), "Error 0x00003039");
  EXPECT_EQ(DownloadErrorText(0xdeadbeef), "Error 0xdeadbeef");
  EXPECT_EQ(DownloadErrorText(4000), "Error 0x00000fa0");
}

TEST(DownloadErrorText, EveryCodeTheToolProducesHasItsOwnText) {
  for (std::uint32_t code :
       {kErrorInternetTimeout, kErrorInternetExtendedError, kErrorInternetInternalError,
        kErrorInternetInvalidUrl, kErrorInternetUnrecognizedScheme, kErrorInternetNameNotResolved,
        kErrorInternetLoginFailure, kErrorInternetItemNotFound, kErrorInternetCannotConnect,
        kErrorInternetConnectionAborted, kErrorInternetConnectionReset, kErrorInternetInvalidCa,
        kErrorHttpInvalidServerResponse, kErrorHttpRedirectFailed,
        kErrorInternetSecurityChannelError, kErrorFolderIsLink, kErrorFolderForeignOwner,
        kErrorFolderInUse}) {
    EXPECT_NE(DownloadErrorText(code).rfind("Error 0x", 0), 0u) << code;
  }
}

TEST(LastErrorText, DescribesTheThreadsLastError) {
  SetLastError(12028);
  EXPECT_EQ(LastErrorText(), "The file does not exist.");
  SetLastError(ENOENT);
  EXPECT_EQ(LastErrorText(), "No such file or directory");
}

TEST(Resources, TrustAnchorsAndVersionAreEmbedded) {
  auto certificate = FindResource("CERTIFICATE", 101);
  ASSERT_TRUE(certificate);
  EXPECT_EQ(certificate->rfind("-----BEGIN CERTIFICATE-----\n", 0), 0u);
  auto crl = FindResource("CRL", 102);
  ASSERT_TRUE(crl);
  EXPECT_EQ(crl->rfind("-----BEGIN X509 CRL-----\n", 0), 0u);

  SetLastError(0);
  EXPECT_FALSE(FindResource("CRL", 101));
  EXPECT_EQ(GetLastError(), static_cast<std::uint32_t>(ENOENT));

  EXPECT_EQ(VersionString("FileVersion"), "1.1.6");
  EXPECT_FALSE(VersionString("ProductName"));
}
