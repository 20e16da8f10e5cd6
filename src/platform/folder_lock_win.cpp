#include "platform/error_text.h"
#include "platform/file_entry_win.h"
#include "platform/folder_lock.h"
#include "platform/last_error.h"
#include "platform/windows_win.h"

namespace platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE | DELETE;

// The lock file: made new, or else the one that stands there, but never a link's target.
UniqueHandle OpenLockFile(const std::wstring& path) {
  UniqueHandle file(::CreateFileW(path.c_str(), kAccess, kShareAll, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.valid() || ::GetLastError() != ERROR_FILE_EXISTS) return file;
  file = OpenEntry(path, kAccess, kShareAll);
  if (!file.valid()) return file;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!::GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
    file.Reset();
  } else if ((tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) !=
                 0 ||
             !NamesEntryItself(file.get(), path)) {
    file.Reset();
    ::SetLastError(ERROR_CANT_RESOLVE_FILENAME);
  }
  return file;
}

}  // namespace

class FolderLock::Held {
 public:
  explicit Held(UniqueHandle file) : file_(std::move(file)) {}
  // Removes the lock file, then lets the lock go with the handle. The removal goes through
  // the handle, so it hits this very file whatever its path names by now.
  ~Held() {
    FILE_DISPOSITION_INFO disposition{TRUE};
    ::SetFileInformationByHandle(file_.get(), FileDispositionInfo, &disposition,
                                 sizeof disposition);
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;

 private:
  UniqueHandle file_;
};

FolderLock::FolderLock(std::unique_ptr<Held> held) : held_(std::move(held)) {}

std::unique_ptr<FolderLock> FolderLock::Acquire(const std::string& lock_file) {
  const std::wstring path = Widen(lock_file);
  for (int attempt = 0; attempt < 100; ++attempt) {
    UniqueHandle file = OpenLockFile(path);
    if (!file.valid()) {
      // A lock file that its last holder removed stays "delete pending" until every handle
      // on it is closed: a moment's wait, then again.
      if (::GetLastError() == ERROR_ACCESS_DENIED && attempt < 99) {
        ::Sleep(10);
        continue;
      }
      FailWithSystemError();
      return nullptr;
    }
    OVERLAPPED whole_file{};
    if (!::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                      MAXDWORD, &whole_file)) {
      if (::GetLastError() == ERROR_LOCK_VIOLATION) {
        SetLastError(kErrorFolderInUse);
      } else {
        FailWithSystemError();
      }
      return nullptr;
    }
    // A run that ended may have removed the file between our open and our lock.
    if (PathNamesOpenFile(path, file.get())) {
      return std::unique_ptr<FolderLock>(new FolderLock(std::make_unique<Held>(std::move(file))));
    }
  }
  SetLastError(kErrorFolderInUse);
  return nullptr;
}

FolderLock::~FolderLock() = default;

}  // namespace platform
