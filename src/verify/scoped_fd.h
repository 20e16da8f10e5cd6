// Owner of one open POSIX file descriptor, closed when the owner goes.
#pragma once

#include <string>

namespace VerificationToolCrypto {

class ScopedFd {
 public:
  // Opens path read-only; valid() tells whether that worked.
  static ScopedFd OpenForReading(const std::string& path);

  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd();
  ScopedFd(ScopedFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  ScopedFd& operator=(ScopedFd&&) = delete;
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  bool valid() const { return fd_ >= 0; }
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace VerificationToolCrypto
