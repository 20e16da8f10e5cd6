// The calling thread's last error code: set by platform operations that fail (an errno
// value for system calls, an internet-client code for transfers); nothing clears it.
#pragma once

#include <cstdint>

namespace platform {

void SetLastError(std::uint32_t code);
std::uint32_t GetLastError();

// Sets the last error from the current errno value and returns false, for failure paths.
bool FailWithErrno();

}  // namespace platform
