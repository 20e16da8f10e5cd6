// Hashes one file with FileDigest and prints "<digest> <bytes> <seconds>".
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "verify/digest.h"
#include "verify/verify_exceptions.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: orbec_hash_bench <file>\n");
    return 2;
  }
  VerificationToolCrypto::OpenFile file = VerificationToolCrypto::OpenForHashing(argv[1]);
  if (!file) {
    std::perror(argv[1]);
    return 1;
  }
  std::error_code error;
  std::uintmax_t size = std::filesystem::file_size(argv[1], error);
  if (error) {
    std::fprintf(stderr, "%s: %s\n", argv[1], error.message().c_str());
    return 1;
  }
  auto start = std::chrono::steady_clock::now();
  std::optional<std::string> digest;
  try {
    digest = VerificationToolCrypto::FileDigest(file.get());
  } catch (const verify_exceptions::ve_base& e) {
    std::fprintf(stderr, "digest failed (code %d)\n", e.code);
    return 1;
  }
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  if (!digest) {
    std::fprintf(stderr, "%s: read error\n", argv[1]);
    return 1;
  }
  std::printf("%s %lld %.6f\n", digest->c_str(), static_cast<long long>(size), elapsed.count());
  return 0;
}
