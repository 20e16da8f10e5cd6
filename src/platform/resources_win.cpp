#include <cwchar>
#include <vector>

#include "platform/resources.h"
#include "platform/windows_win.h"

namespace platform {
namespace {

constexpr DWORD kPathLimit = 260;  // the buffer the banner's path is read into

// The sub-block of one string value: language 0x0009, code page 0x04B0 (UTF-16).
std::wstring VersionValuePath(std::string_view name) {
  return L"\\StringFileInfo\\000904b0\\" + Widen(name);
}

}  // namespace

std::optional<std::string_view> FindResource(std::string_view type, int id) {
  const std::wstring type_name = Widen(type);
  HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(id), type_name.c_str());
  HGLOBAL loaded = found != nullptr ? ::LoadResource(nullptr, found) : nullptr;
  const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (bytes == nullptr) {
    FailWithSystemError();
    return std::nullopt;
  }
  // The module's image stays mapped for the life of the process.
  return std::string_view(static_cast<const char*>(bytes), ::SizeofResource(nullptr, found));
}

std::optional<std::string> VersionString(std::string_view name) {
  wchar_t path[kPathLimit];
  DWORD length = ::GetModuleFileNameW(nullptr, path, kPathLimit);
  if (length == 0 || length == kPathLimit) return std::nullopt;  // none, or perhaps cut
  DWORD unused = 0;
  DWORD size = ::GetFileVersionInfoSizeW(path, &unused);
  if (size == 0) return std::nullopt;
  std::vector<unsigned char> information(size);
  if (!::GetFileVersionInfoW(path, 0, size, information.data())) return std::nullopt;
  void* value = nullptr;
  UINT characters = 0;
  if (!::VerQueryValueW(information.data(), VersionValuePath(name).c_str(), &value, &characters) ||
      value == nullptr) {
    return std::nullopt;
  }
  const wchar_t* text = static_cast<const wchar_t*>(value);
  return Narrow(std::wstring_view(text, wcsnlen(text, characters)));
}

}  // namespace platform
