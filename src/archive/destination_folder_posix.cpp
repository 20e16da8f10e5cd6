// POSIX implementation: *at() calls from a descriptor of the destination folder, with
// O_NOFOLLOW on every component. The directory of the last member stays open, so the members
// of one directory are entered with one open each.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <new>
#include <utility>
#include <vector>

#include "archive/destination_folder.h"
#include "platform/fd_io_posix.h"
#include "platform/unique_fd_posix.h"

namespace {

// Creates a new file in place of whatever non-directory has the name, so that writing it can
// never reach another file: not the target of a symbolic link, not an inode shared through a
// hard link, not the archive being read. A directory stays and fails with EISDIR, as opening
// it for writing would.
platform::UniqueFd CreateNewFile(int parent, const char* name) {
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  platform::UniqueFd file(openat(parent, name, kFlags, 0666));
  if (file.valid() || errno != EEXIST) return file;
  if (unlinkat(parent, name, 0) != 0) return file;
  return platform::UniqueFd(openat(parent, name, kFlags, 0666));
}

class DescriptorOutputFile final : public OutputFile {
 public:
  explicit DescriptorOutputFile(platform::UniqueFd fd) : fd_(std::move(fd)) {}

  bool Write(const void* data, std::size_t size) override {
    return platform::WriteAll(fd_.get(), data, size);
  }

  bool SetTimes(std::uint64_t seconds) override {
    timespec times[2];
    times[0].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return futimens(fd_.get(), times) == 0;
  }

  bool Close() override { return fd_.Close() == 0; }

 private:
  platform::UniqueFd fd_;
};

class DescriptorFolder final : public DestinationFolder {
 public:
  explicit DescriptorFolder(std::filesystem::path folder) : folder_(std::move(folder)) {}

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
    platform::UniqueFd file = CreateNewFile(parent, last.c_str());
    if (!file.valid()) return nullptr;
    std::unique_ptr<OutputFile> output(new (std::nothrow) DescriptorOutputFile(std::move(file)));
    if (!output) errno = ENOMEM;
    return output;
  }

 private:
  int FolderFd() {
    if (!folder_fd_.valid()) {
      folder_fd_ = platform::UniqueFd(open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    return folder_fd_.get();
  }

  // The descriptor of the directory holding the last component, which is moved to last; owned
  // by the folder. -1 with errno set on failure.
  int OpenParent(std::vector<std::string> parts, std::string& last) {
    const int folder = FolderFd();
    if (folder < 0 || parts.empty()) return folder;
    last = std::move(parts.back());
    parts.pop_back();
    if (parts.empty()) return folder;
    if (parent_fd_.valid() && parts == parent_) return parent_fd_.get();
    platform::UniqueFd entered;
    for (const std::string& part : parts) {
      const int from = entered.valid() ? entered.get() : folder;
      entered = platform::UniqueFd(
          openat(from, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!entered.valid()) return -1;
    }
    parent_fd_ = std::move(entered);
    parent_ = std::move(parts);
    return parent_fd_.get();
  }

  std::filesystem::path folder_;
  platform::UniqueFd folder_fd_;
  // The last parent directory entered below the folder: its components and descriptor.
  std::vector<std::string> parent_;
  platform::UniqueFd parent_fd_;
};

}  // namespace

std::unique_ptr<DestinationFolder> MakeDestinationFolder(std::filesystem::path folder) {
  return std::make_unique<DescriptorFolder>(std::move(folder));
}
