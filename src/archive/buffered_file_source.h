// A byte source over an open file, read through one buffer; the platform supplies the reads
// and seeks of the file itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/byte_source.h"

// Reads go through one buffer, so that a tar header, the zero fill after a member and the data
// of a small member cost no system call of their own; large reads bypass it and go straight
// into the caller's memory. Positions are tracked here rather than asked of the file: reads
// and seeks are the only movers.
class BufferedFileSource : public ByteSource {
 public:
  explicit BufferedFileSource(std::uint64_t size);
  BufferedFileSource(const BufferedFileSource&) = delete;
  BufferedFileSource& operator=(const BufferedFileSource&) = delete;

  bool Read(void* buffer, std::size_t size, std::size_t& got) override;
  bool ReadInPlace(void* scratch, std::size_t size, const void*& data, std::size_t& got) override;
  bool Skip(std::uint64_t count) override;
  std::uint64_t Position() const override { return position_; }
  std::uint64_t Size() const override { return size_; }

 protected:
  // One read at the file's offset: the bytes read, 0 at the end, -1 on an error (errno set).
  virtual long long ReadRaw(void* buffer, std::size_t size) = 0;
  // Moves the file's offset; false with errno set.
  virtual bool SeekRaw(std::uint64_t offset) = 0;

 private:
  std::size_t Buffered() const { return end_ - start_; }
  bool Refill();
  bool ReadDirect(unsigned char* bytes, std::size_t size, std::size_t& got);

  std::uint64_t size_;
  // The file's offset is position_ + Buffered().
  std::uint64_t position_ = 0;
  std::vector<unsigned char> buffer_;
  std::size_t start_ = 0;  // the unread bytes are buffer_[start_, end_)
  std::size_t end_ = 0;
};
