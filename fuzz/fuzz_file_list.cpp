// The file list of a manifest's signed text: comment and entry lines.
#include <algorithm>
#include <sstream>

#include "fuzz_support.h"
#include "verify/verify_tool.h"

namespace {

bool IsPathByte(unsigned char c) {
  return c >= 0x20 && c <= 0x7E && std::string_view("\"*:<>?|").find(c) == std::string::npos;
}

bool IsChecksumByte(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// Lines of the text that begin with a double quote.
std::size_t EntryLines(const std::string& text) {
  std::size_t count = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    if (text[start] == '"') ++count;
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream in(text, std::ios::binary);
  std::vector<FileEntry> entries{FileEntry("sentinel", 7, "abc")};
  in >> entries;  // throws nothing of its own: any exception is a finding
  if (in.fail()) {
    fuzzing::Require(entries.size() == 1 && entries[0].path == "sentinel",
                     "a failed extraction leaves the list unchanged");
    return 0;
  }
  // Every line is complete, except that a comment may run to the end of the input.
  const std::size_t lastLine = text.empty() ? 0 : text.rfind('\n', text.size() - 2) + 1;
  fuzzing::Require(text.empty() || text.back() == '\n' || text[lastLine] == '#',
                   "an accepted list ends with a line feed or a comment");
  fuzzing::Require(entries.size() == EntryLines(text), "one entry per entry line");
  for (const FileEntry& entry : entries) {
    fuzzing::Require(std::all_of(entry.path.begin(), entry.path.end(),
                                 [](char c) { return IsPathByte(static_cast<unsigned char>(c)); }),
                     "paths hold only path bytes");
    const std::string checksum = entry.Checksum();
    fuzzing::Require(std::all_of(checksum.begin(), checksum.end(), IsChecksumByte),
                     "checksums hold only lower-case hexadecimal digits");
  }
  return 0;
}
