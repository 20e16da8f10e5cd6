#include "download/progress.h"

using platform::Print;
using platform::Stream;

MyProgressCallback::MyProgressCallback(int verbosity, platform::Console& console)
    : verbosity_(verbosity), console_(console) {}

MyProgressCallback::~MyProgressCallback() {
  if (verbosity_ == 2) Print(console_, Stream::kOut, "%79s\r", "");
}

void MyProgressCallback::OnProgress(std::uint64_t total, std::uint64_t done) {
  if (verbosity_ != 2) return;
  if (total != 0) {
    auto percent = static_cast<unsigned>(done * 100 / total);
    Print(console_, Stream::kOut, "%u%% of %llu KB\r", percent,
          static_cast<unsigned long long>(total / 1024));
  } else {
    Print(console_, Stream::kOut, "%llu KB\r", static_cast<unsigned long long>(done / 1024));
  }
}
