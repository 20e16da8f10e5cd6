#include "verify/der.h"

namespace VerificationToolCrypto::der {
namespace {

constexpr unsigned char kConstructed = 0x20;
constexpr unsigned char kClassMask = 0xc0;
constexpr unsigned char kHighTagNumber = 0x1f;
// Certificates nest a dozen levels deep; anything far deeper is not one.
constexpr int kDepthLimit = 32;
// Lengths beyond 4 bytes would describe more than 4 GiB.
constexpr std::size_t kLengthBytesLimit = 4;

bool IsUniversal(unsigned char tag) { return (tag & kClassMask) == 0; }

bool IsMinimalInteger(std::string_view content) {
  if (content.empty()) return false;
  if (content.size() == 1) return true;
  const auto first = static_cast<unsigned char>(content[0]);
  const auto second = static_cast<unsigned char>(content[1]);
  return !(first == 0x00 && (second & 0x80) == 0) && !(first == 0xff && (second & 0x80) != 0);
}

// Each sub-identifier in base 128, most significant group first, without leading zero groups.
bool IsMinimalOid(std::string_view content) {
  if (content.empty() || (static_cast<unsigned char>(content.back()) & 0x80) != 0) return false;
  bool starts_component = true;
  for (char c : content) {
    const auto byte = static_cast<unsigned char>(c);
    if (starts_component && byte == 0x80) return false;
    starts_component = (byte & 0x80) == 0;
  }
  return true;
}

bool IsSoundBitString(std::string_view content) {
  if (content.empty()) return false;
  const auto unused = static_cast<unsigned char>(content[0]);
  if (unused > 7 || (content.size() == 1 && unused != 0)) return false;
  const auto last = static_cast<unsigned char>(content.back());
  return content.size() == 1 || (last & ((1u << unused) - 1)) == 0;
}

bool IsSoundPrimitive(const Element& element) {
  const std::string_view content = element.content;
  switch (element.tag) {
    case kBoolean:
      return content.size() == 1 && (content[0] == '\0' || content[0] == '\xff');
    case kInteger:
      return IsMinimalInteger(content);
    case kBitString:
      return IsSoundBitString(content);
    case kNull:
      return content.empty();
    case kOid:
      return IsMinimalOid(content);
    case kUtcTime:
    case kGeneralizedTime:
      return Time(element).has_value();
    default:
      return true;
  }
}

bool IsSoundTree(const Element& element, int depth) {
  if ((element.tag & kConstructed) == 0) return IsSoundPrimitive(element);
  // Constructed strings, integers and the like are BER, never DER.
  if (IsUniversal(element.tag) && element.tag != kSequence && element.tag != kSet) return false;
  if (depth >= kDepthLimit) return false;
  Reader inner(element.content);
  while (!inner.AtEnd()) {
    std::optional<Element> part = inner.Next();
    if (!part || !IsSoundTree(*part, depth + 1)) return false;
  }
  return true;
}

std::optional<int> Digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the date, in the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

}  // namespace

unsigned char Reader::PeekTag() const {
  return rest_.empty() ? 0 : static_cast<unsigned char>(rest_[0]);
}

std::optional<Element> Reader::Next() {
  if (rest_.size() < 2) return std::nullopt;
  const auto tag = static_cast<unsigned char>(rest_[0]);
  if ((tag & kHighTagNumber) == kHighTagNumber) return std::nullopt;
  const auto first = static_cast<unsigned char>(rest_[1]);
  std::size_t header = 2;
  std::size_t length = first;
  if (first >= 0x80) {
    const std::size_t count = first & 0x7f;  // 0: the indefinite form, never DER
    if (count == 0 || count > kLengthBytesLimit || rest_.size() < 2 + count || rest_[2] == '\0') {
      return std::nullopt;
    }
    length = 0;
    for (std::size_t i = 0; i < count; ++i) {
      length = length << 8 | static_cast<unsigned char>(rest_[2 + i]);
    }
    if (length < 0x80) return std::nullopt;  // the short form was due
    header += count;
  }
  if (length > rest_.size() - header) return std::nullopt;
  Element element{tag, rest_.substr(header, length), rest_.substr(0, header + length)};
  rest_.remove_prefix(header + length);
  return element;
}

std::optional<Element> Reader::Next(unsigned char tag) {
  if (PeekTag() != tag) return std::nullopt;
  return Next();
}

std::optional<Element> Reader::Optional(unsigned char tag, bool& failed) {
  if (PeekTag() != tag) return std::nullopt;
  std::optional<Element> element = Next();
  if (!element) failed = true;
  return element;
}

bool IsWellFormed(std::string_view bytes) {
  Reader reader(bytes);
  std::optional<Element> element = reader.Next();
  return element && reader.AtEnd() && IsSoundTree(*element, 0);
}

std::optional<std::int64_t> SmallInteger(const Element& element) {
  const std::string_view content = element.content;
  if (element.tag != kInteger || !IsMinimalInteger(content) ||
      (static_cast<unsigned char>(content[0]) & 0x80) != 0 || content.size() > 8 ||
      (content.size() == 8 && content[0] != '\0')) {
    return std::nullopt;
  }
  std::int64_t value = 0;
  for (char c : content) value = value << 8 | static_cast<unsigned char>(c);
  return value;
}

std::optional<std::int64_t> Time(const Element& element) {
  const std::string_view text = element.content;
  const std::size_t year_digits = element.tag == kUtcTime ? 2 : 4;
  if ((element.tag != kUtcTime && element.tag != kGeneralizedTime) ||
      text.size() != year_digits + 11 || text.back() != 'Z') {
    return std::nullopt;
  }
  std::optional<int> year = Digits(text, 0, year_digits);
  std::optional<int> month = Digits(text, year_digits, 2);
  std::optional<int> day = Digits(text, year_digits + 2, 2);
  std::optional<int> hour = Digits(text, year_digits + 4, 2);
  std::optional<int> minute = Digits(text, year_digits + 6, 2);
  std::optional<int> second = Digits(text, year_digits + 8, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  if (element.tag == kUtcTime) *year += *year < 50 ? 2000 : 1900;
  if (*month < 1 || *month > 12 || *day < 1 || *day > DaysInMonth(*year, *month) || *hour > 23 ||
      *minute > 59 || *second > 59) {
    return std::nullopt;
  }
  return DaysFromCivil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second;
}

std::optional<std::string_view> WholeBytes(const Element& element) {
  if (element.tag != kBitString || element.content.empty() || element.content[0] != '\0') {
    return std::nullopt;
  }
  return element.content.substr(1);
}

}  // namespace VerificationToolCrypto::der
