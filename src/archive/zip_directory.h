// Where one member of a zip archive lies: the end record, the central directory and the
// member's local header, read through a caller's positional reads and checked against the
// archive's size, so a damaged archive is refused before anything is read out of bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

inline constexpr std::uint16_t kZipStored = 0;
inline constexpr std::uint16_t kZipDeflated = 8;

// One member as its central-directory entry describes it, with the place of its data.
struct ZipMemberLocation {
  std::uint16_t method = 0;
  std::uint32_t crc32 = 0;
  std::uint64_t compressed_size = 0;
  std::uint64_t size = 0;
  std::uint64_t data_offset = 0;  // from the start of the archive
};

// Reads exactly size bytes at offset into buffer; false when that fails.
using ZipReadAt = std::function<bool(std::uint64_t offset, std::size_t size, void* buffer)>;

// Locates the first central-directory entry whose whole name matches `name` (ASCII case
// ignored). False when the archive is not a zip this reader handles (split over several
// disks, zip64, a central directory that does not fit before its end record or that holds a
// malformed entry), when no entry has the name, or when the member is encrypted, compressed
// otherwise than stored or deflated, or its local header disagrees with its entry or leaves
// no room for its data before the central directory.
bool LocateZipMember(const ZipReadAt& read_at, std::uint64_t archive_size, std::string_view name,
                     ZipMemberLocation& member);
