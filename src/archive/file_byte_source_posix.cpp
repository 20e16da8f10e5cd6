// A byte source over a file descriptor, with positions and seeks in 64 bits.
//
// Reads go through one buffer, so that a tar header, the zero fill after a member and the data
// of a small member cost no system call of their own; large reads bypass it and go straight
// into the caller's memory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "archive/byte_source.h"
#include "platform/fd_io_posix.h"

namespace {

// Enough for a few typical small members per read of the file.
constexpr std::size_t kBufferSize = 128 * 1024;
// Reads of at least this size, when the buffer is empty, go straight to the caller.
constexpr std::size_t kDirectReadSize = 32 * 1024;

class FileByteSource : public ByteSource {
 public:
  FileByteSource(int fd, std::uint64_t size) : fd_(fd), size_(size), buffer_(kBufferSize) {}
  // Closing must not replace the reason of a failure.
  ~FileByteSource() override { platform::CloseKeepingErrno(fd_); }
  FileByteSource(const FileByteSource&) = delete;
  FileByteSource& operator=(const FileByteSource&) = delete;

  bool Read(void* buffer, std::size_t size, std::size_t& got) override {
    auto* bytes = static_cast<unsigned char*>(buffer);
    got = 0;
    bool ok = true;
    while (got < size) {
      if (Buffered() == 0) {
        if (size - got >= kDirectReadSize) {
          std::size_t direct = 0;
          ok = platform::ReadFully(fd_, bytes + got, size - got, direct);
          got += direct;
          break;
        }
        if (!(ok = Refill()) || Buffered() == 0) break;
      }
      const std::size_t n = std::min(Buffered(), size - got);
      std::memcpy(bytes + got, buffer_.data() + start_, n);
      start_ += n;
      got += n;
    }
    position_ += got;
    return ok;
  }

  bool ReadInPlace(void* scratch, std::size_t size, const void*& data, std::size_t& got) override {
    if (Buffered() < size && size < kDirectReadSize && !Refill()) {
      got = 0;
      return false;
    }
    if (Buffered() < size) {
      data = scratch;
      return Read(scratch, size, got);
    }
    data = buffer_.data() + start_;
    got = size;
    start_ += size;
    position_ += size;
    return true;
  }

  bool Skip(std::uint64_t count) override {
    if (position_ > size_ || count > size_ - position_) {
      errno = EINVAL;
      return false;
    }
    if (count <= Buffered()) {
      start_ += static_cast<std::size_t>(count);
    } else {
      const off_t target = static_cast<off_t>(position_ + count);
      if (lseek(fd_, target, SEEK_SET) != target) return false;
      start_ = end_ = 0;
    }
    position_ += count;
    return true;
  }

  std::uint64_t Position() const override { return position_; }
  std::uint64_t Size() const override { return size_; }

 private:
  std::size_t Buffered() const { return end_ - start_; }

  // Moves the unread bytes to the front of the buffer and reads more after them, once.
  bool Refill() {
    const std::size_t kept = Buffered();
    std::memmove(buffer_.data(), buffer_.data() + start_, kept);
    start_ = 0;
    end_ = kept;
    const long n = platform::ReadSome(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (n < 0) return false;
    end_ += static_cast<std::size_t>(n);
    return true;
  }

  int fd_;
  std::uint64_t size_;
  // Tracked here rather than asked of the descriptor: reads and seeks are the only movers. The
  // descriptor's offset is position_ + Buffered().
  std::uint64_t position_ = 0;
  std::vector<unsigned char> buffer_;
  std::size_t start_ = 0;  // the unread bytes are buffer_[start_, end_)
  std::size_t end_ = 0;
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
    return std::make_unique<FileByteSource>(fd, static_cast<std::uint64_t>(end));
  } catch (const std::bad_alloc&) {
    close(fd);
    errno = ENOMEM;
    return nullptr;
  }
}
