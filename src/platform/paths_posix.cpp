#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/last_error.h"
#include "platform/paths.h"

namespace platform {

bool FullPath(const std::string& typed, std::string& full) {
  if (typed.empty()) {
    SetLastError(EINVAL);
    return false;
  }
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(typed, error);
  if (error) {
    SetLastError(static_cast<std::uint32_t>(error.value()));
    return false;
  }
  full = absolute.lexically_normal().string();
  return true;
}

std::string ResolvedLocation(const std::string& full) {
  std::filesystem::path path(full);
  std::error_code error;
  std::filesystem::path folder = std::filesystem::canonical(path.parent_path(), error);
  if (error) return full;
  return (folder / path.filename()).string();
}

bool TempFolder(std::string& folder) {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string path = (tmpdir != nullptr && *tmpdir != '\0') ? tmpdir : "/tmp";
  if (path.back() != '/') path += '/';
  folder = path;
  return true;
}

}  // namespace platform
