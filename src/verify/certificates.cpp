#include "verify/certificates.h"

#include <openssl/x509.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <iterator>
#include <sstream>

#include "verify/owners_openssl.h"
#include "verify/stream_readers.h"
#include "verify/verify_exceptions.h"

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

// Whole content of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
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

void RequireReadable(const std::string& path) {
  if (access(path.c_str(), R_OK) != 0) throw ve_file(verify_exceptions::kBadCertificate, path);
}

}  // namespace

CCertContext::~CCertContext() {
  if (certificate_ != nullptr) X509_free(certificate_);
  certificate_ = nullptr;
}

CCrlContext::~CCrlContext() {
  if (crl_ != nullptr) X509_CRL_free(crl_);
  crl_ = nullptr;
}

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
  ErrorQueueCleaner cleaner;
  std::string der = DecodeBase64(PemBlockBase64(pemText));
  const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
  X509Owner certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
  bool wholeInput = cursor == reinterpret_cast<const unsigned char*>(der.data() + der.size());
  if (der.empty() || !certificate || !wholeInput) throw ve_crypt("Decoding certificate");
  auto context = std::make_shared<CCertContext>(certificate.get());
  certificate.release();
  return context;
}

CCertContextPtr LoadCertificateFile(const std::string& path) {
  RequireReadable(path);
  return DecodeCertificate(ReadWholeFile(path));
}

CCrlContextPtr DecodeCrl(const std::string& der) {
  ErrorQueueCleaner cleaner;
  const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
  X509CrlOwner crl(d2i_X509_CRL(nullptr, &cursor, static_cast<long>(der.size())));
  bool wholeInput = cursor == reinterpret_cast<const unsigned char*>(der.data() + der.size());
  if (der.empty() || !crl || !wholeInput) throw ve_crypt("Decoding crl");
  auto context = std::make_shared<CCrlContext>(crl.get());
  crl.release();
  return context;
}

CCrlContextPtr LoadCrlFile(const std::string& path) {
  RequireReadable(path);
  std::istringstream in(WithLineFeedEnds(ReadWholeFile(path)));
  in >> std::noskipws;
  std::string body;
  in >> ExpectText{"-----BEGIN X509 CRL-----\n"} >> ReadPemBody{body} >>
      ExpectText{"-----END X509 CRL-----\n"};
  if (!in) throw ve_crypt("Decoding crl");
  return DecodeCrl(DecodeBase64(body));
}

}  // namespace VerificationToolCrypto
