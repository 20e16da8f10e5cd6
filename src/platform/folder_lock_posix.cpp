#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/error_text.h"
#include "platform/fd_io_posix.h"
#include "platform/folder_lock.h"
#include "platform/last_error.h"
#include "platform/unique_fd_posix.h"

namespace platform {
namespace {}  // namespace

class FolderLock::Held {
 public:
  Held(std::string path, UniqueFd fd) : path_(std::move(path)), fd_(std::move(fd)) {}
  // Removes the lock file, then lets the lock go with the descriptor.
  ~Held() { unlink(path_.c_str()); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;

 private:
  std::string path_;
  UniqueFd fd_;
};

FolderLock::FolderLock(std::unique_ptr<Held> held) : held_(std::move(held)) {}

std::unique_ptr<FolderLock> FolderLock::Acquire(const std::string& lock_file) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    UniqueFd fd(open(lock_file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) {
      FailWithErrno();
      return nullptr;
    }
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) {
        SetLastError(kErrorFolderInUse);
      } else {
        FailWithErrno();
      }
      return nullptr;
    }
    // A run that ended may have removed the file between our open and our lock.
    if (PathNamesOpenFile(lock_file, fd.get())) {
      return std::unique_ptr<FolderLock>(
          new FolderLock(std::make_unique<Held>(lock_file, std::move(fd))));
    }
  }
  SetLastError(kErrorFolderInUse);
  return nullptr;
}

FolderLock::~FolderLock() = default;

}  // namespace platform
