#include <cstdio>

#include "platform/console.h"

namespace platform {

void WriteStandardStream(Stream stream, std::string_view text) {
  std::FILE* file = stream == Stream::kOut ? stdout : stderr;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fflush(file);
}

}  // namespace platform
