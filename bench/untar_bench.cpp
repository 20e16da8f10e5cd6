// Unpacks one tar archive with UntarArchive and prints "<archive bytes> <seconds>".
//   orbec_untar_bench [-v] <archive> <destination folder>
// -v reports progress at verbosity 2 (progress lines go to standard output).
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "archive/tar_reader.h"
#include "download/progress.h"
#include "platform/archive_error.h"

int main(int argc, char** argv) {
  int verbosity = 1;
  int first = 1;
  if (argc == 4 && std::strcmp(argv[1], "-v") == 0) {
    verbosity = 2;
    first = 2;
  }
  if (argc - first != 2) {
    std::fprintf(stderr, "usage: orbec_untar_bench [-v] <archive> <destination folder>\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  bool done;
  {
    MyProgressCallback progress(verbosity);
    done = UntarArchive(argv[first], argv[first + 1], &progress);
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  if (!done) {
    std::fprintf(stderr, "unpacking failed: %s\n", ArchiveErrorText(0).c_str());
    return 1;
  }
  struct stat info {};
  stat(argv[first], &info);
  std::fflush(stdout);
  std::fprintf(stderr, "%lld %.6f\n", static_cast<long long>(info.st_size), elapsed.count());
  return 0;
}
