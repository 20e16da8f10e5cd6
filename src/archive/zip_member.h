// One member of a zip archive, read into memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

// Reads the first central-directory entry whose whole name matches `name` (ZipMemberNameMatches)
// to its end, so that its CRC-32 is checked, keeping at most its first `keep` bytes in `start`.
// False when the archive cannot be opened, has no such entry, or the entry cannot be read,
// fails its CRC-32 or holds more than max_size bytes.
bool ReadZipMemberStart(const std::filesystem::path& archive, std::string_view name,
                        std::size_t keep, std::uint64_t max_size, std::vector<char>& start);

// True when the two names are equal, ASCII letters compared without case.
bool ZipMemberNameMatches(std::string_view member, std::string_view wanted);
