#include "verify/certificates.h"

#include <array>
#include <fstream>
#include <iterator>
#include <sstream>

#include "verify/stream_readers.h"
#include "verify/verify_exceptions.h"
#include "verify/x509.h"

namespace VerificationToolCrypto {
namespace {

using verify_exceptions::ve_crypt;
using verify_exceptions::ve_file;

constexpr int kNotBase64 = -1;
constexpr int kIgnored = -2;

constexpr std::array<int, 256> MakeBase64Values() {
  std::array<int, 256> values{};
  values.fill(kNotBase64);
  constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int i = 0; i < 64; ++i) values[static_cast<unsigned char>(kAlphabet[i])] = i;
  for (char blank : {'\n', '\r', ' ', '\t'}) values[static_cast<unsigned char>(blank)] = kIgnored;
  return values;
}

constexpr std::array<int, 256> kBase64Values = MakeBase64Values();

int Base64Value(char c) { return kBase64Values[static_cast<unsigned char>(c)]; }

// After the first '=' only further '=' and blanks may follow.
bool IsValidPaddingTail(std::string_view tail) {
  for (char c : tail) {
    if (c != '=' && Base64Value(c) != kIgnored) return false;
  }
  return true;
}

// Whole content of a trust-anchor file. Throws ve_file 7 with the path when it cannot be
// opened for reading.
std::string ReadTrustAnchor(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) throw ve_file(verify_exceptions::kBadCertificate, path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The text with every "\r\n" turned into "\n", so that files with either line end read alike.
std::string WithLineFeedEnds(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    result += text[i];
  }
  return result;
}

// The Base64 text between the first PEM begin line and the following end line; empty when
// there is no such block.
std::string PemBlockBase64(const std::string& pemText) {
  std::size_t begin = pemText.find("-----BEGIN ");
  if (begin == std::string::npos) return {};
  std::size_t bodyStart = pemText.find('\n', begin);
  if (bodyStart == std::string::npos) return {};
  std::size_t end = pemText.find("-----END ", bodyStart);
  if (end == std::string::npos) return {};
  return pemText.substr(bodyStart + 1, end - bodyStart - 1);
}

}  // namespace

std::string DecodeBase64(const std::string& text) {
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3 + 3);
  unsigned bits = 0;
  int bitCount = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '=') {
      if (!IsValidPaddingTail(std::string_view(text).substr(i))) return {};
      break;
    }
    int value = Base64Value(text[i]);
    if (value == kIgnored) continue;
    if (value == kNotBase64) return {};
    bits = (bits << 6) | static_cast<unsigned>(value);
    bitCount += 6;
    if (bitCount >= 8) {
      bitCount -= 8;
      bytes += static_cast<char>((bits >> bitCount) & 0xFF);
    }
  }
  if (bitCount >= 6) return {};  // a lone character cannot end a quantum
  return bytes;
}

CCertContextPtr DecodeCertificate(const std::string& pemText) {
  return DecodeCertificateDer(DecodeBase64(PemBlockBase64(pemText)));
}

CCertContextPtr LoadCertificateFile(const std::string& path) {
  return DecodeCertificate(ReadTrustAnchor(path));
}

CCrlContextPtr LoadCrlFile(const std::string& path) {
  std::istringstream in(WithLineFeedEnds(ReadTrustAnchor(path)));
  in >> std::noskipws;
  std::string body;
  in >> ExpectText{"-----BEGIN X509 CRL-----\n"} >> ReadPemBody{body} >>
      ExpectText{"-----END X509 CRL-----\n"};
  if (!in) throw ve_crypt("Decoding crl");
  return DecodeCrl(DecodeBase64(body));
}

CCertContextPtr DecodeCertificateDer(const std::string& der) {
  std::optional<Certificate> certificate = ParseCertificate(der);
  if (!certificate) throw ve_crypt("Decoding certificate");
  return std::make_shared<CCertContext>(std::move(*certificate));
}

CCrlContextPtr DecodeCrl(const std::string& der) {
  std::optional<Crl> crl = ParseCrl(der);
  if (!crl) throw ve_crypt("Decoding crl");
  return std::make_shared<CCrlContext>(std::move(*crl));
}

}  // namespace VerificationToolCrypto
