#include "verify/certificates_win.h"

#include "verify/verify_exceptions.h"

namespace VerificationToolCrypto {
namespace {

using verify_exceptions::ve_crypt;

// Whether der is exactly one DER object: its header's length covers the rest of the bytes,
// so trailing bytes after the object are refused (the decoders stop at the object's end).
bool IsOneDerObject(const std::string& der) {
  if (der.size() < 2) return false;
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(der[i]); };
  std::size_t header = 2;
  std::size_t length = byte(1);
  if (length & 0x80) {
    std::size_t lengthBytes = length & 0x7F;
    if (lengthBytes == 0 || lengthBytes > 4 || der.size() < 2 + lengthBytes) return false;
    length = 0;
    for (std::size_t i = 0; i < lengthBytes; ++i) length = (length << 8) | byte(2 + i);
    header += lengthBytes;
  }
  return der.size() - header == length;
}

const BYTE* Bytes(const std::string& der) { return reinterpret_cast<const BYTE*>(der.data()); }

}  // namespace

CCertContext::~CCertContext() {
  if (certificate_ != nullptr) ::CertFreeCertificateContext(certificate_);
  certificate_ = nullptr;
}

CCrlContext::~CCrlContext() {
  if (crl_ != nullptr) ::CertFreeCRLContext(crl_);
  crl_ = nullptr;
}

CCertContextPtr DecodeCertificateDer(const std::string& der) {
  if (!IsOneDerObject(der)) throw ve_crypt("Decoding certificate");
  CertContextOwner certificate(
      ::CertCreateCertificateContext(kCertEncoding, Bytes(der), static_cast<DWORD>(der.size())));
  if (!certificate) throw ve_crypt("Decoding certificate");
  auto context = std::make_shared<CCertContext>(certificate.get());
  certificate.release();
  return context;
}

CCrlContextPtr DecodeCrl(const std::string& der) {
  if (!IsOneDerObject(der)) throw ve_crypt("Decoding crl");
  CrlContextOwner crl(
      ::CertCreateCRLContext(kCertAndMessageEncoding, Bytes(der), static_cast<DWORD>(der.size())));
  if (!crl) throw ve_crypt("Decoding crl");
  auto context = std::make_shared<CCrlContext>(crl.get());
  crl.release();
  return context;
}

}  // namespace VerificationToolCrypto
