// The test PKI's keys, public key information and signatures with OpenSSL.
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <array>
#include <mutex>
#include <stdexcept>

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
using MdCtxOwner = std::unique_ptr<EVP_MD_CTX, FreeWith<EVP_MD_CTX_free>>;
using X509Owner = std::unique_ptr<X509, FreeWith<X509_free>>;

void Require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test PKI: ") + what + " failed");
}

std::shared_ptr<const KeyMaterial> Wrap(EVP_PKEY* key) {
  Require(key != nullptr, "key generation");
  return std::make_shared<const KeyMaterial>(key);
}

EVP_PKEY* KeyOf(const TestKey& key) { return key.material().key; }

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
  unsigned char* der = nullptr;
  int length = i2d_X509(certificate.get(), &der);
  Require(length > 0, "i2d_X509");
  std::string bytes(reinterpret_cast<char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return TestCert(bytes, key);
}

std::string PublicKeyInfo(const TestKey& key) {
  unsigned char* der = nullptr;
  int length = i2d_PUBKEY(KeyOf(key), &der);
  Require(length > 0, "i2d_PUBKEY");
  std::string bytes(reinterpret_cast<char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return bytes;
}

std::string Sign(const TestKey& key, Digest digest, const std::string& data) {
  MdCtxOwner context(EVP_MD_CTX_new());
  EVP_PKEY_CTX* keyContext = nullptr;
  Require(context && EVP_DigestSignInit(context.get(), &keyContext, DigestOf(digest), nullptr,
                                        KeyOf(key)) == 1,
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
