// What a decoded certificate and CRL hold: the CryptoAPI contexts, for the code that checks
// them.
#pragma once

#include <cstddef>

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

// Whether bytes are exactly one DER object: a single-byte tag and a definite length that
// covers the rest. CryptoAPI's decoders stop at an object's end and some of wine's look past
// a wrong tag, so trailing bytes and foreign objects are refused here first.
bool IsOneDerObject(const BYTE* bytes, std::size_t size);

}  // namespace VerificationToolCrypto
