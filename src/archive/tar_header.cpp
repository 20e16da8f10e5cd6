#include "archive/tar_header.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kNameOffset = 0;
constexpr std::size_t kNameLength = 100;
constexpr std::size_t kSizeOffset = 124;
constexpr std::size_t kTimeOffset = 136;
constexpr std::size_t kNumberLength = 12;
constexpr std::size_t kChecksumOffset = 148;
constexpr std::size_t kChecksumLength = 8;
constexpr std::size_t kTypeOffset = 156;
constexpr std::size_t kMagicOffset = 257;
constexpr std::size_t kPrefixOffset = 345;

bool IsOctalDigit(unsigned char c) { return c >= '0' && c <= '7'; }
bool IsFieldFiller(unsigned char c) { return c == ' ' || c == '\0'; }

}  // namespace

bool IsZeroHeader(const TarHeader& header) {
  return std::all_of(header.begin(), header.end(), [](unsigned char c) { return c == 0; });
}

bool ParseOctalField(const unsigned char* field, std::size_t length, std::uint64_t& value) {
  std::uint64_t result = 0;
  std::size_t i = 0;
  for (; i < length && IsOctalDigit(field[i]); ++i) result = result * 8 + (field[i] - '0');
  for (; i < length; ++i) {
    if (!IsFieldFiller(field[i])) return false;
  }
  value = result;
  return true;
}

bool HeaderChecksumMatches(const TarHeader& header) {
  std::uint64_t sum = 0;
  for (unsigned char c : header) sum += c;
  for (std::size_t i = 0; i < kChecksumLength; ++i) sum -= header[kChecksumOffset + i];
  sum += kChecksumLength * ' ';
  std::uint64_t recorded = 0;
  return ParseOctalField(&header[kChecksumOffset], kChecksumLength, recorded) && recorded == sum;
}

bool ParseMemberSize(const TarHeader& header, std::uint64_t& size) {
  return ParseOctalField(&header[kSizeOffset], kNumberLength, size);
}

bool ParseMemberTime(const TarHeader& header, std::uint64_t& time) {
  return ParseOctalField(&header[kTimeOffset], kNumberLength, time);
}

std::string MemberName(const TarHeader& header) {
  const char* field = reinterpret_cast<const char*>(&header[kNameOffset]);
  std::size_t length = kNameLength;
  while (length > 0 && IsFieldFiller(static_cast<unsigned char>(field[length - 1]))) --length;
  return std::string(field, strnlen(field, length));
}

bool HasNamePrefix(const TarHeader& header) {
  static constexpr char kPosixMagic[] = "ustar";  // with its zero byte: six bytes
  const bool posix = std::memcmp(&header[kMagicOffset], kPosixMagic, sizeof kPosixMagic) == 0;
  return posix && header[kPrefixOffset] != 0;
}

bool IsSafeMemberName(const std::string& name) {
  if (!name.empty() && (name.front() == '/' || name.front() == '\\')) return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}

unsigned char MemberType(const TarHeader& header) { return header[kTypeOffset]; }

std::uint64_t PaddingAfter(std::uint64_t size) {
  return (kTarBlockSize - size % kTarBlockSize) % kTarBlockSize;
}
