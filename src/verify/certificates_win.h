// What a decoded certificate and CRL hold: the CryptoAPI contexts, for the code that checks
// them.
#pragma once

#include "verify/certificates.h"
#include "verify/owners_win.h"

namespace VerificationToolCrypto {

// Owns one certificate context.
class CCertContext {
 public:
  explicit CCertContext(PCCERT_CONTEXT certificate) : certificate_(certificate) {}
  ~CCertContext();
  CCertContext(const CCertContext&) = delete;
  CCertContext& operator=(const CCertContext&) = delete;

  PCCERT_CONTEXT get() const { return certificate_; }

 private:
  PCCERT_CONTEXT certificate_;
};

// Owns one CRL context.
class CCrlContext {
 public:
  explicit CCrlContext(PCCRL_CONTEXT crl) : crl_(crl) {}
  ~CCrlContext();
  CCrlContext(const CCrlContext&) = delete;
  CCrlContext& operator=(const CCrlContext&) = delete;

  PCCRL_CONTEXT get() const { return crl_; }

 private:
  PCCRL_CONTEXT crl_;
};

}  // namespace VerificationToolCrypto
