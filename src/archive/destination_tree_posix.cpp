// POSIX implementation: *at() calls from a descriptor of the destination folder, with
// O_NOFOLLOW on every component. The directory of the last member stays open, so the members
// of one directory are entered with one open each.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <new>
#include <vector>

#include "archive/destination_folder.h"
#include "platform/fd_io_posix.h"

namespace {

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

class DescriptorOutputFile final : public OutputFile {
 public:
  explicit DescriptorOutputFile(int fd) : fd_(fd) {}
  ~DescriptorOutputFile() override {
    if (fd_ >= 0) platform::CloseKeepingErrno(fd_);
  }

  bool Write(const void* data, std::size_t size) override {
    return platform::WriteAll(fd_, data, size);
  }

  bool SetTimes(std::uint64_t seconds) override {
    timespec times[2];
    times[0].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return futimens(fd_, times) == 0;
  }

  bool Close() override {
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

class DescriptorFolder final : public DestinationFolder {
 public:
  explicit DescriptorFolder(std::filesystem::path folder) : folder_(std::move(folder)) {}
  ~DescriptorFolder() override {
    if (parent_fd_ >= 0) platform::CloseKeepingErrno(parent_fd_);
    if (folder_fd_ >= 0) platform::CloseKeepingErrno(folder_fd_);
  }

  bool CreateDirectory(std::vector<std::string> components) override {
    std::string last;
    const int parent = OpenParent(std::move(components), last);
    if (parent < 0) return false;
    if (last.empty()) return true;  // no components: the destination folder itself
    return mkdirat(parent, last.c_str(), 0777) == 0 || errno == EEXIST;
  }

  std::unique_ptr<OutputFile> CreateFile(std::vector<std::string> components) override {
    std::string last;
    const int parent = OpenParent(std::move(components), last);
    if (parent < 0) return nullptr;
    const int file = CreateNewFile(parent, last.c_str());
    if (file < 0) return nullptr;
    std::unique_ptr<OutputFile> output(new (std::nothrow) DescriptorOutputFile(file));
    if (!output) {
      close(file);
      errno = ENOMEM;
    }
    return output;
  }

 private:
  int FolderFd() {
    if (folder_fd_ < 0) folder_fd_ = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return folder_fd_;
  }

  // The descriptor of the directory holding the last component, which is moved to last; owned
  // by the folder. -1 with errno set on failure.
  int OpenParent(std::vector<std::string> parts, std::string& last) {
    int fd = FolderFd();
    if (fd < 0 || parts.empty()) return fd;
    last = std::move(parts.back());
    parts.pop_back();
    if (parts.empty()) return fd;
    if (parent_fd_ >= 0 && parts == parent_) return parent_fd_;
    for (const std::string& part : parts) {
      const int next = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (fd != folder_fd_) platform::CloseKeepingErrno(fd);
      if (next < 0) return -1;
      fd = next;
    }
    if (parent_fd_ >= 0) platform::CloseKeepingErrno(parent_fd_);
    parent_fd_ = fd;
    parent_ = std::move(parts);
    return fd;
  }

  std::filesystem::path folder_;
  int folder_fd_ = -1;
  // The last parent directory entered below the folder: its components and descriptor.
  std::vector<std::string> parent_;
  int parent_fd_ = -1;
};

}  // namespace

std::unique_ptr<DestinationFolder> MakeDestinationFolder(std::filesystem::path folder) {
  return std::make_unique<DescriptorFolder>(std::move(folder));
}
