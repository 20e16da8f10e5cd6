#include "support/manifest_writer.h"

#include <algorithm>

namespace testing_support {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

PemBlock Block(const std::string& label, const std::string& bytes, const LineOptions& options) {
  return PemBlock{"-----BEGIN " + label + "-----" + options.lineEnd, Base64Lines(bytes, options),
                  "-----END " + label + "-----" + options.lineEnd};
}

}  // namespace

std::string Base64(const std::string& bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
    std::size_t characters = std::min<std::size_t>(bytes.size() - i, 3) + 1;
    for (std::size_t k = 0; k < 4; ++k) {
      text += k < characters ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
  }
  return text;
}

std::string Base64Lines(const std::string& bytes, const LineOptions& options) {
  std::string encoded = Base64(bytes);
  std::size_t padding = encoded.size() - encoded.find_last_not_of('=') - 1;
  std::string data = encoded.substr(0, encoded.size() - padding);
  std::string lines;
  for (std::size_t i = 0; i < data.size(); i += options.width) {
    lines += data.substr(i, options.width);
    bool last = i + options.width >= data.size();
    if (last && padding > 0 && !options.paddingOnOwnLine) lines += std::string(padding, '=');
    lines += options.lineEnd;
  }
  if (padding > 0 && options.paddingOnOwnLine) lines += std::string(padding, '=') + options.lineEnd;
  return lines;
}

std::string Reversed(std::string bytes) {
  std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

PemBlock SignatureBlock(const std::string& signature, const LineOptions& options) {
  return Block("SIGNATURE", signature, options);
}

PemBlock CertificateBlock(const std::string& der, const LineOptions& options) {
  return Block("CERTIFICATE", der, options);
}

std::string ManifestWriter::Bytes() const {
  std::string bytes = body;
  for (const PemBlock& block : blocks) bytes += block.Text();
  return bytes + trailer;
}

ManifestWriter SignedManifest(const std::string& body, const TestCert& signer,
                              const std::vector<TestCert>& chain) {
  ManifestWriter manifest{body, {SignatureBlock(SignSha1(signer.key(), body))}, ""};
  manifest.blocks.push_back(CertificateBlock(signer.Der()));
  for (const TestCert& certificate : chain) {
    manifest.blocks.push_back(CertificateBlock(certificate.Der()));
  }
  return manifest;
}

}  // namespace testing_support
