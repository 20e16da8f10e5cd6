// Decoded certificates and CRLs, their shared owners, and the readers of the trust-anchor
// files (a PEM root certificate and a PEM CRL file).
#pragma once

#include <openssl/types.h>

#include <memory>
#include <string>

namespace VerificationToolCrypto {

// Owns one decoded X.509 certificate. Shared only through CCertContextPtr.
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

// Owns one decoded CRL. Shared only through CCrlContextPtr.
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

using CCertContextPtr = std::shared_ptr<CCertContext>;
using CCrlContextPtr = std::shared_ptr<CCrlContext>;

// Bytes of Base64 text; line feeds, carriage returns, blanks and tabs are not data, and
// decoding ends at the padding. Text that is not Base64 decodes to no bytes.
std::string DecodeBase64(const std::string& text);

// The first PEM block of text ("-----BEGIN ...-----" line, Base64, "-----END" line) decoded to
// a certificate. Throws ve_crypt "Decoding certificate".
CCertContextPtr DecodeCertificate(const std::string& pemText);

// A PEM certificate file. Throws ve_file 7 with the path when it is not readable, and
// ve_crypt "Decoding certificate".
CCertContextPtr LoadCertificateFile(const std::string& path);

// DER bytes of one CRL. Throws ve_crypt "Decoding crl".
CCrlContextPtr DecodeCrl(const std::string& der);

// The first block of a PEM CRL file; later blocks are not read. Line ends may be "\n" or
// "\r\n". Throws ve_file 7 with the path when it is not readable, and ve_crypt "Decoding crl"
// when the first block breaks its marker or line rules or does not decode.
CCrlContextPtr LoadCrlFile(const std::string& path);

}  // namespace VerificationToolCrypto
