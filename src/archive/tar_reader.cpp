#include "archive/tar_reader.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>

#include "archive/tar_header.h"
#include "platform/archive_error.h"

namespace {

constexpr std::size_t kDataChunkSize = 65536;

bool Fail(int code) {
  errno = code;
  return false;
}

void ReportPosition(const TarExtractionContext& context) {
  if (context.progress != nullptr) {
    context.progress->OnProgress(context.total_size, context.archive.Position());
  }
}

// Reads of the archive, where every short read and every skip past the end becomes
// "truncated". A read error keeps the errno of the read.

bool SkipExactly(ByteSource& archive, std::uint64_t count) {
  return archive.Skip(count) || Fail(kArchiveTruncated);
}

// The zero fill after a member's data may be cut short where the archive ends.
bool SkipFill(ByteSource& archive, std::uint64_t count) {
  const std::uint64_t size = archive.Size();
  const std::uint64_t position = archive.Position();
  const std::uint64_t left = size > position ? size - position : 0;
  return SkipExactly(archive, std::min(count, left));
}

enum class HeaderRead { kHeader, kEnd, kFailed };

// The end of the file before a header is a clean end; a partial header is truncated.
HeaderRead ReadHeader(ByteSource& archive, TarHeader& header) {
  std::size_t got = 0;
  if (!archive.Read(header.data(), header.size(), got)) return HeaderRead::kFailed;
  if (got == 0) return HeaderRead::kEnd;
  if (got < header.size()) {
    errno = kArchiveTruncated;
    return HeaderRead::kFailed;
  }
  return HeaderRead::kHeader;
}

// Writes each chunk from wherever the source has it, so that buffered bytes are not copied
// once more on their way to the file.
bool CopyMemberData(TarExtractionContext& context, OutputFile& file, std::uint64_t size) {
  while (size > 0) {
    ReportPosition(context);
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::uint64_t>(size, context.buffer.size()));
    const void* data = nullptr;
    std::size_t got = 0;
    if (!context.archive.ReadInPlace(context.buffer.data(), chunk, data, got)) return false;
    if (got != chunk) return Fail(kArchiveTruncated);
    if (!file.Write(data, chunk)) return false;
    size -= chunk;
  }
  return true;
}

// Checks one header (its first 500 bytes, already read) and runs the member operation.
bool ExtractMember(TarExtractionContext& context, const TarHeader& header) {
  if (!HeaderChecksumMatches(header)) return Fail(kArchiveCorrupt);
  std::uint64_t size = 0;
  if (!ParseMemberSize(header, size)) return Fail(kArchiveCorrupt);
  if (!SkipExactly(context.archive, kTarBlockSize - kTarHeaderReadSize)) return false;
  const std::string name = MemberName(header);
  if (!IsSafeMemberName(name)) return Fail(kArchiveCorrupt);
  // A prefix would be the first part of the name; extracting without it would misplace files.
  if (HasNamePrefix(header)) return Fail(kArchiveUnsupported);
  std::uint64_t time = 0;
  if (!ParseMemberTime(header, time)) return Fail(kArchiveCorrupt);
  switch (MemberType(header)) {
    case kTarTypeDirectory:
      return CreateEntryDirectory(context, size, name);
    case kTarTypeFile:
    case kTarTypeContiguousFile:
      return ExtractTarEntry(context, size, name, time);
    default:
      return Fail(kArchiveUnsupported);
  }
}

}  // namespace

bool UntarArchive(const std::filesystem::path& archive_path,
                  const std::filesystem::path& destination, IFileProgressCallback* progress) {
  const std::unique_ptr<ByteSource> archive = OpenFileByteSource(archive_path);
  if (!archive) return false;
  return UntarFromSource(*archive, destination, progress);
}

bool UntarFromSource(ByteSource& archive, const std::filesystem::path& destination,
                     IFileProgressCallback* progress) {
  try {
    DestinationTree tree(destination);
    std::vector<unsigned char> buffer(kDataChunkSize);
    TarExtractionContext context{tree, archive, archive.Size(), progress, buffer};
    TarHeader header;
    for (;;) {
      ReportPosition(context);
      switch (ReadHeader(archive, header)) {
        case HeaderRead::kEnd:
          return true;
        case HeaderRead::kFailed:
          return false;
        case HeaderRead::kHeader:
          break;
      }
      if (IsZeroHeader(header)) return true;  // nothing after it is read
      if (!ExtractMember(context, header)) return false;
    }
  } catch (const std::bad_alloc&) {
    return Fail(ENOMEM);
  }
}

bool ExtractTarEntry(TarExtractionContext& context, std::uint64_t size, const std::string& name,
                     std::uint64_t modification_time) {
  std::unique_ptr<OutputFile> file = context.destination.CreateFile(name);
  if (!file) return false;
  if (!CopyMemberData(context, *file, size)) return false;
  if (!file->SetTimes(modification_time) || !file->Close()) return false;
  return SkipFill(context.archive, PaddingAfter(size));
}

bool CreateEntryDirectory(TarExtractionContext& context, std::uint64_t size,
                          const std::string& name) {
  if (!context.destination.CreateDirectory(name)) return false;
  return SkipExactly(context.archive, size) && SkipFill(context.archive, PaddingAfter(size));
}
