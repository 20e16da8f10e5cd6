#include <optional>

#include "platform/file_entry_win.h"
#include "platform/last_error.h"
#include "platform/paths.h"
#include "platform/windows_win.h"

namespace platform {
namespace {

// The temporary folder's path is read with this limit, terminator included.
constexpr DWORD kTempPathLimit = MAX_PATH;

// Paths that differ only in case or separators name the same place on Windows: one spelling
// of them, with "/" and upper case, for comparisons.
std::string ComparisonKey(std::wstring path) {
  for (wchar_t& c : path) {
    if (c == L'\\') c = L'/';
  }
  std::wstring upper(path.size(), L'\0');
  const int length = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, path.data(),
                                     static_cast<int>(path.size()), upper.data(),
                                     static_cast<int>(upper.size()), nullptr, nullptr, 0);
  return Narrow(length > 0 ? upper.substr(0, static_cast<std::size_t>(length)) : path);
}

}  // namespace

bool FullPath(const std::string& typed, std::string& full) {
  if (typed.empty()) return FailWith(ERROR_INVALID_NAME);
  const std::wstring wide = Widen(typed);
  // Asked twice: for the length, then for the path. Should the current folder change in
  // between, the second answer is a larger length, and both are asked again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return FailWithSystemError();
    std::wstring buffer(needed, L'\0');
    const DWORD written = ::GetFullPathNameW(wide.c_str(), needed, buffer.data(), nullptr);
    if (written == 0) return FailWithSystemError();
    if (written < needed) {
      buffer.resize(written);
      full = Narrow(buffer);
      return true;
    }
  }
  return FailWith(ERROR_BUFFER_OVERFLOW);
}

std::string ResolvedLocation(const std::string& full) {
  const std::wstring wide = Widen(full);
  UniqueHandle folder(::CreateFileW(FolderOf(wide).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  std::optional<std::wstring> resolved;
  if (folder.valid()) resolved = FinalPath(folder.get());
  if (!resolved) return ComparisonKey(wide);
  if (resolved->back() != L'\\') *resolved += L'\\';
  return ComparisonKey(*resolved + NameOf(wide));
}

bool TempFolder(std::string& folder) {
  // GetTempPath2W (newer systems) gives a process of the system account a folder of its own
  // instead of the shared Windows\Temp; elsewhere it answers as GetTempPathW.
  using TempPathFunction = DWORD(WINAPI*)(DWORD, LPWSTR);
  static const auto get_temp_path = [] {
    const auto newer = reinterpret_cast<TempPathFunction>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32"), "GetTempPath2W")));
    return newer != nullptr ? newer : &::GetTempPathW;
  }();
  wchar_t buffer[kTempPathLimit];
  const DWORD length = get_temp_path(kTempPathLimit, buffer);
  if (length == 0) return FailWithSystemError();
  // A longer path does not fit: the answer is then the length it would need, and the
  // buffer holds nothing usable.
  if (length >= kTempPathLimit) return FailWith(ERROR_FILENAME_EXCED_RANGE);
  folder = Narrow(std::wstring_view(buffer, length));
  return true;
}

}  // namespace platform
