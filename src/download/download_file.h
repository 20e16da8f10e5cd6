// Fetches one URL (HTTP, HTTPS or FTP) into one local file.
#pragma once

#include <string>

#include "platform/file_progress.h"

// Downloads `url` to `path`, reporting progress after every written chunk. The answer is
// checked before the local file is created, so a refused request leaves no file and an
// existing file untouched. false with the reason in the platform's last error.
// A transfer slower than 1 KiB/s for the whole time-out (60 s, or $ORBEC_TRANSFER_TIMEOUT
// seconds) fails as timed out.
bool DownloadFile(const std::string& url, const std::string& path, IFileProgressCallback* progress);
