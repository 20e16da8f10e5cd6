// The two questions the trust checks ask of a cryptographic library: the digest of some bytes,
// and whether an RSA signature of a digest verifies under a public key.
#pragma once

#include <string>
#include <string_view>

#include "verify/x509.h"

namespace VerificationToolCrypto {

// The digest of bytes with the hash of algorithm. Throws ve_crypt "CryptAcquireContext
// failed", "CryptCreateHash failed" or "CryptHashData failed" when the hash machinery fails.
std::string DigestFor(SignatureAlgorithm algorithm, std::string_view bytes);

// Whether signature (most significant byte first) is an RSASSA-PKCS1-v1_5 signature of digest,
// with the DigestInfo of algorithm's hash, under the RSA key of public_key_info (a whole
// SubjectPublicKeyInfo). Throws ve_crypt "CryptImportPublicKeyInfo failed" when the key does
// not import, and as DigestFor when the library fails.
bool VerifiesRsaSignature(const std::string& public_key_info, SignatureAlgorithm algorithm,
                          const std::string& digest, const std::string& signature);

}  // namespace VerificationToolCrypto
