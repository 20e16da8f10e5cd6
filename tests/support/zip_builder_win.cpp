// Windows has no libzip: the archive is written field by field, deflated with zlib.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>

#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace testing_support {
namespace {

void Put16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>(value >> 8 & 0xFF);
}

void Put32(std::string& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// Raw deflate data (no zlib header), as zip members hold them.
std::string Deflate(const std::string& data) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    ADD_FAILURE() << "deflateInit2";
    return "";
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) ADD_FAILURE() << "deflate";
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// The fields that the local header and the central-directory entry share, from the version
// needed to extract on: version 2.0, flag 0x0800 (UTF-8 name), method, a fixed time and date,
// CRC-32, sizes, name length.
std::string CommonFields(const ZipMember& member, std::uint32_t crc, std::size_t compressed) {
  std::string out;
  Put16(out, 20);
  Put16(out, 0x0800);
  Put16(out, member.deflate ? 8 : 0);
  Put16(out, 0x6000);  // 12:00:00
  Put16(out, 0x3A6D);  // 2009-03-13
  Put32(out, crc);
  Put32(out, static_cast<std::uint32_t>(compressed));
  Put32(out, static_cast<std::uint32_t>(member.data.size()));
  Put16(out, static_cast<std::uint32_t>(member.name.size()));
  return out;
}

}  // namespace

void WriteZip(const std::filesystem::path& path, const std::vector<ZipMember>& members) {
  std::string archive;
  std::string directory;
  for (const ZipMember& member : members) {
    const auto* bytes = reinterpret_cast<const Bytef*>(member.data.data());
    const std::uint32_t crc =
        static_cast<std::uint32_t>(crc32(0, bytes, static_cast<uInt>(member.data.size())));
    const std::string data = member.deflate ? Deflate(member.data) : member.data;
    const std::string common = CommonFields(member, crc, data.size());
    const std::uint32_t offset = static_cast<std::uint32_t>(archive.size());
    Put32(archive, 0x04034b50);
    archive += common;
    Put16(archive, 0);  // extra field length
    archive += member.name + data;
    Put32(directory, 0x02014b50);
    Put16(directory, 20);  // made by: MS-DOS, version 2.0
    directory += common;
    for (int i = 0; i < 4; ++i) Put16(directory, 0);  // extra, comment, disk, internal attributes
    Put32(directory, 0);                              // external attributes
    Put32(directory, offset);
    directory += member.name;
  }
  const std::uint32_t directory_offset = static_cast<std::uint32_t>(archive.size());
  archive += directory;
  Put32(archive, 0x06054b50);
  Put32(archive, 0);  // this disk and the directory's disk
  Put16(archive, static_cast<std::uint32_t>(members.size()));
  Put16(archive, static_cast<std::uint32_t>(members.size()));
  Put32(archive, static_cast<std::uint32_t>(directory.size()));
  Put32(archive, directory_offset);
  Put16(archive, 0);  // comment length
  WriteFileBytes(path, archive);
}

}  // namespace testing_support
