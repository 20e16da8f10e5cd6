// A PEM certificate text decoded, as the manifest's certificates and the root file are.
#include "fuzz_support.h"
#include "verify/certificates_openssl.h"
#include "verify/verify_exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    VerificationToolCrypto::CCertContextPtr certificate =
        VerificationToolCrypto::DecodeCertificate(text);
    fuzzing::Require(certificate && certificate->get() != nullptr,
                     "a decoded certificate holds a certificate");
  } catch (const verify_exceptions::ve_crypt&) {
  }
  return 0;
}
