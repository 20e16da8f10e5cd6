#include <cctype>
#include <limits>

#include "verify/certificates.h"
#include "verify/stream_readers.h"
#include "verify/verify_exceptions.h"
#include "verify/verify_tool.h"

using VerificationToolCrypto::DecodeBase64;
using VerificationToolCrypto::ExpectEnd;
using VerificationToolCrypto::ExpectText;
using VerificationToolCrypto::ReadPemBody;
using VerificationToolCrypto::ReadUntil;
using VerificationToolCrypto::ReadWhile;

namespace {

constexpr char kFirstSignatureMarker[] = "\n-----BEGIN SIGNATURE-----\n";
constexpr char kSignatureEnd[] = "-----END SIGNATURE-----\n";
constexpr char kCertificateBegin[] = "-----BEGIN CERTIFICATE-----\n";
constexpr char kCertificateEnd[] = "-----END CERTIFICATE-----\n";

std::string CertificatePem(const std::string& base64Lines) {
  return kCertificateBegin + base64Lines + kCertificateEnd;
}

// After the first signature block: further signature blocks, appended to signatures, up to
// the signer's certificate block, whose Base64 lines are returned.
std::string ReadSignaturesAndSigner(std::istream& in, std::vector<std::string>& signatures) {
  std::string certificate;
  while (!in.eof()) {
    in >> ExpectText{"-----BEGIN "};
    if (in.peek() == 'S') {
      std::string text;
      in >> ExpectText{"SIGNATURE-----\n"} >> ReadPemBody{text} >> ExpectText{kSignatureEnd};
      if (!text.empty()) signatures.push_back(DecodeBase64(text));
      continue;
    }
    in >> ExpectText{"CERTIFICATE-----\n"} >> ReadPemBody{certificate} >>
        ExpectText{kCertificateEnd};
    break;
  }
  return certificate;
}

std::vector<std::string> ReadChain(std::istream& in) {
  std::vector<std::string> chain;
  while (in.peek() == '-') {
    std::string text;
    in >> ExpectText{kCertificateBegin} >> ReadPemBody{text} >> ExpectText{kCertificateEnd};
    chain.push_back(CertificatePem(text));
  }
  return chain;
}

bool IsPathByte(char c) {
  auto byte = static_cast<unsigned char>(c);
  if (byte < 0x20 || byte > 0x7E) return false;
  switch (c) {
    case '"':
    case '*':
    case ':':
    case '<':
    case '>':
    case '?':
    case '|':
      return false;
    default:
      return true;
  }
}

bool IsChecksumByte(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

void ExpectByte(std::istream& in, char expected) {
  if (in.get() != expected) in.setstate(std::ios::failbit);
}

// The decimal number of an entry line: digits only, at most 4294967295.
std::uint32_t ReadNumber(std::istream& in) {
  std::uint32_t number = 0;
  if (!std::isdigit(in.peek())) {
    in.setstate(std::ios::failbit);
    return number;
  }
  in >> std::dec >> number;
  return number;
}

FileEntry ReadEntryLine(std::istream& in) {
  std::string path;
  std::string checksum;
  ExpectByte(in, '"');
  in >> ReadWhile{IsPathByte, path};
  ExpectByte(in, '"');
  ExpectByte(in, ' ');
  std::uint32_t number = ReadNumber(in);
  ExpectByte(in, ' ');
  in >> ReadWhile{IsChecksumByte, checksum};
  ExpectByte(in, '\n');
  return FileEntry(std::move(path), number, std::move(checksum));
}

}  // namespace

std::istream& operator>>(std::istream& in, VerifyTool& target) {
  in >> std::noskipws;
  std::string body;
  std::string firstSignature;
  in >> ReadUntil{body, kFirstSignatureMarker} >> ReadPemBody{firstSignature} >>
      ExpectText{kSignatureEnd};
  if (firstSignature.empty()) throw verify_exceptions::ve_badsig();
  std::vector<std::string> signatures{DecodeBase64(firstSignature)};
  std::string certificate = ReadSignaturesAndSigner(in, signatures);
  if (certificate.empty()) throw verify_exceptions::ve_badcert();
  std::vector<std::string> chain = ReadChain(in);
  in >> ExpectEnd{};
  if (in.fail()) return in;
  body += '\n';
  target.body = std::move(body);
  target.signatures = std::move(signatures);
  target.signerCertificate = CertificatePem(certificate);
  target.chainCertificates = std::move(chain);
  return in;
}

std::istream& operator>>(std::istream& in, std::vector<FileEntry>& target) {
  in >> std::noskipws;
  std::vector<FileEntry> entries;
  while (in.good()) {
    int next = in.peek();
    if (next == '#') {
      in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    } else if (next == '"') {
      entries.push_back(ReadEntryLine(in));
    } else {
      break;
    }
  }
  in >> ExpectEnd{};
  if (!in.fail()) target = std::move(entries);
  return in;
}
