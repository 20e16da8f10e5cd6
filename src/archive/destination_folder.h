// The platform's side of a destination tree: the folder and the directories below it, entered
// one component at a time without following symbolic links.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "archive/destination_tree.h"

// Members arrive as their name components, none of them empty or ".". Failures leave errno
// set; a symbolic link on the way to a member fails with ELOOP (or ENOTDIR).
class DestinationFolder {
 public:
  DestinationFolder() = default;
  virtual ~DestinationFolder() = default;
  DestinationFolder(const DestinationFolder&) = delete;
  DestinationFolder& operator=(const DestinationFolder&) = delete;

  // Creates the directory; one that exists already is fine. No components name the folder
  // itself, which must exist.
  virtual bool CreateDirectory(std::vector<std::string> components) = 0;
  // Creates the file (at least one component) anew for writing: an existing file or link of
  // that name is removed first, never written through; an existing directory fails with
  // EISDIR. Null on failure.
  virtual std::unique_ptr<OutputFile> CreateFile(std::vector<std::string> components) = 0;
};

// The folder at that path, opened on first use.
std::unique_ptr<DestinationFolder> MakeDestinationFolder(std::filesystem::path folder);
