// Directory entries on Windows opened as themselves, never through a link: the checks that
// tree removal, the copies beside a target and the folder lock share.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/windows_win.h"

namespace platform {

// Sets the platform's last error to a Win32 code and returns false, for failure paths.
bool FailWith(DWORD code);

// Opens the entry that the path names: a symbolic link or junction is opened as itself, a
// folder may be opened too. The handle is invalid (::GetLastError says why) on failure.
UniqueHandle OpenEntry(const std::wstring& path, DWORD access, DWORD share);

// The path's folder part and last component, split at its last separator ("\" or "/").
// Trailing separators are dropped first; a path without a folder part has the folder ".".
std::wstring FolderOf(const std::wstring& path);
std::wstring NameOf(const std::wstring& path);

// The full path of an open file as the system resolves it, without the "\\?\" prefix.
std::optional<std::wstring> FinalPath(HANDLE handle);

// FinalPath written into `buffer`, terminated, allocating nothing: its length, 0 on failure
// (::GetLastError says why; ERROR_INSUFFICIENT_BUFFER when the buffer is too small).
std::size_t FinalPathInto(HANDLE handle, std::span<wchar_t> buffer);

// True when the open entry resolves to `expected` (compared as the file system does, ignoring
// case), with `buffer` as room for the system's answer: the form of IsEntryOf for code that
// must not allocate. A buffer of expected's length plus 9 is always enough.
bool HasFinalPath(HANDLE entry, std::wstring_view expected, std::span<wchar_t> buffer);

// True when the open entry is the one named `name` in the folder whose resolved path is
// `folder`: a system that opens a link's target in place of the link (wine does, for the
// Unix links it shows) hands out a file of another path, which this tells apart.
bool IsEntryOf(HANDLE entry, const std::wstring& folder, const std::wstring& name);

// IsEntryOf for the entry at `path`, its folder resolved first. false (last error set) when
// the folder cannot be resolved.
bool NamesEntryItself(HANDLE entry, const std::wstring& path);

// True when the path (a link not followed) still names the file open as `handle`.
bool PathNamesOpenFile(const std::wstring& path, HANDLE handle);

// True for the token's user and for the owner the token gives to what it creates (the
// Administrators group for an elevated administrator): either may own what this user made.
bool IsOwnSid(PSID sid);

// Whether the open entry (opened with READ_CONTROL) belongs to the current user: its owner is
// one of IsOwnSid. A file system without owners (FAT) has nobody else's files either. Nothing,
// with the last error set, when the system cannot tell.
std::optional<bool> OwnedByCurrentUser(HANDLE handle);

// A name beside `path` that nobody can predict, ".<name>.<16 random hex digits>"; nothing
// when the system has no random numbers to give.
std::optional<std::wstring> RandomSiblingOf(const std::wstring& path);

}  // namespace platform
