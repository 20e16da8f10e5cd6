#include "platform/error_text.h"

#include <cstdio>
#include <string_view>

#include "platform/errno_text.h"
#include "platform/last_error.h"

namespace platform {
namespace {

struct CodeText {
  std::uint32_t code;
  std::string_view text;
};

// Texts of the codes that the downloader and the work folder leave besides errno values.
constexpr CodeText kTexts[] = {
    {kErrorInternetExtendedError, "An extended error was returned from the server"},
    {kErrorInternetInternalError, "An internal error occurred"},
    {kErrorInternetInvalidUrl, "The URL is invalid"},
    {kErrorInternetUnrecognizedScheme,
     "The URL scheme could not be recognized or is not supported"},
    {kErrorInternetNameNotResolved, "The server name or address could not be resolved"},
    {kErrorInternetLoginFailure, "The login to the server was refused"},
    {kErrorInternetConnectionAborted, "The connection with the server was terminated abnormally"},
    {kErrorInternetConnectionReset, "The connection with the server was reset"},
    {kErrorInternetInvalidCa, "The certificate authority is invalid or incorrect"},
    {kErrorHttpInvalidServerResponse, "The server response could not be parsed"},
    {kErrorHttpRedirectFailed, "The redirection failed (too many redirects or a redirect loop)"},
    {kErrorInternetSecurityChannelError, "An error occurred in the secure channel support"},
    {kErrorFolderIsLink, "The folder is a symbolic link"},
    {kErrorFolderForeignOwner, "The folder is owned by another user"},
    {kErrorFolderInUse, "Another orbec run is using the folder"},
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
  for (const CodeText& entry : kTexts) {
    if (entry.code == code) return std::string(entry.text);
  }
  if (code <= 4095) {
    std::string text = ErrnoText(static_cast<int>(code));
    if (!text.starts_with("Unknown error")) return text;
  }
  char formatted[32];
  std::snprintf(formatted, sizeof formatted, "Error 0x%08x", code);
  return formatted;
}

std::string LastErrorText() { return DownloadErrorText(GetLastError()); }

}  // namespace platform
