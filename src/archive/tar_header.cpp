#include "archive/tar_header.h"

#include <algorithm>
#include <cstring>
#include <string_view>

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

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

// Windows opens a device for these names whatever extension follows them, and ignores blanks
// before the extension. COM and LPT also take the superscript digits 1 to 3 (UTF-8 here).
bool IsWindowsDeviceName(std::string_view component) {
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (EqualsIgnoringAsciiCase(base, device)) return true;
  }
  if (base.size() < 4) return false;
  const std::string_view prefix = base.substr(0, 3);
  if (!EqualsIgnoringAsciiCase(prefix, "COM") && !EqualsIgnoringAsciiCase(prefix, "LPT")) {
    return false;
  }
  const std::string_view number = base.substr(3);
  return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xc2\xb9" ||
         number == "\xc2\xb2" || number == "\xc2\xb3";
}

// "." names the folder itself and is passed over; any other name ending in a dot or a blank
// would be stored without them.
bool IsWindowsSafeComponent(std::string_view component) {
  if (component.empty() || component == ".") return true;
  if (component.back() == '.' || component.back() == ' ') return false;
  return !IsWindowsDeviceName(component);
}

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

bool IsSafeMemberName(const std::string& name, MemberNameRules rules) {
  if (!name.empty() && (name.front() == '/' || name.front() == '\\')) return false;
  const bool windows = rules == MemberNameRules::kWindows;
  if (windows && name.find(':') != std::string::npos) return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    const std::string_view component(name.data() + start, end - start);
    if (component == "..") return false;
    if (windows && !IsWindowsSafeComponent(component)) return false;
    start = end + 1;
  }
  return true;
}

unsigned char MemberType(const TarHeader& header) { return header[kTypeOffset]; }

std::uint64_t PaddingAfter(std::uint64_t size) {
  return (kTarBlockSize - size % kTarBlockSize) % kTarBlockSize;
}
