#include "archive/zip_directory.h"

#include <algorithm>
#include <new>
#include <vector>

#include "archive/zip_member.h"

namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kMaxCommentSize = 0xFFFF;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kLocalHeaderSize = 30;
// Far beyond the directory of any virus data archive; keeps a forged size from costing memory.
constexpr std::uint64_t kMaxDirectorySize = 64 * 1024 * 1024;
constexpr std::uint16_t kEncryptedFlag = 0x0001;

using Bytes = std::vector<unsigned char>;

std::uint16_t Get16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Get32(const unsigned char* p) {
  return static_cast<std::uint32_t>(Get16(p)) | static_cast<std::uint32_t>(Get16(p + 2)) << 16;
}

struct EndRecord {
  std::uint64_t directory_offset = 0;
  std::uint64_t directory_size = 0;
  std::uint64_t entries = 0;
};

// The end record is the last one whose comment reaches exactly to the end of the archive.
// Fields at their limit stand for zip64 values, which this reader does not take.
bool FindEndRecord(const ZipReadAt& read_at, std::uint64_t archive_size, EndRecord& end) {
  if (archive_size < kEndRecordSize) return false;
  const std::size_t tail_size = static_cast<std::size_t>(
      std::min<std::uint64_t>(archive_size, kEndRecordSize + kMaxCommentSize));
  const std::uint64_t tail_start = archive_size - tail_size;
  Bytes tail(tail_size);
  if (!read_at(tail_start, tail_size, tail.data())) return false;
  for (std::size_t at = tail_size - kEndRecordSize + 1; at-- > 0;) {
    const unsigned char* record = tail.data() + at;
    if (Get32(record) != kEndSignature) continue;
    if (at + kEndRecordSize + Get16(record + 20) != tail_size) continue;
    const std::uint16_t disk = Get16(record + 4);
    const std::uint16_t directory_disk = Get16(record + 6);
    const std::uint16_t disk_entries = Get16(record + 8);
    const std::uint16_t entries = Get16(record + 10);
    const std::uint32_t size = Get32(record + 12);
    const std::uint32_t offset = Get32(record + 16);
    if (disk != 0 || directory_disk != 0 || disk_entries != entries) return false;
    if (entries == 0xFFFF || size == 0xFFFFFFFF || offset == 0xFFFFFFFF) return false;
    if (std::uint64_t{offset} + size > tail_start + at) return false;
    end = {offset, size, entries};
    return true;
  }
  return false;
}

struct CentralEntry {
  std::uint16_t flags = 0;
  std::uint64_t local_offset = 0;
  ZipMemberLocation member;
};

// Walks every entry, so that a directory damaged anywhere is refused, and keeps the first one
// with the name. False when the directory is malformed or no entry has the name.
bool FindEntry(const Bytes& directory, std::uint64_t entries, std::string_view name,
               CentralEntry& found) {
  bool have = false;
  std::size_t at = 0;
  for (std::uint64_t i = 0; i < entries; ++i) {
    if (directory.size() - at < kCentralHeaderSize) return false;
    const unsigned char* header = directory.data() + at;
    if (Get32(header) != kCentralSignature) return false;
    const std::size_t name_size = Get16(header + 28);
    const std::size_t entry_size =
        kCentralHeaderSize + name_size + Get16(header + 30) + Get16(header + 32);
    if (directory.size() - at < entry_size) return false;
    const std::string_view entry_name(reinterpret_cast<const char*>(header) + kCentralHeaderSize,
                                      name_size);
    if (!have && ZipMemberNameMatches(entry_name, name)) {
      have = true;
      found.flags = Get16(header + 8);
      found.member.method = Get16(header + 10);
      found.member.crc32 = Get32(header + 16);
      found.member.compressed_size = Get32(header + 20);
      found.member.size = Get32(header + 24);
      found.local_offset = Get32(header + 42);
    }
    at += entry_size;
  }
  return have;
}

bool IsReadable(const CentralEntry& entry) {
  const ZipMemberLocation& member = entry.member;
  if ((entry.flags & kEncryptedFlag) != 0) return false;
  if (member.method != kZipStored && member.method != kZipDeflated) return false;
  if (member.method == kZipStored && member.compressed_size != member.size) return false;
  return member.compressed_size != 0xFFFFFFFF && member.size != 0xFFFFFFFF &&
         entry.local_offset != 0xFFFFFFFF;
}

// The data follow the local header, its name and its extra field, and end before the central
// directory.
bool FindData(const ZipReadAt& read_at, CentralEntry& entry, std::uint64_t data_end) {
  if (entry.local_offset > data_end || data_end - entry.local_offset < kLocalHeaderSize) {
    return false;
  }
  unsigned char header[kLocalHeaderSize];
  if (!read_at(entry.local_offset, sizeof header, header)) return false;
  if (Get32(header) != kLocalSignature || Get16(header + 8) != entry.member.method) return false;
  const std::uint64_t data_offset =
      entry.local_offset + kLocalHeaderSize + Get16(header + 26) + Get16(header + 28);
  if (data_offset > data_end || data_end - data_offset < entry.member.compressed_size) {
    return false;
  }
  entry.member.data_offset = data_offset;
  return true;
}

}  // namespace

bool LocateZipMember(const ZipReadAt& read_at, std::uint64_t archive_size, std::string_view name,
                     ZipMemberLocation& member) {
  try {
    EndRecord end;
    if (!FindEndRecord(read_at, archive_size, end) || end.directory_size > kMaxDirectorySize) {
      return false;
    }
    Bytes directory(static_cast<std::size_t>(end.directory_size));
    if (!read_at(end.directory_offset, directory.size(), directory.data())) return false;
    CentralEntry entry;
    if (!FindEntry(directory, end.entries, name, entry) || !IsReadable(entry)) return false;
    if (!FindData(read_at, entry, end.directory_offset)) return false;
    member = entry.member;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}
