// SHA-1 digests of open files, streamed in blocks.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace VerificationToolCrypto {

// Size of the blocks a file is read and hashed in.
inline constexpr std::size_t kHashBlockSize = 8192;

// A SHA-1 digest fed in pieces. Throws ve_crypt "CryptAcquireContext failed" or "CryptCreateHash
// failed" when it cannot be set up, "CryptHashData failed" from Update and "CryptGetHashParam
// failed" from Finish.
class Sha1Digest {
 public:
  Sha1Digest();
  ~Sha1Digest();
  Sha1Digest(const Sha1Digest&) = delete;
  Sha1Digest& operator=(const Sha1Digest&) = delete;

  void Update(const unsigned char* data, std::size_t size);
  // The 20 digest bytes of everything given to Update; called once.
  std::string Finish();

 private:
  class State;
  std::unique_ptr<State> state_;
};

// Closes a file opened with std::fopen.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using OpenFile = std::unique_ptr<std::FILE, FileCloser>;

// path opened for reading in binary mode; empty when it cannot be opened.
OpenFile OpenForHashing(const std::string& path);

// SHA-1 of everything from file's position to the end of the file, read in kHashBlockSize
// blocks with one reused buffer: the 20 digest bytes, or nothing when a read fails (a digest
// of part of a file is never given). file stays open. Throws ve_crypt as Sha1Digest does.
std::optional<std::string> HashFile(std::FILE* file);

// Two lower-case hexadecimal digits per byte, high digit first.
std::string ToHex(const std::string& bytes);

// ToHex of HashFile: 40 characters, or nothing when a read fails.
std::optional<std::string> FileDigest(std::FILE* file);

}  // namespace VerificationToolCrypto
