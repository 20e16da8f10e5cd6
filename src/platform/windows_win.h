// The Windows API for the platform's Windows implementations, and the helpers they share:
// text crosses the API boundary as UTF-16, everything inside stays UTF-8.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// Our own functions share a few names with the API's A/W macros.
#undef DeleteFile
#undef FindResource

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// UTF-8 to UTF-16 and back. Invalid sequences become U+FFFD.
std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);

// One argument written so that the C runtime's parser (and CommandLineToArgvW) reads it back
// unchanged: quoted when it is empty or holds a blank, a tab or a quote; backslashes doubled
// where they precede a quote.
std::wstring QuoteWindowsArgument(std::wstring_view argument);

// Copies the calling thread's Windows last error into the platform's last error and
// returns false, for failure paths.
bool FailWithSystemError();

// Closes a kernel handle when it goes; INVALID_HANDLE_VALUE and null are "none".
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }
  void Reset(HANDLE handle = INVALID_HANDLE_VALUE) {
    if (valid()) ::CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace platform
