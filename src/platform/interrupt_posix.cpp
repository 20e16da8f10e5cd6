#include "platform/interrupt_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <mutex>

#include "platform/interrupt.h"

namespace platform {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kPathMax = 4096;

// What the handler needs, prepared before it can run.
char cleanup_folder[kPathMax];
char cleanup_lock[kPathMax];
volatile sig_atomic_t child_pid = 0;
struct sigaction previous[3];

// A claimed file: its path and the identity it had when claimed.
struct FileSlot {
  char path[kPathMax];
  dev_t device;
  ino_t inode;
  volatile sig_atomic_t used;
};
FileSlot claimed_files[4];
// Between threads (the handler is kept out by SignalsHeld): one claim or release at a time.
std::mutex claims_lock;

// Holds the interrupting signals back while the handler's state changes.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal_number : kSignals) sigaddset(&held, signal_number);
    sigprocmask(SIG_BLOCK, &held, &before_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &before_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t before_;
};

bool StillNamesClaimedFile(const FileSlot& slot) {
  struct stat info {};
  return lstat(slot.path, &info) == 0 && info.st_dev == slot.device && info.st_ino == slot.inode;
}

void RemoveClaimedFiles() {
  for (FileSlot& slot : claimed_files) {
    if (!slot.used) continue;
    std::atomic_signal_fence(std::memory_order_acquire);
    if (StillNamesClaimedFile(slot)) unlink(slot.path);
  }
}

struct LinuxDirent64 {
  ino64_t d_ino;
  off64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Empties the folder open as `fd`, depth first.
bool EmptyFolder(int fd) {
  bool complete = true;
  alignas(LinuxDirent64) char buffer[2048];
  for (;;) {
    long count = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
    if (count <= 0) return complete && count == 0;
    bool removed_any = false;
    for (long at = 0; at < count;) {
      auto* entry = reinterpret_cast<LinuxDirent64*>(buffer + at);
      at += entry->d_reclen;
      if (IsDotOrDotDot(entry->d_name)) continue;
      if (unlinkat(fd, entry->d_name, 0) == 0) {
        removed_any = true;
        continue;
      }
      int sub = openat(fd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      bool emptied = sub >= 0 && EmptyFolder(sub);
      if (sub >= 0) close(sub);
      if (emptied && unlinkat(fd, entry->d_name, AT_REMOVEDIR) == 0) {
        removed_any = true;
      } else {
        complete = false;
      }
    }
    // Entries removed change the listing; read it again from the start.
    if (removed_any) lseek(fd, 0, SEEK_SET);
    if (!removed_any) return complete;
  }
}

void OnInterrupt(int signal_number) {
  int saved_errno = errno;
  if (pid_t child = child_pid; child > 0) {
    kill(child, SIGKILL);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  RemoveClaimedFiles();
  // A worker thread may still make an entry while the tree is walked: walk again until the
  // folder itself is gone (after that, nothing can be made inside it).
  for (int pass = 0; pass < 100 && cleanup_folder[0] != '\0'; ++pass) {
    if (RemoveTreeSignalSafe(cleanup_folder)) break;
  }
  if (cleanup_lock[0] != '\0') unlink(cleanup_lock);
  // End the process by the signal itself, so the caller sees how it ended.
  signal(signal_number, SIG_DFL);
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, signal_number);
  sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
  raise(signal_number);
  errno = saved_errno;
}

void CopyPath(char* target, const std::string& path) {
  std::size_t length = path.size() < kPathMax ? path.size() : 0;
  std::memcpy(target, path.data(), length);
  target[length] = '\0';
}

}  // namespace

InterruptCleanup::InterruptCleanup(const std::string& folder, const std::string& lock_file) {
  CopyPath(cleanup_folder, folder);
  CopyPath(cleanup_lock, lock_file);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (int signal_number : kSignals) sigaddset(&action.sa_mask, signal_number);
  for (std::size_t i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &previous[i]);
}

InterruptCleanup::~InterruptCleanup() {
  for (std::size_t i = 0; i < 3; ++i) sigaction(kSignals[i], &previous[i], nullptr);
  cleanup_folder[0] = '\0';
  cleanup_lock[0] = '\0';
}

ClaimedFile::ClaimedFile(const std::string& path) {
  struct stat info {};
  if (path.size() >= kPathMax || lstat(path.c_str(), &info) != 0) return;
  SignalsHeld held;
  std::lock_guard<std::mutex> one_at_a_time(claims_lock);
  for (int i = 0; i < static_cast<int>(std::size(claimed_files)); ++i) {
    FileSlot& slot = claimed_files[i];
    if (slot.used) continue;
    CopyPath(slot.path, path);
    slot.device = info.st_dev;
    slot.inode = info.st_ino;
    // The handler may run on another thread: the slot is whole before it counts as used.
    std::atomic_thread_fence(std::memory_order_release);
    slot.used = 1;
    slot_ = i;
    return;
  }
}

ClaimedFile::~ClaimedFile() {
  if (slot_ < 0) return;
  SignalsHeld held;
  std::lock_guard<std::mutex> one_at_a_time(claims_lock);
  claimed_files[slot_].used = 0;
}

void ClaimedFile::Remove() {
  if (slot_ < 0) return;
  SignalsHeld held;
  std::lock_guard<std::mutex> one_at_a_time(claims_lock);
  FileSlot& slot = claimed_files[slot_];
  if (StillNamesClaimedFile(slot)) unlink(slot.path);
  slot.used = 0;
  slot_ = -1;
}

WorkerThread::WorkerThread() {
  sigset_t held;
  sigemptyset(&held);
  for (int signal_number : kSignals) sigaddset(&held, signal_number);
  pthread_sigmask(SIG_BLOCK, &held, nullptr);
}

WorkerThread::~WorkerThread() = default;

void IgnoreBrokenPipe() { signal(SIGPIPE, SIG_IGN); }

void SetInterruptibleChild(pid_t pid) { child_pid = pid; }

bool RemoveTreeSignalSafe(const char* path) {
  if (unlink(path) == 0) return true;  // a file or a link: never followed
  if (errno == ENOENT) return true;
  int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  bool emptied = EmptyFolder(fd);
  close(fd);
  return emptied && rmdir(path) == 0;
}

}  // namespace platform
