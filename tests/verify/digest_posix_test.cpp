// File digests over reads that fail or are interrupted, injected through glibc's custom streams
// (fopencookie) and a folder opened as a file, neither of which Windows' C runtime has.
#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "support/temp_dir.h"
#include "support/test_pki.h"
#include "verify/digest.h"

namespace {

using namespace testing_support;
using namespace VerificationToolCrypto;

// A stream whose reads follow a script: a positive step hands out that many bytes of data,
// over as many reads as the stream makes of it; a negative one fails one read with that errno
// value. After the last step, or the last byte of data, the file ends.
struct ScriptedReads {
  std::string data;
  std::vector<int> steps;
  std::size_t position = 0;
  std::size_t next = 0;
};

ssize_t ReadScripted(void* cookie, char* buffer, std::size_t size) {
  auto& script = *static_cast<ScriptedReads*>(cookie);
  if (script.next == script.steps.size()) return 0;
  int& step = script.steps[script.next];
  if (step < 0) {
    errno = -step;
    ++script.next;
    return -1;
  }
  std::size_t count =
      std::min({size, static_cast<std::size_t>(step), script.data.size() - script.position});
  std::memcpy(buffer, script.data.data() + script.position, count);
  script.position += count;
  step -= static_cast<int>(count);
  if (step == 0) ++script.next;
  return static_cast<ssize_t>(count);
}

std::optional<std::string> DigestOfScript(ScriptedReads script) {
  OpenFile file(fopencookie(&script, "rb", {ReadScripted, nullptr, nullptr, nullptr}));
  EXPECT_TRUE(file);
  if (!file) return std::nullopt;
  return FileDigest(file.get());
}

TEST(HashFile, ReadErrorGivesNoDigest) {
  TempDir dir;
  // A folder opens like a file on Linux; reading it fails.
  OpenFile folder = OpenForHashing(dir.path());
  ASSERT_TRUE(folder);
  EXPECT_EQ(HashFile(folder.get()), std::nullopt);
}

TEST(HashFile, InterruptedReadsResumeAndFailedReadsGiveNoDigest) {
  std::string data(3 * kHashBlockSize + 5, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 13 + i / 509);
  struct Case {
    std::vector<int> steps;
    bool digested;
  } cases[] = {
      {{5000, 5000, 5000, 5000, 5000}, true},
      {{5000, -EINTR, 20000, -EINTR, -EINTR, 5000}, true},
      {{5000, -EIO}, false},
      {{8192, 8192, 8192, -EIO}, false},
      {{-EIO}, false},
  };
  for (const Case& c : cases) {
    std::optional<std::string> expected;
    if (c.digested) expected = ToHex(Sha1(data));
    EXPECT_EQ(DigestOfScript({.data = data, .steps = c.steps}), expected) << c.steps.size();
  }
}

}  // namespace
