#include "download/verified_download.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "download/download_file.h"
#include "download/progress.h"
#include "platform/error_text.h"
#include "platform/file_ops.h"
#include "platform/last_error.h"
#include "platform/resources.h"

namespace {

bool Fetch(const std::string& url, const std::string& path, int verbosity,
           platform::Console& console, DownloadDigest* digest) {
  MyProgressCallback progress(verbosity, console);
  return DownloadFile(url, path, &progress, digest);
}

// Reports a failed download; the last error is read first and stays as it was.
bool ReportDownloadFailure(platform::Reporter& report) {
  return report.Fail("Download failed: %s\n", platform::LastErrorText().c_str());
}

// Takes the cache's copy of the file when the verified manifest lists its checksum; false (and
// no copy left in the folder) when there is none or it does not pass.
bool UseCachedCopy(const std::string& cache, const std::string& folder, const std::string& name,
                   const std::string& manifest_url, platform::Reporter& report) {
  const std::string path = folder + "/" + name;
  if (!platform::LinkOrCopy(cache + "/" + name, path)) return false;
  report.Say("Found a copy in the cache %s, checking it...\n", cache.c_str());
  ChecksumResult result = CheckAgainstManifest(folder, name, manifest_url, report.verbosity(),
                                               report.console(), nullptr);
  if (result == ChecksumResult::kMatch) return true;
  platform::DeleteFile(path);
  if (result == ChecksumResult::kMismatch) {
    report.Say("The cached copy does not match its manifest; downloading...\n");
  }
  return false;
}

// Keeps a link or copy of the verified file in the cache for the next run. A cache that cannot
// take it costs only the saving.
void KeepInCache(const std::string& cache, const std::string& folder, const std::string& name,
                 platform::Reporter& report) {
  if (platform::ReplaceWithLinkOrCopy(folder + "/" + name, cache + "/" + name)) return;
  report.Fail("Could not keep a copy in the cache %s: %s\n", cache.c_str(),
              platform::LastErrorText().c_str());
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

std::string EncodeUrlName(const std::string& name) {
  static constexpr char kKeep[] = "-._~!$&'()*+,;=@";
  std::string encoded;
  for (unsigned char c : name) {
    bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                (c != '\0' && std::strchr(kKeep, c) != nullptr);
    if (keep) {
      encoded += static_cast<char>(c);
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      encoded += escape;
    }
  }
  return encoded;
}

bool DownloadAndVerify(const std::string& base_url, const std::optional<std::string>& remote_name,
                       const std::optional<std::string>& manifest_name, const std::string& folder,
                       const std::optional<std::string>& file_name, int verbosity,
                       platform::Console& console, const std::optional<std::string>& cache_folder) {
  std::string url = remote_name ? base_url + "/" + EncodeUrlName(*remote_name) : base_url;
  std::string path = file_name ? folder + "/" + *file_name : folder;
  std::string manifest_url = manifest_name ? base_url + "/" + EncodeUrlName(*manifest_name) : "";
  std::string name = file_name.value_or("");
  const bool cached = cache_folder && manifest_name && file_name;
  platform::Reporter report(console, verbosity);
  if (cached && UseCachedCopy(*cache_folder, folder, name, manifest_url, report)) {
    report.Say("Integrity successfully verified.\n");
    return true;
  }
  // The file is hashed as it arrives when the entry looked up names it, each download by a
  // digest of its own; a digest is used only once its download has succeeded.
  const bool hashed = manifest_name && file_name;
  DownloadDigest first;
  DownloadDigest second;
  DownloadDigest* digest = hashed ? &first : nullptr;
  if (!Fetch(url, path, verbosity, console, digest)) return ReportDownloadFailure(report);
  if (!manifest_name) return true;

  if (!VerifyDownloadedFile(folder, name, manifest_url, verbosity, console, digest)) {
    report.Say("Retrying the download...\n");
    digest = hashed ? &second : nullptr;
    if (!Fetch(url, path, verbosity, console, digest)) return ReportDownloadFailure(report);
    if (!VerifyDownloadedFile(folder, name, manifest_url, verbosity, console, digest)) return false;
  }
  report.Say("Integrity successfully verified.\n");
  if (cached) KeepInCache(*cache_folder, folder, name, report);
  return true;
}

bool ExtractResourceToString(int id, const std::string& type, std::string& bytes) {
  std::optional<std::string_view> resource = platform::FindResource(type, id);
  if (!resource) return false;
  if (resource->empty()) {
    platform::SetLastError(ENODATA);
    return false;
  }
  bytes.assign(resource->data(), resource->size());
  return true;
}

bool WriteStringToFile(const std::string& path, const std::string& bytes) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file.get());
  int closed = std::fclose(file.release());
  return written == bytes.size() && closed == 0;
}
