// Decoded certificates and CRLs, their shared owners, and the readers of the trust-anchor
// files (a PEM root certificate and a PEM CRL file).
#pragma once

#include <memory>
#include <string>

namespace VerificationToolCrypto {

// One decoded X.509 certificate, shared only through CCertContextPtr. What it holds is known
// only to the code that decodes and checks certificates.
class CCertContext;

// One decoded CRL, shared only through CCrlContextPtr.
class CCrlContext;

using CCertContextPtr = std::shared_ptr<CCertContext>;
using CCrlContextPtr = std::shared_ptr<CCrlContext>;

// Bytes of Base64 text; line feeds, carriage returns, blanks and tabs are not data, and
// decoding ends at the padding. Text that is not Base64 decodes to no bytes.
std::string DecodeBase64(const std::string& text);

// The first PEM block of text ("-----BEGIN ...-----" line, Base64, "-----END" line) decoded to
// a certificate. Throws ve_crypt "Decoding certificate".
CCertContextPtr DecodeCertificate(const std::string& pemText);

// DER bytes of one certificate, all of them. Throws ve_crypt "Decoding certificate".
CCertContextPtr DecodeCertificateDer(const std::string& der);

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
