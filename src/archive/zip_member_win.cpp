// Windows implementation: the member is located by our own central-directory reader, read
// with positional reads of the file and inflated with zlib, which also gives the CRC-32.
#include <zlib.h>

#include <algorithm>
#include <limits>
#include <new>

#include "archive/zip_directory.h"
#include "archive/zip_member.h"
#include "platform/windows_win.h"

namespace {

constexpr std::size_t kChunkSize = 64 * 1024;

bool ReadAt(HANDLE file, std::uint64_t offset, std::size_t size, void* buffer) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD got = 0;
    if (!::ReadFile(file, bytes, wanted, &got, &at) || got == 0) return false;
    bytes += got;
    offset += got;
    size -= got;
  }
  return true;
}

// The uncompressed bytes of one member, counted, checked and partly kept as they come.
class MemberSink {
 public:
  MemberSink(std::size_t keep, std::uint64_t max_size, std::vector<char>& kept)
      : keep_(keep), max_size_(max_size), kept_(kept) {}

  bool Take(const unsigned char* data, std::size_t size) {
    total_ += size;
    if (total_ > max_size_) return false;
    crc_ = crc32(crc_, data, static_cast<uInt>(size));  // size: at most one chunk
    const std::size_t room = keep_ - std::min(kept_.size(), keep_);
    kept_.insert(kept_.end(), data, data + std::min(room, size));
    return true;
  }
  bool Matches(const ZipMemberLocation& member) const {
    return total_ == member.size && crc_ == member.crc32;
  }

 private:
  std::size_t keep_;
  std::uint64_t max_size_;
  std::vector<char>& kept_;
  std::uint64_t total_ = 0;
  uLong crc_ = crc32(0, nullptr, 0);
};

class Inflater {
 public:
  Inflater() { ok_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK; }  // raw deflate data
  ~Inflater() {
    if (ok_) inflateEnd(&stream_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Inflates one chunk of input into the sink; done is set at the end of the deflate stream.
  bool Feed(unsigned char* input, std::size_t size, MemberSink& sink, bool& done) {
    if (!ok_) return false;
    stream_.next_in = input;
    stream_.avail_in = static_cast<uInt>(size);
    unsigned char output[kChunkSize];
    do {
      stream_.next_out = output;
      stream_.avail_out = sizeof output;
      const int status = inflate(&stream_, Z_NO_FLUSH);
      if (status == Z_BUF_ERROR && stream_.avail_in == 0) break;  // needs the next chunk
      if (status != Z_OK && status != Z_STREAM_END) return false;
      if (!sink.Take(output, sizeof output - stream_.avail_out)) return false;
      done = status == Z_STREAM_END;
    } while (!done && (stream_.avail_in > 0 || stream_.avail_out == 0));
    // Compressed bytes left over after the end of the stream do not belong to the member.
    return !done || stream_.avail_in == 0;
  }

 private:
  z_stream stream_{};
  bool ok_ = false;
};

bool ReadMemberData(HANDLE file, const ZipMemberLocation& member, MemberSink& sink) {
  std::vector<unsigned char> chunk(kChunkSize);
  Inflater inflater;
  bool done = member.method == kZipDeflated ? false : true;
  std::uint64_t offset = member.data_offset;
  std::uint64_t left = member.compressed_size;
  while (left > 0) {
    const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
    if (!ReadAt(file, offset, size, chunk.data())) return false;
    offset += size;
    left -= size;
    const bool ok = member.method == kZipStored
                        ? sink.Take(chunk.data(), size)
                        : !done && inflater.Feed(chunk.data(), size, sink, done);
    if (!ok) return false;
  }
  return done && sink.Matches(member);
}

}  // namespace

bool ReadZipMemberStart(const std::filesystem::path& archive_path, std::string_view name,
                        std::size_t keep, std::uint64_t max_size, std::vector<char>& start) {
  start.clear();
  platform::UniqueHandle file(::CreateFileW(archive_path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                            nullptr));
  LARGE_INTEGER size;
  if (!file.valid() || !::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return false;
  try {
    const ZipReadAt read_at = [&](std::uint64_t offset, std::size_t count, void* buffer) {
      return ReadAt(file.get(), offset, count, buffer);
    };
    ZipMemberLocation member;
    if (!LocateZipMember(read_at, static_cast<std::uint64_t>(size.QuadPart), name, member) ||
        member.size > max_size) {
      return false;
    }
    MemberSink sink(keep, max_size, start);
    return ReadMemberData(file.get(), member, sink);
  } catch (const std::bad_alloc&) {
    return false;
  }
}
