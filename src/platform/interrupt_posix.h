// What the process starter tells the interruption clean-up.
#pragma once

#include <sys/types.h>

namespace platform {

// The child process that an interruption must stop first (0: none).
void SetInterruptibleChild(pid_t pid);

}  // namespace platform
