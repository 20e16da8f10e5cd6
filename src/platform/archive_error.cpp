#include "platform/archive_error.h"

#include <cerrno>

#include "platform/errno_text.h"

std::string ArchiveErrorText(int code) {
  using platform::ErrnoText;
  if (code == 0) code = errno;
  switch (code) {
    case kArchiveCorrupt:
      return "The archive is corrupt";
    case kArchiveTruncated:
      return "The archive is truncated";
    case kArchiveUnsupported:
      return "The archive contains unsupported features";
    default:
      return ErrnoText(code);
  }
}
