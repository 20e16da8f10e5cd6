#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <ctime>
#include <iterator>

#include "verify/certificates_openssl.h"
#include "verify/chain.h"
#include "verify/owners_openssl.h"
#include "verify/verify_exceptions.h"

namespace VerificationToolCrypto {
namespace {

using verify_exceptions::ve_badcert;

// ASN1_TIME_cmp_time_t: -1 before, 0 equal, 1 after the given time, -2 on a bad time value.
bool IsAtOrBeforeNow(const ASN1_TIME* time, std::time_t now) {
  int order = ASN1_TIME_cmp_time_t(time, now);
  return order == -1 || order == 0;
}

bool IsAtOrAfterNow(const ASN1_TIME* time, std::time_t now) {
  int order = ASN1_TIME_cmp_time_t(time, now);
  return order == 0 || order == 1;
}

bool IsWithinValidity(X509* certificate) {
  std::time_t now = std::time(nullptr);
  return IsAtOrBeforeNow(X509_get0_notBefore(certificate), now) &&
         IsAtOrAfterNow(X509_get0_notAfter(certificate), now);
}

// Extensions this tool either enforces (basicConstraints, keyUsage, extendedKeyUsage) or that
// only identify keys and names and restrict nothing (key identifiers, alternative names). A
// critical extension outside this list restricts the certificate in a way that is not checked
// here, so the certificate is refused. Policies and name constraints are among the refused.
constexpr int kUnderstoodExtensions[] = {NID_basic_constraints,
                                         NID_key_usage,
                                         NID_ext_key_usage,
                                         NID_subject_key_identifier,
                                         NID_authority_key_identifier,
                                         NID_subject_alt_name,
                                         NID_issuer_alt_name};

bool IsUnderstood(X509_EXTENSION* extension) {
  int nid = OBJ_obj2nid(X509_EXTENSION_get_object(extension));
  return std::find(std::begin(kUnderstoodExtensions), std::end(kUnderstoodExtensions), nid) !=
         std::end(kUnderstoodExtensions);
}

// Extensions that decode (no malformed or repeated one) and no critical one left unchecked.
bool HasSoundExtensions(X509* certificate) {
  if ((X509_get_extension_flags(certificate) & EXFLAG_INVALID) != 0) return false;
  for (int i = 0; i < X509_get_ext_count(certificate); ++i) {
    X509_EXTENSION* extension = X509_get_ext(certificate, i);
    if (X509_EXTENSION_get_critical(extension) == 1 && !IsUnderstood(extension)) return false;
  }
  return true;
}

bool HasCaFlag(X509* certificate) {
  auto* constraints = static_cast<BASIC_CONSTRAINTS*>(
      X509_get_ext_d2i(certificate, NID_basic_constraints, nullptr, nullptr));
  if (constraints == nullptr) return false;
  bool isCa = constraints->ca != 0;
  BASIC_CONSTRAINTS_free(constraints);
  return isCa;
}

// A version 1 certificate without extensions predates the CA mark and may issue; any other
// issuer must say CA in basicConstraints. A keyUsage extension, where present, must allow
// certificate signing (X509_get_key_usage gives all bits when there is none).
bool MayIssue(X509* issuer) {
  bool predatesExtensions =
      X509_get_version(issuer) == X509_VERSION_1 && X509_get_ext_count(issuer) == 0;
  return (predatesExtensions || HasCaFlag(issuer)) &&
         (X509_get_key_usage(issuer) & KU_KEY_CERT_SIGN) != 0;
}

// pathLenConstraint bounds the CA certificates below the issuer that are not self-issued.
bool AllowsPathBelow(X509* issuer, std::size_t intermediatesBelow) {
  long pathLength = X509_get_pathlen(issuer);
  return pathLength < 0 || intermediatesBelow <= static_cast<std::size_t>(pathLength);
}

bool IsSelfIssued(X509* certificate) {
  return X509_NAME_cmp(X509_get_subject_name(certificate), X509_get_issuer_name(certificate)) == 0;
}

// The manifest signer's key, where its use is restricted, must be meant for signatures, and
// for code signing where extended key usages are listed.
bool MaySignManifests(X509* signer) {
  return (X509_get_key_usage(signer) & (KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION)) != 0 &&
         (X509_get_extended_key_usage(signer) & (XKU_CODE_SIGN | XKU_ANYEKU)) != 0;
}

bool IsSignedBy(X509* subject, X509* issuer) {
  EVP_PKEY* key = X509_get0_pubkey(issuer);
  return key != nullptr && X509_verify(subject, key) == 1;
}

bool IsValidLink(X509* subject, X509* issuer, std::size_t intermediatesBelow) {
  return X509_NAME_cmp(X509_get_issuer_name(subject), X509_get_subject_name(issuer)) == 0 &&
         HasSoundExtensions(subject) && HasSoundExtensions(issuer) && MayIssue(issuer) &&
         AllowsPathBelow(issuer, intermediatesBelow) && IsSignedBy(subject, issuer) &&
         IsWithinValidity(subject);
}

// The CRL counts only when the root issued it and its signature verifies with the root's key.
bool IsRootCrl(X509_CRL* crl, X509* root) {
  EVP_PKEY* key = X509_get0_pubkey(root);
  return X509_NAME_cmp(X509_CRL_get_issuer(crl), X509_get_subject_name(root)) == 0 &&
         key != nullptr && X509_CRL_verify(crl, key) == 1;
}

bool IsRevoked(X509_CRL* crl, X509* subject) {
  X509_REVOKED* entry = nullptr;
  return X509_CRL_get0_by_serial(crl, &entry, X509_get0_serialNumber(subject)) == 1;
}

}  // namespace

bool IsCrlTimeValid(const CCrlContextPtr& crl) {
  std::time_t now = std::time(nullptr);
  const ASN1_TIME* nextUpdate = X509_CRL_get0_nextUpdate(crl->get());
  return IsAtOrBeforeNow(X509_CRL_get0_lastUpdate(crl->get()), now) &&
         (nextUpdate == nullptr || IsAtOrAfterNow(nextUpdate, now));
}

void VerifyCertificateChain(const std::vector<CCertContextPtr>& chain, const CCertContext& root,
                            const CCrlContext& crl) {
  ErrorQueueCleaner cleaner;
  if (chain.empty() || !MaySignManifests(chain.front()->get())) throw ve_badcert();
  // Counts the CA certificates between the signer and the issuer of the link being checked.
  std::size_t intermediatesBelow = 0;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    X509* subject = chain[i]->get();
    X509* issuer = i + 1 < chain.size() ? chain[i + 1]->get() : root.get();
    if (i > 0 && !IsSelfIssued(subject)) ++intermediatesBelow;
    if (!IsValidLink(subject, issuer, intermediatesBelow)) throw ve_badcert();
  }
  X509* last = chain.back()->get();
  if (!IsRootCrl(crl.get(), root.get()) || IsRevoked(crl.get(), last)) throw ve_badcert();
}

}  // namespace VerificationToolCrypto
