// What the process starter tells the interruption clean-up on Windows.
#pragma once

#include "platform/windows_win.h"

namespace platform {

// Keeps the interruption clean-up waiting while it lives. The clean-up runs on a thread of
// its own and freezes the main thread; a child started and published under this hold is
// either not made yet or known to the clean-up when it runs.
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;
};

// The child process that an interruption must stop first (null: none). Called under
// InterruptsHeld; the handle stays the caller's.
void SetInterruptibleChild(HANDLE process);

}  // namespace platform
