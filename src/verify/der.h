// A strict reader of DER, the encoding of certificates and CRLs. Only what DER allows is read:
// single-byte tags, definite lengths in their shortest form, INTEGERs and object identifiers
// in their shortest form, BOOLEANs of 0x00 or 0xFF, BIT STRINGs whose unused bits are zero,
// and times of the forms YYMMDDHHMMSSZ and YYYYMMDDHHMMSSZ that name a real moment. Both builds
// read every certificate and CRL with it, so they decide alike on the same bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace VerificationToolCrypto::der {

inline constexpr unsigned char kBoolean = 0x01;
inline constexpr unsigned char kInteger = 0x02;
inline constexpr unsigned char kBitString = 0x03;
inline constexpr unsigned char kOctetString = 0x04;
inline constexpr unsigned char kNull = 0x05;
inline constexpr unsigned char kOid = 0x06;
inline constexpr unsigned char kUtcTime = 0x17;
inline constexpr unsigned char kGeneralizedTime = 0x18;
inline constexpr unsigned char kSequence = 0x30;
inline constexpr unsigned char kSet = 0x31;
// Context-specific tags [n] of constructed (explicit) and primitive (implicit) fields.
constexpr unsigned char Explicit(unsigned n) { return static_cast<unsigned char>(0xa0 | n); }
constexpr unsigned char Implicit(unsigned n) { return static_cast<unsigned char>(0x80 | n); }

struct Element {
  unsigned char tag = 0;
  std::string_view content;  // the value
  std::string_view whole;    // tag, length and value
};

// Reads the elements of a content one after another.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}

  bool AtEnd() const { return rest_.empty(); }
  // The tag of the next element, 0 at the end.
  unsigned char PeekTag() const;
  // The next element; nothing when none is well-formed there (the reader then stays).
  std::optional<Element> Next();
  // The next element when it is well-formed and has this tag.
  std::optional<Element> Next(unsigned char tag);
  // The next element when it has this tag; nothing without moving on when another tag
  // follows. Sets failed when the element is malformed.
  std::optional<Element> Optional(unsigned char tag, bool& failed);

 private:
  std::string_view rest_;
};

// Whether bytes are exactly one element whose every part, down to the primitive ones, is well
// formed: constructed contents hold only whole elements, and the universal types above meet
// their rules wherever they occur.
bool IsWellFormed(std::string_view bytes);

// The value of a non-negative INTEGER that fits into 63 bits.
std::optional<std::int64_t> SmallInteger(const Element& element);

// Seconds since 1970-01-01 00:00:00 UTC of a UTCTime (years 1950 to 2049) or GeneralizedTime.
std::optional<std::int64_t> Time(const Element& element);

// The bits of a BIT STRING with no unused bits: its content without the leading count.
std::optional<std::string_view> WholeBytes(const Element& element);

}  // namespace VerificationToolCrypto::der
