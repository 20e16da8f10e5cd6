// Unpacks a tar archive: regular files and directories with names of at most 100 bytes, sizes
// and times as octal text. Failures return false with the reason in errno (see
// platform/archive_error.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/byte_source.h"
#include "archive/destination_tree.h"
#include "platform/file_progress.h"

// What the member operations of one extraction share.
struct TarExtractionContext {
  DestinationTree& destination;
  ByteSource& archive;
  std::uint64_t total_size;            // of the archive, measured at the start
  IFileProgressCallback* progress;     // may be null
  std::vector<unsigned char>& buffer;  // the one data buffer, reused for every chunk
};

// Unpacks the archive file into the destination folder, reporting the archive position before
// each header and each data chunk. Members are created in archive order; a directory must come
// before anything inside it. What was extracted before a failure stays on disk.
//
// Safety: a member whose name is absolute or holds a ".." component fails as corrupt, and a
// ustar name prefix as unsupported, before anything is written for it. No symbolic link is
// followed below the destination folder. Sizes and times are read at full width (up to 36 bits
// from a 12-byte octal field) and never wrapped: members of 4 GiB and more, and times past
// 2106, are extracted as they are.
bool UntarArchive(const std::filesystem::path& archive_path,
                  const std::filesystem::path& destination, IFileProgressCallback* progress);

// The same over any byte source.
bool UntarFromSource(ByteSource& archive, const std::filesystem::path& destination,
                     IFileProgressCallback* progress);

// One regular-file member: writes its data, sets its access and modification times to
// modification_time (seconds since 1970-01-01 UTC) and skips the zero fill after it.
bool ExtractTarEntry(TarExtractionContext& context, std::uint64_t size, const std::string& name,
                     std::uint64_t modification_time);

// One directory member: creates the directory (an existing one is reused) and skips its data.
bool CreateEntryDirectory(TarExtractionContext& context, std::uint64_t size,
                          const std::string& name);
