#include <algorithm>
#include <optional>

#include "verify/digest.h"
#include "verify/verify_tool.h"

FileEntry::FileEntry(std::string path, std::uint32_t number, std::string checksum)
    : path(std::move(path)), number(number), checksum_(std::move(checksum)) {}

int FileEntry::CheckFile(const std::string& folderPrefix) const {
  // Manifests are written on Windows, where ".\name" and "./name" name the same file.
  std::string relative = path;
  std::replace(relative.begin(), relative.end(), '\\', '/');
  VerificationToolCrypto::OpenFile file =
      VerificationToolCrypto::OpenForHashing(folderPrefix + relative);
  if (!file) return 2;
  std::optional<std::string> digest = VerificationToolCrypto::FileDigest(file.get());
  if (!digest) return 2;
  return Matches(*digest) ? 0 : 1;
}
