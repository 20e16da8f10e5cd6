// Texts for error codes: errno values, the internet-client codes that transfers leave, and
// the few codes of the platform layer's own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Internet-client codes left by transfers (the numbers of the Windows internet client, so
// that both builds report the same codes).
inline constexpr std::uint32_t kErrorInternetTimeout = 12002;
inline constexpr std::uint32_t kErrorInternetExtendedError = 12003;
inline constexpr std::uint32_t kErrorInternetInternalError = 12004;
inline constexpr std::uint32_t kErrorInternetInvalidUrl = 12005;
inline constexpr std::uint32_t kErrorInternetUnrecognizedScheme = 12006;
inline constexpr std::uint32_t kErrorInternetNameNotResolved = 12007;
inline constexpr std::uint32_t kErrorInternetLoginFailure = 12015;
inline constexpr std::uint32_t kErrorInternetOperationCancelled = 12017;
inline constexpr std::uint32_t kErrorInternetItemNotFound = 12028;
inline constexpr std::uint32_t kErrorInternetCannotConnect = 12029;
inline constexpr std::uint32_t kErrorInternetConnectionAborted = 12030;
inline constexpr std::uint32_t kErrorInternetConnectionReset = 12031;
inline constexpr std::uint32_t kErrorInternetInvalidCa = 12045;
inline constexpr std::uint32_t kErrorHttpInvalidServerResponse = 12152;
inline constexpr std::uint32_t kErrorHttpRedirectFailed = 12156;
inline constexpr std::uint32_t kErrorInternetSecurityChannelError = 12157;

// Codes of the platform layer's own, outside every errno and internet-client range.
inline constexpr std::uint32_t kErrorFolderIsLink = 0x20000001;
inline constexpr std::uint32_t kErrorFolderForeignOwner = 0x20000002;
inline constexpr std::uint32_t kErrorFolderInUse = 0x20000003;
inline constexpr std::uint32_t kErrorFolderOthersMayWrite = 0x20000004;

// The system's own code for a path that names something other than a folder (ENOTDIR on
// Linux, ERROR_DIRECTORY on Windows).
extern const std::uint32_t kErrorNotAFolder;
// The system's own code for a missing file (ENOENT, ERROR_FILE_NOT_FOUND).
extern const std::uint32_t kErrorFileNotFound;

// The text for a code: fixed texts for 0, 12002, 12028, 12029 and the platform layer's own
// codes; otherwise the platform's message text, or "Error 0x%08x" for a code without one.
std::string DownloadErrorText(std::uint32_t code);

// The platform's message text for a code, nullopt when it has none. Linux: the errno text,
// or a short text of an internet-client code. Windows: the system's message
// (FormatMessageW) exactly as returned, the line break at its end included.
std::optional<std::string> SystemErrorText(std::uint32_t code);

// DownloadErrorText of the calling thread's last error, read before anything else runs.
std::string LastErrorText();

}  // namespace platform
