#include "download/transfer_error.h"

#include "platform/error_text.h"

using namespace platform;

std::uint32_t TransferErrorCode(const TransferResult& result) {
  if (result.failure == kErrorHttpRedirectFailed) return kErrorHttpRedirectFailed;
  // A refused status wins over the write error that aborting the body causes.
  if (result.http && result.status != 0 && result.status != 200) {
    return result.status == 404 ? kErrorInternetItemNotFound : kErrorInternetCannotConnect;
  }
  if (result.local_errno != 0) return static_cast<std::uint32_t>(result.local_errno);
  if (result.failure == 0) {
    return result.http && result.status != 200 ? kErrorInternetCannotConnect : 0;
  }
  return result.failure;
}
