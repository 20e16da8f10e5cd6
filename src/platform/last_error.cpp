#include "platform/last_error.h"

#include <cerrno>

namespace platform {
namespace {
thread_local std::uint32_t last_error = 0;
}

void SetLastError(std::uint32_t code) { last_error = code; }

std::uint32_t GetLastError() { return last_error; }

bool FailWithErrno() {
  SetLastError(static_cast<std::uint32_t>(errno));
  return false;
}

}  // namespace platform
