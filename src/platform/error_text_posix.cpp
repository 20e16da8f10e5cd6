#include <cerrno>
#include <string_view>

#include "platform/errno_text.h"
#include "platform/error_text.h"

namespace platform {

const std::uint32_t kErrorFileNotFound = ENOENT;
const std::uint32_t kErrorNotAFolder = ENOTDIR;

namespace {

struct CodeText {
  std::uint32_t code;
  std::string_view text;
};

// Texts of the internet-client codes that the downloader leaves besides the fixed ones.
constexpr CodeText kInternetTexts[] = {
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
};

}  // namespace

std::optional<std::string> SystemErrorText(std::uint32_t code) {
  for (const CodeText& entry : kInternetTexts) {
    if (entry.code == code) return std::string(entry.text);
  }
  if (code <= 4095) {
    std::string text = ErrnoText(static_cast<int>(code));
    if (!text.starts_with("Unknown error")) return text;
  }
  return std::nullopt;
}

}  // namespace platform
