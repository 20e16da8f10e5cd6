#include "support/tar_builder.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace testing_support {
namespace {

constexpr std::size_t kBlock = 512;
constexpr std::size_t kChecksumOffset = 148;

}  // namespace

TarHeaderBlock::TarHeaderBlock(const std::string& name, char type, std::uint64_t size,
                               std::uint64_t time) {
  SetBytes(0, name.substr(0, 100));
  SetOctal(100, 8, type == '5' ? 0755 : 0644);
  SetOctal(108, 8, 0);
  SetOctal(116, 8, 0);
  SetOctal(124, 12, size);
  SetOctal(136, 12, time);
  block_[156] = static_cast<unsigned char>(type);
  SetBytes(257, std::string("ustar\0"
                            "00",
                            8));
}

TarHeaderBlock& TarHeaderBlock::SetBytes(std::size_t offset, const std::string& bytes) {
  if (offset + bytes.size() > block_.size()) throw std::out_of_range("tar header field");
  std::copy(bytes.begin(), bytes.end(), block_.begin() + static_cast<std::ptrdiff_t>(offset));
  return *this;
}

TarHeaderBlock& TarHeaderBlock::SetOctal(std::size_t offset, std::size_t length,
                                         std::uint64_t value) {
  std::string digits(length - 1, '0');
  for (std::size_t i = digits.size(); i > 0 && value != 0; --i, value /= 8) {
    digits[i - 1] = static_cast<char>('0' + value % 8);
  }
  if (value != 0) throw std::out_of_range("octal value does not fit its field");
  return SetBytes(offset, digits + std::string(1, '\0'));
}

TarHeaderBlock& TarHeaderBlock::SetChecksumField(const std::string& bytes) {
  checksum_override_ = bytes;
  return *this;
}

std::uint64_t TarHeaderBlock::ComputedChecksum() const {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < block_.size(); ++i) {
    const bool in_field = i >= kChecksumOffset && i < kChecksumOffset + 8;
    sum += in_field ? ' ' : block_[i];
  }
  return sum;
}

std::string TarHeaderBlock::ChecksumField(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%06llo", static_cast<unsigned long long>(value));
  return std::string(text) + std::string("\0 ", 2);
}

std::string TarHeaderBlock::Bytes() const {
  std::string bytes(block_.begin(), block_.end());
  std::string field = checksum_override_;
  if (field.empty()) {
    char text[16];
    std::snprintf(text, sizeof text, "%06llo", static_cast<unsigned long long>(ComputedChecksum()));
    field = std::string(text) + std::string("\0 ", 2);
  }
  bytes.replace(kChecksumOffset, 8, field.substr(0, 8));
  return bytes;
}

TarBuilder& TarBuilder::AddFile(const std::string& name, const std::string& data,
                                std::uint64_t time) {
  return AddMember(TarHeaderBlock(name, '0', data.size(), time), data);
}

TarBuilder& TarBuilder::AddDirectory(const std::string& name) {
  return AddMember(TarHeaderBlock(name, '5', 0));
}

TarBuilder& TarBuilder::AddMember(const TarHeaderBlock& header, const std::string& data) {
  bytes_ += header.Bytes();
  bytes_ += data;
  bytes_.append((kBlock - data.size() % kBlock) % kBlock, '\0');
  return *this;
}

TarBuilder& TarBuilder::AddRaw(const std::string& bytes) {
  bytes_ += bytes;
  return *this;
}

TarBuilder& TarBuilder::AddEnd() { return AddRaw(std::string(2 * kBlock, '\0')); }

}  // namespace testing_support
