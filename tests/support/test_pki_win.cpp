// The test PKI minted with CryptoAPI: RSA keys in ephemeral providers, certificates and CRLs
// signed and encoded by CryptSignAndEncodeCertificate, names and extensions encoded by
// CryptEncodeObjectEx.
#include "platform/windows_win.h"
#include "support/test_pki.h"
// windows.h leaves the crypto API out when lean.
#include <wincrypt.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
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

  const CERT_PUBLIC_KEY_INFO* PublicKey() const {
    return reinterpret_cast<const CERT_PUBLIC_KEY_INFO*>(publicKeyInfo.data());
  }

  HCRYPTPROV provider = 0;
  HCRYPTKEY key = 0;
  // A CERT_PUBLIC_KEY_INFO followed by the data it points to.
  std::vector<BYTE> publicKeyInfo;
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

CRYPT_DATA_BLOB Blob(std::string& bytes) {
  return CRYPT_DATA_BLOB{static_cast<DWORD>(bytes.size()), Bytes(bytes)};
}

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
  material.publicKeyInfo =
      Filled<std::vector<BYTE>>("CryptExportPublicKeyInfo", [&](BYTE* buffer, DWORD* size) {
        return ::CryptExportPublicKeyInfo(material.provider, AT_SIGNATURE, kEncoding,
                                          reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(buffer), size);
      });
}

// What CryptDecodeObjectEx makes of der as structType: the structure followed by its data.
std::vector<BYTE> Decode(LPCSTR structType, const BYTE* der, DWORD length) {
  return Filled<std::vector<BYTE>>("CryptDecodeObjectEx", [&](BYTE* buffer, DWORD* size) {
    return ::CryptDecodeObjectEx(kEncoding, structType, der, length, 0, nullptr, buffer, size);
  });
}

std::string Encode(LPCSTR structType, const void* info) {
  return Filled("CryptEncodeObjectEx", [&](BYTE* buffer, DWORD* size) {
    return ::CryptEncodeObjectEx(kEncoding, structType, info, 0, nullptr, buffer, size);
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

LPSTR SignatureAlgorithm(Digest digest) {
  switch (digest) {
    case Digest::kMd5:
      return const_cast<LPSTR>(szOID_RSA_MD5RSA);
    case Digest::kSha1:
      return const_cast<LPSTR>(szOID_RSA_SHA1RSA);
    case Digest::kSha256:
      return const_cast<LPSTR>(szOID_RSA_SHA256RSA);
  }
  return nullptr;
}

// A serial number as CryptoAPI lays out integers: least significant byte first, two's
// complement, so a zero byte goes on top where the highest bit is set.
std::string SerialBytes(long serial) {
  Require(serial >= 0, "a serial number that is not negative");
  std::string bytes;
  auto value = static_cast<unsigned long>(serial);
  do {
    bytes += static_cast<char>(value & 0xFF);
    value >>= 8;
  } while (value != 0);
  if ((static_cast<unsigned char>(bytes.back()) & 0x80) != 0) bytes += '\0';
  return bytes;
}

FILETIME TimeFromNow(long offset) {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER ticks;
  ticks.LowPart = now.dwLowDateTime;
  ticks.HighPart = now.dwHighDateTime;
  ticks.QuadPart += static_cast<std::int64_t>(offset) * 10'000'000;
  return FILETIME{ticks.LowPart, ticks.HighPart};
}

// "O=Orbec Test, CN=<commonName>", both as UTF8String.
std::string EncodeName(const std::string& commonName) {
  std::wstring organization = L"Orbec Test";
  std::wstring common = platform::Widen(commonName);
  auto value = [](std::wstring& text) {
    return CERT_RDN_VALUE_BLOB{static_cast<DWORD>(text.size() * sizeof(wchar_t)),
                               reinterpret_cast<BYTE*>(text.data())};
  };
  CERT_RDN_ATTR attributes[] = {
      {const_cast<LPSTR>(szOID_ORGANIZATION_NAME), CERT_RDN_UTF8_STRING, value(organization)},
      {const_cast<LPSTR>(szOID_COMMON_NAME), CERT_RDN_UTF8_STRING, value(common)},
  };
  CERT_RDN relativeNames[] = {{1, &attributes[0]}, {1, &attributes[1]}};
  CERT_NAME_INFO name{2, relativeNames};
  return Encode(X509_NAME, &name);
}

// The subject name of a DER certificate, as encoded there.
std::string SubjectName(const TestCert& certificate) {
  PCCERT_CONTEXT context = ::CertCreateCertificateContext(
      X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(certificate.Der().data()),
      static_cast<DWORD>(certificate.Der().size()));
  Require(context != nullptr, "CertCreateCertificateContext");
  const CERT_NAME_BLOB& subject = context->pCertInfo->Subject;
  std::string name(reinterpret_cast<const char*>(subject.pbData), subject.cbData);
  ::CertFreeCertificateContext(context);
  return name;
}

// One extension ready for CERT_INFO: its OID, critical flag and DER value.
struct EncodedExtension {
  std::string oid;
  bool critical = false;
  std::string der;
};

std::vector<std::string> SplitOnCommas(const std::string& text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  for (std::size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1) {
    items.push_back(text.substr(start, comma - start));
  }
  items.push_back(text.substr(start));
  return items;
}

[[noreturn]] void Unsupported(const std::string& name, const std::string& value) {
  throw std::runtime_error("test PKI: extension " + name + " = " + value +
                           " is not understood here");
}

std::string EncodeBasicConstraints(const std::vector<std::string>& items) {
  CERT_BASIC_CONSTRAINTS2_INFO info{};
  for (const std::string& item : items) {
    if (item == "CA:TRUE") {
      info.fCA = TRUE;
    } else if (item == "CA:FALSE") {
      info.fCA = FALSE;
    } else if (item.rfind("pathlen:", 0) == 0) {
      info.fPathLenConstraint = TRUE;
      info.dwPathLenConstraint = static_cast<DWORD>(std::stoul(item.substr(8)));
    } else {
      Unsupported("basicConstraints", item);
    }
  }
  return Encode(X509_BASIC_CONSTRAINTS2, &info);
}

std::string EncodeKeyUsage(const std::vector<std::string>& items) {
  static const std::pair<const char*, unsigned> kBits[] = {
      {"digitalSignature", 0}, {"nonRepudiation", 1}, {"keyEncipherment", 2},
      {"dataEncipherment", 3}, {"keyAgreement", 4},   {"keyCertSign", 5},
      {"cRLSign", 6},          {"encipherOnly", 7},   {"decipherOnly", 8},
  };
  std::array<BYTE, 2> bytes{};
  unsigned highest = 0;
  for (const std::string& item : items) {
    auto bit = std::find_if(std::begin(kBits), std::end(kBits),
                            [&](const auto& entry) { return item == entry.first; });
    if (bit == std::end(kBits)) Unsupported("keyUsage", item);
    bytes[bit->second / 8] |= static_cast<BYTE>(0x80 >> (bit->second % 8));
    highest = std::max(highest, bit->second);
  }
  // A named bit list is encoded without trailing zero bits.
  CRYPT_BIT_BLOB blob{highest / 8 + 1, bytes.data(), 7 - highest % 8};
  return Encode(X509_KEY_USAGE, &blob);
}

std::string EncodeExtendedKeyUsage(const std::vector<std::string>& items) {
  static const std::pair<const char*, const char*> kPurposes[] = {
      {"serverAuth", szOID_PKIX_KP_SERVER_AUTH},
      {"clientAuth", szOID_PKIX_KP_CLIENT_AUTH},
      {"codeSigning", szOID_PKIX_KP_CODE_SIGNING},
      {"anyExtendedKeyUsage", szOID_ANY_ENHANCED_KEY_USAGE},
  };
  std::vector<LPSTR> oids;
  for (const std::string& item : items) {
    auto purpose = std::find_if(std::begin(kPurposes), std::end(kPurposes),
                                [&](const auto& entry) { return item == entry.first; });
    if (purpose == std::end(kPurposes)) Unsupported("extendedKeyUsage", item);
    oids.push_back(const_cast<LPSTR>(purpose->second));
  }
  CERT_ENHKEY_USAGE usage{static_cast<DWORD>(oids.size()), oids.data()};
  return Encode(X509_ENHANCED_KEY_USAGE, &usage);
}

// "DER:05:00" as bytes.
std::string RawDer(const std::string& name, const std::vector<std::string>& items) {
  if (items.size() != 1 || items[0].rfind("DER:", 0) != 0) Unsupported(name, items[0]);
  std::string der;
  for (std::size_t i = 4; i < items[0].size(); i += 3) {
    der += static_cast<char>(std::stoul(items[0].substr(i, 2), nullptr, 16));
  }
  return der;
}

EncodedExtension EncodeExtension(const std::string& name, const std::string& value) {
  std::vector<std::string> items = SplitOnCommas(value);
  EncodedExtension extension;
  if (!items.empty() && items[0] == "critical") {
    extension.critical = true;
    items.erase(items.begin());
  }
  if (items.empty()) Unsupported(name, value);
  if (name == "basicConstraints") {
    extension.oid = szOID_BASIC_CONSTRAINTS2;
    extension.der = EncodeBasicConstraints(items);
  } else if (name == "keyUsage") {
    extension.oid = szOID_KEY_USAGE;
    extension.der = EncodeKeyUsage(items);
  } else if (name == "extendedKeyUsage") {
    extension.oid = szOID_ENHANCED_KEY_USAGE;
    extension.der = EncodeExtendedKeyUsage(items);
  } else if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0]))) {
    extension.oid = name;
    extension.der = RawDer(name, items);
  } else {
    Unsupported(name, value);
  }
  return extension;
}

std::string SignAndEncode(const TestKey& signingKey, LPCSTR structType, const void* info,
                          CRYPT_ALGORITHM_IDENTIFIER& algorithm) {
  HCRYPTPROV provider = signingKey.material().provider;
  Require(provider != 0, "signing with a key that has only its public half");
  return Filled("CryptSignAndEncodeCertificate", [&](BYTE* buffer, DWORD* size) {
    return ::CryptSignAndEncodeCertificate(provider, AT_SIGNATURE, X509_ASN_ENCODING, structType,
                                           info, &algorithm, nullptr, buffer, size);
  });
}

// A SHA-1 hash object of provider over data, destroyed when it goes.
struct Sha1Hash {
  Sha1Hash(HCRYPTPROV provider, const std::string& data) {
    Require(::CryptCreateHash(provider, CALG_SHA1, 0, 0, &handle) != FALSE, "CryptCreateHash");
    if (::CryptHashData(handle, reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size()), 0) == FALSE) {
      DWORD error = ::GetLastError();
      ::CryptDestroyHash(handle);
      ::SetLastError(error);
      Require(false, "CryptHashData");
    }
  }
  ~Sha1Hash() { ::CryptDestroyHash(handle); }
  Sha1Hash(const Sha1Hash&) = delete;
  Sha1Hash& operator=(const Sha1Hash&) = delete;

  HCRYPTHASH handle = 0;
};

// A certificate for key, named by options, issued under issuerName, signed with signingKey.
std::string MakeCertificate(const CertOptions& options, const TestKey& key, std::string issuerName,
                            const TestKey& signingKey) {
  std::vector<EncodedExtension> extensions;
  if (!options.version1 && options.basicConstraints) {
    extensions.push_back(EncodeExtension("basicConstraints",
                                         options.isCa ? "critical,CA:TRUE" : "critical,CA:FALSE"));
  }
  for (const auto& [name, value] : options.extensions) {
    extensions.push_back(EncodeExtension(name, value));
  }
  std::vector<CERT_EXTENSION> rawExtensions;
  for (EncodedExtension& extension : extensions) {
    rawExtensions.push_back(
        {extension.oid.data(), extension.critical ? TRUE : FALSE, Blob(extension.der)});
  }

  std::string serial = SerialBytes(options.serial);
  std::string subjectName = EncodeName(options.commonName);
  CRYPT_ALGORITHM_IDENTIFIER algorithm{SignatureAlgorithm(options.digest), {0, nullptr}};
  CERT_INFO info{};
  info.dwVersion = options.version1 ? CERT_V1 : CERT_V3;
  info.SerialNumber = Blob(serial);
  info.SignatureAlgorithm = algorithm;
  info.Issuer = Blob(issuerName);
  info.NotBefore = TimeFromNow(options.notBefore);
  info.NotAfter = TimeFromNow(options.notAfter);
  info.Subject = Blob(subjectName);
  info.SubjectPublicKeyInfo = *key.material().PublicKey();
  info.cExtension = static_cast<DWORD>(rawExtensions.size());
  info.rgExtension = rawExtensions.data();
  return SignAndEncode(signingKey, X509_CERT_TO_BE_SIGNED, &info, algorithm);
}

// One DER element at offset: its tag, and where its content starts and ends.
struct Element {
  unsigned char tag;
  std::size_t content;
  std::size_t end;
};

Element ReadElement(const std::string& der, std::size_t offset, std::size_t limit) {
  Require(offset + 2 <= limit, "reading a key file");
  auto byte = [&](std::size_t at) { return static_cast<unsigned char>(der[at]); };
  Element element{byte(offset), offset + 2, 0};
  std::size_t length = byte(offset + 1);
  if (length & 0x80) {
    std::size_t count = length & 0x7F;
    Require(count >= 1 && count <= 3 && element.content + count <= limit, "reading a key file");
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = length << 8 | byte(element.content + i);
    element.content += count;
  }
  element.end = element.content + length;
  Require(element.end <= limit, "reading a key file");
  return element;
}

// The RSAPrivateKey inside a PKCS #8 PrivateKeyInfo (the "BEGIN PRIVATE KEY" files openssl
// writes), which wine's CryptDecodeObjectEx does not decode: SEQUENCE { INTEGER version,
// AlgorithmIdentifier rsaEncryption, OCTET STRING privateKey }.
std::string Pkcs8RsaKey(const std::string& der) {
  static const std::string kRsaEncryption("\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x01\x01");
  Element info = ReadElement(der, 0, der.size());
  Element version = ReadElement(der, info.content, info.end);
  Element algorithm = ReadElement(der, version.end, info.end);
  Element key = ReadElement(der, algorithm.end, info.end);
  Require(info.tag == 0x30 && version.tag == 0x02 && algorithm.tag == 0x30 && key.tag == 0x04 &&
              der.compare(algorithm.content, kRsaEncryption.size(), kRsaEncryption) == 0,
          "reading an RSA key in a PKCS #8 file");
  return der.substr(key.content, key.end - key.content);
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
  static const BYTE kPublicKeyInfo[] = {
      0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01,
      0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00,
      0x04, 0x6B, 0x17, 0xD1, 0xF2, 0xE1, 0x2C, 0x42, 0x47, 0xF8, 0xBC, 0xE6, 0xE5,
      0x63, 0xA4, 0x40, 0xF2, 0x77, 0x03, 0x7D, 0x81, 0x2D, 0xEB, 0x33, 0xA0, 0xF4,
      0xA1, 0x39, 0x45, 0xD8, 0x98, 0xC2, 0x96, 0x4F, 0xE3, 0x42, 0xE2, 0xFE, 0x1A,
      0x7F, 0x9B, 0x8E, 0xE7, 0xEB, 0x4A, 0x7C, 0x0F, 0x9E, 0x16, 0x2B, 0xCE, 0x33,
      0x57, 0x6B, 0x31, 0x5E, 0xCE, 0xCB, 0xB6, 0x40, 0x68, 0x37, 0xBF, 0x51, 0xF5,
  };
  auto material = std::make_shared<KeyMaterial>();
  material->publicKeyInfo = Decode(X509_PUBLIC_KEY_INFO, kPublicKeyInfo, sizeof kPublicKeyInfo);
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

TestCert MakeSelfSigned(const CertOptions& options, const TestKey& key) {
  std::string issuerName =
      EncodeName(options.issuerCommonNameOverride.value_or(options.commonName));
  return TestCert(MakeCertificate(options, key, issuerName, key), key);
}

TestCert IssueCertificate(const CertOptions& options, const TestKey& key, const TestCert& issuer) {
  std::string issuerName = options.issuerCommonNameOverride
                               ? EncodeName(*options.issuerCommonNameOverride)
                               : SubjectName(issuer);
  return TestCert(MakeCertificate(options, key, issuerName, issuer.key()), key);
}

std::string MakeCrlDer(const CrlOptions& options, const TestCert& issuer,
                       const TestKey& signingKey) {
  std::vector<long> serials = options.revokedSerials;
  std::sort(serials.begin(), serials.end());
  std::vector<std::string> serialBytes;
  for (long serial : serials) serialBytes.push_back(SerialBytes(serial));
  std::vector<CRL_ENTRY> entries;
  for (std::string& serial : serialBytes) {
    entries.push_back(CRL_ENTRY{Blob(serial), TimeFromNow(-kDay), 0, nullptr});
  }

  std::string issuerName = SubjectName(issuer);
  CRYPT_ALGORITHM_IDENTIFIER algorithm{SignatureAlgorithm(options.digest), {0, nullptr}};
  CRL_INFO info{};
  info.dwVersion = options.version == 1 ? CRL_V1 : CRL_V2;
  info.SignatureAlgorithm = algorithm;
  info.Issuer = Blob(issuerName);
  info.ThisUpdate = TimeFromNow(options.thisUpdate);
  if (options.nextUpdate) info.NextUpdate = TimeFromNow(*options.nextUpdate);
  info.cCRLEntry = static_cast<DWORD>(entries.size());
  info.rgCRLEntry = entries.data();
  return SignAndEncode(signingKey, X509_CERT_CRL_TO_BE_SIGNED, &info, algorithm);
}

std::string SignSha1(const TestKey& key, const std::string& data) {
  HCRYPTPROV provider = key.material().provider;
  Require(provider != 0, "signing with a key that has only its public half");
  Sha1Hash hash(provider, data);
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
  Sha1Hash hash(noKey.provider, data);
  return Filled("CryptGetHashParam", [&](BYTE* buffer, DWORD* size) {
    return ::CryptGetHashParam(hash.handle, HP_HASHVAL, buffer, size, 0);
  });
}

}  // namespace testing_support
