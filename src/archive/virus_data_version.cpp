#include "archive/virus_data_version.h"

#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kVersionMemberName = "virusDataVersion.txt";
// Only the first line is used, so this much of the member is plenty to keep.
constexpr std::size_t kKeptBytes = 64 * 1024;
// The member is still read to its end (so its CRC-32 is checked), but not past this size.
constexpr std::uint64_t kMaxMemberSize = 16 * 1024 * 1024;

struct ZipDiscard {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileClose {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ZipArchive = std::unique_ptr<zip_t, ZipDiscard>;
using ZipFile = std::unique_ptr<zip_file_t, ZipFileClose>;

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Index of the first central-directory entry with the member's name, or -1.
zip_int64_t FindVersionMember(zip_t* archive) {
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* name = zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
    if (name != nullptr && EqualsIgnoringAsciiCase(name, kVersionMemberName)) return i;
  }
  return -1;
}

// Reads the member to its end, which makes the library check its CRC-32, keeping the first
// kKeptBytes in kept. False on any read error, a CRC mismatch or a member over the size cap.
bool ReadMemberStart(zip_t* archive, zip_int64_t index, std::vector<char>& kept) {
  ZipFile file(zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0));
  if (!file) return false;
  std::vector<char> chunk(kKeptBytes);
  std::uint64_t total = 0;
  for (;;) {
    const zip_int64_t n = zip_fread(file.get(), chunk.data(), chunk.size());
    if (n < 0) return false;
    if (n == 0) return true;
    total += static_cast<std::uint64_t>(n);
    if (total > kMaxMemberSize) return false;
    const std::size_t room = kKeptBytes - std::min(kept.size(), kKeptBytes);
    kept.insert(kept.end(), chunk.data(), chunk.data() + std::min<std::size_t>(room, n));
  }
}

}  // namespace

bool GetVirusDataVersion(const std::filesystem::path& archive_path, std::string& version) {
  int error = 0;
  ZipArchive archive(zip_open(archive_path.c_str(), ZIP_RDONLY, &error));
  if (!archive) return false;
  const zip_int64_t index = FindVersionMember(archive.get());
  if (index < 0) return false;
  std::vector<char> content;
  if (!ReadMemberStart(archive.get(), index, content) || content.empty()) return false;
  CutAtLineEnd(content.data(), content.size());
  version.assign(content.data(), strnlen(content.data(), content.size()));
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
