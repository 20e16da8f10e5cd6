// POSIX implementation: *at() calls from a descriptor of the destination folder, with
// O_NOFOLLOW on every component.
#include "archive/destination_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <new>
#include <vector>

namespace {

void CloseKeepingErrno(int fd) {
  const int saved = errno;
  close(fd);
  errno = saved;
}

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

// Creates a new file in place of whatever non-directory has the name, so that writing it can
// never reach another file: not the target of a symbolic link, not an inode shared through a
// hard link, not the archive being read. A directory stays and fails with EISDIR, as opening
// it for writing would.
int CreateNewFile(int parent, const char* name) {
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  const int file = openat(parent, name, kFlags, 0666);
  if (file >= 0 || errno != EEXIST) return file;
  if (unlinkat(parent, name, 0) != 0) return -1;
  return openat(parent, name, kFlags, 0666);
}

}  // namespace

OutputFile::~OutputFile() {
  if (fd_ >= 0) CloseKeepingErrno(fd_);
}

bool OutputFile::Write(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd_, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool OutputFile::SetTimes(std::uint64_t seconds) {
  timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return futimens(fd_, times) == 0;
}

bool OutputFile::Close() {
  const int fd = fd_;
  fd_ = -1;
  return close(fd) == 0;
}

DestinationTree::DestinationTree(std::filesystem::path folder) : folder_(std::move(folder)) {}

DestinationTree::~DestinationTree() {
  if (parent_fd_ >= 0) CloseKeepingErrno(parent_fd_);
  if (folder_fd_ >= 0) CloseKeepingErrno(folder_fd_);
}

int DestinationTree::FolderFd() {
  if (folder_fd_ < 0) folder_fd_ = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return folder_fd_;
}

int DestinationTree::OpenParent(const std::string& name, std::string& last) {
  std::vector<std::string> parts = SplitComponents(name);
  int fd = FolderFd();
  if (fd < 0 || parts.empty()) return fd;
  last = std::move(parts.back());
  parts.pop_back();
  if (parts.empty()) return fd;
  if (parent_fd_ >= 0 && parts == parent_) return parent_fd_;
  for (const std::string& part : parts) {
    const int next = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd != folder_fd_) CloseKeepingErrno(fd);
    if (next < 0) return -1;
    fd = next;
  }
  if (parent_fd_ >= 0) CloseKeepingErrno(parent_fd_);
  parent_fd_ = fd;
  parent_ = std::move(parts);
  return fd;
}

bool DestinationTree::CreateDirectory(const std::string& name) {
  std::string last;
  const int parent = OpenParent(name, last);
  if (parent < 0) return false;
  if (last.empty()) return true;  // the name is the destination folder itself
  return mkdirat(parent, last.c_str(), 0777) == 0 || errno == EEXIST;
}

std::unique_ptr<OutputFile> DestinationTree::CreateFile(const std::string& name) {
  const std::string piece = LastPiece(name);
  if (piece.empty() || piece == ".") {
    errno = EISDIR;  // the name ends in a directory, as opening it for writing would report
    return nullptr;
  }
  std::string last;
  const int parent = OpenParent(name, last);
  if (parent < 0) return nullptr;
  const int file = CreateNewFile(parent, last.c_str());
  if (file < 0) return nullptr;
  std::unique_ptr<OutputFile> output(new (std::nothrow) OutputFile(file));
  if (!output) {
    close(file);
    errno = ENOMEM;
  }
  return output;
}
