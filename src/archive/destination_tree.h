// Where extracted members are written: a destination folder, entered one name component at a
// time without following symbolic links, so nothing lands outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

// A file being written by the extraction. Closed on destruction; errno survives that.
class OutputFile {
 public:
  OutputFile() = default;
  virtual ~OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Writes all the bytes; false with errno set otherwise.
  virtual bool Write(const void* data, std::size_t size) = 0;
  // Sets the access and modification times to seconds since 1970-01-01 UTC.
  virtual bool SetTimes(std::uint64_t seconds) = 0;
  // Closes the file, reporting a failed close as a failure (errno set).
  virtual bool Close() = 0;
};

class DestinationFolder;

// The destination folder of one extraction. Member names use "/" between components; empty and
// "." components are passed over. Every directory on the way to a member must be a real
// directory: a symbolic link there fails with ELOOP (or ENOTDIR). The folder itself
// is opened on first use, so an archive with no members never needs it.
class DestinationTree {
 public:
  explicit DestinationTree(std::filesystem::path folder);
  ~DestinationTree();
  DestinationTree(const DestinationTree&) = delete;
  DestinationTree& operator=(const DestinationTree&) = delete;

  // Creates the named directory; one that exists already is fine. Its parent must exist.
  bool CreateDirectory(const std::string& name);
  // Creates the named file anew for writing: an existing file or link of that name is removed
  // first, never written through; an existing directory fails with EISDIR. Null with errno set
  // on failure.
  std::unique_ptr<OutputFile> CreateFile(const std::string& name);

 private:
  std::unique_ptr<DestinationFolder> folder_;
};
