// A PEM certificate text decoded, as the manifest's certificates and the root file are, and the
// same bytes read as DER by the strict reader.
#include "fuzz_support.h"
#include "verify/certificates.h"
#include "verify/verify_exceptions.h"
#include "verify/x509.h"

namespace {

void RequireSound(const VerificationToolCrypto::CCertContextPtr& certificate) {
  fuzzing::Require(certificate && !certificate->get().signed_part.signed_bytes.empty(),
                   "a decoded certificate holds its signed bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    RequireSound(VerificationToolCrypto::DecodeCertificate(text));
  } catch (const verify_exceptions::ve_crypt&) {
  }
  try {
    RequireSound(VerificationToolCrypto::DecodeCertificateDer(text));
  } catch (const verify_exceptions::ve_crypt&) {
  }
  return 0;
}
