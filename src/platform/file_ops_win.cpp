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

#include "platform/entry_rules.h"
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

struct LocalFreeDeleter {
  void operator()(void* memory) const { ::LocalFree(memory); }
};

// Rights that change what a file holds or what a folder contains (FILE_WRITE_DATA and
// FILE_APPEND_DATA add files and folders to a folder, FILE_DELETE_CHILD removes them), that
// remove or rename the entry itself (DELETE), or that let the holder give itself any of them
// (WRITE_DAC, WRITE_OWNER). FILE_WRITE_ATTRIBUTES (times, the read-only flag) leaves the
// content alone and is not counted.
constexpr ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                     FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER |
                                     GENERIC_WRITE | GENERIC_ALL;

// The user's own SIDs, the system and the administrators, who can change anything anyway.
bool IsTrustedSid(PSID sid) {
  return ::IsWellKnownSid(sid, WinLocalSystemSid) ||
         ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsOwnSid(sid);
}

// Whether the access list lets anybody else write. No list at all lets everybody do anything;
// entries that only children inherit do not count, and denials are not weighed (an entry
// allowing write counts even when a denial would stop it: the answer errs towards "yes").
bool OthersMayWrite(PACL list) {
  if (list == nullptr) return true;
  for (DWORD i = 0; i < list->AceCount; ++i) {
    void* entry = nullptr;
    if (!::GetAce(list, i, &entry)) return true;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE &&
        header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) {
      continue;
    }
    // The callback form starts as the plain one: rights, then the SID.
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & kWriteRights) != 0 && !IsTrustedSid(&allowed->SidStart)) return true;
  }
  return false;
}

// What the trust rules need to know of an open entry; nothing (last error set) when the system
// cannot tell. The handle needs READ_CONTROL.
std::optional<EntryFacts> FactsOf(HANDLE entry) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(entry, &information)) {
    FailWithSystemError();
    return std::nullopt;
  }
  PSID owner = nullptr;
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD result = ::GetSecurityInfo(entry, SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         &owner, nullptr, &list, nullptr, &descriptor);
  if (result != ERROR_SUCCESS) {
    FailWith(result);
    return std::nullopt;
  }
  std::unique_ptr<void, LocalFreeDeleter> release(descriptor);
  const DWORD attributes = information.dwFileAttributes;
  EntryFacts facts;
  facts.kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? EntryFacts::Kind::kLink
               : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0   ? EntryFacts::Kind::kDirectory
               : ::GetFileType(entry) == FILE_TYPE_DISK         ? EntryFacts::Kind::kRegular
                                                                : EntryFacts::Kind::kOther;
  // A file system without owners (FAT) has nobody else's files either.
  facts.own = owner == nullptr || IsOwnSid(owner);
  facts.others_may_write = OthersMayWrite(list);
  facts.links = information.nNumberOfLinks;
  return facts;
}

// The access list of a folder only the current user may enter: full control for the user,
// the system and the administrators, handed down to everything made inside, and protected
// from what the folder above hands down.
class PrivateFolderSecurity {
 public:
  // false (last error set) when the user's SID or the list cannot be had.
  bool Build() {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    UniqueHandle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    user_.resize(size);
    if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, user_.data(), size, &size)) {
      return false;
    }
    PSID sids[3] = {reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid, system_,
                    administrators_};
    DWORD system_size = sizeof system_, administrators_size = sizeof administrators_;
    if (!::CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &system_size) ||
        !::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators_,
                              &administrators_size)) {
      return false;
    }
    DWORD list_size = sizeof(ACL);
    for (PSID sid : sids) list_size += sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid);
    list_.resize(list_size);
    auto* list = reinterpret_cast<PACL>(list_.data());
    if (!::InitializeAcl(list, list_size, ACL_REVISION)) return false;
    for (PSID sid : sids) {
      if (!::AddAccessAllowedAceEx(list, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                   FILE_ALL_ACCESS, sid)) {
        return false;
      }
    }
    return ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
           ::SetSecurityDescriptorDacl(&descriptor_, TRUE, list, FALSE) &&
           ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  }

  SECURITY_ATTRIBUTES Attributes() { return {sizeof(SECURITY_ATTRIBUTES), &descriptor_, FALSE}; }

 private:
  std::vector<unsigned char> user_;
  BYTE system_[SECURITY_MAX_SID_SIZE];
  BYTE administrators_[SECURITY_MAX_SID_SIZE];
  std::vector<unsigned char> list_;
  SECURITY_DESCRIPTOR descriptor_{};
};

// Checks an existing entry of a work or cache folder's name before it is reused.
bool AcceptExistingDirectory(const std::wstring& path) {
  UniqueHandle folder = OpenEntry(path, READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll);
  if (!folder.valid()) return FailWithSystemError();
  std::optional<EntryFacts> facts = FactsOf(folder.get());
  if (!facts) return false;
  // Wine shows a Unix link as a reparse point only when asked by path, and opens its target.
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if ((attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) ||
      !NamesEntryItself(folder.get(), path)) {
    facts->kind = EntryFacts::Kind::kLink;
  }
  if (const std::uint32_t refusal = ExistingFolderRefusal(*facts)) return FailWith(refusal);
  return true;
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

// Copies the open file from its start into a new file at `to`, made here (never over an
// existing entry, never through a link) and claimed before the first byte is written, so that
// an interruption removes a partial copy; the data reach the disk before this returns. The
// claim stays with the caller until the copy has its final name. On failure the partial copy
// is removed and the last error tells why.
bool CopyOpenFile(HANDLE source, const std::wstring& to, std::optional<ClaimedFile>& claim) {
  UniqueHandle copy(::CreateFileW(to.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!copy.valid()) {
    // A name taken fails with the code that a hard link to it gives.
    const DWORD code = ::GetLastError();
    return FailWith(IsTaken(code) ? ERROR_ALREADY_EXISTS : code);
  }
  claim.emplace(Narrow(to));
  // The claim is taken by name: it must have found this file, or an interruption would remove
  // whatever took the name meanwhile.
  if (!PathNamesOpenFile(to, copy.get())) {
    claim.reset();
    return FailWith(ERROR_CANT_RESOLVE_FILENAME);
  }
  std::vector<char> buffer(1 << 20);
  LARGE_INTEGER start{};
  bool copied = ::SetFilePointerEx(source, start, nullptr, FILE_BEGIN);
  for (DWORD read = 1; copied && read != 0;) {
    DWORD written = 0;
    copied = ::ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) &&
             ::WriteFile(copy.get(), buffer.data(), read, &written, nullptr);
    if (copied && written != read) {
      ::SetLastError(ERROR_WRITE_FAULT);
      copied = false;
    }
  }
  if (copied && ::FlushFileBuffers(copy.get())) return true;
  const DWORD code = ::GetLastError();
  copy.Reset();
  claim->Remove();
  claim.reset();
  return FailWith(code);
}

bool LinkOrCopyWide(const std::wstring& from, const std::wstring& to,
                    std::optional<ClaimedFile>& claim) {
  UniqueHandle source = OpenRegularFile(from);
  if (!source.valid()) return false;
  const std::optional<EntryFacts> facts = FactsOf(source.get());
  if (!facts) return false;
  if (MayShareByLink(*facts)) {
    if (::CreateHardLinkW(to.c_str(), from.c_str(), nullptr)) {
      claim.emplace(Narrow(to));
      if (PathNamesOpenFile(to, source.get())) return true;
      // Another file took the name after the check: the link to it goes, the checked file is
      // copied.
      claim.reset();
      DeleteFile(Narrow(to));
    } else {
      const DWORD code = ::GetLastError();
      if (IsTaken(code) || IsMissing(code)) return FailWith(code);
      // No hard links here (another volume, a file system without them): a copy.
    }
  }
  return CopyOpenFile(source.get(), to, claim);
}

// Copies a file's bytes into a new file beside the target, writes them through and renames
// it over the target, so the target is never seen half written; the source goes last.
bool CopyAcross(const std::wstring& from, const std::wstring& to) {
  UniqueHandle source = OpenRegularFile(from);
  if (!source.valid()) return false;
  return WithFreshSibling(Narrow(to), [&](const std::string& name) {
    const std::wstring partial = Widen(name);
    std::optional<ClaimedFile> claim;  // an interruption removes the copy until the rename
    if (!CopyOpenFile(source.get(), partial, claim)) return false;
    if (!::MoveFileExW(partial.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      const DWORD code = ::GetLastError();
      claim->Remove();
      return FailWith(code);
    }
    source.Reset();
    DeleteFile(Narrow(from));
    return true;
  });
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
  PrivateFolderSecurity security;
  if (!security.Build()) return FailWithSystemError();
  SECURITY_ATTRIBUTES attributes = security.Attributes();
  if (::CreateDirectoryW(wide.c_str(), &attributes)) return true;
  if (::GetLastError() != ERROR_ALREADY_EXISTS) return FailWithSystemError();
  return AcceptExistingDirectory(wide);
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

std::optional<std::string> RandomSibling(const std::string& to) {
  std::optional<std::wstring> sibling = RandomSiblingOf(Widen(to));
  if (!sibling) {
    FailWith(ERROR_GEN_FAILURE);
    return std::nullopt;
  }
  return Narrow(*sibling);
}

bool IsNameTaken(std::uint32_t code) { return IsTaken(code); }

bool RenameOver(const std::string& from, const std::string& to) {
  return ::MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), MOVEFILE_REPLACE_EXISTING) ||
         FailWithSystemError();
}

bool LinkOrCopyClaimed(const std::string& from, const std::string& to,
                       std::optional<ClaimedFile>& claim) {
  return LinkOrCopyWide(Widen(from), Widen(to), claim);
}

}  // namespace platform
