// The program's own embedded resources: trust anchors and version strings.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct Resource {
  std::string_view type;
  int id;
  std::string_view bytes;
};

struct VersionValue {
  std::string_view name;
  std::string_view value;
};

namespace embedded {
// Tables generated at configure time.
const std::vector<Resource>& Resources();
const std::vector<VersionValue>& VersionStrings();
}  // namespace embedded

// Bytes of the embedded resource of that type and id; nullopt with the last error set to
// ENOENT when there is none.
std::optional<std::string_view> FindResource(std::string_view type, int id);

// One string value of the version information ("FileDescription", "FileVersion",
// "LegalCopyright"), or nullopt when the program carries none of that name.
std::optional<std::string> VersionString(std::string_view name);

}  // namespace platform
