#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/entry_rules.h"
#include "platform/error_text.h"
#include "platform/fd_io_posix.h"
#include "platform/file_ops.h"
#include "platform/interrupt.h"
#include "platform/last_error.h"
#include "platform/unique_fd_posix.h"

namespace platform {
namespace {

EntryFacts FactsOf(const struct stat& info) {
  EntryFacts facts;
  if (S_ISREG(info.st_mode)) {
    facts.kind = EntryFacts::Kind::kRegular;
  } else if (S_ISDIR(info.st_mode)) {
    facts.kind = EntryFacts::Kind::kDirectory;
  } else if (S_ISLNK(info.st_mode)) {
    facts.kind = EntryFacts::Kind::kLink;
  }
  facts.own = info.st_uid == geteuid();
  facts.others_may_write = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  facts.links = info.st_nlink;
  return facts;
}

// Checks an existing entry of the folder's name before it is used; its mode stays as it is.
bool AcceptExistingDirectory(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return FailWithErrno();
  if (std::uint32_t refusal = ExistingFolderRefusal(FactsOf(info))) {
    SetLastError(refusal);
    return false;
  }
  return true;
}

bool SyncParentFolder(const std::string& path) {
  std::string parent = std::filesystem::path(path).parent_path().string();
  UniqueFd folder(open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return folder.valid() && fsync(folder.get()) == 0;
}

// A new file at a random name beside `to`, created exclusively without following links, so
// nobody can have prepared it.
UniqueFd CreateSibling(const std::string& to, std::string& name) {
  UniqueFd fd;
  WithFreshSibling(to, [&](const std::string& sibling) {
    fd =
        UniqueFd(open(sibling.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    name = sibling;
    return fd.valid() || FailWithErrno();
  });
  return fd;
}

bool CopyData(int from, int to) {
  std::vector<char> buffer(1 << 20);
  for (;;) {
    long count = ReadSome(from, buffer.data(), buffer.size());
    if (count == 0) return true;
    if (count < 0 || !WriteAll(to, buffer.data(), static_cast<std::size_t>(count))) return false;
  }
}

// Copies a file's bytes into a new file beside the target, syncs it and renames it over
// the target, so the target is never seen half written.
bool CopyAcross(const std::string& from, const std::string& to) {
  UniqueFd source(open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!source.valid()) return FailWithErrno();
  std::string partial;
  UniqueFd target = CreateSibling(to, partial);
  if (!target.valid()) return false;
  ClaimedFile claim(partial);
  bool copied = CopyData(source.get(), target.get()) && fsync(target.get()) == 0;
  if (copied && !PathNamesOpenFile(partial, target.get())) {
    errno = EEXIST;  // someone put another file in its place
    copied = false;
  }
  if (!copied || target.Close() != 0 || rename(partial.c_str(), to.c_str()) != 0) {
    FailWithErrno();
    claim.Remove();
    return false;
  }
  SyncParentFolder(to);
  unlink(from.c_str());
  return true;
}

// A copy of the open file's bytes in a new file at `to`, created exclusively and claimed before
// its first byte; removed again on failure.
bool CopyToNewFile(int source, const std::string& to, std::optional<ClaimedFile>& claim) {
  UniqueFd target(open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!target.valid()) return FailWithErrno();
  claim.emplace(to);
  if (!CopyData(source, target.get()) || target.Close() != 0) {
    FailWithErrno();
    claim->Remove();
    claim.reset();
    return false;
  }
  return true;
}

}  // namespace

bool CanOpenForAppend(const std::string& path, bool& created) {
  created = false;
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    created = fd >= 0;
  }
  // Made by somebody else meanwhile, or a link to a missing file: opened as it stands.
  if (fd < 0 && errno == EEXIST)
    fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool MakePrivateDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0700) == 0) return true;
  if (errno != EEXIST) return FailWithErrno();
  return AcceptExistingDirectory(path);
}

bool RemoveOwnTree(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0 && info.st_uid != geteuid()) return false;
  return RemoveTree(path);
}

bool DeleteFile(const std::string& path) {
  if (unlink(path.c_str()) == 0) return true;
  return FailWithErrno();
}

bool MoveFileReplace(const std::string& from, const std::string& to) {
  if (rename(from.c_str(), to.c_str()) == 0) {
    UniqueFd moved(open(to.c_str(), O_RDONLY | O_CLOEXEC));
    if (moved.valid()) fsync(moved.get());
    SyncParentFolder(to);
    return true;
  }
  if (errno != EXDEV) return FailWithErrno();
  return CopyAcross(from, to);
}

std::optional<std::string> RandomSibling(const std::string& to) {
  std::uint64_t random = 0;
  if (getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    FailWithErrno();
    return std::nullopt;
  }
  char suffix[17];
  std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random));
  std::filesystem::path target(to);
  return (target.parent_path() / ("." + target.filename().string() + "." + suffix)).string();
}

bool IsNameTaken(std::uint32_t code) { return code == EEXIST; }

bool RenameOver(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0 || FailWithErrno();
}

bool LinkOrCopyClaimed(const std::string& from, const std::string& to,
                       std::optional<ClaimedFile>& claim) {
  struct stat info {};
  // Checked before the opening, which would wait on a pipe.
  if (lstat(from.c_str(), &info) != 0) return FailWithErrno();
  UniqueFd source(S_ISREG(info.st_mode) ? open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)
                                        : -1);
  if (source.valid() && fstat(source.get(), &info) != 0) return FailWithErrno();
  if (!S_ISREG(info.st_mode)) {
    SetLastError(EINVAL);  // only a regular file is linked or copied
    return false;
  }
  if (!source.valid()) return FailWithErrno();
  if (MayShareByLink(FactsOf(info))) {
    if (link(from.c_str(), to.c_str()) == 0) {
      claim.emplace(to);
      if (PathNamesOpenFile(to, source.get())) return true;
      claim.reset();
      unlink(to.c_str());  // another file took the name between the check and the link
    } else if (errno == EEXIST || errno == ENOENT) {
      return FailWithErrno();
    }
  }
  return CopyToNewFile(source.get(), to, claim);
}

}  // namespace platform
