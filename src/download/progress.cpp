#include "download/progress.h"

#include <cstdio>
#include <string_view>

using platform::Print;
using platform::Stream;

MyProgressCallback::MyProgressCallback(int verbosity, platform::Console& console)
    : verbosity_(verbosity), console_(console) {}

MyProgressCallback::~MyProgressCallback() {
  if (verbosity_ == platform::kVerbose) Print(console_, Stream::kOut, "%79s\r", "");
}

// Called for every chunk of a transfer, so the line is formatted on the stack and handed to
// the console as it is: no allocation per call.
void MyProgressCallback::OnProgress(std::uint64_t total, std::uint64_t done) {
  if (verbosity_ != platform::kVerbose) return;
  char line[64];  // "4294967295% of 18014398509481983 KB\r" is 37 characters
  int length;
  if (total != 0) {
    auto percent = static_cast<unsigned>(done * 100 / total);
    length = std::snprintf(line, sizeof line, "%u%% of %llu KB\r", percent,
                           static_cast<unsigned long long>(total / 1024));
  } else {
    length =
        std::snprintf(line, sizeof line, "%llu KB\r", static_cast<unsigned long long>(done / 1024));
  }
  console_.Write(Stream::kOut, std::string_view(line, static_cast<std::size_t>(length)));
}
