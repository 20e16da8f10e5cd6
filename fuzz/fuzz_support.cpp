#include "fuzz_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace fuzzing {
namespace {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orbec-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) Broken("a scratch folder can be made");
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace

const std::filesystem::path& Scratch() {
  static const ScratchFolder folder;
  return folder.path();
}

void WriteBytes(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) Broken("the input can be written to a scratch file");
}

std::vector<std::string> Listing(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    std::string name = entry.path().lexically_relative(folder).string();
    if (entry.is_symlink()) {
      name += "@";
    } else if (entry.is_directory()) {
      name += "/";
    }
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void Broken(const char* promise) {
  std::fprintf(stderr, "BROKEN PROMISE: %s\n", promise);
  std::abort();
}

}  // namespace fuzzing
