// Downloads one URL with DownloadFile and prints "<bytes> <seconds>".
//   orbec_download_bench [-v] <url> <file>
// -v reports progress at verbosity 2 (progress lines go to standard output), as orbec -v does;
// without it the callback is the silent one of a normal run.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "download/download_file.h"
#include "download/progress.h"
#include "platform/error_text.h"

int main(int argc, char** argv) {
  int verbosity = 1;
  int first = 1;
  if (argc == 4 && std::strcmp(argv[1], "-v") == 0) {
    verbosity = 2;
    first = 2;
  }
  if (argc - first != 2) {
    std::fprintf(stderr, "usage: orbec_download_bench [-v] <url> <file>\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  bool done;
  {
    MyProgressCallback progress(verbosity);
    done = DownloadFile(argv[first], argv[first + 1], &progress);
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  if (!done) {
    std::fprintf(stderr, "download failed: %s\n", platform::LastErrorText().c_str());
    return 1;
  }
  struct stat info {};
  stat(argv[first + 1], &info);
  std::fflush(stdout);
  std::fprintf(stderr, "%lld %.6f\n", static_cast<long long>(info.st_size), elapsed.count());
  return 0;
}
