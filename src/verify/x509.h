// Certificates and CRLs read from their DER bytes by the strict reader, into what the trust
// checks look at. Both builds read them here; the cryptographic libraries only check
// signatures.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace VerificationToolCrypto {

// The signatures both builds verify: RSASSA-PKCS1-v1_5 with these digests. Certificates and
// CRLs signed otherwise (RSA-PSS, SHA-224, elliptic curves...) are refused on both.
enum class SignatureAlgorithm { kMd5Rsa, kSha1Rsa, kSha256Rsa, kSha384Rsa, kSha512Rsa };

// Bits of keyUsage, numbered as the extension numbers them.
inline constexpr unsigned kDigitalSignature = 1u << 0;
inline constexpr unsigned kNonRepudiation = 1u << 1;
inline constexpr unsigned kKeyCertSign = 1u << 5;

// What a certificate's extensions allow. An absent keyUsage or extendedKeyUsage restricts
// nothing.
struct Restrictions {
  bool is_ca = false;
  std::optional<std::uint32_t> path_length;
  std::optional<unsigned> key_usage;
  bool may_code_sign = true;
  // False when an extension is malformed, appears twice, or is critical and not one of those
  // understood here (basicConstraints, keyUsage, extendedKeyUsage, key identifiers and
  // alternative names).
  bool sound = true;
};

// Signed bytes, how and with what they were signed.
struct SignedPart {
  std::string signed_bytes;  // the whole to-be-signed element
  SignatureAlgorithm algorithm = SignatureAlgorithm::kSha1Rsa;
  std::string signature;  // most significant byte first
};

struct Certificate {
  SignedPart signed_part;
  int version = 1;
  std::string serial;           // the INTEGER's content
  std::string issuer;           // the whole Name, compared byte for byte
  std::string subject;          // likewise
  std::int64_t not_before = 0;  // seconds since 1970 (UTC)
  std::int64_t not_after = 0;
  std::string public_key;  // the whole SubjectPublicKeyInfo
  // An RSA key (rsaEncryption, NULL parameters, a positive modulus, an exponent of at most 32
  // bits): the only kind that checks signatures here.
  bool rsa_key = false;
  bool has_extensions = false;
  Restrictions restrictions;
};

struct Crl {
  SignedPart signed_part;
  std::string issuer;
  std::int64_t this_update = 0;
  std::optional<std::int64_t> next_update;
  std::vector<std::string> revoked_serials;  // INTEGER contents
  // False when a CRL extension is malformed, appears twice, or is critical and not understood
  // (only cRLNumber and authorityKeyIdentifier are): such a CRL says something not checked.
  bool sound = true;
};

// A certificate, when der is exactly one that the strict reader accepts: well-formed DER, the
// same signature algorithm inside and outside, version rules kept (extensions only in version
// 3, an explicit version only when not 1).
std::optional<Certificate> ParseCertificate(std::string_view der);

// A CRL, on the same terms.
std::optional<Crl> ParseCrl(std::string_view der);

}  // namespace VerificationToolCrypto

namespace VerificationToolCrypto {

// One decoded certificate, shared through CCertContextPtr.
class CCertContext {
 public:
  explicit CCertContext(Certificate certificate) : certificate_(std::move(certificate)) {}
  const Certificate& get() const { return certificate_; }

 private:
  Certificate certificate_;
};

// One decoded CRL, shared through CCrlContextPtr.
class CCrlContext {
 public:
  explicit CCrlContext(Crl crl) : crl_(std::move(crl)) {}
  const Crl& get() const { return crl_; }

 private:
  Crl crl_;
};

}  // namespace VerificationToolCrypto
