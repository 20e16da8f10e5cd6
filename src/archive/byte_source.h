// The bytes of an archive, read front to back, kept apart from the parsing of the format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

// Sequential reader with 64-bit positions. Failures leave their reason in errno.
class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Reads up to size bytes into buffer and sets got to the count read; fewer than size only
  // at the end of the data. False on a read error (errno set; got holds what came before it).
  virtual bool Read(void* buffer, std::size_t size, std::size_t& got) = 0;
  // Read without a copy where the source holds the bytes already: data points either at
  // scratch (room for size bytes, filled as Read fills it) or into the source's own memory,
  // valid until the next call. Counts and failures as for Read.
  virtual bool ReadInPlace(void* scratch, std::size_t size, const void*& data, std::size_t& got) {
    data = scratch;
    return Read(scratch, size, got);
  }
  // Moves count bytes forward. False (errno set) when that would pass the end of the data.
  virtual bool Skip(std::uint64_t count) = 0;
  virtual std::uint64_t Position() const = 0;
  // Total size, measured when the source was opened.
  virtual std::uint64_t Size() const = 0;
};

// Opens a file as a byte source; null with errno set when it cannot be opened or measured.
std::unique_ptr<ByteSource> OpenFileByteSource(const std::filesystem::path& path);
