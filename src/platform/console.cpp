#include "platform/console.h"

#include <cstdarg>
#include <cstdio>

#include "platform/text_format.h"

namespace platform {
namespace {

class StandardStreams : public Console {
 public:
  // Every piece goes out at once: a progress line ends in a carriage return, which a
  // line-buffered terminal would hold back, and a run ended by a signal must not lose the
  // steps it already reported to a file or pipe.
  void Write(Stream stream, std::string_view text) override { WriteStandardStream(stream, text); }
  void Flush() override {
    std::fflush(stdout);
    std::fflush(stderr);
  }
};

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
  std::string text = FormatTextV(format, args);
  va_end(args);
  console.Write(stream, text);
}

void Reporter::Say(const char* format, ...) {
  if (verbosity_ == kQuiet) return;
  std::va_list args;
  va_start(args, format);
  std::string text = FormatTextV(format, args);
  va_end(args);
  console_.Write(Stream::kOut, text);
}

bool Reporter::Fail(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text = FormatTextV(format, args);
  va_end(args);
  console_.Write(Stream::kErr, text);
  return false;
}

}  // namespace platform
