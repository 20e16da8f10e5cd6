#include "verify/x509.h"

#include <algorithm>
#include <iterator>
#include <set>

#include "verify/der.h"

namespace VerificationToolCrypto {
namespace {

using namespace std::string_view_literals;
using der::Element;
using der::Reader;

// Object identifiers, as their DER content bytes.
constexpr std::string_view kRsaEncryption = "\x2a\x86\x48\x86\xf7\x0d\x01\x01\x01"sv;
constexpr std::string_view kBasicConstraints = "\x55\x1d\x13"sv;
constexpr std::string_view kKeyUsage = "\x55\x1d\x0f"sv;
constexpr std::string_view kExtendedKeyUsage = "\x55\x1d\x25"sv;
constexpr std::string_view kSubjectKeyIdentifier = "\x55\x1d\x0e"sv;
constexpr std::string_view kAuthorityKeyIdentifier = "\x55\x1d\x23"sv;
constexpr std::string_view kSubjectAltName = "\x55\x1d\x11"sv;
constexpr std::string_view kIssuerAltName = "\x55\x1d\x12"sv;
constexpr std::string_view kCrlNumber = "\x55\x1d\x14"sv;
constexpr std::string_view kCodeSigning = "\x2b\x06\x01\x05\x05\x07\x03\x03"sv;
constexpr std::string_view kAnyExtendedKeyUsage = "\x55\x1d\x25\x00"sv;

struct NamedAlgorithm {
  std::string_view oid;
  SignatureAlgorithm algorithm;
};

constexpr NamedAlgorithm kSignatureAlgorithms[] = {
    {"\x2a\x86\x48\x86\xf7\x0d\x01\x01\x04"sv, SignatureAlgorithm::kMd5Rsa},
    {"\x2a\x86\x48\x86\xf7\x0d\x01\x01\x05"sv, SignatureAlgorithm::kSha1Rsa},
    {"\x2a\x86\x48\x86\xf7\x0d\x01\x01\x0b"sv, SignatureAlgorithm::kSha256Rsa},
    {"\x2a\x86\x48\x86\xf7\x0d\x01\x01\x0c"sv, SignatureAlgorithm::kSha384Rsa},
    {"\x2a\x86\x48\x86\xf7\x0d\x01\x01\x0d"sv, SignatureAlgorithm::kSha512Rsa},
};

// The largest public exponent, in content bytes: 32 bits and the sign byte.
constexpr std::size_t kExponentLimit = 5;
// keyUsage names nine bits.
constexpr std::size_t kKeyUsageBytesLimit = 2;
// The GeneralName choices: otherName [0] to registeredID [8], constructed or not as defined.
constexpr unsigned char kGeneralNameTags[] = {0xa0, 0x81, 0x82, 0xa3, 0xa4, 0xa5, 0x86, 0x87, 0x88};

// An AlgorithmIdentifier of RSA, whose parameters are NULL or left out: the OID.
std::optional<std::string_view> AlgorithmWithNull(const Element& element) {
  Reader reader(element.content);
  std::optional<Element> oid = reader.Next(der::kOid);
  bool failed = false;
  reader.Optional(der::kNull, failed);
  if (element.tag != der::kSequence || !oid || failed || !reader.AtEnd()) return std::nullopt;
  return oid->content;
}

std::optional<SignatureAlgorithm> SignatureAlgorithmOf(const Element& element) {
  std::optional<std::string_view> oid = AlgorithmWithNull(element);
  if (!oid) return std::nullopt;
  for (const NamedAlgorithm& known : kSignatureAlgorithms) {
    if (known.oid == *oid) return known.algorithm;
  }
  return std::nullopt;
}

// A Name: a sequence of non-empty sets of (type, value) pairs.
bool IsName(const Element& element) {
  if (element.tag != der::kSequence) return false;
  Reader names(element.content);
  while (!names.AtEnd()) {
    std::optional<Element> set = names.Next(der::kSet);
    if (!set || set->content.empty()) return false;
    Reader pairs(set->content);
    while (!pairs.AtEnd()) {
      std::optional<Element> pair = pairs.Next(der::kSequence);
      if (!pair) return false;
      Reader parts(pair->content);
      if (!parts.Next(der::kOid) || !parts.Next() || !parts.AtEnd()) return false;
    }
  }
  return true;
}

// RSAPublicKey: a positive modulus and a positive exponent of at most 32 bits.
bool IsRsaPublicKey(std::string_view bytes) {
  // The key's bits are not DER that the certificate's own check looked into.
  if (!der::IsWellFormed(bytes)) return false;
  Reader outer(bytes);
  std::optional<Element> key = outer.Next(der::kSequence);
  if (!key || !outer.AtEnd()) return false;
  Reader parts(key->content);
  std::optional<Element> modulus = parts.Next(der::kInteger);
  std::optional<Element> exponent = parts.Next(der::kInteger);
  return modulus && exponent && parts.AtEnd() && (modulus->content[0] & 0x80) == 0 &&
         (exponent->content[0] & 0x80) == 0 &&
         (exponent->content.size() < kExponentLimit ||
          (exponent->content.size() == kExponentLimit && exponent->content[0] == '\0')) &&
         exponent->content.find_first_not_of('\0') != std::string_view::npos;
}

// A SubjectPublicKeyInfo: an algorithm and the key's bits. rsa tells whether it is an RSA key
// (rsaEncryption with NULL parameters and a sound RSAPublicKey).
bool IsKeyInfo(const Element& element, bool& rsa) {
  Reader parts(element.content);
  std::optional<Element> algorithm = parts.Next(der::kSequence);
  std::optional<Element> key = parts.Next(der::kBitString);
  if (element.tag != der::kSequence || !algorithm || !key || !parts.AtEnd()) return false;
  Reader named(algorithm->content);
  if (!named.Next(der::kOid)) return false;
  std::optional<std::string_view> oid = AlgorithmWithNull(*algorithm);
  std::optional<std::string_view> bits = der::WholeBytes(*key);
  rsa = oid && *oid == kRsaEncryption && bits && IsRsaPublicKey(*bits);
  return true;
}

// The content of the one element in bytes, when it has this tag.
std::optional<Element> OnlyElement(std::string_view bytes, unsigned char tag) {
  Reader reader(bytes);
  std::optional<Element> element = reader.Next(tag);
  if (!reader.AtEnd()) return std::nullopt;
  return element;
}

bool ReadBasicConstraints(std::string_view value, Restrictions& restrictions) {
  std::optional<Element> sequence = OnlyElement(value, der::kSequence);
  if (!sequence) return false;
  Reader parts(sequence->content);
  bool failed = false;
  // DER leaves out a BOOLEAN that has its default (FALSE).
  if (std::optional<Element> ca = parts.Optional(der::kBoolean, failed)) {
    if (ca->content != "\xff") return false;
    restrictions.is_ca = true;
  }
  if (std::optional<Element> length = parts.Optional(der::kInteger, failed)) {
    std::optional<std::int64_t> value_of = der::SmallInteger(*length);
    if (!value_of || *value_of > INT32_MAX) return false;
    restrictions.path_length = static_cast<std::uint32_t>(*value_of);
  }
  return !failed && parts.AtEnd();
}

// A named bit list in DER: no trailing zero bits, at least one bit set.
bool ReadKeyUsage(std::string_view value, Restrictions& restrictions) {
  std::optional<Element> bits = OnlyElement(value, der::kBitString);
  if (!bits || bits->content.size() < 2 || bits->content.size() > kKeyUsageBytesLimit + 1) {
    return false;
  }
  const auto unused = static_cast<unsigned char>(bits->content[0]);
  const auto last = static_cast<unsigned char>(bits->content.back());
  if (last == 0 || (last & (1u << unused)) == 0) return false;
  unsigned usage = 0;
  for (std::size_t byte = 1; byte < bits->content.size(); ++byte) {
    const auto value_of = static_cast<unsigned char>(bits->content[byte]);
    for (unsigned bit = 0; bit < 8; ++bit) {
      if ((value_of >> (7 - bit) & 1) != 0) usage |= 1u << ((byte - 1) * 8 + bit);
    }
  }
  restrictions.key_usage = usage;
  return true;
}

bool ReadExtendedKeyUsage(std::string_view value, Restrictions& restrictions) {
  std::optional<Element> sequence = OnlyElement(value, der::kSequence);
  if (!sequence || sequence->content.empty()) return false;
  restrictions.may_code_sign = false;
  Reader usages(sequence->content);
  while (!usages.AtEnd()) {
    std::optional<Element> usage = usages.Next(der::kOid);
    if (!usage) return false;
    if (usage->content == kCodeSigning || usage->content == kAnyExtendedKeyUsage) {
      restrictions.may_code_sign = true;
    }
  }
  return true;
}

bool IsGeneralNames(std::string_view bytes) {
  Reader names(bytes);
  if (names.AtEnd()) return false;
  while (!names.AtEnd()) {
    const unsigned char tag = names.PeekTag();
    if (std::find(std::begin(kGeneralNameTags), std::end(kGeneralNameTags), tag) ==
            std::end(kGeneralNameTags) ||
        !names.Next()) {
      return false;
    }
  }
  return true;
}

bool IsAlternativeNames(std::string_view value) {
  std::optional<Element> sequence = OnlyElement(value, der::kSequence);
  return sequence && IsGeneralNames(sequence->content);
}

// keyIdentifier [0], authorityCertIssuer [1], authorityCertSerialNumber [2], each optional, in
// that order.
bool IsAuthorityKeyIdentifier(std::string_view value) {
  std::optional<Element> sequence = OnlyElement(value, der::kSequence);
  if (!sequence) return false;
  Reader parts(sequence->content);
  bool failed = false;
  parts.Optional(der::Implicit(0), failed);
  if (std::optional<Element> issuer = parts.Optional(der::Explicit(1), failed)) {
    if (!IsGeneralNames(issuer->content)) return false;
  }
  parts.Optional(der::Implicit(2), failed);
  return !failed && parts.AtEnd();
}

// Reads one understood certificate extension; false when it is malformed.
bool ReadKnownExtension(std::string_view oid, std::string_view value, Restrictions& restrictions,
                        bool& understood) {
  understood = true;
  if (oid == kBasicConstraints) return ReadBasicConstraints(value, restrictions);
  if (oid == kKeyUsage) return ReadKeyUsage(value, restrictions);
  if (oid == kExtendedKeyUsage) return ReadExtendedKeyUsage(value, restrictions);
  if (oid == kSubjectKeyIdentifier) return OnlyElement(value, der::kOctetString).has_value();
  if (oid == kAuthorityKeyIdentifier) return IsAuthorityKeyIdentifier(value);
  if (oid == kSubjectAltName || oid == kIssuerAltName) return IsAlternativeNames(value);
  understood = false;
  return true;
}

// Walks Extensions (a non-empty sequence of (OID, critical, value)): no OID twice, a critical
// flag only when TRUE, and a value that is one element. read is called for each; it tells
// whether the extension is understood and well-formed.
template <typename ReadOne>
bool WalkExtensions(const Element& sequence, ReadOne read) {
  if (sequence.tag != der::kSequence || sequence.content.empty()) return false;
  std::set<std::string_view> seen;
  Reader extensions(sequence.content);
  while (!extensions.AtEnd()) {
    std::optional<Element> extension = extensions.Next(der::kSequence);
    if (!extension) return false;
    Reader parts(extension->content);
    std::optional<Element> oid = parts.Next(der::kOid);
    bool failed = false;
    std::optional<Element> critical = parts.Optional(der::kBoolean, failed);
    std::optional<Element> value = parts.Next(der::kOctetString);
    if (!oid || failed || (critical && critical->content != "\xff") || !value || !parts.AtEnd() ||
        !seen.insert(oid->content).second || !der::IsWellFormed(value->content)) {
      return false;
    }
    bool understood = false;
    if (!read(oid->content, value->content, understood) || (critical && !understood)) {
      return false;
    }
  }
  return true;
}

// The to-be-signed element, the algorithm named twice alike, and the signature.
std::optional<SignedPart> ReadSigned(std::string_view der, Element& tbs,
                                     std::string_view& algorithm_bytes) {
  if (!der::IsWellFormed(der)) return std::nullopt;
  Reader outer(der);
  std::optional<Element> whole = outer.Next(der::kSequence);
  if (!whole) return std::nullopt;
  Reader parts(whole->content);
  std::optional<Element> signed_element = parts.Next(der::kSequence);
  std::optional<Element> algorithm = parts.Next(der::kSequence);
  std::optional<Element> signature = parts.Next(der::kBitString);
  if (!signed_element || !algorithm || !signature || !parts.AtEnd()) return std::nullopt;
  std::optional<SignatureAlgorithm> named = SignatureAlgorithmOf(*algorithm);
  std::optional<std::string_view> bytes = der::WholeBytes(*signature);
  if (!named || !bytes) return std::nullopt;
  tbs = *signed_element;
  algorithm_bytes = algorithm->whole;
  return SignedPart{std::string(signed_element->whole), *named, std::string(*bytes)};
}

// The inner signature algorithm must be the outer one, byte for byte.
bool IsSameAlgorithm(Reader& parts, std::string_view outer) {
  std::optional<Element> inner = parts.Next(der::kSequence);
  return inner && inner->whole == outer;
}

std::optional<std::int64_t> NextTime(Reader& parts) {
  std::optional<Element> time = parts.Next();
  if (!time) return std::nullopt;
  return der::Time(*time);
}

}  // namespace

std::optional<Certificate> ParseCertificate(std::string_view der) {
  Element tbs;
  std::string_view algorithm;
  std::optional<SignedPart> signed_part = ReadSigned(der, tbs, algorithm);
  if (!signed_part) return std::nullopt;
  Certificate certificate;
  certificate.signed_part = std::move(*signed_part);
  Reader parts(tbs.content);
  bool failed = false;
  if (std::optional<Element> version = parts.Optional(der::Explicit(0), failed)) {
    std::optional<Element> number = OnlyElement(version->content, der::kInteger);
    std::optional<std::int64_t> value = number ? der::SmallInteger(*number) : std::nullopt;
    if (!value || (*value != 1 && *value != 2)) return std::nullopt;  // v1 is left out
    certificate.version = static_cast<int>(*value) + 1;
  }
  std::optional<Element> serial = parts.Next(der::kInteger);
  if (failed || !serial || !IsSameAlgorithm(parts, algorithm)) return std::nullopt;
  certificate.serial = std::string(serial->content);
  std::optional<Element> issuer = parts.Next(der::kSequence);
  std::optional<Element> validity = parts.Next(der::kSequence);
  std::optional<Element> subject = parts.Next(der::kSequence);
  std::optional<Element> key = parts.Next(der::kSequence);
  if (!issuer || !IsName(*issuer) || !validity || !subject || !IsName(*subject) || !key ||
      !IsKeyInfo(*key, certificate.rsa_key)) {
    return std::nullopt;
  }
  Reader times(validity->content);
  std::optional<std::int64_t> not_before = NextTime(times);
  std::optional<std::int64_t> not_after = NextTime(times);
  if (!not_before || !not_after || !times.AtEnd()) return std::nullopt;
  certificate.issuer = std::string(issuer->whole);
  certificate.subject = std::string(subject->whole);
  certificate.not_before = *not_before;
  certificate.not_after = *not_after;
  certificate.public_key = std::string(key->whole);
  // Unique identifiers came with version 2, extensions with version 3.
  for (unsigned unique : {1u, 2u}) {
    if (parts.Optional(der::Implicit(unique), failed) && certificate.version < 2) {
      return std::nullopt;
    }
  }
  std::optional<Element> extensions = parts.Optional(der::Explicit(3), failed);
  if (failed || !parts.AtEnd() || (extensions && certificate.version < 3)) return std::nullopt;
  if (extensions) {
    certificate.has_extensions = true;
    std::optional<Element> list = OnlyElement(extensions->content, der::kSequence);
    Restrictions& restrictions = certificate.restrictions;
    restrictions.sound =
        list &&
        WalkExtensions(*list, [&](std::string_view oid, std::string_view value, bool& understood) {
          return ReadKnownExtension(oid, value, restrictions, understood);
        });
  }
  return certificate;
}

std::optional<Crl> ParseCrl(std::string_view der) {
  Element tbs;
  std::string_view algorithm;
  std::optional<SignedPart> signed_part = ReadSigned(der, tbs, algorithm);
  if (!signed_part) return std::nullopt;
  Crl crl;
  crl.signed_part = std::move(*signed_part);
  Reader parts(tbs.content);
  bool failed = false;
  if (std::optional<Element> version = parts.Optional(der::kInteger, failed)) {
    // Version 2 (1); some writers also put down version 1 (0), which is otherwise left out.
    const std::optional<std::int64_t> number = der::SmallInteger(*version);
    if (number != 0 && number != 1) return std::nullopt;
  }
  if (failed || !IsSameAlgorithm(parts, algorithm)) return std::nullopt;
  std::optional<Element> issuer = parts.Next(der::kSequence);
  std::optional<std::int64_t> this_update = NextTime(parts);
  if (!issuer || !IsName(*issuer) || !this_update) return std::nullopt;
  crl.issuer = std::string(issuer->whole);
  crl.this_update = *this_update;
  const unsigned char next = parts.PeekTag();
  if (next == der::kUtcTime || next == der::kGeneralizedTime) {
    crl.next_update = NextTime(parts);
    if (!crl.next_update) return std::nullopt;
  }
  if (std::optional<Element> revoked = parts.Optional(der::kSequence, failed)) {
    Reader entries(revoked->content);
    while (!entries.AtEnd()) {
      std::optional<Element> entry = entries.Next(der::kSequence);
      if (!entry) return std::nullopt;
      Reader fields(entry->content);
      std::optional<Element> serial = fields.Next(der::kInteger);
      if (!serial || !NextTime(fields)) return std::nullopt;
      // Whatever an entry's extensions say (a reason, another issuer), a listed serial is
      // revoked; they only need to be well-formed.
      std::optional<Element> extensions = fields.Optional(der::kSequence, failed);
      if (failed || !fields.AtEnd() ||
          (extensions &&
           !WalkExtensions(*extensions, [](std::string_view, std::string_view, bool& understood) {
             understood = true;
             return true;
           }))) {
        return std::nullopt;
      }
      crl.revoked_serials.emplace_back(serial->content);
    }
  }
  std::optional<Element> extensions = parts.Optional(der::Explicit(0), failed);
  if (failed || !parts.AtEnd()) return std::nullopt;
  if (extensions) {
    std::optional<Element> list = OnlyElement(extensions->content, der::kSequence);
    crl.sound = list && WalkExtensions(*list, [](std::string_view oid, std::string_view value,
                                                 bool& understood) {
                  understood = oid == kCrlNumber || oid == kAuthorityKeyIdentifier;
                  if (oid == kCrlNumber) return OnlyElement(value, der::kInteger).has_value();
                  return oid != kAuthorityKeyIdentifier || IsAuthorityKeyIdentifier(value);
                });
  }
  return crl;
}

}  // namespace VerificationToolCrypto
