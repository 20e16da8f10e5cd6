// A byte source over a file descriptor, with positions and seeks in 64 bits.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <utility>

#include "archive/buffered_file_source.h"
#include "platform/fd_io_posix.h"
#include "platform/unique_fd_posix.h"

namespace {

class DescriptorSource final : public BufferedFileSource {
 public:
  DescriptorSource(platform::UniqueFd fd, std::uint64_t size)
      : BufferedFileSource(size), fd_(std::move(fd)) {}

 private:
  long long ReadRaw(void* buffer, std::size_t size) override {
    return platform::ReadSome(fd_.get(), buffer, size);
  }
  bool SeekRaw(std::uint64_t offset) override {
    const off_t target = static_cast<off_t>(offset);
    return lseek(fd_.get(), target, SEEK_SET) == target;
  }

  platform::UniqueFd fd_;
};

}  // namespace

std::unique_ptr<ByteSource> OpenFileByteSource(const std::filesystem::path& path) {
  platform::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return nullptr;
  struct stat info;
  if (fstat(fd.get(), &info) != 0) return nullptr;
  if (S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return nullptr;
  }
  const off_t end = lseek(fd.get(), 0, SEEK_END);
  if (end < 0 || lseek(fd.get(), 0, SEEK_SET) != 0) return nullptr;
  try {
    return std::make_unique<DescriptorSource>(std::move(fd), static_cast<std::uint64_t>(end));
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return nullptr;
  }
}
