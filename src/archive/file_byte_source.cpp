// A byte source over a file descriptor, with positions and seeks in 64 bits.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "archive/byte_source.h"

namespace {

class FileByteSource : public ByteSource {
 public:
  FileByteSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~FileByteSource() override {
    const int saved = errno;  // closing must not replace the reason of a failure
    close(fd_);
    errno = saved;
  }
  FileByteSource(const FileByteSource&) = delete;
  FileByteSource& operator=(const FileByteSource&) = delete;

  bool Read(void* buffer, std::size_t size, std::size_t& got) override {
    got = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (got < size) {
      const ssize_t n = read(fd_, bytes + got, size - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    position_ += got;
    return true;
  }

  bool Skip(std::uint64_t count) override {
    if (position_ > size_ || count > size_ - position_) {
      errno = EINVAL;
      return false;
    }
    const off_t target = static_cast<off_t>(position_ + count);
    if (lseek(fd_, target, SEEK_SET) != target) return false;
    position_ += count;
    return true;
  }

  std::uint64_t Position() const override { return position_; }
  std::uint64_t Size() const override { return size_; }

 private:
  int fd_;
  std::uint64_t size_;
  // Tracked here rather than asked of the descriptor: reads and seeks are the only movers.
  std::uint64_t position_ = 0;
};

void CloseKeepingErrno(int fd) {
  const int saved = errno;
  close(fd);
  errno = saved;
}

}  // namespace

std::unique_ptr<ByteSource> OpenFileByteSource(const std::filesystem::path& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info;
  if (fstat(fd, &info) != 0) {
    CloseKeepingErrno(fd);
    return nullptr;
  }
  if (S_ISDIR(info.st_mode)) {
    close(fd);
    errno = EISDIR;
    return nullptr;
  }
  const off_t end = lseek(fd, 0, SEEK_END);
  if (end < 0 || lseek(fd, 0, SEEK_SET) != 0) {
    CloseKeepingErrno(fd);
    return nullptr;
  }
  try {
    return std::make_unique<FileByteSource>(fd, static_cast<std::uint64_t>(end));
  } catch (const std::bad_alloc&) {
    close(fd);
    errno = ENOMEM;
    return nullptr;
  }
}
