// A fresh temporary folder for one test, removed with everything in it at the end.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / name as a string.
  std::string operator/(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

// Whole content of a file as bytes ("" when it cannot be read).
std::string ReadFileBytes(const std::filesystem::path& path);
// Writes bytes to a file, creating or truncating it; fails the test on error.
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

// What the tests need of the host beyond the portable file calls. On Windows under wine the
// host is the Linux side: wine makes no symbolic links and has no other users, so these go
// through Linux programs on the Linux paths. false or nothing when the system cannot.

// True when the tests run under wine.
bool UnderWine();

// Makes `link` a symbolic link to `target` (a file or a folder, existing or not).
bool MakeSymlink(const std::filesystem::path& target, const std::filesystem::path& link);

// Hands a file or folder to another user (uid and gid 65534).
bool GiveToAnotherUser(const std::filesystem::path& path);

// Removes a tree, its links as links, with the host's own means: under wine, where the
// system removes a link's target in place of the link (and std::filesystem::remove_all
// never ends on a link to nothing), what the platform's walk leaves goes with `rm -rf`.
bool RemoveOnHost(const std::filesystem::path& path);

// A folder on another file system than the temporary folder, for moves across them.
std::optional<std::filesystem::path> OtherFileSystemFolder();

}  // namespace testing_support
