#include "platform/windows_win.h"
// The security and runtime headers below come after the platform's set-up of windows.h.
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "platform/error_text.h"
#include "platform/file_entry_win.h"
#include "platform/file_ops.h"
#include "platform/interrupt.h"
#include "platform/last_error.h"

namespace platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kRemoveAccess =
    DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | FILE_LIST_DIRECTORY | SYNCHRONIZE;

bool IsMissing(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

bool IsTaken(DWORD code) { return code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS; }

std::optional<DWORD> AttributesOf(HANDLE handle) {
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
    return std::nullopt;
  }
  return basic.FileAttributes;
}

// A plain folder, to be emptied; a link or junction to a folder is removed as itself.
bool IsFolderToEnter(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// The read-only attribute would refuse the deletion; the file is going anyway.
void ClearReadOnly(HANDLE handle) {
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) ||
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0) {
    return;
  }
  FILE_BASIC_INFO changed{};  // zero times: left as they are
  changed.FileAttributes = basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  if (changed.FileAttributes == 0) changed.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  ::SetFileInformationByHandle(handle, FileBasicInfo, &changed, sizeof changed);
}

// Deletes exactly the open entry (a folder must be empty by now), whatever its path names
// meanwhile; the deletion takes effect when the handle closes.
bool DeleteOpenEntry(HANDLE handle) {
  ClearReadOnly(handle);
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (!::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition)) {
    return FailWithSystemError();
  }
  return true;
}

// The names in an open folder, read through its handle: the walk holds it with delete
// access, which a second opening of the folder by name (FindFirstFileW) would collide with.
// `error` is 0 when every name was read.
std::vector<std::wstring> FolderContent(HANDLE folder, DWORD& error) {
  std::vector<std::wstring> names;
  std::vector<LONGLONG> buffer(8192);  // 64 KiB, aligned for the records
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  while (::GetFileInformationByHandleEx(folder, kind, buffer.data(),
                                        static_cast<DWORD>(buffer.size() * sizeof(LONGLONG)))) {
    kind = FileIdBothDirectoryInfo;
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    for (;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
      const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") names.push_back(name);
      if (entry->NextEntryOffset == 0) break;
      bytes += entry->NextEntryOffset;
    }
  }
  error = ::GetLastError() == ERROR_NO_MORE_FILES ? 0 : ::GetLastError();
  return names;
}

bool RemoveEntry(const std::wstring& path, const std::wstring& folder, const std::wstring& name);

// Removes everything in an open folder, then the folder; goes on past failures so that as
// much as possible goes.
bool RemoveOpenFolder(HANDLE handle, const std::wstring& path) {
  const std::optional<std::wstring> resolved = FinalPath(handle);
  if (!resolved) return FailWithSystemError();
  DWORD listing_error = 0;
  bool removed = true;
  for (const std::wstring& name : FolderContent(handle, listing_error)) {
    removed = RemoveEntry(path + L"\\" + name, *resolved, name) && removed;
  }
  if (listing_error != 0) return FailWith(listing_error);
  return DeleteOpenEntry(handle) && removed;
}

// Removes the entry `name` of the folder resolved as `folder`, reached as `path`. An entry
// that opens as another path is a link the system follows: it is left alone, and so is
// what it points to.
bool RemoveEntry(const std::wstring& path, const std::wstring& folder, const std::wstring& name) {
  UniqueHandle entry = OpenEntry(path, kRemoveAccess, kShareAll);
  if (!entry.valid()) {
    const DWORD code = ::GetLastError();
    return IsMissing(code) || FailWith(code);
  }
  if (!IsEntryOf(entry.get(), folder, name)) return FailWith(ERROR_CANT_RESOLVE_FILENAME);
  const std::optional<DWORD> attributes = AttributesOf(entry.get());
  if (!attributes) return FailWithSystemError();
  if (IsFolderToEnter(*attributes)) return RemoveOpenFolder(entry.get(), path);
  return DeleteOpenEntry(entry.get());
}

// The resolved path of the folder that holds `path`; nothing with the last error set.
std::optional<std::wstring> ResolvedFolderOf(const std::wstring& path) {
  UniqueHandle folder(::CreateFileW(FolderOf(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  std::optional<std::wstring> resolved;
  if (folder.valid()) resolved = FinalPath(folder.get());
  if (!resolved) FailWithSystemError();
  return resolved;
}

struct LocalFreeDeleter {
  void operator()(void* memory) const { ::LocalFree(memory); }
};

// The token's user, and the owner it gives to what it creates (the Administrators group
// for an elevated administrator): either may own the folders this user made.
bool IsOwnSid(PSID owner) {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  UniqueHandle token(raw);
  for (TOKEN_INFORMATION_CLASS kind : {TokenUser, TokenOwner}) {
    DWORD size = 0;
    ::GetTokenInformation(token.get(), kind, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 || !::GetTokenInformation(token.get(), kind, buffer.data(), size, &size)) {
      continue;
    }
    PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                 : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
    if (::EqualSid(owner, sid)) return true;
  }
  return false;
}

// Whether the open entry belongs to the current user: its owner is the token's user or
// default owner. A file system without owners (FAT) has nobody else's files either.
std::optional<bool> OwnedByCurrentUser(HANDLE handle) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD result = ::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                         nullptr, nullptr, nullptr, &descriptor);
  if (result != ERROR_SUCCESS) {
    FailWith(result);
    return std::nullopt;
  }
  std::unique_ptr<void, LocalFreeDeleter> release(descriptor);
  return owner == nullptr || IsOwnSid(owner);
}

// Checks an existing entry of the work folder's name before it is reused.
bool AcceptExistingDirectory(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailWithSystemError();
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return FailWith(kErrorFolderIsLink);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return FailWith(ERROR_DIRECTORY);
  UniqueHandle folder = OpenEntry(path, READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll);
  if (!folder.valid()) return FailWithSystemError();
  if (!NamesEntryItself(folder.get(), path)) return FailWith(kErrorFolderIsLink);
  const std::optional<bool> own = OwnedByCurrentUser(folder.get());
  if (!own) return false;
  return *own || FailWith(kErrorFolderForeignOwner);
}

// The regular file at `path`, open for reading, checked not to be a folder, a link or the
// target of a link; invalid with the last error set otherwise.
UniqueHandle OpenRegularFile(const std::wstring& path) {
  UniqueHandle file = OpenEntry(path, GENERIC_READ, kShareAll);
  if (!file.valid()) {
    FailWithSystemError();
    return file;
  }
  const std::optional<DWORD> attributes = AttributesOf(file.get());
  DWORD refusal = 0;
  if (!attributes) {
    refusal = ::GetLastError();
  } else if ((*attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
             !NamesEntryItself(file.get(), path)) {
    refusal = ERROR_CANT_RESOLVE_FILENAME;
  } else if ((*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    refusal = ERROR_ACCESS_DENIED;  // what the system answers for a folder opened as a file
  }
  if (refusal != 0) {
    FailWith(refusal);
    file.Reset();
  }
  return file;
}

bool LinkOrCopyWide(const std::wstring& from, const std::wstring& to) {
  if (!OpenRegularFile(from).valid()) return false;
  if (::CreateHardLinkW(to.c_str(), from.c_str(), nullptr)) return true;
  const DWORD code = ::GetLastError();
  if (IsTaken(code) || IsMissing(code)) return FailWith(code);
  // No hard links here (another volume, a file system without them): a copy, made only
  // where nothing stands yet.
  if (!::CopyFileW(from.c_str(), to.c_str(), TRUE)) return FailWithSystemError();
  return true;
}

// The data reach the disk before the copy takes the target's name.
bool FlushFile(const std::wstring& path) {
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return file.valid() && ::FlushFileBuffers(file.get());
}

// Copies a file's bytes into a new file beside the target, writes them through and renames
// it over the target, so the target is never seen half written; the source goes last.
bool CopyAcross(const std::wstring& from, const std::wstring& to) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::optional<std::wstring> partial = RandomSibling(to);
    if (!partial) return FailWith(ERROR_GEN_FAILURE);
    if (!::CopyFileW(from.c_str(), partial->c_str(), TRUE)) {
      if (IsTaken(::GetLastError())) continue;
      return FailWithSystemError();
    }
    ClaimedFile claim(Narrow(*partial));  // an interruption removes it until the rename
    if (!FlushFile(*partial) ||
        !::MoveFileExW(partial->c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      const DWORD code = ::GetLastError();
      claim.Remove();
      return FailWith(code);
    }
    DeleteFile(Narrow(from));
    return true;
  }
  return FailWith(ERROR_FILE_EXISTS);
}

// False only when the source and the target's folder are known to lie on two volumes.
bool OnOneVolume(const std::wstring& source, const std::wstring& target) {
  UniqueHandle file = OpenEntry(source, FILE_READ_ATTRIBUTES, kShareAll);
  UniqueHandle folder = OpenEntry(FolderOf(target), FILE_READ_ATTRIBUTES, kShareAll);
  BY_HANDLE_FILE_INFORMATION of_file{}, of_folder{};
  return !file.valid() || !folder.valid() || !::GetFileInformationByHandle(file.get(), &of_file) ||
         !::GetFileInformationByHandle(folder.get(), &of_folder) ||
         of_file.dwVolumeSerialNumber == of_folder.dwVolumeSerialNumber;
}

}  // namespace

bool CanOpenForAppend(const std::string& path, bool& created) {
  created = false;
  const std::wstring wide = Widen(path);
  int fd = -1;
  // Made here only when nothing stands at the path, a link to a missing file included.
  if (_wsopen_s(&fd, wide.c_str(), _O_WRONLY | _O_APPEND | _O_BINARY | _O_CREAT | _O_EXCL,
                _SH_DENYNO, _S_IREAD | _S_IWRITE) == 0) {
    // Wine creates a link's missing target here: that file is not the path's own.
    created = NamesEntryItself(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), wide);
    _close(fd);
    return true;
  }
  if (errno != EEXIST) return false;
  FILE* file = _wfsopen(wide.c_str(), L"ab", _SH_DENYNO);
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

bool MakePrivateDirectory(const std::string& path) {
  const std::wstring wide = Widen(path);
  if (::CreateDirectoryW(wide.c_str(), nullptr)) return true;
  if (::GetLastError() != ERROR_ALREADY_EXISTS) return FailWithSystemError();
  return AcceptExistingDirectory(wide);
}

bool RemoveTree(const std::string& path) {
  const std::wstring wide = Widen(path);
  const std::optional<std::wstring> folder = ResolvedFolderOf(wide);
  if (!folder) return IsMissing(static_cast<DWORD>(GetLastError()));
  return RemoveEntry(wide, *folder, NameOf(wide));
}

bool RemoveOwnTree(const std::string& path) {
  UniqueHandle root = OpenEntry(Widen(path), READ_CONTROL, kShareAll);
  if (!root.valid()) {
    const DWORD code = ::GetLastError();
    return IsMissing(code) || FailWith(code);
  }
  const std::optional<bool> own = OwnedByCurrentUser(root.get());
  if (!own) return false;
  if (!*own) return FailWith(kErrorFolderForeignOwner);
  root.Reset();
  return RemoveTree(path);
}

bool DeleteFile(const std::string& path) {
  const std::wstring wide = Widen(path);
  UniqueHandle entry = OpenEntry(wide, kRemoveAccess, kShareAll);
  if (!entry.valid()) return FailWithSystemError();
  if (!NamesEntryItself(entry.get(), wide)) return FailWith(ERROR_CANT_RESOLVE_FILENAME);
  const std::optional<DWORD> attributes = AttributesOf(entry.get());
  if (!attributes) return FailWithSystemError();
  if (IsFolderToEnter(*attributes)) return FailWith(ERROR_ACCESS_DENIED);
  return DeleteOpenEntry(entry.get());
}

bool MoveFileReplace(const std::string& from, const std::string& to) {
  const std::wstring source = Widen(from);
  const std::wstring target = Widen(to);
  // Across volumes the rename is not even tried: wine removes the target it would replace
  // before it finds that it cannot rename, and the target must stay until the copy is whole.
  if (!OnOneVolume(source, target)) return CopyAcross(source, target);
  if (::MoveFileExW(source.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  if (::GetLastError() != ERROR_NOT_SAME_DEVICE) return FailWithSystemError();
  return CopyAcross(source, target);
}

bool LinkOrCopy(const std::string& from, const std::string& to) {
  return LinkOrCopyWide(Widen(from), Widen(to));
}

bool ReplaceWithLinkOrCopy(const std::string& from, const std::string& to) {
  const std::wstring source = Widen(from);
  const std::wstring target = Widen(to);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::optional<std::wstring> temporary = RandomSibling(target);
    if (!temporary) return FailWith(ERROR_GEN_FAILURE);
    if (!LinkOrCopyWide(source, *temporary)) {
      if (IsTaken(static_cast<DWORD>(GetLastError()))) continue;
      return false;
    }
    ClaimedFile claim(Narrow(*temporary));  // an interruption removes it until the rename
    if (::MoveFileExW(temporary->c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      return true;
    }
    const DWORD code = ::GetLastError();
    claim.Remove();
    return FailWith(code);
  }
  return FailWith(ERROR_FILE_EXISTS);
}

}  // namespace platform
