// A fresh temporary folder for one test, removed with everything in it at the end.
#pragma once

#include <filesystem>
#include <string>

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / name as a string.
  std::string operator/(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

// Whole content of a file as bytes ("" when it cannot be read).
std::string ReadFileBytes(const std::filesystem::path& path);
// Writes bytes to a file, creating or truncating it; fails the test on error.
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace testing_support
