#include "archive/virus_data_version.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "archive/zip_member.h"

namespace {

constexpr std::string_view kVersionMemberName = "virusDataVersion.txt";
// Only the first line is used, so this much of the member is plenty to keep.
constexpr std::size_t kKeptBytes = 64 * 1024;
// The member is still read to its end (so its CRC-32 is checked), but not past this size.
constexpr std::uint64_t kMaxMemberSize = 16 * 1024 * 1024;

}  // namespace

bool GetVirusDataVersion(const std::filesystem::path& archive_path, std::string& version) {
  std::vector<char> content;
  if (!ReadZipMemberStart(archive_path, kVersionMemberName, kKeptBytes, kMaxMemberSize, content) ||
      content.empty()) {
    return false;
  }
  CutAtLineEnd(content.data(), content.size());
  version.assign(content.begin(), std::find(content.begin(), content.end(), '\0'));
  return true;
}

void CutAtLineEnd(char* buffer, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (buffer[i] == '\r' || buffer[i] == '\n') {
      buffer[i] = '\0';
      return;
    }
  }
}

bool IsAcceptableVersion(const std::string& version) {
  if (version == "." || version == "..") return false;
  for (unsigned char c : version) {
    if (c < 0x20 || c == 0x7F) return false;
    if (std::strchr("/\\:*?\"<>|", c) != nullptr) return false;
  }
  return true;
}
