// Fetches one URL (HTTP, HTTPS or FTP) into one local file.
#pragma once

#include <cstddef>
#include <string>

#include "platform/file_progress.h"

// Given every chunk of a body, in order, once it is written to the local file. Called from
// inside the transfer (a C library's callback on some platforms), so it must not throw.
class IChunkSink {
 public:
  virtual void OnChunk(const char* data, std::size_t size) noexcept = 0;

 protected:
  ~IChunkSink() = default;
};

// Downloads `url` to `path`, reporting progress after every written chunk and handing the
// chunk to `sink` (when given) before that. The answer is checked before the local file is
// created, so a refused request leaves no file and an existing file untouched. false with the
// reason in the platform's last error; what a sink was given by a failed transfer is not the
// file. A transfer slower than 1 KiB/s for the whole time-out (60 s, or
// $ORBEC_TRANSFER_TIMEOUT seconds) fails as timed out.
bool DownloadFile(const std::string& url, const std::string& path, IFileProgressCallback* progress,
                  IChunkSink* sink = nullptr);
