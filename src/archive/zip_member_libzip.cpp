// libzip implementation: the library checks a member's CRC-32 when it is read to its end.
#include <zip.h>

#include <algorithm>
#include <memory>

#include "archive/zip_member.h"

namespace {

struct ZipDiscard {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileClose {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ZipArchive = std::unique_ptr<zip_t, ZipDiscard>;
using ZipFile = std::unique_ptr<zip_file_t, ZipFileClose>;

// Index of the first central-directory entry with the name, or -1.
zip_int64_t FindMember(zip_t* archive, std::string_view wanted) {
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* name = zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
    if (name != nullptr && ZipMemberNameMatches(name, wanted)) return i;
  }
  return -1;
}

// Reads the member to its end, keeping its first `keep` bytes in kept. False on any read
// error, a CRC mismatch or a member over max_size bytes.
bool ReadMember(zip_t* archive, zip_int64_t index, std::size_t keep, std::uint64_t max_size,
                std::vector<char>& kept) {
  ZipFile file(zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0));
  if (!file) return false;
  std::vector<char> chunk(keep);
  std::uint64_t total = 0;
  for (;;) {
    const zip_int64_t n = zip_fread(file.get(), chunk.data(), chunk.size());
    if (n < 0) return false;
    if (n == 0) return true;
    total += static_cast<std::uint64_t>(n);
    if (total > max_size) return false;
    const std::size_t room = keep - std::min(kept.size(), keep);
    kept.insert(kept.end(), chunk.data(), chunk.data() + std::min<std::size_t>(room, n));
  }
}

}  // namespace

bool ReadZipMemberStart(const std::filesystem::path& archive_path, std::string_view name,
                        std::size_t keep, std::uint64_t max_size, std::vector<char>& start) {
  start.clear();
  int error = 0;
  ZipArchive archive(zip_open(archive_path.c_str(), ZIP_RDONLY, &error));
  if (!archive) return false;
  const zip_int64_t index = FindMember(archive.get(), name);
  return index >= 0 && ReadMember(archive.get(), index, keep, max_size, start);
}
