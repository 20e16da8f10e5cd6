// Clean-up when the user interrupts a run: SIGINT, SIGTERM or SIGHUP (on Windows Ctrl+C,
// Ctrl+Break or the closing of the console window) stop the running child program, remove the
// work folder and its lock file, and then end the process by that same signal, as if nothing
// had been caught (on Windows with the status of an interrupted console program, 0xC000013A).
#pragma once

#include <string>

namespace platform {

// While an object lives, the three signals (console events) clean up the folder and the lock
// file given.
// One at a time: the handler's state is process-wide because a signal handler can reach
// nothing else.
class InterruptCleanup {
 public:
  InterruptCleanup(const std::string& folder, const std::string& lock_file);
  ~InterruptCleanup();
  InterruptCleanup(const InterruptCleanup&) = delete;
  InterruptCleanup& operator=(const InterruptCleanup&) = delete;
};

// A file this run made (an empty output file, the copy of an image being moved): while the
// object lives, an interruption removes it, as long as the path still names that very file.
// Up to four at a time; a path named by no file when claimed is not claimed.
class ClaimedFile {
 public:
  explicit ClaimedFile(const std::string& path);
  ~ClaimedFile();
  ClaimedFile(const ClaimedFile&) = delete;
  ClaimedFile& operator=(const ClaimedFile&) = delete;

  // Removes the file now, if the path still names it; the claim ends either way.
  void Remove();

 private:
  int slot_ = -1;
};

// Made first on every thread that the run starts besides the main one, and kept while the
// thread runs. An interruption is then handled on the main thread, whose work stops with it,
// while this thread may go on meanwhile (it only writes into folders the clean-up removes, which
// it walks until they are gone). On Windows, where the clean-up runs on a thread of its own, this
// thread is frozen with the main one. Up to four at a time.
class WorkerThread {
 public:
  WorkerThread();
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

 private:
  int slot_ = -1;
};

// Writing to a closed pipe (a console reader that went away) fails with EPIPE instead of
// ending the process, so the run still cleans up and ends with its own status. (On Windows
// that is how a closed pipe behaves already.)
void IgnoreBrokenPipe();

// Removes a tree using only calls that are safe inside a signal handler (on Windows: while
// the main thread is frozen anywhere); links are removed as links, never followed (wine
// cannot remove a Linux link: it stays, and so does what it points to). Returns false when
// something could not be removed. Not reentrant on Windows.
bool RemoveTreeSignalSafe(const char* path);

}  // namespace platform
