// RSA signature check of a signed manifest body.
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "verify/certificates.h"

namespace VerificationToolCrypto {

// Digest algorithms of the signature check.
enum class HashAlgorithm { kSha1 };

// Hashes the rest of body once, in blocks, and checks the candidates in order as
// RSASSA-PKCS1-v1_5 signatures (most significant byte first) of that digest under the
// signer's public key; returns at the first that verifies. Throws ve_badsig when none does (also
// for an empty list, before any cryptographic work), ve_crypt "CryptImportPublicKeyInfo failed"
// when the key is not RSA, and ve_crypt "CryptAcquireContext failed", "CryptCreateHash failed" or
// "CryptHashData failed" when the digest machinery fails.
void VerifySignature(std::istream& body, const std::vector<std::string>& candidates,
                     const CCertContext& signer, HashAlgorithm algorithm);

}  // namespace VerificationToolCrypto
