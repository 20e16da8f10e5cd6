// An exclusive lock that one run holds on its work folder, through a lock file beside it.
#pragma once

#include <memory>
#include <string>

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
  class Held;  // the open, locked lock file
  explicit FolderLock(std::unique_ptr<Held> held);

  std::unique_ptr<Held> held_;
};

}  // namespace platform
