// A byte source over a Win32 file handle, with positions and seeks in 64 bits. The file is
// shared for deletion, so that a member named like the archive can replace its name while the
// archive is still being read.
#include <algorithm>
#include <cerrno>
#include <new>

#include "archive/buffered_file_source.h"
#include "archive/system_errno_win.h"

namespace {

class HandleSource final : public BufferedFileSource {
 public:
  HandleSource(platform::UniqueHandle file, std::uint64_t size)
      : BufferedFileSource(size), file_(std::move(file)) {}
  // Closing must not replace the reason of a failure.
  ~HandleSource() override {
    const int error = errno;
    file_.Reset();
    errno = error;
  }

 private:
  long long ReadRaw(void* buffer, std::size_t size) override {
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD got = 0;
    if (::ReadFile(file_.get(), buffer, wanted, &got, nullptr)) return got;
    FailWithWin32Errno();
    return -1;
  }
  bool SeekRaw(std::uint64_t offset) override {
    LARGE_INTEGER target;
    target.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(file_.get(), target, nullptr, FILE_BEGIN) || FailWithWin32Errno();
  }

  platform::UniqueHandle file_;
};

}  // namespace

std::unique_ptr<ByteSource> OpenFileByteSource(const std::filesystem::path& path) {
  // Backup semantics open a directory too, so that it fails as a directory below.
  platform::UniqueHandle file(::CreateFileW(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  LARGE_INTEGER size;
  if (!file.valid() || !::GetFileInformationByHandle(file.get(), &info) ||
      !::GetFileSizeEx(file.get(), &size)) {
    FailWithWin32Errno();
    return nullptr;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    errno = EISDIR;
    return nullptr;
  }
  try {
    return std::make_unique<HandleSource>(std::move(file),
                                          static_cast<std::uint64_t>(size.QuadPart));
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return nullptr;
  }
}
