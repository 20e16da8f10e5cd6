#include "archive/archive_error.h"

#include <cerrno>
#include <cstring>

std::string ArchiveErrorText(int code) {
  if (code == 0) code = errno;
  switch (code) {
    case kArchiveCorrupt:
      return "The archive is corrupt";
    case kArchiveTruncated:
      return "The archive is truncated";
    case kArchiveUnsupported:
      return "The archive contains unsupported features";
    default: {
      char buffer[256];
      // The GNU strerror_r returns the text, which need not be in the buffer.
      return strerror_r(code, buffer, sizeof buffer);
    }
  }
}
