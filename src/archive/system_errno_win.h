// Win32 error codes in the archive's error channel, which holds errno values.
#pragma once

#include "platform/windows_win.h"

// The errno value that stands for a Win32 error code (EIO for one with no closer match).
int ErrnoFromWin32(DWORD code);

// Sets errno from ::GetLastError() and returns false, for failure paths.
bool FailWithWin32Errno();
