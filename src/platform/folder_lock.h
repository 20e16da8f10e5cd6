// An exclusive lock that one run holds on its work folder, through a lock file beside it.
#pragma once

#include <memory>
#include <string>

#include "platform/unique_fd_posix.h"

namespace platform {

class FolderLock {
 public:
  // Takes the lock without waiting. nullptr with the last error set when another process
  // holds it (kErrorFolderInUse) or the lock file cannot be made.
  static std::unique_ptr<FolderLock> Acquire(const std::string& lock_file);
  // Removes the lock file, then lets the lock go.
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  FolderLock(std::string path, UniqueFd fd) : path_(std::move(path)), fd_(std::move(fd)) {}

  std::string path_;
  UniqueFd fd_;
};

}  // namespace platform
