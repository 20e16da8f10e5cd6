// Windows implementation: absolute "\\?\" paths built one checked component at a time. Every
// directory on the way to a member is opened without following a reparse point and stays open
// (without delete sharing, so it cannot be renamed or replaced) while members go into it.
//
// Wine shows a Unix symbolic link to a directory as a reparse point only in the attributes
// asked by path, and opens its target even when told not to: a component counts as a link
// when either the path or the handle says so.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "archive/destination_folder.h"
#include "archive/system_errno_win.h"
#include "platform/file_entry_win.h"
#include "platform/last_error.h"

// The folder's operations share their names with the API's A/W macros.
#undef CreateDirectory
#undef CreateFile

namespace {

using platform::UniqueHandle;

bool Fail(int code) {
  errno = code;
  return false;
}

bool IsReparsePoint(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Opens the entry itself, a link rather than its target, for the access asked.
UniqueHandle OpenEntry(const std::wstring& path, DWORD access, DWORD sharing) {
  return UniqueHandle(::CreateFileW(path.c_str(), access, sharing, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
}

DWORD HandleAttributes(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return ::GetFileInformationByHandle(handle, &info) ? info.dwFileAttributes
                                                     : INVALID_FILE_ATTRIBUTES;
}

// The folder as an absolute path with the "\\?\" prefix, so that long paths work and
// components are taken as they are.
bool LongAbsolutePath(const std::filesystem::path& folder, std::wstring& result) {
  const DWORD needed = ::GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return FailWithWin32Errno();
  std::wstring full(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(folder.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return FailWithWin32Errno();
  full.resize(length);
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  if (full.starts_with(L"\\\\?\\")) {
    result = full;
  } else if (full.starts_with(L"\\\\")) {
    result = L"\\\\?\\UNC\\" + full.substr(2);
  } else {
    result = L"\\\\?\\" + full;
  }
  if (result.back() == L'\\') result.pop_back();  // a drive's root: components add their own
  return true;
}

// A sibling name of our own in the directory, for a file on its way to a member's name.
std::wstring SiblingName(const std::wstring& directory) {
  static std::atomic<unsigned> counter = 0;
  return directory + L"\\.orbec-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
         std::to_wstring(++counter) + L".part";
}

// A new file, written through a handle that lets it be renamed while open.
UniqueHandle CreateNewFile(const std::wstring& path) {
  return UniqueHandle(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Removes what stands at path when renaming over it failed: a real link (the link alone), a
// read-only file, or a file that is open elsewhere with delete sharing, such as the archive
// being read (moved aside first, since its name stays taken until the last handle closes). A link
// that the system would follow is refused.
bool RemoveInTheWay(const std::wstring& path, const std::wstring& aside) {
  const UniqueHandle entry = OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!entry.valid()) return FailWithWin32Errno();
  const DWORD attributes = HandleAttributes(entry.get());
  if (IsReparsePoint(::GetFileAttributesW(path.c_str())) && !IsReparsePoint(attributes)) {
    return Fail(ELOOP);
  }
  if (IsReparsePoint(attributes)) {  // goes when the handle closes, on return
    FILE_DISPOSITION_INFO remove{TRUE};
    return ::SetFileInformationByHandle(entry.get(), FileDispositionInfo, &remove, sizeof remove) ||
           FailWithWin32Errno();
  }
  if (IsDirectory(attributes)) return Fail(EISDIR);
  if (!::MoveFileExW(path.c_str(), aside.c_str(), 0)) return FailWithWin32Errno();
  ::SetFileAttributesW(aside.c_str(), FILE_ATTRIBUTE_NORMAL);  // a read-only file goes too
  return ::DeleteFileW(aside.c_str()) || FailWithWin32Errno();
}

class HandleOutputFile final : public OutputFile {
 public:
  explicit HandleOutputFile(UniqueHandle file) : file_(std::move(file)) {}
  ~HandleOutputFile() override {
    const int error = errno;
    file_.Reset();
    errno = error;
  }

  bool Write(const void* data, std::size_t size) override {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
      DWORD written = 0;
      if (!::WriteFile(file_.get(), bytes, chunk, &written, nullptr)) return FailWithWin32Errno();
      if (written == 0) return Fail(EIO);
      bytes += written;
      size -= written;
    }
    return true;
  }

  bool SetTimes(std::uint64_t seconds) override {
    // 100-nanosecond intervals since 1601-01-01; a tar time has at most 36 bits, so this fits.
    constexpr std::uint64_t kSecondsFrom1601To1970 = 11'644'473'600;
    const std::uint64_t ticks = (seconds + kSecondsFrom1601To1970) * 10'000'000;
    FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    return ::SetFileTime(file_.get(), nullptr, &time, &time) || FailWithWin32Errno();
  }

  bool Close() override { return ::CloseHandle(file_.Release()) || FailWithWin32Errno(); }

 private:
  UniqueHandle file_;
};

class Win32Folder final : public DestinationFolder {
 public:
  explicit Win32Folder(std::filesystem::path folder) : folder_(std::move(folder)) {}

  bool CreateDirectory(std::vector<std::string> components) override {
    std::string last;
    std::wstring parent;
    if (!EnterParent(std::move(components), last, parent)) return false;
    if (last.empty()) return true;  // no components: the destination folder itself
    const std::wstring path = parent + L"\\" + platform::Widen(last);
    return ::CreateDirectoryW(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS ||
           FailWithWin32Errno();
  }

  std::unique_ptr<OutputFile> CreateFile(std::vector<std::string> components) override {
    std::string last;
    std::wstring parent;
    if (!EnterParent(std::move(components), last, parent)) return nullptr;
    UniqueHandle file = CreateReplacing(parent, platform::Widen(last));
    if (!file.valid()) return nullptr;
    std::unique_ptr<OutputFile> output(new (std::nothrow) HandleOutputFile(std::move(file)));
    if (!output) errno = ENOMEM;
    return output;
  }

 private:
  // A new file at path in place of whatever non-directory has the name, so that writing it
  // can never reach another file: not the target of a link, not a file shared through a hard
  // link, not the archive being read. It is made under a name of its own and renamed over
  // the old entry, which replaces a link rather than its target. A directory stays and fails
  // with EISDIR, as opening it for writing would.
  static UniqueHandle CreateReplacing(const std::wstring& parent, const std::wstring& name) {
    const std::wstring path = parent + L"\\" + name;
    UniqueHandle file = CreateNewFile(path);
    if (file.valid()) return file;
    if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) {
      FailWithWin32Errno();
      return file;
    }
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (IsDirectory(attributes) && !IsReparsePoint(attributes)) {
      Fail(EISDIR);
      return file;
    }
    const std::wstring temporary = SiblingName(parent);
    file = CreateNewFile(temporary);
    if (!file.valid()) {
      FailWithWin32Errno();
      return file;
    }
    if (::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) ||
        (RemoveInTheWay(path, SiblingName(parent)) &&
         (::MoveFileExW(temporary.c_str(), path.c_str(), 0) || FailWithWin32Errno()))) {
      return file;
    }
    const int error = errno;
    file.Reset();
    ::DeleteFileW(temporary.c_str());
    errno = error;
    return file;
  }

  bool OpenFolder() {
    if (folder_handle_.valid()) return true;
    if (!LongAbsolutePath(folder_, root_)) return false;
    // The caller answers for the folder itself and may hold it open in any way.
    folder_handle_ = OpenEntry(root_, FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (!folder_handle_.valid()) return FailWithWin32Errno();
    if (!IsDirectory(HandleAttributes(folder_handle_.get()))) {
      folder_handle_.Reset();
      return Fail(ENOTDIR);
    }
    return true;
  }

  // Opens the directories holding the last component, which is moved to last, and sets parent
  // to their path. They stay open until a member names another directory.
  bool EnterParent(std::vector<std::string> parts, std::string& last, std::wstring& parent) {
    if (!OpenFolder()) return false;
    parent = root_;
    if (parts.empty()) return true;
    last = std::move(parts.back());
    parts.pop_back();
    if (parts.empty()) return true;
    if (parts != parent_ || parent_handles_.size() != parts.size()) {
      parent_.clear();
      parent_handles_.clear();
      if (!OpenDirectories(parts)) return false;
      parent_ = std::move(parts);
    }
    parent = parent_path_;
    return true;
  }

  // Opens each directory below the folder in turn, refusing links and non-directories.
  bool OpenDirectories(const std::vector<std::string>& parts) {
    std::wstring path = root_;
    for (const std::string& part : parts) {
      path += L"\\" + platform::Widen(part);
      UniqueHandle directory =
          OpenEntry(path, FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE);
      if (!directory.valid()) return FailWithWin32Errno();
      const DWORD attributes = HandleAttributes(directory.get());
      if (IsReparsePoint(attributes) || IsReparsePoint(::GetFileAttributesW(path.c_str()))) {
        return Fail(ELOOP);
      }
      if (!IsDirectory(attributes)) return Fail(ENOTDIR);
      // A folder that another user made there (the work folder may lie in a shared temporary
      // folder) could hold what that user wants: it is not entered, as if access were denied.
      const std::optional<bool> own = platform::OwnedByCurrentUser(directory.get());
      if (!own) return Fail(ErrnoFromWin32(platform::GetLastError()));
      if (!*own) return Fail(EACCES);
      parent_handles_.push_back(std::move(directory));
    }
    parent_path_ = std::move(path);
    return true;
  }

  std::filesystem::path folder_;
  std::wstring root_;
  UniqueHandle folder_handle_;
  // The last parent directory entered below the folder: its components, path and handles.
  std::vector<std::string> parent_;
  std::wstring parent_path_;
  std::vector<UniqueHandle> parent_handles_;
};

}  // namespace

std::unique_ptr<DestinationFolder> MakeDestinationFolder(std::filesystem::path folder) {
  return std::make_unique<Win32Folder>(std::move(folder));
}
