#include "verify/certificates_openssl.h"

#include <openssl/x509.h>

#include "verify/owners_openssl.h"
#include "verify/verify_exceptions.h"

namespace VerificationToolCrypto {
namespace {

using verify_exceptions::ve_crypt;

// Whether d2i consumed exactly the bytes of der: trailing bytes after the object are refused.
bool ReadWholeInput(const std::string& der, const unsigned char* cursor) {
  return cursor == reinterpret_cast<const unsigned char*>(der.data() + der.size());
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

CCertContextPtr DecodeCertificateDer(const std::string& der) {
  ErrorQueueCleaner cleaner;
  const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
  X509Owner certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
  if (der.empty() || !certificate || !ReadWholeInput(der, cursor)) {
    throw ve_crypt("Decoding certificate");
  }
  auto context = std::make_shared<CCertContext>(certificate.get());
  certificate.release();
  return context;
}

CCrlContextPtr DecodeCrl(const std::string& der) {
  ErrorQueueCleaner cleaner;
  const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
  X509CrlOwner crl(d2i_X509_CRL(nullptr, &cursor, static_cast<long>(der.size())));
  if (der.empty() || !crl || !ReadWholeInput(der, cursor)) throw ve_crypt("Decoding crl");
  auto context = std::make_shared<CCrlContext>(crl.get());
  crl.release();
  return context;
}

}  // namespace VerificationToolCrypto
