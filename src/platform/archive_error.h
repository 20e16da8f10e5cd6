// Reasons for a failed unpacking, in the errno style: the tar reader's own codes beside the
// runtime's ordinary errno values.
#pragma once

#include <string>

// A header is malformed: bad checksum, invalid octal field, or a member name that is refused.
inline constexpr int kArchiveCorrupt = 100;
// The archive ends early, or a seek within it fails.
inline constexpr int kArchiveTruncated = 101;
// A member type or header feature the reader does not handle.
inline constexpr int kArchiveUnsupported = 102;

// The text for an errno value; code 0 stands for the current errno. The archive codes have
// their own texts, every other value the runtime's description.
std::string ArchiveErrorText(int code);
