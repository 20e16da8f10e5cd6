// CryptoAPI for the verification library's Windows implementation, and scoped owners of its
// objects, released on every path.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h leaves the crypto API out when made lean.
#include <wincrypt.h>

#include <memory>
#include <utility>

namespace VerificationToolCrypto {

// Encodings of certificates and CRLs as CryptoAPI names them.
inline constexpr DWORD kCertEncoding = X509_ASN_ENCODING;
inline constexpr DWORD kCertAndMessageEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct CertContextFree {
  void operator()(const CERT_CONTEXT* context) const { ::CertFreeCertificateContext(context); }
};
struct CrlContextFree {
  void operator()(const CRL_CONTEXT* context) const { ::CertFreeCRLContext(context); }
};
// Memory that CryptDecodeObjectEx allocated (CRYPT_DECODE_ALLOC_FLAG).
struct LocalMemoryFree {
  void operator()(void* memory) const { ::LocalFree(memory); }
};

using CertContextOwner = std::unique_ptr<const CERT_CONTEXT, CertContextFree>;
using CrlContextOwner = std::unique_ptr<const CRL_CONTEXT, CrlContextFree>;
template <typename T>
using DecodedOwner = std::unique_ptr<T, LocalMemoryFree>;

// Owns one CryptoAPI handle (a provider, hash or key: integers, not pointers); 0 is "none".
template <typename Handle, BOOL(WINAPI* Release)(Handle)>
class CryptHandle {
 public:
  CryptHandle() = default;
  explicit CryptHandle(Handle handle) : handle_(handle) {}
  ~CryptHandle() {
    if (handle_ != 0) Release(handle_);
  }
  CryptHandle(CryptHandle&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
  CryptHandle& operator=(CryptHandle&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  CryptHandle(const CryptHandle&) = delete;
  CryptHandle& operator=(const CryptHandle&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != 0; }
  // Where a call that makes the object stores its handle; only on an empty owner.
  Handle* out() { return &handle_; }

 private:
  Handle handle_ = 0;
};

inline BOOL WINAPI ReleaseProvider(HCRYPTPROV provider) {
  return ::CryptReleaseContext(provider, 0);
}

using ProviderOwner = CryptHandle<HCRYPTPROV, ReleaseProvider>;
using HashOwner = CryptHandle<HCRYPTHASH, ::CryptDestroyHash>;
using KeyOwner = CryptHandle<HCRYPTKEY, ::CryptDestroyKey>;

// A context of the RSA and AES provider (MD5, SHA-1 and SHA-2 hashes) for hashing and public-key
// work, without a key container. Throws ve_crypt "CryptAcquireContext failed".
ProviderOwner AcquireVerifyContext();

// A fresh hash object of provider for algorithm (CALG_SHA1...). Throws ve_crypt
// "CryptCreateHash failed".
HashOwner CreateHash(HCRYPTPROV provider, ALG_ID algorithm);

}  // namespace VerificationToolCrypto
