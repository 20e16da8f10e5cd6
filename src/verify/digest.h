// SHA-1 digests of open files, streamed in blocks.
#pragma once

#include <optional>
#include <string>

namespace VerificationToolCrypto {

// Size of the blocks a file is read and hashed in.
inline constexpr std::size_t kHashBlockSize = 8192;

// SHA-1 of everything from fd's position to the end of the file, read in kHashBlockSize
// blocks with one reused buffer: the 20 digest bytes, or nothing when a read fails (a digest
// of part of a file is never given). fd stays open. Throws ve_crypt "CryptAcquireContext
// failed", "CryptCreateHash failed", "CryptHashData failed" or "CryptGetHashParam failed".
std::optional<std::string> HashFile(int fd);

// Two lower-case hexadecimal digits per byte, high digit first.
std::string ToHex(const std::string& bytes);

// ToHex of HashFile: 40 characters, or nothing when a read fails.
std::optional<std::string> FileDigest(int fd);

}  // namespace VerificationToolCrypto
