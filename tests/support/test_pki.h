// A test PKI minted in-process: keys, root and issued certificates with chosen names,
// serials, validity periods and extensions, CRLs with chosen dates and revoked serials, and
// SHA-1 RSA signatures. Times are given in seconds relative to now. Certificates and CRLs are
// handed out as DER and PEM bytes; keys are opaque, known only to the code that mints with them.
// The certificates and CRLs are encoded here, the same bytes on every build; each build's
// library only makes keys and signs.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// What a key is made of, defined by the implementation that mints with it.
struct KeyMaterial;

// A private key with its public half.
class TestKey {
 public:
  explicit TestKey(std::shared_ptr<const KeyMaterial> material) : material_(std::move(material)) {}
  const KeyMaterial& material() const { return *material_; }

 private:
  std::shared_ptr<const KeyMaterial> material_;
};

// Number of distinct RSA keys PooledRsaKey hands out.
inline constexpr int kRsaKeyPoolSize = 5;

// RSA 2048 key number index (0 to kRsaKeyPoolSize - 1); each is generated once per test binary
// on first use, since generating RSA keys is slow.
TestKey PooledRsaKey(int index);
// An EC (P-256) key, for certificates that must carry a key that is not RSA. Certificates are
// issued to it, never signed with it: CryptoAPI has no EC keys to sign with, so on Windows only
// its public half exists.
TestKey NewEcKey();

// A PEM private key file (such as the demo PKI's signer.key).
TestKey LoadPemKey(const std::string& path);

enum class Digest { kMd5, kSha1, kSha256 };

constexpr long kDay = 24 * 60 * 60;

struct CertOptions {
  std::string commonName = "Test Certificate";
  long serial = 1;
  long notBefore = -kDay;
  long notAfter = 365 * kDay;
  // The basicConstraints extension: absent, CA:FALSE or CA:TRUE.
  bool basicConstraints = true;
  bool isCa = true;
  // Version 1 without basicConstraints (overrides it); only the extensions below, if any.
  bool version1 = false;
  Digest digest = Digest::kSha256;
  // Issuer common name written into the certificate instead of the issuer's own.
  std::optional<std::string> issuerCommonNameOverride = std::nullopt;
  // Further extensions, by name (or dotted OID) and value in openssl's configuration syntax,
  // limited to what the Windows implementation reads too: an optional leading "critical,",
  // then basicConstraints "CA:TRUE" or "CA:FALSE" with an optional ",pathlen:N", keyUsage and
  // extendedKeyUsage as comma-separated short names, or a dotted OID with "DER:hex:hex...".
  // {"keyUsage", "critical,keyCertSign"}, {"1.2.3.4", "critical,DER:05:00"}.
  std::vector<std::pair<std::string, std::string>> extensions = {};
};

// A certificate with the key it was made for.
class TestCert {
 public:
  TestCert(std::string der, TestKey key) : der_(std::move(der)), key_(std::move(key)) {}

  const TestKey& key() const { return key_; }
  std::string Pem() const;
  const std::string& Der() const { return der_; }

 private:
  std::string der_;
  TestKey key_;
};

// A PEM certificate file, paired with the key it was made for.
TestCert LoadPemCertificate(const std::string& path, const TestKey& key);

TestCert MakeSelfSigned(const CertOptions& options, const TestKey& key);
TestCert IssueCertificate(const CertOptions& options, const TestKey& key, const TestCert& issuer);

struct CrlOptions {
  int version = 2;  // 1 or 2
  long thisUpdate = -kDay;
  std::optional<long> nextUpdate = 30 * kDay;
  std::vector<long> revokedSerials = {};
  Digest digest = Digest::kSha256;
};

// DER bytes of a CRL named as issued by issuer and signed with signingKey.
std::string MakeCrlDer(const CrlOptions& options, const TestCert& issuer,
                       const TestKey& signingKey);

// A PEM CRL block ("-----BEGIN X509 CRL-----" ...) named as issued by issuer and signed with
// signingKey (the issuer's own key unless given).
std::string MakeCrlPem(const CrlOptions& options, const TestCert& issuer);
std::string MakeCrlPem(const CrlOptions& options, const TestCert& issuer,
                       const TestKey& signingKey);

// RSASSA-PKCS1-v1_5 signature with SHA-1 of data, most significant byte first.
std::string SignSha1(const TestKey& key, const std::string& data);

// What each build's library supplies: the DER SubjectPublicKeyInfo of a key, and the
// RSASSA-PKCS1-v1_5 signature of data with digest, most significant byte first.
std::string PublicKeyInfo(const TestKey& key);
std::string Sign(const TestKey& key, Digest digest, const std::string& data);

// One DER element: its tag, its whole encoding and its content.
struct DerElement {
  unsigned char tag;
  std::string whole;
  std::string content;
};

// The elements that follow one another in content (the content of a SEQUENCE, say). Throws
// when content is not whole elements with definite lengths.
std::vector<DerElement> DerElements(const std::string& content);

// The 20 bytes of the SHA-1 digest of data, computed apart from the code under test.
std::string Sha1(const std::string& data);

// The usual chain: a root (pool key 0), an intermediate CA (key 1) and a signer (key 2,
// CA:FALSE), all current, and a current version 2 CRL of the root with no revoked entries.
struct TestPki {
  static TestPki Make();

  TestCert root;
  TestCert intermediate;
  TestCert signer;
  std::string crlPem;
};

}  // namespace testing_support
