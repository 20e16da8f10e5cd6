// What a decoded certificate and CRL hold: the OpenSSL objects, for the code that checks them.
#pragma once

#include <openssl/types.h>

#include "verify/certificates.h"

namespace VerificationToolCrypto {

// Owns one decoded X.509 certificate.
class CCertContext {
 public:
  explicit CCertContext(X509* certificate) : certificate_(certificate) {}
  ~CCertContext();
  CCertContext(const CCertContext&) = delete;
  CCertContext& operator=(const CCertContext&) = delete;

  X509* get() const { return certificate_; }

 private:
  X509* certificate_;
};

// Owns one decoded CRL.
class CCrlContext {
 public:
  explicit CCrlContext(X509_CRL* crl) : crl_(crl) {}
  ~CCrlContext();
  CCrlContext(const CCrlContext&) = delete;
  CCrlContext& operator=(const CCrlContext&) = delete;

  X509_CRL* get() const { return crl_; }

 private:
  X509_CRL* crl_;
};

}  // namespace VerificationToolCrypto
