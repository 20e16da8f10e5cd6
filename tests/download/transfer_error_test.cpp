// How a finished transfer is classified, the same on both builds.
#include "download/transfer_error.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/error_text.h"

using namespace platform;

TEST(TransferErrorCode, ClassifiesEveryOutcome) {
  struct Case {
    TransferResult result;  // the library's failure, HTTP, the status, a local errno
    std::uint32_t code;
  } cases[] = {
      {{0, true, 200, 0}, 0},
      {{0, false, 0, 0}, 0},  // FTP has no status
      {{0, true, 404, 0}, kErrorInternetItemNotFound},
      {{kErrorInternetInternalError, true, 404, 0}, kErrorInternetItemNotFound},
      {{kErrorInternetInternalError, true, 500, 0}, kErrorInternetCannotConnect},
      {{0, true, 403, 0}, kErrorInternetCannotConnect},
      {{0, true, 401, 0}, kErrorInternetCannotConnect},
      {{0, true, 206, 0}, kErrorInternetCannotConnect},
      {{0, true, 0, 0}, kErrorInternetCannotConnect},  // no status at all
      {{kErrorInternetInternalError, true, 200, ENOSPC}, ENOSPC},
      {{kErrorInternetInternalError, false, 0, ENOENT}, ENOENT},
      {{kErrorInternetItemNotFound, false, 550, 0}, kErrorInternetItemNotFound},
      {{kErrorInternetCannotConnect, true, 0, 0}, kErrorInternetCannotConnect},
      {{kErrorInternetTimeout, true, 200, 0}, kErrorInternetTimeout},
      {{kErrorInternetConnectionAborted, true, 200, 0}, kErrorInternetConnectionAborted},
      {{kErrorHttpRedirectFailed, true, 302, 0}, kErrorHttpRedirectFailed},
      {{kErrorInternetNameNotResolved, true, 0, 0}, kErrorInternetNameNotResolved},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TransferErrorCode(c.result), c.code)
        << "failure " << c.result.failure << " status " << c.result.status;
  }
}
