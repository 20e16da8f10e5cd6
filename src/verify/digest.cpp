#include "verify/digest.h"

#include <errno.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <array>

#include "verify/owners_openssl.h"
#include "verify/verify_exceptions.h"

namespace VerificationToolCrypto {
namespace {

using verify_exceptions::ve_crypt;

// Bytes read into buffer, 0 at the end of the file, -1 on a read error.
ssize_t ReadBlock(int fd, std::array<unsigned char, kHashBlockSize>& buffer) {
  for (;;) {
    ssize_t count = read(fd, buffer.data(), buffer.size());
    if (count >= 0 || errno != EINTR) return count;
  }
}

EvpMdCtxOwner NewSha1Context() {
  EvpMdCtxOwner context(EVP_MD_CTX_new());
  if (!context) throw ve_crypt("CryptAcquireContext failed");
  if (EVP_DigestInit_ex(context.get(), EVP_sha1(), nullptr) != 1) {
    throw ve_crypt("CryptCreateHash failed");
  }
  return context;
}

}  // namespace

std::optional<std::string> HashFile(int fd) {
  ErrorQueueCleaner cleaner;
  EvpMdCtxOwner context = NewSha1Context();
  std::array<unsigned char, kHashBlockSize> buffer;
  for (;;) {
    ssize_t count = ReadBlock(fd, buffer);
    if (count < 0) return std::nullopt;
    if (count == 0) break;
    if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(count)) != 1) {
      throw ve_crypt("CryptHashData failed");
    }
  }
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest;
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) {
    throw ve_crypt("CryptGetHashParam failed");
  }
  return std::string(reinterpret_cast<const char*>(digest.data()), length);
}

std::string ToHex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (char byte : bytes) {
    auto value = static_cast<unsigned char>(byte);
    text += kDigits[value >> 4];
    text += kDigits[value & 0x0F];
  }
  return text;
}

std::optional<std::string> FileDigest(int fd) {
  std::optional<std::string> digest = HashFile(fd);
  if (!digest) return std::nullopt;
  return ToHex(*digest);
}

}  // namespace VerificationToolCrypto
