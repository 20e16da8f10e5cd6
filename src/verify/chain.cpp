#include "verify/chain.h"

#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>

#include "verify/openssl_owners.h"
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

// An issuer without a basicConstraints extension (a version 1 certificate, for instance)
// passes; one that carries the extension must say CA.
bool MayIssue(X509* issuer) {
  int critical = 0;
  auto* constraints = static_cast<BASIC_CONSTRAINTS*>(
      X509_get_ext_d2i(issuer, NID_basic_constraints, &critical, nullptr));
  if (constraints == nullptr) return critical == -1;
  bool isCa = constraints->ca != 0;
  BASIC_CONSTRAINTS_free(constraints);
  return isCa;
}

bool IsSignedBy(X509* subject, X509* issuer) {
  EVP_PKEY* key = X509_get0_pubkey(issuer);
  return key != nullptr && X509_verify(subject, key) == 1;
}

bool IsValidLink(X509* subject, X509* issuer) {
  return X509_NAME_cmp(X509_get_issuer_name(subject), X509_get_subject_name(issuer)) == 0 &&
         MayIssue(issuer) && IsSignedBy(subject, issuer) && IsWithinValidity(subject);
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
  if (chain.empty()) throw ve_badcert();
  for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
    if (!IsValidLink(chain[i]->get(), chain[i + 1]->get())) throw ve_badcert();
  }
  X509* last = chain.back()->get();
  if (!IsValidLink(last, root.get())) throw ve_badcert();
  if (!IsRootCrl(crl.get(), root.get()) || IsRevoked(crl.get(), last)) throw ve_badcert();
}

}  // namespace VerificationToolCrypto
