// WinINet implementation; the local file is written with CreateFileW and WriteFile.
#include <chrono>
#include <cstdint>
#include <cwchar>
#include <iterator>
#include <memory>
#include <string>

#include "download/download_file.h"
#include "download/transfer_error.h"
#include "download/transfer_limits.h"
#include "download/transfer_stop.h"
#include "platform/error_text.h"
#include "platform/last_error.h"
#include "platform/windows_win.h"
// After windows.h, whose types it uses.
#include <wininet.h>

namespace {

// Passive FTP, and never an answer from the cache: the retry after a failed check must
// really download again. Redirections are followed here, not by the internet client, which
// (under wine) follows a redirection loop for ever.
constexpr DWORD kOpenFlags =
    INTERNET_FLAG_PASSIVE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT;
constexpr int kMaxRedirects = 10;

// Closes an internet handle when it goes; Close() does it early and leaves nothing for later.
class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() { Close(); }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;

  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void Close() { Reset(nullptr); }
  void Reset(HINTERNET handle) {
    if (handle_ != nullptr) ::InternetCloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HINTERNET handle_;
};

// Connecting, sending and every wait for data are bounded by the transfer time-out; the
// handles opened from the root inherit them. (wine keeps only the connect time-out: under
// wine a server that stops sending altogether holds the read.)
void SetTimeouts(HINTERNET root) {
  DWORD milliseconds = static_cast<DWORD>(TransferTimeoutSeconds() * 1000);
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    ::InternetSetOptionW(root, option, &milliseconds, sizeof milliseconds);
  }
}

// The code for a URL that could not be opened. An FTP server's "550" (no such file) comes
// back as the server's own answer; it is the FTP form of a 404.
std::uint32_t OpenFailureCode(DWORD error) {
  if (error == ERROR_INTERNET_EXTENDED_ERROR) {
    DWORD server_code = 0;
    wchar_t text[512];
    DWORD length = static_cast<DWORD>(std::size(text));
    if (::InternetGetLastResponseInfoW(&server_code, text, &length) && length >= 3 &&
        std::wcsncmp(text, L"550", 3) == 0) {
      return platform::kErrorInternetItemNotFound;
    }
  }
  return error;
}

// What the server answered to the last request, after redirections.
struct Answer {
  DWORD kind = 0;  // INTERNET_HANDLE_TYPE_..., 0 when it cannot be told
  bool has_status = false;
  DWORD status = 0;
  bool too_many_redirects = false;
};

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Where a redirection points, resolved against the URL asked for; empty when it says nowhere.
std::wstring RedirectTarget(HINTERNET request, const std::wstring& from) {
  std::wstring location(INTERNET_MAX_URL_LENGTH, L'\0');
  DWORD size = static_cast<DWORD>(location.size() * sizeof(wchar_t));
  if (!::HttpQueryInfoW(request, HTTP_QUERY_LOCATION, location.data(), &size, nullptr)) return {};
  location.resize(size / sizeof(wchar_t));
  std::wstring target(INTERNET_MAX_URL_LENGTH + location.size(), L'\0');
  DWORD length = static_cast<DWORD>(target.size());
  if (!::InternetCombineUrlW(from.c_str(), location.c_str(), target.data(), &length,
                             ICU_NO_ENCODE)) {
    return {};
  }
  target.resize(length);
  return target;
}

// Opens `url` into `request`, following up to kMaxRedirects redirections, and tells what
// was answered. false, with the reason in the platform's last error, when the URL cannot be
// opened at all.
bool Open(HINTERNET root, const std::string& url, InternetHandle& request, Answer& answer) {
  std::wstring current = platform::Widen(url);
  for (int redirects = 0;; ++redirects) {
    HINTERNET opened = ::InternetOpenUrlW(root, current.c_str(), nullptr, 0, kOpenFlags, 0);
    // The reason is read before the previous request (a redirection) is closed, which would
    // leave a code of its own.
    const std::uint32_t failure = opened == nullptr ? OpenFailureCode(::GetLastError()) : 0;
    request.Reset(opened);
    if (!request) {
      platform::SetLastError(failure);
      return false;
    }
    answer = {};
    DWORD size = sizeof answer.kind;
    if (!::InternetQueryOptionW(request.get(), INTERNET_OPTION_HANDLE_TYPE, &answer.kind, &size)) {
      answer.kind = 0;
    }
    if (answer.kind != INTERNET_HANDLE_TYPE_HTTP_REQUEST) return true;
    size = sizeof answer.status;
    answer.has_status =
        ::HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                         &answer.status, &size, nullptr);
    if (!answer.has_status || !IsRedirect(answer.status)) return true;
    std::wstring target = RedirectTarget(request.get(), current);
    if (target.empty()) return true;
    if (redirects == kMaxRedirects) {
      answer.too_many_redirects = true;
      return true;
    }
    current = std::move(target);
  }
}

// The body length the server announced, 0 when it sent none. Read as text, so that a
// length beyond 4 GiB is taken whole.
std::uint64_t ContentLength(HINTERNET request) {
  wchar_t text[32];
  DWORD size = sizeof text;
  if (!::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return 0;
  wchar_t* end = nullptr;
  unsigned long long length = std::wcstoull(text, &end, 10);
  return end != text && *end == L'\0' ? length : 0;
}

// Fills chunks from the body. Data are taken as they arrive, so that a body trickling in
// below kLowSpeedBytesPerSecond for a whole time-out is noticed; a server that sends
// nothing at all is caught by the receive time-out.
class BodyReader {
 public:
  explicit BodyReader(HINTERNET request)
      : request_(request),
        timeout_(std::chrono::seconds(TransferTimeoutSeconds())),
        window_start_(Clock::now()) {}

  // Reads until `size` bytes are in or the body ends (*filled 0 at the end). false, with
  // the reason in the platform's last error, when a read fails or the body stalls.
  bool Fill(char* buffer, DWORD size, DWORD* filled) {
    *filled = 0;
    while (*filled < size) {
      DWORD available = 0;
      if (!::InternetQueryDataAvailable(request_, &available, 0, 0)) {
        return platform::FailWithSystemError();
      }
      DWORD wanted = size - *filled;
      if (available != 0 && available < wanted) wanted = available;
      DWORD read = 0;
      if (!::InternetReadFile(request_, buffer + *filled, wanted, &read)) {
        return platform::FailWithSystemError();
      }
      if (read == 0) break;
      *filled += read;
      if (!KeepsPace(read)) {
        platform::SetLastError(platform::kErrorInternetTimeout);
        return false;
      }
    }
    return true;
  }

 private:
  using Clock = std::chrono::steady_clock;

  // false when a whole time-out has passed with fewer bytes than the lowest rate allows.
  bool KeepsPace(DWORD read) {
    window_bytes_ += read;
    Clock::time_point now = Clock::now();
    if (now - window_start_ < timeout_) return true;
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout_).count();
    if (window_bytes_ < static_cast<std::uint64_t>(seconds) * kLowSpeedBytesPerSecond) {
      return false;
    }
    window_start_ = now;
    window_bytes_ = 0;
    return true;
  }

  HINTERNET request_;
  Clock::duration timeout_;
  Clock::time_point window_start_;
  std::uint64_t window_bytes_ = 0;
};

bool WriteChunk(HANDLE file, const char* data, DWORD size) {
  DWORD written = 0;
  if (!::WriteFile(file, data, size, &written, nullptr)) return platform::FailWithSystemError();
  if (written == size) return true;
  platform::SetLastError(ERROR_WRITE_FAULT);
  return false;
}

}  // namespace

bool DownloadFile(const std::string& url, const std::string& path, IFileProgressCallback* progress,
                  IChunkSink* sink) {
  // Declared in this order, so that every exit closes the file, then the request, then the
  // root handle.
  InternetHandle root(::InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!root) return platform::FailWithSystemError();
  SetTimeouts(root.get());
  InternetHandle request(nullptr);
  Answer answer;
  if (!Open(root.get(), url, request, answer)) return false;

  std::uint64_t total = 0;
  if (answer.kind == INTERNET_HANDLE_TYPE_HTTP_REQUEST) {
    TransferResult result;
    result.failure = answer.too_many_redirects ? platform::kErrorHttpRedirectFailed : 0;
    result.http = true;
    result.status = answer.has_status ? static_cast<long>(answer.status) : 0;
    if (const std::uint32_t code = TransferErrorCode(result)) {
      // Set once both handles are closed, so that nothing can overwrite it.
      request.Close();
      root.Close();
      platform::SetLastError(code);
      return false;
    }
    total = ContentLength(request.get());
  } else if (answer.kind == INTERNET_HANDLE_TYPE_FTP_FILE ||
             answer.kind == INTERNET_HANDLE_TYPE_FTP_FILE_HTML) {
    DWORD high = 0;
    DWORD low = ::FtpGetFileSize(request.get(), &high);
    total = (static_cast<std::uint64_t>(high) << 32) + low;
  }

  platform::UniqueHandle file(::CreateFileW(platform::Widen(path).c_str(), GENERIC_WRITE, 0,
                                            nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file.valid()) return platform::FailWithSystemError();

  auto buffer = std::make_unique<char[]>(kTransferChunkSize);
  BodyReader reader(request.get());
  std::uint64_t written = 0;
  for (;;) {
    DWORD count = 0;
    if (!reader.Fill(buffer.get(), kTransferChunkSize, &count)) return false;
    if (TransfersStopped()) {
      platform::SetLastError(platform::kErrorInternetOperationCancelled);
      return false;
    }
    if (count == 0) break;
    if (!WriteChunk(file.get(), buffer.get(), count)) return false;
    written += count;
    if (sink != nullptr) sink->OnChunk(buffer.get(), count);
    if (progress != nullptr) progress->OnProgress(total, written);
  }
  // The internet client ends a body quietly when the server closes the connection early:
  // a body shorter than announced is a broken transfer, not a file.
  if (written < total) {
    TransferResult result;
    result.failure = platform::kErrorInternetConnectionAborted;
    platform::SetLastError(TransferErrorCode(result));
    return false;
  }
  return true;
}
