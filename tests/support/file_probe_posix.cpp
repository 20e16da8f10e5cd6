#include <sys/stat.h>

#include <system_error>

#include "support/file_probe.h"

namespace testing_support {

const char* const kNoSymbolicLinks = "this file system makes no symbolic links";

FileTimes TimesOf(const std::filesystem::path& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return {};
  return {info.st_atim.tv_sec, info.st_mtim.tv_sec};
}

bool MakeSymbolicLink(const std::filesystem::path& target, const std::filesystem::path& at,
                      bool directory) {
  std::error_code error;
  if (directory) {
    std::filesystem::create_directory_symlink(target, at, error);
  } else {
    std::filesystem::create_symlink(target, at, error);
  }
  return !error;
}

}  // namespace testing_support

namespace testing_support {

void RemoveLeftovers(const std::filesystem::path&) {}

}  // namespace testing_support
