// A byte source over a file descriptor, with positions and seeks in 64 bits.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "archive/buffered_file_source.h"
#include "platform/fd_io_posix.h"

namespace {

class DescriptorSource final : public BufferedFileSource {
 public:
  DescriptorSource(int fd, std::uint64_t size) : BufferedFileSource(size), fd_(fd) {}
  // Closing must not replace the reason of a failure.
  ~DescriptorSource() override { platform::CloseKeepingErrno(fd_); }

 private:
  long long ReadRaw(void* buffer, std::size_t size) override {
    return platform::ReadSome(fd_, buffer, size);
  }
  bool SeekRaw(std::uint64_t offset) override {
    const off_t target = static_cast<off_t>(offset);
    return lseek(fd_, target, SEEK_SET) == target;
  }

  int fd_;
};

}  // namespace

std::unique_ptr<ByteSource> OpenFileByteSource(const std::filesystem::path& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info;
  if (fstat(fd, &info) != 0) {
    platform::CloseKeepingErrno(fd);
    return nullptr;
  }
  if (S_ISDIR(info.st_mode)) {
    close(fd);
    errno = EISDIR;
    return nullptr;
  }
  const off_t end = lseek(fd, 0, SEEK_END);
  if (end < 0 || lseek(fd, 0, SEEK_SET) != 0) {
    platform::CloseKeepingErrno(fd);
    return nullptr;
  }
  try {
    return std::make_unique<DescriptorSource>(fd, static_cast<std::uint64_t>(end));
  } catch (const std::bad_alloc&) {
    close(fd);
    errno = ENOMEM;
    return nullptr;
  }
}
