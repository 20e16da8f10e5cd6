#include "platform/error_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "platform/last_error.h"
#include "platform/resources.h"
#ifdef _WIN32
#include "platform/windows_win.h"
#endif

using namespace platform;

namespace {

#ifdef _WIN32
// On Windows the last error holds Windows codes, whose texts come from the system (and differ
// between Windows and wine): asked of FormatMessageW here, independently of the code under test.
constexpr std::uint32_t kFileNotFound = ERROR_FILE_NOT_FOUND;
constexpr std::uint32_t kAccessDenied = ERROR_ACCESS_DENIED;
constexpr std::uint32_t kResourceMissing = ERROR_RESOURCE_NAME_NOT_FOUND;

std::string SystemText(std::uint32_t code) {
  wchar_t* text = nullptr;
  DWORD length =
      ::FormatMessageW(0x1300, nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string narrow = Narrow(std::wstring_view(text, length));
  ::LocalFree(text);
  return narrow;
}
#else
constexpr std::uint32_t kFileNotFound = ENOENT;
constexpr std::uint32_t kAccessDenied = EACCES;
constexpr std::uint32_t kResourceMissing = ENOENT;

std::string SystemText(std::uint32_t code) {
  return code == ENOENT ? "No such file or directory" : "Permission denied";
}
#endif

}  // namespace

TEST(DownloadErrorText, FixedTextsForTheCodesTheDownloaderLeaves) {
  EXPECT_EQ(DownloadErrorText(0), "Unexpected error");
  EXPECT_EQ(DownloadErrorText(12002), "The connection has timed out");
  EXPECT_EQ(DownloadErrorText(12028), "The file does not exist.");
  EXPECT_EQ(DownloadErrorText(12029), "Unsuccessful download");
}

TEST(DownloadErrorText, SystemCodesGetTheSystemText) {
  for (std::uint32_t code : {kFileNotFound, kAccessDenied}) {
    EXPECT_EQ(DownloadErrorText(code), SystemText(code)) << code;
  }
#ifdef _WIN32
  // Kept as the system returns it, its line break included.
  EXPECT_TRUE(DownloadErrorText(kFileNotFound).ends_with("\r\n"));
#endif
}

TEST(DownloadErrorText, CodesWithoutTextAreShownInHex) {
  EXPECT_EQ(DownloadErrorText(12345), "Error 0x00003039");
  EXPECT_EQ(DownloadErrorText(0xdeadbeef), "Error 0xdeadbeef");
#ifndef _WIN32
  EXPECT_EQ(DownloadErrorText(4000), "Error 0x00000fa0");  // in the errno range, without text
#endif
}

TEST(DownloadErrorText, EveryCodeTheToolProducesHasItsOwnText) {
  // On Windows only the system's message table is asked, which has no text for the other
  // internet-client codes: those show as "Error 0x...", as on Windows itself.
  std::vector<std::uint32_t> codes = {kErrorInternetTimeout,       kErrorInternetItemNotFound,
                                      kErrorInternetCannotConnect, kErrorFolderIsLink,
                                      kErrorFolderForeignOwner,    kErrorFolderInUse};
#ifndef _WIN32
  codes.insert(codes.end(), {kErrorInternetExtendedError, kErrorInternetInternalError,
                             kErrorInternetInvalidUrl, kErrorInternetUnrecognizedScheme,
                             kErrorInternetNameNotResolved, kErrorInternetLoginFailure,
                             kErrorInternetConnectionAborted, kErrorInternetConnectionReset,
                             kErrorInternetInvalidCa, kErrorHttpInvalidServerResponse,
                             kErrorHttpRedirectFailed, kErrorInternetSecurityChannelError});
#endif
  for (std::uint32_t code : codes) {
    EXPECT_NE(DownloadErrorText(code).rfind("Error 0x", 0), 0u) << code;
  }
}

TEST(LastErrorText, DescribesTheThreadsLastError) {
  platform::SetLastError(12028);
  EXPECT_EQ(LastErrorText(), "The file does not exist.");
  platform::SetLastError(kFileNotFound);
  EXPECT_EQ(LastErrorText(), SystemText(kFileNotFound));
}

TEST(Resources, TrustAnchorsAndVersionAreEmbedded) {
  auto certificate = FindResource("CERTIFICATE", 101);
  ASSERT_TRUE(certificate);
  EXPECT_EQ(certificate->rfind("-----BEGIN CERTIFICATE-----\n", 0), 0u);
  EXPECT_TRUE(certificate->ends_with("-----END CERTIFICATE-----\n"));  // whole, nothing added
  auto crl = FindResource("CRL", 102);
  ASSERT_TRUE(crl);
  EXPECT_EQ(crl->rfind("-----BEGIN X509 CRL-----\n", 0), 0u);
  EXPECT_TRUE(crl->ends_with("-----END X509 CRL-----\n"));

  platform::SetLastError(0);
  EXPECT_FALSE(FindResource("CRL", 101));
  EXPECT_EQ(platform::GetLastError(), kResourceMissing);

  EXPECT_EQ(VersionString("FileVersion"), "1.1.6");
  EXPECT_FALSE(VersionString("ProductName"));
}
