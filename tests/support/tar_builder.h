// Writes small tar archives byte by byte for tests, with every header field under control.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace testing_support {

// One 512-byte tar header block. A new block is a POSIX ustar header ("ustar\0", version "00")
// with the given name, type, size and time, mode 0644 or 0755; all other fields are zero.
class TarHeaderBlock {
 public:
  static constexpr std::uint64_t kDefaultTime = 1'300'000'000;  // 2011-03-13

  TarHeaderBlock(const std::string& name, char type, std::uint64_t size,
                 std::uint64_t time = kDefaultTime);

  // Writes raw bytes at an offset (the rest of the field is left as it is).
  TarHeaderBlock& SetBytes(std::size_t offset, const std::string& bytes);
  // Writes value as zero-padded octal digits filling length - 1 bytes, then a zero byte.
  TarHeaderBlock& SetOctal(std::size_t offset, std::size_t length, std::uint64_t value);
  // Replaces the computed checksum field (8 bytes at offset 148) with these bytes.
  TarHeaderBlock& SetChecksumField(const std::string& bytes);

  // A checksum field as tar writes it: six octal digits, a zero byte and a space.
  static std::string ChecksumField(std::uint64_t value);
  // The checksum of the block as it stands: the unsigned byte sum with the field as spaces.
  std::uint64_t ComputedChecksum() const;
  // The 512 bytes, with the computed checksum written as "%06o\0 " unless one was set.
  std::string Bytes() const;

 private:
  std::array<unsigned char, 512> block_{};
  std::string checksum_override_;
};

// A tar archive assembled member by member.
class TarBuilder {
 public:
  TarBuilder& AddFile(const std::string& name, const std::string& data,
                      std::uint64_t time = TarHeaderBlock::kDefaultTime);
  TarBuilder& AddDirectory(const std::string& name);
  // A header as given, followed by the data and its zero fill to the next 512-byte boundary.
  TarBuilder& AddMember(const TarHeaderBlock& header, const std::string& data = "");
  // Any bytes, such as a zero block or a part of one.
  TarBuilder& AddRaw(const std::string& bytes);
  // The two zero blocks that end an archive written by tar.
  TarBuilder& AddEnd();

  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

}  // namespace testing_support
