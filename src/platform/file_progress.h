// Progress of one long operation (a download or the unpacking of an archive).
#pragma once

#include <cstdint>

// Told how far one operation has got. total is the expected size in bytes (0 when unknown),
// done how far the operation has got. Owned by the caller for the length of one operation.
class IFileProgressCallback {
 public:
  virtual void OnProgress(std::uint64_t total, std::uint64_t done) = 0;

 protected:
  ~IFileProgressCallback() = default;
};
