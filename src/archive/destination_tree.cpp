// The naming side of a destination tree: member names split into their components; the
// platform's folder creates what they name.
#include "archive/destination_tree.h"

#include <cerrno>
#include <utility>
#include <vector>

#include "archive/destination_folder.h"

namespace {

// Windows takes a backslash as a separator too: a component holding one would name a path of
// several, with the directories on the way left unchecked.
#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif

std::vector<std::string> SplitComponents(const std::string& name) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of(kSeparators, start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (!part.empty() && part != ".") parts.push_back(std::move(part));
    start = end + 1;
  }
  return parts;
}

// The last piece of a name after its last separator ("" for a name ending in one).
std::string LastPiece(const std::string& name) {
  const std::size_t slash = name.find_last_of(kSeparators);
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace

DestinationTree::DestinationTree(std::filesystem::path folder)
    : folder_(MakeDestinationFolder(std::move(folder))) {}

DestinationTree::~DestinationTree() = default;

bool DestinationTree::CreateDirectory(const std::string& name) {
  return folder_->CreateDirectory(SplitComponents(name));
}

std::unique_ptr<OutputFile> DestinationTree::CreateFile(const std::string& name) {
  const std::string piece = LastPiece(name);
  if (piece.empty() || piece == ".") {
    errno = EISDIR;  // the name ends in a directory, as opening it for writing would report
    return nullptr;
  }
  return folder_->CreateFile(SplitComponents(name));
}
