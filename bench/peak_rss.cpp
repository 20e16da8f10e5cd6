// Runs a program and writes the peak resident memory of that one process (not of its children)
// to a report file, as "<KiB>\n". The exit status is passed on.
//   orbec_peak_rss <report file> <program> [arguments...]
//
// The program is traced only for its exit: just before it ends, while its memory still
// exists, its high-water mark (VmHWM in /proc/<pid>/status) is read. Children it starts are
// not traced, so their memory is not counted, and no system call is intercepted.
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

long ReadHighWaterMarkKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmHWM:") {
      long kib = -1;
      status >> kib;
      return kib;
    }
    status.ignore(1 << 16, '\n');
  }
  return -1;
}

bool IsEvent(int status, int event) { return (status >> 8) == (SIGTRAP | (event << 8)); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: orbec_peak_rss <report file> <program> [arguments...]\n");
    return 2;
  }
  const pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return 2;
  }
  if (child == 0) {
    ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    raise(SIGSTOP);
    execvp(argv[2], argv + 2);
    std::fprintf(stderr, "orbec_peak_rss: cannot run %s: %s\n", argv[2], std::strerror(errno));
    _exit(127);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFSTOPPED(status)) {
    std::fprintf(stderr, "orbec_peak_rss: the child did not stop\n");
    return 2;
  }
  ptrace(PTRACE_SETOPTIONS, child, nullptr,
         PTRACE_O_TRACEEXIT | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL);
  ptrace(PTRACE_CONT, child, nullptr, nullptr);
  long peak_kib = -1;
  for (;;) {
    if (waitpid(child, &status, 0) != child) {
      if (errno == EINTR) continue;
      std::perror("waitpid");
      return 2;
    }
    if (WIFEXITED(status) || WIFSIGNALED(status)) break;
    int signal = 0;
    if (IsEvent(status, PTRACE_EVENT_EXIT)) {
      peak_kib = ReadHighWaterMarkKib(child);
    } else if (!IsEvent(status, PTRACE_EVENT_EXEC)) {
      signal = WSTOPSIG(status);
      if (signal == SIGTRAP) signal = 0;
    }
    ptrace(PTRACE_CONT, child, nullptr, reinterpret_cast<void*>(static_cast<long>(signal)));
  }
  if (std::FILE* report = std::fopen(argv[1], "w")) {
    std::fprintf(report, "%ld\n", peak_kib);
    std::fclose(report);
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}
