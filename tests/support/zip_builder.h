// Writes zip archives for tests through libzip.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

struct ZipMember {
  std::string name;
  std::string data;
  bool deflate = true;  // false: stored
};

// Writes a zip file holding the members in this order (also the central-directory order);
// fails the test on error.
void WriteZip(const std::filesystem::path& path, const std::vector<ZipMember>& members);

}  // namespace testing_support
