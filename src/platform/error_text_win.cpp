#include "platform/error_text.h"
#include "platform/windows_win.h"

namespace platform {

const std::uint32_t kErrorFileNotFound = ERROR_FILE_NOT_FOUND;
const std::uint32_t kErrorNotAFolder = ERROR_DIRECTORY;

std::optional<std::string> SystemErrorText(std::uint32_t code) {
  // Only the system's message table: the internet client's own module is not asked, so its
  // codes have a text here only where the system has one.
  wchar_t* message = nullptr;
  DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  if (length == 0) return std::nullopt;
  // As the system gives it, the line break at its end included.
  std::string text = Narrow(std::wstring_view(message, length));
  ::LocalFree(message);
  return text;
}

}  // namespace platform
