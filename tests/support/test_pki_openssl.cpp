// The test PKI minted with OpenSSL.
#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <array>
#include <ctime>
#include <mutex>

#include "support/test_pki.h"

namespace testing_support {

struct KeyMaterial {
  explicit KeyMaterial(EVP_PKEY* pkey) : key(pkey) {}
  ~KeyMaterial() { EVP_PKEY_free(key); }
  KeyMaterial(const KeyMaterial&) = delete;
  KeyMaterial& operator=(const KeyMaterial&) = delete;

  EVP_PKEY* key;
};

namespace {

template <auto Free>
struct FreeWith {
  template <typename T>
  void operator()(T* object) const {
    Free(object);
  }
};

using BioOwner = std::unique_ptr<BIO, FreeWith<BIO_free>>;
using CrlOwner = std::unique_ptr<X509_CRL, FreeWith<X509_CRL_free>>;
using MdCtxOwner = std::unique_ptr<EVP_MD_CTX, FreeWith<EVP_MD_CTX_free>>;
using ExtOwner = std::unique_ptr<X509_EXTENSION, FreeWith<X509_EXTENSION_free>>;
using RevokedOwner = std::unique_ptr<X509_REVOKED, FreeWith<X509_REVOKED_free>>;
using IntegerOwner = std::unique_ptr<ASN1_INTEGER, FreeWith<ASN1_INTEGER_free>>;
using TimeOwner = std::unique_ptr<ASN1_TIME, FreeWith<ASN1_TIME_free>>;
using X509Owner = std::unique_ptr<X509, FreeWith<X509_free>>;

void Require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test PKI: ") + what + " failed");
}

std::shared_ptr<const KeyMaterial> Wrap(EVP_PKEY* key) {
  Require(key != nullptr, "key generation");
  return std::make_shared<const KeyMaterial>(key);
}

EVP_PKEY* KeyOf(const TestKey& key) { return key.material().key; }

X509Owner Decoded(const TestCert& certificate) {
  const auto* der = reinterpret_cast<const unsigned char*>(certificate.Der().data());
  X509Owner x(d2i_X509(nullptr, &der, static_cast<long>(certificate.Der().size())));
  Require(x != nullptr, "d2i_X509");
  return x;
}

std::string DerOf(X509* certificate) {
  unsigned char* der = nullptr;
  int length = i2d_X509(certificate, &der);
  Require(length > 0, "i2d_X509");
  std::string bytes(reinterpret_cast<char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return bytes;
}

const EVP_MD* DigestOf(Digest digest) {
  switch (digest) {
    case Digest::kMd5:
      return EVP_md5();
    case Digest::kSha1:
      return EVP_sha1();
    case Digest::kSha256:
      return EVP_sha256();
  }
  return nullptr;
}

void SetName(X509_NAME* name, const std::string& commonName) {
  auto add = [name](const char* field, const std::string& value) {
    Require(X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(value.c_str()), -1,
                                       -1, 0) == 1,
            "name entry");
  };
  add("O", "Orbec Test");
  add("CN", commonName);
}

void SetTime(ASN1_TIME* time, long offset) {
  Require(ASN1_TIME_adj(time, std::time(nullptr), 0, offset) != nullptr, "time");
}

void AddBasicConstraints(X509* certificate, bool isCa) {
  ExtOwner extension(X509V3_EXT_conf_nid(nullptr, nullptr, NID_basic_constraints,
                                         isCa ? "critical,CA:TRUE" : "critical,CA:FALSE"));
  Require(extension && X509_add_ext(certificate, extension.get(), -1) == 1, "extension");
}

void AddExtension(X509* certificate, const std::string& name, const std::string& value) {
  ExtOwner extension(X509V3_EXT_nconf(nullptr, nullptr, name.c_str(), value.c_str()));
  Require(extension && X509_add_ext(certificate, extension.get(), -1) == 1, "extension");
}

// Everything but the issuer name and the signature.
X509Owner NewCertificate(const CertOptions& options, const TestKey& key) {
  X509Owner certificate(X509_new());
  X509* x = certificate.get();
  Require(x != nullptr, "X509_new");
  Require(X509_set_version(x, options.version1 ? X509_VERSION_1 : X509_VERSION_3) == 1, "version");
  Require(ASN1_INTEGER_set(X509_get_serialNumber(x), options.serial) == 1, "serial");
  SetTime(X509_getm_notBefore(x), options.notBefore);
  SetTime(X509_getm_notAfter(x), options.notAfter);
  SetName(X509_get_subject_name(x), options.commonName);
  Require(X509_set_pubkey(x, KeyOf(key)) == 1, "public key");
  if (!options.version1 && options.basicConstraints) AddBasicConstraints(x, options.isCa);
  for (const auto& [name, value] : options.extensions) AddExtension(x, name, value);
  return certificate;
}

void SignCertificate(X509* certificate, const TestKey& signingKey, Digest digest) {
  Require(X509_sign(certificate, KeyOf(signingKey), DigestOf(digest)) > 0, "X509_sign");
}

void AddRevoked(X509_CRL* crl, long serial) {
  RevokedOwner revoked(X509_REVOKED_new());
  IntegerOwner number(ASN1_INTEGER_new());
  TimeOwner when(ASN1_TIME_new());
  Require(revoked && number && when, "revoked entry");
  Require(ASN1_INTEGER_set(number.get(), serial) == 1, "revoked serial");
  SetTime(when.get(), -kDay);
  Require(X509_REVOKED_set_serialNumber(revoked.get(), number.get()) == 1 &&
              X509_REVOKED_set_revocationDate(revoked.get(), when.get()) == 1,
          "revoked fields");
  Require(X509_CRL_add0_revoked(crl, revoked.get()) == 1, "X509_CRL_add0_revoked");
  revoked.release();
}

void SetCrlTime(X509_CRL* crl, long offset, bool next) {
  TimeOwner time(ASN1_TIME_new());
  Require(time != nullptr, "CRL time");
  SetTime(time.get(), offset);
  Require((next ? X509_CRL_set1_nextUpdate(crl, time.get())
                : X509_CRL_set1_lastUpdate(crl, time.get())) == 1,
          "CRL time");
}

}  // namespace

TestKey PooledRsaKey(int index) {
  static std::mutex mutex;
  static std::array<std::shared_ptr<const KeyMaterial>, kRsaKeyPoolSize> pool;
  std::lock_guard<std::mutex> lock(mutex);
  auto& slot = pool.at(static_cast<std::size_t>(index));
  if (!slot) slot = Wrap(EVP_RSA_gen(2048));
  return TestKey(slot);
}

TestKey NewEcKey() { return TestKey(Wrap(EVP_EC_gen("P-256"))); }

TestKey LoadPemKey(const std::string& path) {
  BioOwner bio(BIO_new_file(path.c_str(), "r"));
  Require(bio != nullptr, "opening a key file");
  return TestKey(Wrap(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)));
}

TestCert LoadPemCertificate(const std::string& path, const TestKey& key) {
  BioOwner bio(BIO_new_file(path.c_str(), "r"));
  Require(bio != nullptr, "opening a certificate file");
  X509Owner certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  Require(certificate != nullptr, "PEM_read_bio_X509");
  return TestCert(DerOf(certificate.get()), key);
}

TestCert MakeSelfSigned(const CertOptions& options, const TestKey& key) {
  X509Owner certificate = NewCertificate(options, key);
  SetName(X509_get_issuer_name(certificate.get()),
          options.issuerCommonNameOverride.value_or(options.commonName));
  SignCertificate(certificate.get(), key, options.digest);
  return TestCert(DerOf(certificate.get()), key);
}

TestCert IssueCertificate(const CertOptions& options, const TestKey& key, const TestCert& issuer) {
  X509Owner certificate = NewCertificate(options, key);
  if (options.issuerCommonNameOverride) {
    SetName(X509_get_issuer_name(certificate.get()), *options.issuerCommonNameOverride);
  } else {
    Require(
        X509_set_issuer_name(certificate.get(), X509_get_subject_name(Decoded(issuer).get())) == 1,
        "issuer name");
  }
  SignCertificate(certificate.get(), issuer.key(), options.digest);
  return TestCert(DerOf(certificate.get()), key);
}

std::string MakeCrlDer(const CrlOptions& options, const TestCert& issuer,
                       const TestKey& signingKey) {
  CrlOwner crl(X509_CRL_new());
  Require(crl != nullptr, "X509_CRL_new");
  Require(X509_CRL_set_version(crl.get(), options.version - 1) == 1, "CRL version");
  Require(X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(Decoded(issuer).get())) == 1,
          "CRL issuer");
  SetCrlTime(crl.get(), options.thisUpdate, false);
  if (options.nextUpdate) SetCrlTime(crl.get(), *options.nextUpdate, true);
  for (long serial : options.revokedSerials) AddRevoked(crl.get(), serial);
  Require(X509_CRL_sort(crl.get()) == 1, "X509_CRL_sort");
  Require(X509_CRL_sign(crl.get(), KeyOf(signingKey), DigestOf(options.digest)) > 0,
          "X509_CRL_sign");
  unsigned char* der = nullptr;
  int length = i2d_X509_CRL(crl.get(), &der);
  Require(length > 0, "i2d_X509_CRL");
  std::string bytes(reinterpret_cast<char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return bytes;
}

std::string SignSha1(const TestKey& key, const std::string& data) {
  MdCtxOwner context(EVP_MD_CTX_new());
  EVP_PKEY_CTX* keyContext = nullptr;
  Require(context &&
              EVP_DigestSignInit(context.get(), &keyContext, EVP_sha1(), nullptr, KeyOf(key)) == 1,
          "EVP_DigestSignInit");
  std::size_t length = 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  Require(EVP_DigestSign(context.get(), nullptr, &length, bytes, data.size()) == 1, "sign size");
  std::string signature(length, '\0');
  Require(EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                         bytes, data.size()) == 1,
          "EVP_DigestSign");
  signature.resize(length);
  return signature;
}

std::string Sha1(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  Require(EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha1(), nullptr) == 1,
          "EVP_Digest");
  return std::string(reinterpret_cast<char*>(digest), length);
}

}  // namespace testing_support
