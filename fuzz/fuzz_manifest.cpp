// The signed manifest split into body, signatures, signer and chain certificates.
#include <sstream>

#include "fuzz_support.h"
#include "verify/verify_exceptions.h"
#include "verify/verify_tool.h"

namespace {

constexpr char kSentinel[] = "not written";
constexpr std::string_view kCertificateEnd = "-----END CERTIFICATE-----\n";

bool Untouched(const VerifyTool& tool) {
  return tool.body == kSentinel && tool.signatures.empty() && tool.signerCertificate.empty() &&
         tool.chainCertificates.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::istringstream in(bytes, std::ios::binary);
  VerifyTool tool;
  tool.body = kSentinel;
  try {
    in >> tool;
  } catch (const verify_exceptions::ve_base&) {
    fuzzing::Require(Untouched(tool), "a throwing extraction leaves its target unchanged");
    return 0;
  }
  if (in.fail()) {
    fuzzing::Require(Untouched(tool), "a failed extraction leaves its target unchanged");
    return 0;
  }
  // Accepted: the signed bytes are the start of the file, and the file ends with a certificate.
  fuzzing::Require(!tool.body.empty() && tool.body.back() == '\n', "the body ends a line");
  fuzzing::Require(bytes.starts_with(tool.body), "the body is the start of the file");
  fuzzing::Require(bytes.compare(tool.body.size(), 26, "-----BEGIN SIGNATURE-----\n") == 0,
                   "the first signature block follows the body");
  fuzzing::Require(!tool.signatures.empty(), "an accepted manifest has a signature");
  fuzzing::Require(tool.signerCertificate.starts_with("-----BEGIN CERTIFICATE-----\n") &&
                       tool.signerCertificate.ends_with(kCertificateEnd),
                   "the signer certificate is one PEM block");
  fuzzing::Require(bytes.ends_with(kCertificateEnd), "nothing follows the last certificate");
  for (const std::string& chain : tool.chainCertificates) {
    fuzzing::Require(bytes.find(chain) != std::string::npos, "chain blocks come from the file");
  }
  return 0;
}
