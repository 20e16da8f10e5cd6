// libcurl implementation; the local file is written through a POSIX descriptor.
#include <curl/curl.h>
#include <fcntl.h>

#include <cerrno>
#include <memory>

#include "download/download_file.h"
#include "download/transfer_error.h"
#include "download/transfer_error_curl.h"
#include "download/transfer_limits.h"
#include "download/transfer_stop.h"
#include "platform/error_text.h"
#include "platform/fd_io_posix.h"
#include "platform/last_error.h"
#include "platform/unique_fd_posix.h"

namespace {

void InitCurlOnce() {
  static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  (void)initialised;
}

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

// One transfer in progress: the local file is created on the first body bytes (or at the
// end for an empty body), once the answer's status is known to be good.
class Transfer {
 public:
  Transfer(CURL* curl, const std::string& path, IFileProgressCallback* progress, IChunkSink* sink)
      : curl_(curl), path_(path), progress_(progress), sink_(sink) {}

  static size_t OnData(char* data, size_t, size_t count, void* self) {
    return static_cast<Transfer*>(self)->Write(data, count) ? count : 0;
  }

  // Called often, also while nothing arrives: a transfer told to give up ends here.
  static int OnTick(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return TransfersStopped() ? 1 : 0;
  }

  // Creates the local file for an answer without body bytes; false when refused.
  bool Finish() { return file_.valid() || Open(); }

  TransferResult Result(CURLcode code) const {
    return {CurlFailureCode(code), IsHttp(), Status(), local_errno_};
  }

 private:
  bool IsHttp() const {
    const char* scheme = nullptr;
    curl_easy_getinfo(curl_, CURLINFO_SCHEME, &scheme);
    return scheme != nullptr && (curl_strequal(scheme, "http") || curl_strequal(scheme, "https"));
  }

  long Status() const {
    long status = 0;
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
    return status;
  }

  bool Open() {
    if (IsHttp() && Status() != 200) return false;
    curl_off_t length = -1;
    curl_easy_getinfo(curl_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    total_ = length > 0 ? static_cast<std::uint64_t>(length) : 0;
    file_ = platform::UniqueFd(open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!file_.valid()) local_errno_ = errno;
    return file_.valid();
  }

  bool Write(const char* data, size_t count) {
    if (TransfersStopped()) return false;
    if (!file_.valid() && !Open()) return false;
    if (!platform::WriteAll(file_.get(), data, count)) {
      local_errno_ = errno;
      return false;
    }
    written_ += count;
    if (sink_ != nullptr) sink_->OnChunk(data, count);
    if (progress_ != nullptr) progress_->OnProgress(total_, written_);
    return true;
  }

  CURL* curl_;
  const std::string& path_;
  IFileProgressCallback* progress_;
  IChunkSink* sink_;
  platform::UniqueFd file_;
  std::uint64_t total_ = 0;
  std::uint64_t written_ = 0;
  int local_errno_ = 0;
};

void Configure(CURL* curl, const std::string& url, Transfer& transfer) {
  const long timeout = TransferTimeoutSeconds();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kTransferChunkSize);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, timeout);
  curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSecond);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, timeout);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "orbec/1.1.6");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Transfer::OnData);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Transfer::OnTick);
}

}  // namespace

bool DownloadFile(const std::string& url, const std::string& path, IFileProgressCallback* progress,
                  IChunkSink* sink) {
  InitCurlOnce();
  CurlHandle curl(curl_easy_init());
  if (!curl) {
    platform::SetLastError(ENOMEM);
    return false;
  }
  Transfer transfer(curl.get(), path, progress, sink);
  Configure(curl.get(), url, transfer);
  CURLcode code = curl_easy_perform(curl.get());
  if (code == CURLE_OK && !transfer.Finish()) code = CURLE_WRITE_ERROR;
  std::uint32_t error = TransfersStopped() ? platform::kErrorInternetOperationCancelled
                                           : TransferErrorCode(transfer.Result(code));
  if (error == 0) return true;
  platform::SetLastError(error);
  return false;
}
