// Path services: full paths and the system temporary folder.
#pragma once

#include <string>

namespace platform {

// The full path of a path as typed, resolved against the current directory without
// consulting the disk otherwise. false with the last error set when it cannot be formed.
bool FullPath(const std::string& typed, std::string& full);

// A full path with the links of its folder resolved (its last component stays as it is, link
// or not), so that two spellings of one place compare equal. Falls back to the path as given
// when its folder cannot be resolved. On Windows, where names ignore case, the result is only
// a key for comparisons: upper case, with "/" as the separator.
std::string ResolvedLocation(const std::string& full);

// The system temporary folder, always ending with a separator. Linux: $TMPDIR when set and
// not empty, else "/tmp". Windows: the system's temporary path; one that does not fit into
// 260 characters (terminator included) is a failure.
bool TempFolder(std::string& folder);

}  // namespace platform
