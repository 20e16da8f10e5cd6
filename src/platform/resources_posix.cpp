#include <cerrno>

#include "platform/last_error.h"
#include "platform/resources.h"

namespace platform {

std::optional<std::string_view> FindResource(std::string_view type, int id) {
  for (const Resource& resource : embedded::Resources()) {
    if (resource.type == type && resource.id == id) return resource.bytes;
  }
  SetLastError(ENOENT);
  return std::nullopt;
}

std::optional<std::string> VersionString(std::string_view name) {
  for (const VersionValue& value : embedded::VersionStrings()) {
    if (value.name == name) return std::string(value.value);
  }
  return std::nullopt;
}

}  // namespace platform
