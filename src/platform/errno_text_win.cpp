#include <cstring>

#include "platform/errno_text.h"

namespace platform {

std::string ErrnoText(int code) {
  // The C runtime of Windows keeps the text per thread; it says "Unknown error" alone.
  std::string text = std::strerror(code);
  if (text == "Unknown error") text += " " + std::to_string(code);
  return text;
}

}  // namespace platform
