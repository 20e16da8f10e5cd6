// libcurl's results as the internet-client codes that the classification takes.
#include <gtest/gtest.h>

#include <cerrno>

#include "download/transfer_error_curl.h"
#include "platform/error_text.h"

using namespace platform;

TEST(CurlFailureCode, MapsEachResultToItsCode) {
  const std::pair<CURLcode, std::uint32_t> cases[] = {
      {CURLE_OK, 0},
      {CURLE_WRITE_ERROR, kErrorInternetInternalError},
      {CURLE_REMOTE_FILE_NOT_FOUND, kErrorInternetItemNotFound},
      {CURLE_COULDNT_CONNECT, kErrorInternetCannotConnect},
      {CURLE_OPERATION_TIMEDOUT, kErrorInternetTimeout},
      {CURLE_PARTIAL_FILE, kErrorInternetConnectionAborted},
      {CURLE_RECV_ERROR, kErrorInternetConnectionAborted},
      {CURLE_TOO_MANY_REDIRECTS, kErrorHttpRedirectFailed},
      {CURLE_COULDNT_RESOLVE_HOST, kErrorInternetNameNotResolved},
      {CURLE_URL_MALFORMAT, kErrorInternetInvalidUrl},
      {CURLE_UNSUPPORTED_PROTOCOL, kErrorInternetUnrecognizedScheme},
      {CURLE_LOGIN_DENIED, kErrorInternetLoginFailure},
      {CURLE_OUT_OF_MEMORY, ENOMEM},
      {CURLE_SSL_CONNECT_ERROR, kErrorInternetSecurityChannelError},
      {CURLE_ABORTED_BY_CALLBACK, kErrorInternetInternalError},
  };
  for (const auto& [curl, code] : cases) EXPECT_EQ(CurlFailureCode(curl), code) << curl;
}
