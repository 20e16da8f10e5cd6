#include "verify/certificates_win.h"

#include "verify/verify_exceptions.h"

namespace VerificationToolCrypto {
namespace {

using verify_exceptions::ve_crypt;

const BYTE* Bytes(const std::string& der) { return reinterpret_cast<const BYTE*>(der.data()); }

}  // namespace

bool IsOneDerObject(const BYTE* bytes, std::size_t size) {
  if (size < 2) return false;
  std::size_t header = 2;
  std::size_t length = bytes[1];
  if (length & 0x80) {
    std::size_t lengthBytes = length & 0x7F;
    if (lengthBytes == 0 || lengthBytes > 4 || size < 2 + lengthBytes) return false;
    length = 0;
    for (std::size_t i = 0; i < lengthBytes; ++i) length = (length << 8) | bytes[2 + i];
    header += lengthBytes;
  }
  return size - header == length;
}

CCertContext::~CCertContext() {
  if (certificate_ != nullptr) ::CertFreeCertificateContext(certificate_);
  certificate_ = nullptr;
}

CCrlContext::~CCrlContext() {
  if (crl_ != nullptr) ::CertFreeCRLContext(crl_);
  crl_ = nullptr;
}

CCertContextPtr DecodeCertificateDer(const std::string& der) {
  if (!IsOneDerObject(Bytes(der), der.size())) throw ve_crypt("Decoding certificate");
  CertContextOwner certificate(
      ::CertCreateCertificateContext(kCertEncoding, Bytes(der), static_cast<DWORD>(der.size())));
  if (!certificate) throw ve_crypt("Decoding certificate");
  auto context = std::make_shared<CCertContext>(certificate.get());
  certificate.release();
  return context;
}

CCrlContextPtr DecodeCrl(const std::string& der) {
  if (!IsOneDerObject(Bytes(der), der.size())) throw ve_crypt("Decoding crl");
  CrlContextOwner crl(
      ::CertCreateCRLContext(kCertAndMessageEncoding, Bytes(der), static_cast<DWORD>(der.size())));
  if (!crl) throw ve_crypt("Decoding crl");
  auto context = std::make_shared<CCrlContext>(crl.get());
  crl.release();
  return context;
}

}  // namespace VerificationToolCrypto
