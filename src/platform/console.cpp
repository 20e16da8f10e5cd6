#include "platform/console.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace platform {
namespace {

class StandardStreams : public Console {
 public:
  // Every piece goes out at once: a progress line ends in a carriage return, which a
  // line-buffered terminal would hold back, and a run ended by a signal must not lose the
  // steps it already reported to a file or pipe.
  void Write(Stream stream, std::string_view text) override {
    std::FILE* file = stream == Stream::kOut ? stdout : stderr;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fflush(file);
  }
  void Flush() override {
    std::fflush(stdout);
    std::fflush(stderr);
  }
};

std::string Format(const char* format, std::va_list args) {
  char small[512];
  std::va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (length < 0) return {};
  if (static_cast<std::size_t>(length) < sizeof small) return std::string(small, length);
  std::vector<char> large(static_cast<std::size_t>(length) + 1);
  std::vsnprintf(large.data(), large.size(), format, args);
  return std::string(large.data(), length);
}

}  // namespace

Console& StdConsole() {
  static StandardStreams console;
  return console;
}

void MemoryConsole::Write(Stream stream, std::string_view text) {
  (stream == Stream::kOut ? out : err).append(text);
}

void Print(Console& console, Stream stream, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text = Format(format, args);
  va_end(args);
  console.Write(stream, text);
}

}  // namespace platform
