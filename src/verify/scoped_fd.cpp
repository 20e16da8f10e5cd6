#include "verify/scoped_fd.h"

#include <fcntl.h>
#include <unistd.h>

namespace VerificationToolCrypto {

ScopedFd ScopedFd::OpenForReading(const std::string& path) {
  ScopedFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  // The file is read once from start to end.
  if (file.valid()) posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  return file;
}

ScopedFd::~ScopedFd() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace VerificationToolCrypto
