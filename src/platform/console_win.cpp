#include <cstdio>

#include "platform/console.h"
#include "platform/windows_win.h"

namespace platform {
namespace {

// A system text (FormatMessageW) brings a "\r\n" of its own. Where it ends the line, it is that
// line's one end; inside a sentence it would split the sentence, and becomes a blank. Every
// line then ends in a lone "\n", which goes out as "\r\n" once (the C runtime's text mode, or
// the console).
std::string WithOneLineEndEach(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text.substr(at, 2) != "\r\n") {
      result += text[at];
      continue;
    }
    ++at;  // on the "\n"
    if (at + 1 == text.size() || text[at + 1] == '\n') {
      result += '\n';
      if (at + 1 < text.size()) ++at;
    } else if (text[at + 1] != ' ') {
      result += ' ';
    }
  }
  return result;
}

}  // namespace

void WriteStandardStream(Stream stream, std::string_view raw_text) {
  const std::string text = WithOneLineEndEach(raw_text);
  std::FILE* file = stream == Stream::kOut ? stdout : stderr;
  HANDLE handle = ::GetStdHandle(stream == Stream::kOut ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (::GetConsoleMode(handle, &mode)) {
    std::fflush(file);  // whatever went through the C runtime comes first
    const std::wstring wide = Widen(text);
    // A console takes a bounded piece per call; a piece never ends inside a surrogate pair.
    constexpr std::size_t kPiece = 8192;
    for (std::size_t at = 0; at < wide.size();) {
      std::size_t size = wide.size() - at < kPiece ? wide.size() - at : kPiece;
      if (size == kPiece && IS_HIGH_SURROGATE(wide[at + size - 1])) --size;
      DWORD written = 0;
      if (!::WriteConsoleW(handle, wide.data() + at, static_cast<DWORD>(size), &written, nullptr)) {
        return;
      }
      at += size;
    }
    return;
  }
  std::fwrite(text.data(), 1, text.size(), file);
  std::fflush(file);
}

}  // namespace platform
