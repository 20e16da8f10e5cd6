// Progress of one long operation (a download or the unpacking of an archive).
#pragma once

#include <cstdint>

#include "platform/console.h"

// Told how far one operation has got. total is the expected size in bytes (0 when unknown),
// done how far the operation has got. Owned by the caller for the length of one operation.
class IFileProgressCallback {
 public:
  virtual void OnProgress(std::uint64_t total, std::uint64_t done) = 0;

 protected:
  ~IFileProgressCallback() = default;
};

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
