// The naming side of a destination tree: member names split into their components; the
// platform's folder creates what they name.
#include "archive/destination_tree.h"

#include <cerrno>
#include <utility>
#include <vector>

#include "archive/destination_folder.h"

namespace {

std::vector<std::string> SplitComponents(const std::string& name) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (!part.empty() && part != ".") parts.push_back(std::move(part));
    start = end + 1;
  }
  return parts;
}

// The last piece of a name after its last "/" ("" for a name ending in "/").
std::string LastPiece(const std::string& name) {
  const std::size_t slash = name.rfind('/');
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
