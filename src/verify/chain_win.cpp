#include <algorithm>
#include <iterator>
#include <optional>
#include <set>
#include <string_view>

#include "verify/certificates_win.h"
#include "verify/chain.h"
#include "verify/owners_win.h"
#include "verify/verify_exceptions.h"

namespace VerificationToolCrypto {
namespace {

using verify_exceptions::ve_badcert;

// How an extension is read, and whether a critical one may stand. The understood ones are
// either enforced here (basicConstraints, keyUsage, extendedKeyUsage) or only identify keys
// and names and restrict nothing (key identifiers, alternative names). A critical extension
// outside that list restricts the certificate in a way that is not checked here, so the
// certificate is refused; policies and name constraints are among the refused. The value of
// every listed extension must be one DER object of its type that decodes; the values of the
// others are not looked into.
struct KnownExtension {
  std::string_view oid;
  LPCSTR structure;
  BYTE tag;  // of the extension's value: SEQUENCE, BIT STRING or OCTET STRING
  bool understood;
};

constexpr BYTE kSequence = 0x30;
constexpr BYTE kBitString = 0x03;
constexpr BYTE kOctetString = 0x04;

const KnownExtension kKnownExtensions[] = {
    {szOID_BASIC_CONSTRAINTS2, X509_BASIC_CONSTRAINTS2, kSequence, true},
    {szOID_KEY_USAGE, X509_KEY_USAGE, kBitString, true},
    {szOID_ENHANCED_KEY_USAGE, X509_ENHANCED_KEY_USAGE, kSequence, true},
    {szOID_SUBJECT_KEY_IDENTIFIER, szOID_SUBJECT_KEY_IDENTIFIER, kOctetString, true},
    {szOID_AUTHORITY_KEY_IDENTIFIER2, X509_AUTHORITY_KEY_ID2, kSequence, true},
    {szOID_SUBJECT_ALT_NAME2, X509_ALTERNATE_NAME, kSequence, true},
    {szOID_ISSUER_ALT_NAME2, X509_ALTERNATE_NAME, kSequence, true},
    {szOID_NAME_CONSTRAINTS, X509_NAME_CONSTRAINTS, kSequence, false},
    {szOID_CRL_DIST_POINTS, X509_CRL_DIST_POINTS, kSequence, false},
    {szOID_NETSCAPE_CERT_TYPE, X509_BITS, kBitString, false},
};

const KnownExtension* FindKnown(std::string_view oid) {
  auto known = std::find_if(std::begin(kKnownExtensions), std::end(kKnownExtensions),
                            [&](const KnownExtension& entry) { return entry.oid == oid; });
  return known == std::end(kKnownExtensions) ? nullptr : known;
}

// The decoded structure of extension, or nothing when it does not decode.
template <typename T>
DecodedOwner<T> Decode(const CERT_EXTENSION& extension, LPCSTR structure) {
  void* decoded = nullptr;
  DWORD size = 0;
  if (!::CryptDecodeObjectEx(kCertEncoding, structure, extension.Value.pbData,
                             extension.Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded,
                             &size)) {
    return nullptr;
  }
  return DecodedOwner<T>(static_cast<T*>(decoded));
}

// What a certificate's extensions allow. An absent keyUsage or extendedKeyUsage restricts
// nothing.
struct Restrictions {
  bool isCa = false;
  std::optional<DWORD> pathLength;
  std::optional<unsigned> keyUsage;
  bool mayCodeSign = true;
};

bool ReadKeyUsage(const CERT_EXTENSION& extension, Restrictions& restrictions) {
  auto bits = Decode<CRYPT_BIT_BLOB>(extension, X509_KEY_USAGE);
  if (!bits) return false;
  unsigned usage = 0;
  for (DWORD i = 0; i < bits->cbData && i < 2; ++i) usage |= unsigned{bits->pbData[i]} << (8 * i);
  restrictions.keyUsage = usage;
  return usage != 0;  // a keyUsage that allows nothing is malformed
}

bool ReadBasicConstraints(const CERT_EXTENSION& extension, Restrictions& restrictions) {
  auto constraints = Decode<CERT_BASIC_CONSTRAINTS2_INFO>(extension, X509_BASIC_CONSTRAINTS2);
  if (!constraints) return false;
  restrictions.isCa = constraints->fCA != FALSE;
  if (constraints->fPathLenConstraint) restrictions.pathLength = constraints->dwPathLenConstraint;
  return true;
}

bool ReadExtendedKeyUsage(const CERT_EXTENSION& extension, Restrictions& restrictions) {
  auto usages = Decode<CERT_ENHKEY_USAGE>(extension, X509_ENHANCED_KEY_USAGE);
  if (!usages) return false;
  restrictions.mayCodeSign = false;
  for (DWORD i = 0; i < usages->cUsageIdentifier; ++i) {
    std::string_view usage = usages->rgpszUsageIdentifier[i];
    if (usage == szOID_PKIX_KP_CODE_SIGNING || usage == szOID_ANY_ENHANCED_KEY_USAGE) {
      restrictions.mayCodeSign = true;
    }
  }
  return true;
}

bool ReadExtension(const CERT_EXTENSION& extension, const KnownExtension& known,
                   Restrictions& restrictions) {
  const CRYPT_OBJID_BLOB& value = extension.Value;
  if (!IsOneDerObject(value.pbData, value.cbData) || value.pbData[0] != known.tag) return false;
  std::string_view oid = known.oid;
  if (oid == szOID_KEY_USAGE) return ReadKeyUsage(extension, restrictions);
  if (oid == szOID_BASIC_CONSTRAINTS2) return ReadBasicConstraints(extension, restrictions);
  if (oid == szOID_ENHANCED_KEY_USAGE) return ReadExtendedKeyUsage(extension, restrictions);
  return Decode<void>(extension, known.structure) != nullptr;
}

// The restrictions of certificate's extensions; nothing when one is malformed, or critical and
// not understood, or when any extension appears twice (a certificate holds at most one
// instance of each).
std::optional<Restrictions> ReadRestrictions(PCCERT_CONTEXT certificate) {
  const CERT_INFO& info = *certificate->pCertInfo;
  Restrictions restrictions;
  std::set<std::string_view> seen;
  for (DWORD i = 0; i < info.cExtension; ++i) {
    const CERT_EXTENSION& extension = info.rgExtension[i];
    std::string_view oid = extension.pszObjId;
    if (!seen.insert(oid).second) return std::nullopt;
    const KnownExtension* known = FindKnown(oid);
    if (extension.fCritical && (known == nullptr || !known->understood)) return std::nullopt;
    if (known != nullptr && !ReadExtension(extension, *known, restrictions)) return std::nullopt;
  }
  return restrictions;
}

// CertCompareCertificateName compares the encoded names; it does not change them.
bool IsSameName(const CERT_NAME_BLOB& name, const CERT_NAME_BLOB& other) {
  return ::CertCompareCertificateName(kCertEncoding, const_cast<CERT_NAME_BLOB*>(&name),
                                      const_cast<CERT_NAME_BLOB*>(&other)) != FALSE;
}

bool IsWithinValidity(PCCERT_CONTEXT certificate) {
  return ::CertVerifyTimeValidity(nullptr, certificate->pCertInfo) == 0;
}

// A version 1 certificate without extensions predates the CA mark and may issue; any other
// issuer must say CA in basicConstraints. A keyUsage extension, where present, must allow
// certificate signing. pathLenConstraint bounds the CA certificates below the issuer that are
// not self-issued.
bool MayIssue(PCCERT_CONTEXT issuer, const Restrictions& restrictions,
              std::size_t intermediatesBelow) {
  const CERT_INFO& info = *issuer->pCertInfo;
  bool predatesExtensions = info.dwVersion == CERT_V1 && info.cExtension == 0;
  return (predatesExtensions || restrictions.isCa) &&
         (!restrictions.keyUsage || (*restrictions.keyUsage & CERT_KEY_CERT_SIGN_KEY_USAGE) != 0) &&
         (!restrictions.pathLength || intermediatesBelow <= *restrictions.pathLength);
}

bool IsSelfIssued(PCCERT_CONTEXT certificate) {
  return IsSameName(certificate->pCertInfo->Subject, certificate->pCertInfo->Issuer);
}

// The manifest signer's key, where its use is restricted, must be meant for signatures, and
// for code signing where extended key usages are listed.
bool MaySignManifests(PCCERT_CONTEXT signer) {
  std::optional<Restrictions> restrictions = ReadRestrictions(signer);
  constexpr unsigned kSigning = CERT_DIGITAL_SIGNATURE_KEY_USAGE | CERT_NON_REPUDIATION_KEY_USAGE;
  return restrictions && restrictions->mayCodeSign &&
         (!restrictions->keyUsage || (*restrictions->keyUsage & kSigning) != 0);
}

bool IsSignedBy(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer) {
  return ::CryptVerifyCertificateSignatureEx(
             0, kCertEncoding, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
             const_cast<CERT_CONTEXT*>(subject), CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
             const_cast<CERT_CONTEXT*>(issuer), 0, nullptr) != FALSE;
}

bool IsValidLink(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer, std::size_t intermediatesBelow) {
  std::optional<Restrictions> issuerRestrictions = ReadRestrictions(issuer);
  return IsSameName(subject->pCertInfo->Issuer, issuer->pCertInfo->Subject) &&
         ReadRestrictions(subject) && issuerRestrictions &&
         MayIssue(issuer, *issuerRestrictions, intermediatesBelow) && IsSignedBy(subject, issuer) &&
         IsWithinValidity(subject);
}

// The CRL counts only when the root issued it and its signature verifies with the root's key.
bool IsRootCrl(PCCRL_CONTEXT crl, PCCERT_CONTEXT root) {
  return IsSameName(crl->pCrlInfo->Issuer, root->pCertInfo->Subject) &&
         ::CryptVerifyCertificateSignatureEx(0, kCertEncoding, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CRL,
                                             const_cast<CRL_CONTEXT*>(crl),
                                             CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                                             const_cast<CERT_CONTEXT*>(root), 0, nullptr) != FALSE;
}

// A failed look-up counts as revoked: revocation is never assumed away.
bool IsRevoked(PCCRL_CONTEXT crl, PCCERT_CONTEXT subject) {
  PCRL_ENTRY entry = nullptr;
  return !::CertFindCertificateInCRL(subject, crl, 0, nullptr, &entry) || entry != nullptr;
}

}  // namespace

// CertVerifyCRLTimeValidity answers -1 before this-update, 1 after next-update. A CRL without
// a next-update time (a zero time) would count as expired from then on; it does not expire.
bool IsCrlTimeValid(const CCrlContextPtr& crl) {
  const CRL_INFO& info = *crl->get()->pCrlInfo;
  LONG order = ::CertVerifyCRLTimeValidity(nullptr, crl->get()->pCrlInfo);
  bool hasNextUpdate = info.NextUpdate.dwLowDateTime != 0 || info.NextUpdate.dwHighDateTime != 0;
  return order == 0 || (order > 0 && !hasNextUpdate);
}

void VerifyCertificateChain(const std::vector<CCertContextPtr>& chain, const CCertContext& root,
                            const CCrlContext& crl) {
  if (chain.empty() || !MaySignManifests(chain.front()->get())) throw ve_badcert();
  // Counts the CA certificates between the signer and the issuer of the link being checked.
  std::size_t intermediatesBelow = 0;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    PCCERT_CONTEXT subject = chain[i]->get();
    PCCERT_CONTEXT issuer = i + 1 < chain.size() ? chain[i + 1]->get() : root.get();
    if (i > 0 && !IsSelfIssued(subject)) ++intermediatesBelow;
    if (!IsValidLink(subject, issuer, intermediatesBelow)) throw ve_badcert();
  }
  PCCERT_CONTEXT last = chain.back()->get();
  if (!IsRootCrl(crl.get(), root.get()) || IsRevoked(crl.get(), last)) throw ve_badcert();
}

}  // namespace VerificationToolCrypto
