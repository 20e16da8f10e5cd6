#include <gtest/gtest.h>

#include <cerrno>

#include "download/transfer_error.h"
#include "download/transfer_error_curl.h"
#include "platform/error_text.h"

using namespace platform;

TEST(TransferErrorCode, ClassifiesEveryOutcome) {
  // What libcurl and the server said about one transfer.
  struct Outcome {
    CURLcode curl_code;
    bool http;
    long status;
    int local_errno;
  };
  struct Case {
    Outcome outcome;
    std::uint32_t code;
  } cases[] = {
      {{CURLE_OK, true, 200, 0}, 0},
      {{CURLE_OK, false, 0, 0}, 0},  // FTP has no status
      {{CURLE_OK, true, 404, 0}, kErrorInternetItemNotFound},
      {{CURLE_WRITE_ERROR, true, 404, 0}, kErrorInternetItemNotFound},
      {{CURLE_WRITE_ERROR, true, 500, 0}, kErrorInternetCannotConnect},
      {{CURLE_OK, true, 403, 0}, kErrorInternetCannotConnect},
      {{CURLE_OK, true, 401, 0}, kErrorInternetCannotConnect},
      {{CURLE_OK, true, 206, 0}, kErrorInternetCannotConnect},
      {{CURLE_WRITE_ERROR, true, 200, ENOSPC}, ENOSPC},
      {{CURLE_WRITE_ERROR, false, 0, ENOENT}, ENOENT},
      {{CURLE_REMOTE_FILE_NOT_FOUND, false, 550, 0}, kErrorInternetItemNotFound},
      {{CURLE_COULDNT_CONNECT, true, 0, 0}, kErrorInternetCannotConnect},
      {{CURLE_OPERATION_TIMEDOUT, true, 200, 0}, kErrorInternetTimeout},
      {{CURLE_OPERATION_TIMEDOUT, true, 0, 0}, kErrorInternetTimeout},
      {{CURLE_PARTIAL_FILE, true, 200, 0}, kErrorInternetConnectionAborted},
      {{CURLE_RECV_ERROR, true, 200, 0}, kErrorInternetConnectionAborted},
      {{CURLE_TOO_MANY_REDIRECTS, true, 302, 0}, kErrorHttpRedirectFailed},
      {{CURLE_COULDNT_RESOLVE_HOST, true, 0, 0}, kErrorInternetNameNotResolved},
      {{CURLE_URL_MALFORMAT, false, 0, 0}, kErrorInternetInvalidUrl},
      {{CURLE_UNSUPPORTED_PROTOCOL, false, 0, 0}, kErrorInternetUnrecognizedScheme},
      {{CURLE_LOGIN_DENIED, false, 0, 0}, kErrorInternetLoginFailure},
      {{CURLE_OUT_OF_MEMORY, false, 0, 0}, ENOMEM},
      {{CURLE_SSL_CONNECT_ERROR, true, 0, 0}, kErrorInternetSecurityChannelError},
      {{CURLE_ABORTED_BY_CALLBACK, true, 200, 0}, kErrorInternetInternalError},
  };
  for (const Case& c : cases) {
    const Outcome& o = c.outcome;
    const TransferResult result{CurlFailureCode(o.curl_code), o.http, o.status, o.local_errno};
    EXPECT_EQ(TransferErrorCode(result), c.code)
        << "curl " << o.curl_code << " status " << o.status;
  }
}
