// CRL currency and the link-by-link check of a certificate chain up to the root.
#pragma once

#include <vector>

#include "verify/certificates.h"

namespace VerificationToolCrypto {

// True when the present time is neither before the CRL's this-update time nor after its
// next-update time. A CRL without a next-update time does not expire.
bool IsCrlTimeValid(const CCrlContextPtr& crl);

// Checks chain (signer first, each next entry the issuer of the one before) link by link and
// its last entry against root. Every link needs a signature made with the issuer's key, a
// subject within its validity period, an issuer whose subject name is the subject's issuer
// name, and an issuer that may issue certificates: a CA in basicConstraints (or a version 1
// certificate without extensions), keyCertSign where it has keyUsage, and a pathLenConstraint
// that allows the CA certificates below it that are not self-issued. No certificate, the root
// included, may carry a malformed extension or a critical one this check does not understand.
// The signer, where it has keyUsage, must allow digitalSignature or nonRepudiation and, where
// it has extendedKeyUsage, list codeSigning or anyExtendedKeyUsage. The last entry must not
// be revoked by crl, which must be issued and signed by the root. Throws ve_badcert on any
// failed check.
void VerifyCertificateChain(const std::vector<CCertContextPtr>& chain, const CCertContext& root,
                            const CCrlContext& crl);

}  // namespace VerificationToolCrypto
