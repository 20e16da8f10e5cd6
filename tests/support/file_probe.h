// What tests make and read on the real disk beyond std::filesystem, which cannot do it the
// same way everywhere: symbolic links and a file's access and modification times.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace testing_support {

// A file's access and modification times in seconds since 1970-01-01 UTC; -1 when unknown.
struct FileTimes {
  std::int64_t access = -1;
  std::int64_t modification = -1;
};

FileTimes TimesOf(const std::filesystem::path& path);

// Makes a symbolic link at `at` to target (a directory link when directory). False when the
// system made none; a test then skips with kNoSymbolicLinks.
bool MakeSymbolicLink(const std::filesystem::path& target, const std::filesystem::path& at,
                      bool directory);

extern const char* const kNoSymbolicLinks;

// True when the tests run under wine.
bool UnderWine();

// The path as the Linux side names it: under wine its Unix name (empty when it has none), on
// Linux the absolute path.
std::string HostPath(const std::filesystem::path& path);

// Hands a file or folder to another user (uid and gid 65534): as root on Linux, and under wine
// from the Linux side. False when the system cannot; a test then skips with kNoOtherUser.
bool GiveToAnotherUser(const std::filesystem::path& path);

extern const char* const kNoOtherUser;

// Lets every user write the file or folder: the write permission of others on Linux, an entry
// for Everyone in its access list on Windows. False when the system refuses.
bool LetOthersWrite(const std::filesystem::path& path);

// A folder on another file system than the temporary folder, for moves across them.
std::optional<std::filesystem::path> OtherFileSystemFolder();

// Removes what std::filesystem::remove_all left of a tree: under wine, the links that
// MakeSymbolicLink made from the Linux side, which Windows calls cannot remove. Nothing on
// Linux, where remove_all takes links as they are.
void RemoveLeftovers(const std::filesystem::path& path);

}  // namespace testing_support
