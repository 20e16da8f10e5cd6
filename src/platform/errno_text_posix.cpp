#include <cstring>

#include "platform/errno_text.h"

namespace platform {

std::string ErrnoText(int code) {
  char buffer[256];
  // The GNU strerror_r returns the text, which need not be in the buffer.
  return strerror_r(code, buffer, sizeof buffer);
}

}  // namespace platform
