#include "verify/digest.h"

#include <array>
#include <cerrno>

namespace VerificationToolCrypto {
namespace {

enum class BlockRead { kData, kEnd, kError };

// Fills buffer with the next block; count is how much of it was read (less than a block only
// at the end of the file). A read interrupted by a signal is taken up again where it stopped.
BlockRead ReadBlock(std::FILE* file, std::array<unsigned char, kHashBlockSize>& buffer,
                    std::size_t& count) {
  count = 0;
  for (;;) {
    count += std::fread(buffer.data() + count, 1, buffer.size() - count, file);
    if (count == buffer.size()) return BlockRead::kData;
    if (!std::ferror(file)) return count > 0 ? BlockRead::kData : BlockRead::kEnd;
    if (errno != EINTR) return BlockRead::kError;
    std::clearerr(file);
  }
}

}  // namespace

OpenFile OpenForHashing(const std::string& path) {
  return OpenFile(std::fopen(path.c_str(), "rb"));
}

std::optional<std::string> HashFile(std::FILE* file) {
  Sha1Digest digest;
  std::array<unsigned char, kHashBlockSize> buffer;
  std::size_t count = 0;
  for (;;) {
    BlockRead read = ReadBlock(file, buffer, count);
    if (read == BlockRead::kError) return std::nullopt;
    if (read == BlockRead::kEnd) break;
    digest.Update(buffer.data(), count);
  }
  return digest.Finish();
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

std::optional<std::string> FileDigest(std::FILE* file) {
  std::optional<std::string> digest = HashFile(file);
  if (!digest) return std::nullopt;
  return ToHex(*digest);
}

}  // namespace VerificationToolCrypto
