// Clean-up when the user interrupts a run on Windows. Ctrl+C, Ctrl+Break and the closing of
// the console window reach the process as console events on a thread of their own while the
// main thread goes on. The handler first freezes the main thread, so that nothing writes into
// the work folder any more, then stops the running child, closes the files the frozen thread
// held open (Windows keeps the name of an open file), removes the claimed files, the work
// folder and the lock file, and ends the process with the status of an interrupted console
// program (0xC000013A).
//
// While the main thread is frozen it may hold any lock of the C runtime, so the handler makes
// no C runtime call that allocates or locks, and keeps its paths in fixed buffers; the process
// heaps are locked around the freeze, so the system calls (which allocate from them) cannot
// wait on the frozen thread.
#include "platform/interrupt_win.h"

#include <cstring>
#include <iterator>
#include <span>
#include <string>
#include <string_view>

#include "platform/file_entry_win.h"
#include "platform/interrupt.h"
#include "platform/windows_win.h"

namespace platform {
namespace {

constexpr std::size_t kPathMax = 32768;  // the longest path Windows knows, in UTF-16 units

// Guards everything below between the main thread and the handler's thread.
SRWLOCK state_lock = SRWLOCK_INIT;
bool cleanup_active = false;
char cleanup_folder[kPathMax * 3];  // UTF-8
wchar_t cleanup_lock[kPathMax];
HANDLE main_thread = nullptr;
HANDLE worker_threads[4] = {};
HANDLE child_process = nullptr;

// A file's identity: the volume and the file's number on it.
struct FileId {
  DWORD volume;
  DWORD index_high;
  DWORD index_low;
};

// A claimed file: its path and the identity it had when claimed.
struct FileSlot {
  wchar_t path[kPathMax];
  FileId id;
  bool used;
};
FileSlot claimed_files[4];

// The tree being removed, as a path of the "\\?\" form (no length limit), and the same entry's
// path as the system resolves it: an entry that opens as another path than that is a link the
// system followed. Not reentrant.
wchar_t tree[kPathMax + 8];
wchar_t resolved[kPathMax + 8];
wchar_t final_path[kPathMax + 8];  // the system's answer, compared with `resolved`
WIN32_FIND_DATAW found;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The entry itself, a link included, never what a link points to.
constexpr DWORD kOpenEntry = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;

bool IdOfOpenFile(HANDLE file, FileId& id) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!::GetFileInformationByHandle(file, &information)) return false;
  id = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
  return true;
}

bool IdOfPath(const wchar_t* path, FileId& id) {
  HANDLE file = ::CreateFileW(path, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                              kOpenEntry, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool known = IdOfOpenFile(file, id);
  ::CloseHandle(file);
  return known;
}

// Deletes the file the slot names if it is still the file that was claimed; the check and the
// deletion go through one handle, so nothing can take the name in between.
void RemoveIfStillClaimed(const FileSlot& slot) {
  HANDLE file = ::CreateFileW(slot.path, DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                              OPEN_EXISTING, kOpenEntry, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  FileId id;
  if (IdOfOpenFile(file, id) && id.volume == slot.id.volume &&
      id.index_high == slot.id.index_high && id.index_low == slot.id.index_low) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
  }
  ::CloseHandle(file);
}

void Freeze(HANDLE thread) {
  if (thread == nullptr) return;
  ::SuspendThread(thread);
  // SuspendThread only asks; reading the context returns once the thread has stopped.
  CONTEXT context{};
  context.ContextFlags = CONTEXT_CONTROL;
  ::GetThreadContext(thread, &context);
}

// Stops the main thread and the worker threads where they are. The heaps are locked
// meanwhile, so none can stop inside an allocation and leave a heap locked for the handler's
// system calls.
void FreezeRunThreads() {
  HANDLE heaps[128];
  DWORD count = ::GetProcessHeaps(static_cast<DWORD>(std::size(heaps)), heaps);
  if (count > std::size(heaps)) count = 0;
  bool locked[std::size(heaps)] = {};
  for (DWORD i = 0; i < count; ++i) locked[i] = ::HeapLock(heaps[i]);
  Freeze(main_thread);
  for (HANDLE worker : worker_threads) Freeze(worker);
  for (DWORD i = 0; i < count; ++i) {
    if (locked[i]) ::HeapUnlock(heaps[i]);
  }
}

void StopChild() {
  if (child_process == nullptr) return;
  ::TerminateProcess(child_process, STATUS_CONTROL_C_EXIT);
  ::WaitForSingleObject(child_process, 5000);
}

bool IsStandardHandle(HANDLE handle) {
  for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    if (handle == ::GetStdHandle(which)) return true;
  }
  return false;
}

// Closes every disk file the process holds open but the standard streams: the frozen main
// thread never runs again, and its open files could neither be deleted nor leave their folder
// removable. Handle values are multiples of 4; the count says when all have been seen (wine
// gives none: then the first 16384 values, far more than a process of ours holds).
void CloseOpenFiles() {
  DWORD count = 0;
  if (!::GetProcessHandleCount(::GetCurrentProcess(), &count) || count == 0) count = 1 << 14;
  DWORD seen = 0;
  for (ULONG_PTR value = 4; value <= (1u << 16) && seen < count; value += 4) {
    HANDLE handle = reinterpret_cast<HANDLE>(value);
    DWORD flags = 0;
    if (!::GetHandleInformation(handle, &flags)) continue;
    ++seen;
    if ((flags & HANDLE_FLAG_PROTECT_FROM_CLOSE) != 0 || IsStandardHandle(handle)) continue;
    if (::GetFileType(handle) == FILE_TYPE_DISK) ::CloseHandle(handle);
  }
}

bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Opens the entry `tree` names as itself; invalid when it cannot be opened or when it opens as
// another path than `resolved` (of `resolved_length`): where the system opens a link's target
// in place of the link (wine does for the Unix links it shows, deleting the target of a file
// link and an empty target folder), neither the link nor what it points to is touched.
HANDLE OpenEntryItself(DWORD access, std::size_t resolved_length) {
  HANDLE entry = ::CreateFileW(tree, access | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                               OPEN_EXISTING, kOpenEntry, nullptr);
  if (entry == INVALID_HANDLE_VALUE) return entry;
  if (HasFinalPath(entry, std::wstring_view(resolved, resolved_length), final_path)) return entry;
  ::CloseHandle(entry);
  return INVALID_HANDLE_VALUE;
}

bool EmptyFolder(std::size_t length, std::size_t resolved_length);

// Removes the entry `tree` names, resolved as `resolved`: a file, a folder after its content,
// or a link as the link itself, never entered. A folder is checked before it is entered and
// again through the handle that deletes it.
bool RemoveEntry(std::size_t length, std::size_t resolved_length) {
  HANDLE entry = OpenEntryItself(0, resolved_length);
  if (entry == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  const bool known = ::GetFileInformationByHandle(entry, &information);
  // The handle that deletes comes after the content: FindFirstFileW could not open a folder
  // held open with delete access.
  ::CloseHandle(entry);
  if (!known) return false;
  bool emptied = true;
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    emptied = EmptyFolder(length, resolved_length);
  }
  entry = OpenEntryItself(DELETE | FILE_WRITE_ATTRIBUTES, resolved_length);
  if (entry == INVALID_HANDLE_VALUE) return false;
  if (::GetFileInformationByHandle(entry, &information) &&
      (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    FILE_BASIC_INFO basic{};  // times left at zero stay as they are
    basic.FileAttributes = information.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic);
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  const bool removed =
      ::SetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof disposition);
  ::CloseHandle(entry);
  return removed && emptied;
}

// Appends "\" and `name` to the path in `buffer` of `length`; the new length, 0 when it does
// not fit.
std::size_t Append(wchar_t* buffer, std::size_t length, const wchar_t* name,
                   std::size_t name_length) {
  if (length + 1 + name_length >= kPathMax) return 0;
  if (length == 0 || buffer[length - 1] != L'\\') buffer[length++] = L'\\';
  std::wmemcpy(buffer + length, name, name_length + 1);
  return length + name_length;
}

// Empties the folder that tree[0, length) names, resolved as resolved[0, resolved_length),
// depth first.
bool EmptyFolder(std::size_t length, std::size_t resolved_length) {
  if (length + 3 > kPathMax) return false;
  std::wmemcpy(tree + length, L"\\*", 3);
  HANDLE find = ::FindFirstFileW(tree, &found);
  tree[length] = L'\0';
  if (find == INVALID_HANDLE_VALUE) return false;
  bool complete = true;
  do {
    if (IsDotOrDotDot(found.cFileName)) continue;
    const std::size_t name_length = std::wcslen(found.cFileName);
    const std::size_t entry_length = Append(tree, length, found.cFileName, name_length);
    const std::size_t entry_resolved =
        entry_length == 0 ? 0 : Append(resolved, resolved_length, found.cFileName, name_length);
    complete = entry_resolved != 0 && RemoveEntry(entry_length, entry_resolved) && complete;
    tree[length] = L'\0';
    resolved[resolved_length] = L'\0';
  } while (::FindNextFileW(find, &found));
  ::FindClose(find);
  return complete;
}

// Puts the full path of the UTF-8 `path` into `tree` in the "\\?\" form; its length, 0 when
// it does not fit.
std::size_t SetTreePath(const char* path) {
  static wchar_t given[kPathMax];
  if (::MultiByteToWideChar(CP_UTF8, 0, path, -1, given, kPathMax) == 0) return 0;
  DWORD length = ::GetFullPathNameW(given, kPathMax, tree + 8, nullptr);
  if (length == 0 || length >= kPathMax) return 0;
  const wchar_t* full = tree + 8;
  if (std::wcsncmp(full, L"\\\\?\\", 4) == 0) {
    std::wmemmove(tree, full, length + 1);
    return length;
  }
  if (std::wcsncmp(full, L"\\\\", 2) == 0) {  // \\server\share\... becomes \\?\UNC\server\...
    std::wmemmove(tree + 8, full + 2, length - 1);
    std::wmemcpy(tree, L"\\\\?\\UNC\\", 8);
    return length + 6;
  }
  std::wmemmove(tree + 4, full, length + 1);
  std::wmemcpy(tree, L"\\\\?\\", 4);
  return length + 4;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  // A second event waits here until the first has ended the process.
  ::AcquireSRWLockExclusive(&state_lock);
  if (!cleanup_active) {  // the clean-up ended meanwhile: the system's own handling
    ::ReleaseSRWLockExclusive(&state_lock);
    return FALSE;
  }
  FreezeRunThreads();
  StopChild();
  CloseOpenFiles();
  for (const FileSlot& slot : claimed_files) {
    if (slot.used) RemoveIfStillClaimed(slot);
  }
  if (cleanup_folder[0] != '\0') RemoveTreeSignalSafe(cleanup_folder);
  if (cleanup_lock[0] != L'\0') ::DeleteFileW(cleanup_lock);
  // Not ExitProcess: that would run the libraries' shutdown code, which may wait for a lock
  // the frozen thread holds.
  ::TerminateProcess(::GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return TRUE;
}

template <std::size_t N>
void CopyText(char (&target)[N], const std::string& text) {
  std::size_t length = text.size() < N ? text.size() : 0;
  std::memcpy(target, text.data(), length);
  target[length] = '\0';
}

template <std::size_t N>
void CopyText(wchar_t (&target)[N], const std::wstring& text) {
  std::size_t length = text.size() < N ? text.size() : 0;
  std::wmemcpy(target, text.data(), length);
  target[length] = L'\0';
}

}  // namespace

InterruptsHeld::InterruptsHeld() { ::AcquireSRWLockExclusive(&state_lock); }

InterruptsHeld::~InterruptsHeld() { ::ReleaseSRWLockExclusive(&state_lock); }

void SetInterruptibleChild(HANDLE process) { child_process = process; }

InterruptCleanup::InterruptCleanup(const std::string& folder, const std::string& lock_file) {
  {
    InterruptsHeld held;
    CopyText(cleanup_folder, folder);
    CopyText(cleanup_lock, Widen(lock_file));
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                      &main_thread, THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, 0);
    cleanup_active = true;
  }
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

InterruptCleanup::~InterruptCleanup() {
  ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  InterruptsHeld held;
  cleanup_active = false;
  cleanup_folder[0] = '\0';
  cleanup_lock[0] = L'\0';
  if (main_thread != nullptr) ::CloseHandle(main_thread);
  main_thread = nullptr;
}

WorkerThread::WorkerThread() {
  InterruptsHeld held;
  for (int i = 0; i < static_cast<int>(std::size(worker_threads)); ++i) {
    if (worker_threads[i] != nullptr) continue;
    if (::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                          &worker_threads[i], THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE,
                          0)) {
      slot_ = i;
    }
    return;
  }
}

WorkerThread::~WorkerThread() {
  if (slot_ < 0) return;
  InterruptsHeld held;
  ::CloseHandle(worker_threads[slot_]);
  worker_threads[slot_] = nullptr;
}

ClaimedFile::ClaimedFile(const std::string& path) {
  const std::wstring wide = Widen(path);
  FileId id;
  if (wide.size() >= kPathMax || !IdOfPath(wide.c_str(), id)) return;
  InterruptsHeld held;
  for (int i = 0; i < static_cast<int>(std::size(claimed_files)); ++i) {
    FileSlot& slot = claimed_files[i];
    if (slot.used) continue;
    CopyText(slot.path, wide);
    slot.id = id;
    slot.used = true;
    slot_ = i;
    return;
  }
}

ClaimedFile::~ClaimedFile() {
  if (slot_ < 0) return;
  InterruptsHeld held;
  claimed_files[slot_].used = false;
}

void ClaimedFile::Remove() {
  if (slot_ < 0) return;
  InterruptsHeld held;
  RemoveIfStillClaimed(claimed_files[slot_]);
  claimed_files[slot_].used = false;
  slot_ = -1;
}

// Writing to a pipe whose reader went away fails with ERROR_NO_DATA on Windows; there is no
// signal that ends the process, so nothing needs to change.
void IgnoreBrokenPipe() {}

bool RemoveTreeSignalSafe(const char* path) {
  std::size_t length = SetTreePath(path);
  if (length == 0) return false;
  while (length > 7 && tree[length - 1] == L'\\' && tree[length - 2] != L':') tree[--length] = 0;
  if (::GetFileAttributesW(tree) == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  // The tree's own entry is checked like every other: the resolved path of the folder that
  // holds it, and its name.
  std::size_t separator = length;
  while (separator > 0 && tree[separator - 1] != L'\\') --separator;
  if (separator == 0 || separator == length) return false;
  // The folder without its last separator, but for a drive's root ("\\?\C:\").
  const std::size_t end = tree[separator - 2] == L':' ? separator : separator - 1;
  const wchar_t kept = tree[end];
  tree[end] = L'\0';
  HANDLE folder = ::CreateFileW(tree, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  tree[end] = kept;
  if (folder == INVALID_HANDLE_VALUE) return false;
  std::size_t resolved_length = FinalPathInto(folder, std::span(resolved, kPathMax));
  ::CloseHandle(folder);
  if (resolved_length == 0) return false;
  resolved_length = Append(resolved, resolved_length, tree + separator, length - separator);
  return resolved_length != 0 && RemoveEntry(length, resolved_length);
}

}  // namespace platform
