#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

namespace testing_support {

TempDir::TempDir() {
  std::random_device random;
  std::error_code error;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "orbec-test-%08x", static_cast<unsigned>(random()));
    path_ = std::filesystem::temp_directory_path() / name;
    if (std::filesystem::create_directory(path_, error)) return;
  }
  ADD_FAILURE() << "cannot make a temporary folder: " << error.message();
}

TempDir::~TempDir() { RemoveOnHost(path_); }

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
