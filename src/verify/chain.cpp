#include "verify/chain.h"

#include <algorithm>
#include <ctime>

#include "verify/rsa.h"
#include "verify/verify_exceptions.h"
#include "verify/x509.h"

namespace VerificationToolCrypto {
namespace {

using verify_exceptions::ve_badcert;

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

bool IsWithinValidity(const Certificate& certificate, std::int64_t now) {
  return certificate.not_before <= now && now <= certificate.not_after;
}

// A version 1 certificate without extensions predates the CA mark and may issue; any other
// issuer must say CA in basicConstraints. A keyUsage extension, where present, must allow
// certificate signing. pathLenConstraint bounds the CA certificates below the issuer that are
// not self-issued.
bool MayIssue(const Certificate& issuer, std::size_t intermediates_below) {
  const Restrictions& restrictions = issuer.restrictions;
  const bool predates_extensions = issuer.version == 1 && !issuer.has_extensions;
  return (predates_extensions || restrictions.is_ca) &&
         (!restrictions.key_usage || (*restrictions.key_usage & kKeyCertSign) != 0) &&
         (!restrictions.path_length || intermediates_below <= *restrictions.path_length);
}

// Names are compared as their DER bytes: a CA issues names as it encoded them.
bool IsSelfIssued(const Certificate& certificate) {
  return certificate.subject == certificate.issuer;
}

// The manifest signer's key, where its use is restricted, must be meant for signatures, and
// for code signing where extended key usages are listed.
bool MaySignManifests(const Certificate& signer) {
  const Restrictions& restrictions = signer.restrictions;
  return restrictions.sound && restrictions.may_code_sign &&
         (!restrictions.key_usage ||
          (*restrictions.key_usage & (kDigitalSignature | kNonRepudiation)) != 0);
}

bool IsSignedBy(const SignedPart& part, const Certificate& issuer) {
  return issuer.rsa_key &&
         VerifiesRsaSignature(issuer.public_key, part.algorithm,
                              DigestFor(part.algorithm, part.signed_bytes), part.signature);
}

bool IsValidLink(const Certificate& subject, const Certificate& issuer,
                 std::size_t intermediates_below, std::int64_t now) {
  return subject.issuer == issuer.subject && subject.restrictions.sound &&
         issuer.restrictions.sound && MayIssue(issuer, intermediates_below) &&
         IsWithinValidity(subject, now) && IsSignedBy(subject.signed_part, issuer);
}

// The CRL counts only when the root issued it, it says nothing left unchecked, and its
// signature verifies with the root's key.
bool IsRootCrl(const Crl& crl, const Certificate& root) {
  return crl.sound && crl.issuer == root.subject && IsSignedBy(crl.signed_part, root);
}

// A listed serial revokes, whatever the entry's extensions say.
bool IsRevoked(const Crl& crl, const Certificate& subject) {
  return std::find(crl.revoked_serials.begin(), crl.revoked_serials.end(), subject.serial) !=
         crl.revoked_serials.end();
}

}  // namespace

bool IsCrlTimeValid(const CCrlContextPtr& crl) {
  const std::int64_t now = Now();
  const Crl& list = crl->get();
  return list.this_update <= now && (!list.next_update || now <= *list.next_update);
}

void VerifyCertificateChain(const std::vector<CCertContextPtr>& chain, const CCertContext& root,
                            const CCrlContext& crl) {
  if (chain.empty() || !MaySignManifests(chain.front()->get())) throw ve_badcert();
  const std::int64_t now = Now();
  // Counts the CA certificates between the signer and the issuer of the link being checked.
  std::size_t intermediates_below = 0;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    const Certificate& subject = chain[i]->get();
    const Certificate& issuer = i + 1 < chain.size() ? chain[i + 1]->get() : root.get();
    if (i > 0 && !IsSelfIssued(subject)) ++intermediates_below;
    if (!IsValidLink(subject, issuer, intermediates_below, now)) throw ve_badcert();
  }
  if (!IsRootCrl(crl.get(), root.get()) || IsRevoked(crl.get(), chain.back()->get())) {
    throw ve_badcert();
  }
}

}  // namespace VerificationToolCrypto
