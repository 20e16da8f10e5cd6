// The test PKI's keys, public key information and signatures with CryptoAPI: each RSA key is
// the signature key of an ephemeral provider of its own.
#include "platform/windows_win.h"
#include "support/test_pki.h"
// windows.h leaves the crypto API out when lean.
#include <wincrypt.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <stdexcept>

namespace testing_support {

// An RSA key pair is the signature key of a provider of its own; a key made only of its public
// half (the EC key) has no provider.
struct KeyMaterial {
  KeyMaterial() = default;
  ~KeyMaterial() {
    if (key != 0) ::CryptDestroyKey(key);
    if (provider != 0) ::CryptReleaseContext(provider, 0);
  }
  KeyMaterial(const KeyMaterial&) = delete;
  KeyMaterial& operator=(const KeyMaterial&) = delete;

  HCRYPTPROV provider = 0;
  HCRYPTKEY key = 0;
  // The DER SubjectPublicKeyInfo.
  std::string publicKeyInfo;
};

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

void Require(bool ok, const char* what) {
  if (!ok) {
    throw std::runtime_error(std::string("test PKI: ") + what + " failed, error " +
                             std::to_string(::GetLastError()));
  }
}

HCRYPTPROV NewProvider() {
  HCRYPTPROV provider = 0;
  Require(::CryptAcquireContextW(&provider, nullptr, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                                 CRYPT_VERIFYCONTEXT) != FALSE,
          "CryptAcquireContext");
  return provider;
}

BYTE* Bytes(std::string& bytes) { return reinterpret_cast<BYTE*>(bytes.data()); }

// What a CryptoAPI call writes into a buffer it is called twice for: once for the size
// (with no buffer), once for the bytes.
template <typename Buffer = std::string, typename Call>
Buffer Filled(const char* what, Call call) {
  DWORD size = 0;
  Require(call(nullptr, &size) != FALSE, what);
  Buffer buffer(size, 0);
  Require(call(reinterpret_cast<BYTE*>(buffer.data()), &size) != FALSE, what);
  buffer.resize(size);
  return buffer;
}

void ExportPublicKey(KeyMaterial& material) {
  auto info = Filled<std::vector<BYTE>>("CryptExportPublicKeyInfo", [&](BYTE* buffer, DWORD* size) {
    return ::CryptExportPublicKeyInfo(material.provider, AT_SIGNATURE, kEncoding,
                                      reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(buffer), size);
  });
  material.publicKeyInfo = Filled("CryptEncodeObjectEx", [&](BYTE* buffer, DWORD* size) {
    return ::CryptEncodeObjectEx(kEncoding, X509_PUBLIC_KEY_INFO, info.data(), 0, nullptr, buffer,
                                 size);
  });
}

// What CryptDecodeObjectEx makes of der as structType: the structure followed by its data.
std::vector<BYTE> Decode(LPCSTR structType, const BYTE* der, DWORD length) {
  return Filled<std::vector<BYTE>>("CryptDecodeObjectEx", [&](BYTE* buffer, DWORD* size) {
    return ::CryptDecodeObjectEx(kEncoding, structType, der, length, 0, nullptr, buffer, size);
  });
}

// The DER of the first PEM block of a file.
std::string PemFileDer(const std::string& path) {
  std::ifstream in(std::filesystem::path(platform::Widen(path)), std::ios::binary);
  Require(in.good(), "opening a PEM file");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return Filled("CryptStringToBinary", [&](BYTE* buffer, DWORD* size) {
    return ::CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()),
                                  CRYPT_STRING_BASE64HEADER, buffer, size, nullptr, nullptr);
  });
}

ALG_ID HashAlgorithm(Digest digest) {
  switch (digest) {
    case Digest::kMd5:
      return CALG_MD5;
    case Digest::kSha1:
      return CALG_SHA1;
    case Digest::kSha256:
      return CALG_SHA_256;
  }
  return 0;
}

// A hash object of provider over data, destroyed when it goes.
struct Hash {
  Hash(HCRYPTPROV provider, Digest digest, const std::string& data) {
    Require(::CryptCreateHash(provider, HashAlgorithm(digest), 0, 0, &handle) != FALSE,
            "CryptCreateHash");
    if (::CryptHashData(handle, reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size()), 0) == FALSE) {
      DWORD error = ::GetLastError();
      ::CryptDestroyHash(handle);
      ::SetLastError(error);
      Require(false, "CryptHashData");
    }
  }
  ~Hash() { ::CryptDestroyHash(handle); }
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;

  HCRYPTHASH handle = 0;
};

// The RSAPrivateKey inside a PKCS #8 PrivateKeyInfo (the "BEGIN PRIVATE KEY" files openssl
// writes), which wine's CryptDecodeObjectEx does not decode: SEQUENCE { INTEGER version,
// AlgorithmIdentifier rsaEncryption, OCTET STRING privateKey }.
std::string Pkcs8RsaKey(const std::string& der) {
  static const std::string kRsaEncryption("\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x01\x01");
  std::vector<DerElement> info = DerElements(DerElements(der).at(0).content);
  Require(info.size() >= 3 && info[0].tag == 0x02 && info[1].tag == 0x30 && info[2].tag == 0x04 &&
              info[1].content.rfind(kRsaEncryption, 0) == 0,
          "reading an RSA key in a PKCS #8 file");
  return info[2].content;
}

// An RSA PRIVATEKEYBLOB imported as the signature key of a provider of its own.
std::shared_ptr<const KeyMaterial> ImportSignatureKey(std::vector<BYTE> privateKeyBlob) {
  auto* header = reinterpret_cast<BLOBHEADER*>(privateKeyBlob.data());
  header->aiKeyAlg = CALG_RSA_SIGN;
  auto material = std::make_shared<KeyMaterial>();
  material->provider = NewProvider();
  Require(
      ::CryptImportKey(material->provider, privateKeyBlob.data(),
                       static_cast<DWORD>(privateKeyBlob.size()), 0, 0, &material->key) != FALSE,
      "CryptImportKey");
  ExportPublicKey(*material);
  return material;
}

}  // namespace

TestKey PooledRsaKey(int index) {
  static std::mutex mutex;
  static std::array<std::shared_ptr<const KeyMaterial>, kRsaKeyPoolSize> pool;
  std::lock_guard<std::mutex> lock(mutex);
  auto& slot = pool.at(static_cast<std::size_t>(index));
  if (!slot) {
    auto material = std::make_shared<KeyMaterial>();
    material->provider = NewProvider();
    Require(::CryptGenKey(material->provider, AT_SIGNATURE, (2048u << 16), &material->key) != FALSE,
            "CryptGenKey");
    ExportPublicKey(*material);
    slot = material;
  }
  return TestKey(slot);
}

TestKey NewEcKey() {
  // A P-256 public key (the curve's base point): SubjectPublicKeyInfo with id-ecPublicKey,
  // the named curve and the uncompressed point.
  static const unsigned char kPublicKeyInfo[] = {
      0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01,
      0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00,
      0x04, 0x6B, 0x17, 0xD1, 0xF2, 0xE1, 0x2C, 0x42, 0x47, 0xF8, 0xBC, 0xE6, 0xE5,
      0x63, 0xA4, 0x40, 0xF2, 0x77, 0x03, 0x7D, 0x81, 0x2D, 0xEB, 0x33, 0xA0, 0xF4,
      0xA1, 0x39, 0x45, 0xD8, 0x98, 0xC2, 0x96, 0x4F, 0xE3, 0x42, 0xE2, 0xFE, 0x1A,
      0x7F, 0x9B, 0x8E, 0xE7, 0xEB, 0x4A, 0x7C, 0x0F, 0x9E, 0x16, 0x2B, 0xCE, 0x33,
      0x57, 0x6B, 0x31, 0x5E, 0xCE, 0xCB, 0xB6, 0x40, 0x68, 0x37, 0xBF, 0x51, 0xF5,
  };
  auto material = std::make_shared<KeyMaterial>();
  material->publicKeyInfo.assign(std::begin(kPublicKeyInfo), std::end(kPublicKeyInfo));
  return TestKey(material);
}

TestKey LoadPemKey(const std::string& path) {
  std::string der = PemFileDer(path);
  std::string rsaKey = Pkcs8RsaKey(der);
  return TestKey(ImportSignatureKey(
      Decode(PKCS_RSA_PRIVATE_KEY, Bytes(rsaKey), static_cast<DWORD>(rsaKey.size()))));
}

TestCert LoadPemCertificate(const std::string& path, const TestKey& key) {
  return TestCert(PemFileDer(path), key);
}

std::string PublicKeyInfo(const TestKey& key) { return key.material().publicKeyInfo; }

std::string Sign(const TestKey& key, Digest digest, const std::string& data) {
  HCRYPTPROV provider = key.material().provider;
  Require(provider != 0, "signing with a key that has only its public half");
  Hash hash(provider, digest, data);
  std::string signature = Filled("CryptSignHash", [&](BYTE* buffer, DWORD* size) {
    return ::CryptSignHashW(hash.handle, AT_SIGNATURE, nullptr, 0, buffer, size);
  });
  // CryptoAPI gives the signature least significant byte first.
  std::reverse(signature.begin(), signature.end());
  return signature;
}

std::string Sha1(const std::string& data) {
  KeyMaterial noKey;
  noKey.provider = NewProvider();
  Hash hash(noKey.provider, Digest::kSha1, data);
  return Filled("CryptGetHashParam", [&](BYTE* buffer, DWORD* size) {
    return ::CryptGetHashParam(hash.handle, HP_HASHVAL, buffer, size, 0);
  });
}

}  // namespace testing_support
