// rand_s is declared only on request, before the runtime's headers come in.
#define _CRT_RAND_S
#include "platform/file_entry_win.h"
// After windows.h, whose types it uses.
#include <aclapi.h>
#include <stdlib.h>

#include <cwchar>
#include <vector>

#include "platform/last_error.h"

namespace platform {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring WithoutTrailingSeparators(std::wstring path) {
  while (path.size() > 1 && IsSeparator(path.back()) && path[path.size() - 2] != L':') {
    path.pop_back();
  }
  return path;
}

bool SameText(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

bool FailWith(DWORD code) {
  SetLastError(static_cast<std::uint32_t>(code));
  return false;
}

UniqueHandle OpenEntry(const std::wstring& path, DWORD access, DWORD share) {
  return UniqueHandle(::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
}

std::wstring FolderOf(const std::wstring& path) {
  const std::wstring trimmed = WithoutTrailingSeparators(path);
  const std::size_t last = trimmed.find_last_of(L"\\/");
  if (last == std::wstring::npos) return L".";
  std::wstring folder = trimmed.substr(0, last == 0 ? 1 : last);
  if (folder.back() == L':') folder += L'\\';  // "C:" alone is the drive's current folder
  return folder;
}

std::wstring NameOf(const std::wstring& path) {
  const std::wstring trimmed = WithoutTrailingSeparators(path);
  const std::size_t last = trimmed.find_last_of(L"\\/");
  return last == std::wstring::npos ? trimmed : trimmed.substr(last + 1);
}

std::size_t FinalPathInto(HANDLE handle, std::span<wchar_t> buffer) {
  const DWORD length = ::GetFinalPathNameByHandleW(
      handle, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
  if (length == 0) return 0;
  if (length >= buffer.size()) {  // the length asked for includes the terminator
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  const std::wstring_view path(buffer.data(), length);
  if (path.starts_with(L"\\\\?\\UNC\\")) {  // \\?\UNC\server\... is \\server\...
    std::wmemmove(buffer.data() + 2, buffer.data() + 8, length - 7);
    return length - 6;
  }
  if (path.starts_with(L"\\\\?\\")) {
    std::wmemmove(buffer.data(), buffer.data() + 4, length - 3);
    return length - 4;
  }
  return length;
}

std::optional<std::wstring> FinalPath(HANDLE handle) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const std::size_t length = FinalPathInto(handle, buffer);
    if (length != 0) {
      buffer.resize(length);
      return buffer;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || buffer.size() > 65536) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
}

bool HasFinalPath(HANDLE entry, std::wstring_view expected, std::span<wchar_t> buffer) {
  const std::size_t length = FinalPathInto(entry, buffer);
  return length != 0 && SameText(std::wstring_view(buffer.data(), length), expected);
}

bool IsEntryOf(HANDLE entry, const std::wstring& folder, const std::wstring& name) {
  std::wstring expected = folder;
  if (!IsSeparator(expected.back())) expected += L'\\';
  expected += name;
  std::wstring buffer(expected.size() + 9, L'\0');
  return HasFinalPath(entry, expected, buffer);
}

bool NamesEntryItself(HANDLE entry, const std::wstring& path) {
  UniqueHandle folder(::CreateFileW(FolderOf(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder.valid()) return FailWithSystemError();
  const std::optional<std::wstring> folder_path = FinalPath(folder.get());
  if (!folder_path) return FailWithSystemError();
  return IsEntryOf(entry, *folder_path, NameOf(path));
}

bool PathNamesOpenFile(const std::wstring& path, HANDLE handle) {
  UniqueHandle named =
      OpenEntry(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  BY_HANDLE_FILE_INFORMATION by_path{}, by_handle{};
  return named.valid() && ::GetFileInformationByHandle(named.get(), &by_path) &&
         ::GetFileInformationByHandle(handle, &by_handle) &&
         by_path.dwVolumeSerialNumber == by_handle.dwVolumeSerialNumber &&
         by_path.nFileIndexHigh == by_handle.nFileIndexHigh &&
         by_path.nFileIndexLow == by_handle.nFileIndexLow;
}

bool IsOwnSid(PSID sid) {
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
    PSID own = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                 : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
    if (::EqualSid(sid, own)) return true;
  }
  return false;
}

std::optional<bool> OwnedByCurrentUser(HANDLE handle) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD result = ::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                         nullptr, nullptr, nullptr, &descriptor);
  if (result != ERROR_SUCCESS) {
    FailWith(result);
    return std::nullopt;
  }
  const bool own = owner == nullptr || IsOwnSid(owner);
  ::LocalFree(descriptor);
  return own;
}

std::optional<std::wstring> RandomSiblingOf(const std::wstring& path) {
  unsigned int high = 0, low = 0;
  if (rand_s(&high) != 0 || rand_s(&low) != 0) return std::nullopt;
  wchar_t suffix[17];
  std::swprintf(suffix, 17, L"%08x%08x", high, low);
  const std::wstring trimmed = WithoutTrailingSeparators(path);
  const std::size_t last = trimmed.find_last_of(L"\\/");
  const std::size_t name_start = last == std::wstring::npos ? 0 : last + 1;
  return trimmed.substr(0, name_start) + L"." + trimmed.substr(name_start) + L"." + suffix;
}

}  // namespace platform
