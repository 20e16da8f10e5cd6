#include "download/progress.h"

#include <gtest/gtest.h>

using platform::MemoryConsole;

TEST(MyProgressCallback, PrintsNothingBelowVerboseLevel) {
  for (int verbosity : {0, 1}) {
    MemoryConsole console;
    {
      MyProgressCallback progress(verbosity, console);
      progress.OnProgress(100, 50);
      progress.OnProgress(0, 4096);
    }
    EXPECT_EQ(console.out, "");
    EXPECT_EQ(console.err, "");
  }
}

TEST(MyProgressCallback, VerboseLinesAndTheBlankingLine) {
  MemoryConsole console;
  {
    MyProgressCallback progress(2, console);
    progress.OnProgress(0, 1023);
    progress.OnProgress(10240, 5120);
    progress.OnProgress(1023, 1023);
    progress.OnProgress(1000, 1500);  // a server that sends more than it announced
    progress.OnProgress(6ULL << 30, 3ULL << 30);
  }
  EXPECT_EQ(console.out, "0 KB\r50% of 10 KB\r100% of 0 KB\r150% of 0 KB\r50% of 6291456 KB\r" +
                             std::string(79, ' ') + "\r");
}
