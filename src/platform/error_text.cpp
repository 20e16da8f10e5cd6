#include "platform/error_text.h"

#include <cstdio>
#include <string_view>

#include "platform/last_error.h"

namespace platform {
namespace {

struct CodeText {
  std::uint32_t code;
  std::string_view text;
};

// The platform layer's own codes, the same on every platform.
constexpr CodeText kOwnTexts[] = {
    {kErrorFolderIsLink, "The folder is a symbolic link"},
    {kErrorFolderForeignOwner, "The folder is owned by another user"},
    {kErrorFolderInUse, "Another orbec run is using the folder"},
    {kErrorFolderOthersMayWrite, "Other users may write into the folder"},
};

}  // namespace

std::string DownloadErrorText(std::uint32_t code) {
  switch (code) {
    case 0:
      return "Unexpected error";
    case kErrorInternetTimeout:
      return "The connection has timed out";
    case kErrorInternetItemNotFound:
      return "The file does not exist.";
    case kErrorInternetCannotConnect:
      return "Unsuccessful download";
  }
  for (const CodeText& entry : kOwnTexts) {
    if (entry.code == code) return std::string(entry.text);
  }
  if (std::optional<std::string> text = SystemErrorText(code)) return *text;
  char formatted[32];
  std::snprintf(formatted, sizeof formatted, "Error 0x%08x", code);
  return formatted;
}

std::string LastErrorText() { return DownloadErrorText(GetLastError()); }

}  // namespace platform
