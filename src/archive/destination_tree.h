// Where extracted members are written: a destination folder, entered one name component at a
// time without following symbolic links, so nothing lands outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// A file being written by the extraction. Closed on destruction; errno survives that.
class OutputFile {
 public:
  explicit OutputFile(int fd) : fd_(fd) {}
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Writes all the bytes; false with errno set otherwise.
  bool Write(const void* data, std::size_t size);
  // Sets the access and modification times to seconds since 1970-01-01 UTC.
  bool SetTimes(std::uint64_t seconds);
  // Closes the file, reporting a failed close as a failure (errno set).
  bool Close();

 private:
  int fd_;
};

// The destination folder of one extraction. Member names use "/" between components; empty and
// "." components are passed over. Every directory on the way to a member must be a real
// directory: a symbolic link there fails with ELOOP (or ENOTDIR). The folder itself
// is opened on first use, so an archive with no members never needs it. The directory of the
// last member stays open, so the members of one directory are entered with one open each.
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
  // The descriptor of the directory holding the last component, owned by the tree; -1 with
  // errno set on failure.
  int OpenParent(const std::string& name, std::string& last);
  int FolderFd();

  std::filesystem::path folder_;
  int folder_fd_ = -1;
  // The last parent directory entered below the folder: its components and descriptor.
  std::vector<std::string> parent_;
  int parent_fd_ = -1;
};
