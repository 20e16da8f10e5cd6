#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

#include "platform/file_ops.h"
#include "support/file_probe.h"

namespace testing_support {

TempDir::TempDir() {
#ifdef _WIN32
  // No mkdtemp: a random name, taken only if the folder did not exist.
  std::random_device random;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const std::filesystem::path candidate =
        std::filesystem::temp_directory_path() / ("orbec-test-" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) path_ = candidate;
  }
  if (path_.empty()) ADD_FAILURE() << "cannot create a temporary folder";
#else
  std::string pattern = (std::filesystem::temp_directory_path() / "orbec-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  path_ = pattern;
#endif
}

// The platform's own walk, which never enters a link: under wine std::filesystem::remove_all
// follows a link made from the Linux side into its target and never ends on a link left
// dangling. What the walk cannot remove there (those links) goes from the Linux side.
TempDir::~TempDir() {
  if (!platform::RemoveTree(path_.string())) RemoveLeftovers(path_);
}

std::string TempDir::operator/(const std::string& name) const { return (path_ / name).string(); }

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

}  // namespace testing_support
