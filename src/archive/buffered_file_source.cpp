#include "archive/buffered_file_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Enough for a few typical small members per read of the file.
constexpr std::size_t kBufferSize = 128 * 1024;
// Reads of at least this size, when the buffer is empty, go straight to the caller.
constexpr std::size_t kDirectReadSize = 32 * 1024;

}  // namespace

BufferedFileSource::BufferedFileSource(std::uint64_t size) : size_(size), buffer_(kBufferSize) {}

bool BufferedFileSource::Read(void* buffer, std::size_t size, std::size_t& got) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  got = 0;
  bool ok = true;
  while (got < size) {
    if (Buffered() == 0) {
      if (size - got >= kDirectReadSize) {
        ok = ReadDirect(bytes, size, got);
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

bool BufferedFileSource::ReadInPlace(void* scratch, std::size_t size, const void*& data,
                                     std::size_t& got) {
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

bool BufferedFileSource::Skip(std::uint64_t count) {
  if (position_ > size_ || count > size_ - position_) {
    errno = EINVAL;
    return false;
  }
  if (count <= Buffered()) {
    start_ += static_cast<std::size_t>(count);
  } else {
    if (!SeekRaw(position_ + count)) return false;
    start_ = end_ = 0;
  }
  position_ += count;
  return true;
}

// Moves the unread bytes to the front of the buffer and reads more after them, once.
bool BufferedFileSource::Refill() {
  const std::size_t kept = Buffered();
  std::memmove(buffer_.data(), buffer_.data() + start_, kept);
  start_ = 0;
  end_ = kept;
  const long long n = ReadRaw(buffer_.data() + end_, buffer_.size() - end_);
  if (n < 0) return false;
  end_ += static_cast<std::size_t>(n);
  return true;
}

// Reads into bytes from got on until size or the end of the file.
bool BufferedFileSource::ReadDirect(unsigned char* bytes, std::size_t size, std::size_t& got) {
  while (got < size) {
    const long long n = ReadRaw(bytes + got, size - got);
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return true;
}
