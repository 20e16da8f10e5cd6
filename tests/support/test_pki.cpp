// The parts of the test PKI that need no cryptography: the DER encoding of certificates and
// CRLs, PEM text and the usual chain. Only the signatures come from the build's library.
#include "support/test_pki.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <stdexcept>

#include "support/manifest_writer.h"

namespace testing_support {

namespace {

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error("test PKI: " + what); }

// A definite length in its shortest form: one byte below 128, else a count byte and the length
// most significant byte first.
std::string Tlv(unsigned char tag, const std::string& content) {
  std::string length;
  if (content.size() < 0x80) {
    length += static_cast<char>(content.size());
  } else {
    for (std::size_t rest = content.size(); rest > 0; rest >>= 8) {
      length.insert(length.begin(), static_cast<char>(rest & 0xFF));
    }
    length.insert(length.begin(), static_cast<char>(0x80 | length.size()));
  }
  return static_cast<char>(tag) + length + content;
}

std::string Sequence(const std::string& content) { return Tlv(0x30, content); }

// A non-negative INTEGER in its shortest two's complement form.
std::string Integer(long value) {
  if (value < 0) Fail("a negative integer");
  std::string bytes;
  auto rest = static_cast<unsigned long>(value);
  do {
    bytes.insert(bytes.begin(), static_cast<char>(rest & 0xFF));
    rest >>= 8;
  } while (rest != 0);
  if ((static_cast<unsigned char>(bytes.front()) & 0x80) != 0) bytes.insert(bytes.begin(), '\0');
  return Tlv(0x02, bytes);
}

std::string Oid(const std::string& dotted) {
  std::vector<unsigned long> arcs;
  for (std::size_t start = 0; start <= dotted.size();) {
    std::size_t dot = std::min(dotted.find('.', start), dotted.size());
    arcs.push_back(std::stoul(dotted.substr(start, dot - start)));
    start = dot + 1;
  }
  if (arcs.size() < 2) Fail("object identifier " + dotted);
  arcs[1] += arcs[0] * 40;
  std::string bytes;
  for (std::size_t i = 1; i < arcs.size(); ++i) {
    std::string arc(1, static_cast<char>(arcs[i] & 0x7F));
    for (unsigned long rest = arcs[i] >> 7; rest != 0; rest >>= 7) {
      arc.insert(arc.begin(), static_cast<char>(0x80 | (rest & 0x7F)));
    }
    bytes += arc;
  }
  return Tlv(0x06, bytes);
}

std::string SignatureAlgorithm(Digest digest) {
  static const char* const kOids[] = {"1.2.840.113549.1.1.4", "1.2.840.113549.1.1.5",
                                      "1.2.840.113549.1.1.11"};
  return Sequence(Oid(kOids[static_cast<int>(digest)]) + Tlv(0x05, ""));
}

// "O=Orbec Test, CN=<commonName>", both as UTF8String.
std::string Name(const std::string& commonName) {
  auto attribute = [](const char* oid, const std::string& value) {
    return Tlv(0x31, Sequence(Oid(oid) + Tlv(0x0C, value)));
  };
  return Sequence(attribute("2.5.4.10", "Orbec Test") + attribute("2.5.4.3", commonName));
}

// Now plus offset seconds: UTCTime for the years 1950 to 2049, GeneralizedTime otherwise.
std::string Time(long offset) {
  using namespace std::chrono;
  sys_seconds when{seconds(std::time(nullptr) + offset)};
  year_month_day date{floor<days>(when)};
  hh_mm_ss clock{when - floor<days>(when)};
  int year = static_cast<int>(date.year());
  bool utc = year >= 1950 && year < 2050;
  char text[64];
  std::snprintf(text, sizeof text, "%0*d%02u%02u%02d%02d%02dZ", utc ? 2 : 4,
                utc ? year % 100 : year, static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return Tlv(utc ? 0x17 : 0x18, text);
}

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
  Fail("extension " + name + " = " + value + " is not understood here");
}

std::string BasicConstraints(const std::vector<std::string>& items) {
  std::string content;
  for (const std::string& item : items) {
    if (item == "CA:TRUE") {
      content = Tlv(0x01, "\xFF") + content;  // CA:FALSE is the default, left out
    } else if (item.rfind("pathlen:", 0) == 0) {
      content += Integer(std::stol(item.substr(8)));
    } else if (item != "CA:FALSE") {
      Unsupported("basicConstraints", item);
    }
  }
  return Sequence(content);
}

// Named bits, encoded without trailing zero bits.
std::string KeyUsage(const std::vector<std::string>& items) {
  static const char* const kBits[] = {"digitalSignature", "nonRepudiation", "keyEncipherment",
                                      "dataEncipherment", "keyAgreement",   "keyCertSign",
                                      "cRLSign",          "encipherOnly",   "decipherOnly"};
  std::string bytes(2, '\0');
  unsigned highest = 0;
  for (const std::string& item : items) {
    auto bit = std::find(std::begin(kBits), std::end(kBits), item);
    if (bit == std::end(kBits)) Unsupported("keyUsage", item);
    auto index = static_cast<unsigned>(bit - std::begin(kBits));
    bytes[index / 8] = static_cast<char>(bytes[index / 8] | (0x80 >> (index % 8)));
    highest = std::max(highest, index);
  }
  bytes.resize(highest / 8 + 1);
  return Tlv(0x03, static_cast<char>(7 - highest % 8) + bytes);
}

std::string ExtendedKeyUsage(const std::vector<std::string>& items) {
  static const std::pair<const char*, const char*> kPurposes[] = {
      {"serverAuth", "1.3.6.1.5.5.7.3.1"},
      {"clientAuth", "1.3.6.1.5.5.7.3.2"},
      {"codeSigning", "1.3.6.1.5.5.7.3.3"},
      {"anyExtendedKeyUsage", "2.5.29.37.0"},
  };
  std::string oids;
  for (const std::string& item : items) {
    auto purpose = std::find_if(std::begin(kPurposes), std::end(kPurposes),
                                [&](const auto& entry) { return item == entry.first; });
    if (purpose == std::end(kPurposes)) Unsupported("extendedKeyUsage", item);
    oids += Oid(purpose->second);
  }
  return Sequence(oids);
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

// An Extension in openssl's configuration syntax (see CertOptions::extensions).
std::string Extension(const std::string& name, const std::string& value) {
  std::vector<std::string> items = SplitOnCommas(value);
  bool critical = items[0] == "critical";
  if (critical) items.erase(items.begin());
  if (items.empty()) Unsupported(name, value);
  std::string oid, der;
  if (name == "basicConstraints") {
    oid = "2.5.29.19", der = BasicConstraints(items);
  } else if (name == "keyUsage") {
    oid = "2.5.29.15", der = KeyUsage(items);
  } else if (name == "extendedKeyUsage") {
    oid = "2.5.29.37", der = ExtendedKeyUsage(items);
  } else if (!name.empty() && name[0] >= '0' && name[0] <= '9') {
    oid = name, der = RawDer(name, items);
  } else {
    Unsupported(name, value);
  }
  return Sequence(Oid(oid) + (critical ? Tlv(0x01, "\xFF") : "") + Tlv(0x04, der));
}

// The signed structure: what was signed, how, and the signature as a BIT STRING.
std::string Signed(const std::string& toBeSigned, const TestKey& signingKey, Digest digest) {
  return Sequence(toBeSigned + SignatureAlgorithm(digest) +
                  Tlv(0x03, '\0' + Sign(signingKey, digest, toBeSigned)));
}

std::string MakeCertificate(const CertOptions& options, const TestKey& key,
                            const std::string& issuerName, const TestKey& signingKey) {
  std::string extensions;
  if (!options.version1 && options.basicConstraints) {
    extensions +=
        Extension("basicConstraints", options.isCa ? "critical,CA:TRUE" : "critical,CA:FALSE");
  }
  for (const auto& [name, value] : options.extensions) extensions += Extension(name, value);
  std::string toBeSigned = (options.version1 ? "" : Tlv(0xA0, Integer(2))) +
                           Integer(options.serial) + SignatureAlgorithm(options.digest) +
                           issuerName + Sequence(Time(options.notBefore) + Time(options.notAfter)) +
                           Name(options.commonName) + PublicKeyInfo(key);
  if (!extensions.empty()) toBeSigned += Tlv(0xA3, Sequence(extensions));
  return Signed(Sequence(toBeSigned), signingKey, options.digest);
}

// The subject name of a DER certificate, as encoded there: the fields of what was signed are
// [0] version (left out in version 1), serial, signature algorithm, issuer, validity, subject.
std::string SubjectName(const TestCert& certificate) {
  const DerElement signedCertificate = DerElements(certificate.Der()).at(0);
  std::vector<DerElement> fields =
      DerElements(DerElements(signedCertificate.content).at(0).content);
  std::size_t first = fields.at(0).tag == 0xA0 ? 1 : 0;
  return fields.at(first + 4).whole;
}

}  // namespace

std::vector<DerElement> DerElements(const std::string& content) {
  std::vector<DerElement> elements;
  auto byte = [&](std::size_t at) {
    if (at >= content.size()) Fail("DER that ends inside an element");
    return static_cast<unsigned char>(content[at]);
  };
  for (std::size_t offset = 0; offset < content.size();) {
    std::size_t start = offset;
    unsigned char tag = byte(offset);
    std::size_t length = byte(offset + 1);
    offset += 2;
    if (length & 0x80) {
      std::size_t count = length & 0x7F;
      if (count == 0 || count > 4) Fail("DER length");
      length = 0;
      for (std::size_t i = 0; i < count; ++i) length = length << 8 | byte(offset++);
    }
    if (length > content.size() - offset) Fail("DER that ends inside an element");
    elements.push_back(
        {tag, content.substr(start, offset + length - start), content.substr(offset, length)});
    offset += length;
  }
  return elements;
}

std::string TestCert::Pem() const { return CertificateBlock(der_).Text(); }

TestCert MakeSelfSigned(const CertOptions& options, const TestKey& key) {
  std::string issuerName = Name(options.issuerCommonNameOverride.value_or(options.commonName));
  return TestCert(MakeCertificate(options, key, issuerName, key), key);
}

TestCert IssueCertificate(const CertOptions& options, const TestKey& key, const TestCert& issuer) {
  std::string issuerName = options.issuerCommonNameOverride
                               ? Name(*options.issuerCommonNameOverride)
                               : SubjectName(issuer);
  return TestCert(MakeCertificate(options, key, issuerName, issuer.key()), key);
}

std::string MakeCrlDer(const CrlOptions& options, const TestCert& issuer,
                       const TestKey& signingKey) {
  std::vector<long> serials = options.revokedSerials;
  std::sort(serials.begin(), serials.end());
  std::string entries;
  for (long serial : serials) entries += Sequence(Integer(serial) + Time(-kDay));
  std::string toBeSigned = (options.version == 1 ? "" : Integer(1)) +
                           SignatureAlgorithm(options.digest) + SubjectName(issuer) +
                           Time(options.thisUpdate);
  if (options.nextUpdate) toBeSigned += Time(*options.nextUpdate);
  if (!entries.empty()) toBeSigned += Sequence(entries);
  return Signed(Sequence(toBeSigned), signingKey, options.digest);
}

std::string MakeCrlPem(const CrlOptions& options, const TestCert& issuer) {
  return MakeCrlPem(options, issuer, issuer.key());
}

std::string MakeCrlPem(const CrlOptions& options, const TestCert& issuer,
                       const TestKey& signingKey) {
  std::string der = MakeCrlDer(options, issuer, signingKey);
  return "-----BEGIN X509 CRL-----\n" + Base64Lines(der) + "-----END X509 CRL-----\n";
}

std::string SignSha1(const TestKey& key, const std::string& data) {
  return Sign(key, Digest::kSha1, data);
}

TestPki TestPki::Make() {
  TestCert root = MakeSelfSigned({.commonName = "Test Root CA", .serial = 100}, PooledRsaKey(0));
  TestCert intermediate = IssueCertificate({.commonName = "Test Intermediate CA", .serial = 200},
                                           PooledRsaKey(1), root);
  TestCert signer = IssueCertificate({.commonName = "Test Signer", .serial = 300, .isCa = false},
                                     PooledRsaKey(2), intermediate);
  std::string crl = MakeCrlPem({}, root);
  return TestPki{root, intermediate, signer, crl};
}

}  // namespace testing_support
