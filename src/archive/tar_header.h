// The fields of a tar header block that the reader uses, and the checks made on them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr std::size_t kTarBlockSize = 512;
// Only the first 500 bytes of a header block are read and checksummed; the rest is skipped.
inline constexpr std::size_t kTarHeaderReadSize = 500;

using TarHeader = std::array<unsigned char, kTarHeaderReadSize>;

// Member types handled by the reader (the type flag byte at offset 156).
inline constexpr unsigned char kTarTypeFile = '0';
inline constexpr unsigned char kTarTypeContiguousFile = '7';
inline constexpr unsigned char kTarTypeDirectory = '5';

// True when all the header bytes read are zero: the end of the archive.
bool IsZeroHeader(const TarHeader& header);

// Reads an octal text field: leading digits accumulate, the first other byte ends the number,
// and only spaces and zero bytes may follow it. A field of spaces and zero bytes is 0. The value
// is kept in 64 bits; a 12-byte field holds at most 36 bits, so it never wraps. False when
// the field is invalid.
bool ParseOctalField(const unsigned char* field, std::size_t length, std::uint64_t& value);

// The checksum rule: the unsigned sum of the header bytes read, with the checksum field counted
// as eight spaces, equals the field's octal value. False on a mismatch or an invalid field.
bool HeaderChecksumMatches(const TarHeader& header);

// The member's data size and modification time (seconds since 1970-01-01 UTC), read at full
// width. False when the field is invalid.
bool ParseMemberSize(const TarHeader& header, std::uint64_t& size);
bool ParseMemberTime(const TarHeader& header, std::uint64_t& time);

// The member name: the name field without trailing spaces and zero bytes, ending at the first
// zero byte. A name that fills all 100 bytes is used whole.
std::string MemberName(const TarHeader& header);

// True for a POSIX ustar header whose name prefix field is in use. Other header formats keep
// other data in those bytes.
bool HasNamePrefix(const TarHeader& header);

// Which file system the member names must be safe on.
enum class MemberNameRules {
  kPosix,
  // Also refuses what Windows would turn into something else than a file of that name: a ":"
  // (an alternate data stream, a drive prefix), a reserved device name (CON, NUL, COM1, ...,
  // also with an extension, any case) and a component ending in a dot or a blank (Windows
  // drops those, so "a." would land on "a").
  kWindows,
};

#ifdef _WIN32
inline constexpr MemberNameRules kPlatformMemberNameRules = MemberNameRules::kWindows;
#else
inline constexpr MemberNameRules kPlatformMemberNameRules = MemberNameRules::kPosix;
#endif

// False for a name that could reach outside the destination: an absolute name, or one with a
// ".." component. Both separators count, so the check holds where either one separates.
bool IsSafeMemberName(const std::string& name, MemberNameRules rules = kPlatformMemberNameRules);

unsigned char MemberType(const TarHeader& header);

// The zero fill after a member's data: up to the next multiple of the block size.
std::uint64_t PaddingAfter(std::uint64_t size);
