#include <sys/stat.h>
#include <unistd.h>

#include <system_error>

#include "support/temp_dir.h"

namespace testing_support {

bool UnderWine() { return false; }

bool MakeSymlink(const std::filesystem::path& target, const std::filesystem::path& link) {
  std::error_code error;
  std::filesystem::create_symlink(target, link, error);
  return !error;
}

bool GiveToAnotherUser(const std::filesystem::path& path) {
  return geteuid() == 0 && chown(path.c_str(), 65534, 65534) == 0;
}

bool RemoveOnHost(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::remove_all(path, error);
  return !error;
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
