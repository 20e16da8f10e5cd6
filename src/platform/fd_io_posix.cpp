#include "platform/fd_io_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

bool ReadFully(int fd, void* buffer, std::size_t size, std::size_t& got) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  got = 0;
  while (got < size) {
    const long n = ReadSome(fd, bytes + got, size - got);
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

long ReadSome(int fd, void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return static_cast<long>(n);
  }
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool PathNamesOpenFile(const std::string& path, int fd) {
  struct stat by_path {
  }, by_fd{};
  return lstat(path.c_str(), &by_path) == 0 && fstat(fd, &by_fd) == 0 &&
         by_path.st_dev == by_fd.st_dev && by_path.st_ino == by_fd.st_ino;
}

void CloseKeepingErrno(int fd) {
  const int saved = errno;
  close(fd);
  errno = saved;
}

}  // namespace platform
