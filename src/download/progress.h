// Progress lines on the console for a download or the unpacking of an archive.
#pragma once

#include <cstdint>

#include "platform/console.h"
#include "platform/file_progress.h"

// Console progress: one self-overwriting line at verbosity 2, blanked on destruction.
class MyProgressCallback : public IFileProgressCallback {
 public:
  explicit MyProgressCallback(int verbosity, platform::Console& console = platform::StdConsole());
  ~MyProgressCallback();
  MyProgressCallback(const MyProgressCallback&) = delete;
  MyProgressCallback& operator=(const MyProgressCallback&) = delete;

  void OnProgress(std::uint64_t total, std::uint64_t done) override;

 private:
  int verbosity_;
  platform::Console& console_;
};
