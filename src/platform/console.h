// Console output: standard output for step and progress lines, standard error for failures.
#pragma once

#include <string>
#include <string_view>

namespace platform {

enum class Stream { kOut, kErr };

// Where the tool's lines go. The real one writes to the process's standard streams; tests
// use MemoryConsole to assert exact output.
class Console {
 public:
  virtual ~Console() = default;
  virtual void Write(Stream stream, std::string_view text) = 0;
  // Pushes buffered output out, so that a child process's lines appear after ours.
  virtual void Flush() {}
};

// The process's standard output and standard error.
Console& StdConsole();

// Writes UTF-8 text to the process's standard output or error and flushes it. On Windows a
// console window gets the text as UTF-16 (its own code page would garble anything beyond
// ASCII); a file or pipe gets the bytes, each "\n" as "\r\n" (the C runtime's text mode). There
// every line ends in one "\r\n": the line break that a system text brings ends its line, or,
// inside a sentence, becomes a blank.
void WriteStandardStream(Stream stream, std::string_view text);

// Keeps everything written, per stream.
class MemoryConsole : public Console {
 public:
  void Write(Stream stream, std::string_view text) override;
  std::string out;
  std::string err;
};

// printf-style output of one formatted text to a stream of the console.
void Print(Console& console, Stream stream, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// How much a run tells on standard output: nothing, one line per step, or also progress lines
// (and the ISO program's own output).
inline constexpr int kQuiet = 0;
inline constexpr int kNormal = 1;
inline constexpr int kVerbose = 2;

// What a run tells the user: step lines on standard output unless quiet, failures on standard
// error at every level. The formats are printf's, checked by the compiler.
class Reporter {
 public:
  Reporter(Console& console, int verbosity) : console_(console), verbosity_(verbosity) {}

  // A step line, unless quiet.
  void Say(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // A failure line; false, for the failure's return.
  bool Fail(const char* format, ...) __attribute__((format(printf, 2, 3)));

  bool verbose() const { return verbosity_ == kVerbose; }
  int verbosity() const { return verbosity_; }
  Console& console() const { return console_; }

 private:
  Console& console_;
  int verbosity_;
};

}  // namespace platform
