#include <sys/stat.h>
#include <unistd.h>

#include <system_error>

#include "support/file_probe.h"

namespace testing_support {

const char* const kNoSymbolicLinks = "this file system makes no symbolic links";
const char* const kNoOtherUser = "handing a file to another user needs root";

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

bool UnderWine() { return false; }

std::string HostPath(const std::filesystem::path& path) {
  return std::filesystem::absolute(path).string();
}

bool LetOthersWrite(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::permissions(path, std::filesystem::perms::others_write,
                               std::filesystem::perm_options::add, error);
  return !error;
}

bool GiveToAnotherUser(const std::filesystem::path& path) {
  return geteuid() == 0 && chown(path.c_str(), 65534, 65534) == 0;
}

std::optional<std::filesystem::path> OtherFileSystemFolder() {
  struct stat here {
  }, shm{};
  if (stat("/dev/shm", &shm) != 0 ||
      stat(std::filesystem::temp_directory_path().c_str(), &here) != 0 ||
      shm.st_dev == here.st_dev) {
    return std::nullopt;
  }
  return "/dev/shm";
}

}  // namespace testing_support
