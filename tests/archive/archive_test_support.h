// Helpers shared by the archive tests: an in-memory byte source and a recording progress callback.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "archive/byte_source.h"
#include "platform/file_progress.h"

namespace archive_testing {

class MemoryByteSource : public ByteSource {
 public:
  explicit MemoryByteSource(std::string bytes) : bytes_(std::move(bytes)) {}

  bool Read(void* buffer, std::size_t size, std::size_t& got) override {
    got = std::min<std::size_t>(size, bytes_.size() - position_);
    std::memcpy(buffer, bytes_.data() + position_, got);
    position_ += got;
    return true;
  }
  bool Skip(std::uint64_t count) override {
    if (count > bytes_.size() - position_) {
      errno = EINVAL;
      return false;
    }
    position_ += count;
    return true;
  }
  std::uint64_t Position() const override { return position_; }
  std::uint64_t Size() const override { return bytes_.size(); }

 private:
  std::string bytes_;
  std::size_t position_ = 0;
};

class RecordingProgress : public IFileProgressCallback {
 public:
  void OnProgress(std::uint64_t total, std::uint64_t done) override {
    calls.emplace_back(total, done);
  }
  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
};

}  // namespace archive_testing
