// Pipeline operations that touch neither network nor disk: each call is recorded as one line,
// and a test chooses which call fails and with which reason.
#pragma once

#include <cerrno>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/pipeline_ops.h"
#include "platform/last_error.h"

class FakePipelineOps : public PipelineOps {
 public:
  // A failing operation, by the first word of its recorded line ("download" calls are named
  // "download <file name>"), with the code it leaves (last error or errno).
  std::map<std::string, int> failures;
  std::string version = "2026.12.07";
  std::function<void()> on_untar;  // runs inside UntarArchive, may throw
  bool output_in_work_folder = false;
  bool output_is_new = false;  // the output check makes the file
  std::vector<std::string> calls;
  std::vector<DownloadRequest> downloads;

  bool ExpandOutputPath(const std::string& typed, std::string& full) override {
    full = "/full/" + typed;
    return Step("expand " + typed);
  }
  bool GetTempFolder(std::string& folder) override {
    folder = "/tmp/";
    return Step("temp");
  }
  bool LockWorkFolder(const std::string& path) override { return Step("lock " + path); }
  void UnlockWorkFolder(const std::string& path) override { calls.push_back("unlock " + path); }
  bool CreateWorkFolder(const std::string& path) override { return Step("create " + path); }
  void RemoveFolder(const std::string& path) override { calls.push_back("remove " + path); }
  bool PrepareCacheFolder(const std::string& path) override { return Step("cache " + path); }
  bool OutputInWorkFolder(const std::string&, const std::string&) override {
    return output_in_work_folder;
  }
  bool CanOpenOutputFile(const std::string& path, bool& created) override {
    created = output_is_new;
    return Step("output " + path, true);
  }
  void RemoveNewOutputFile(const std::string& path) override { calls.push_back("discard " + path); }
  bool FetchesAhead() const override { return false; }
  bool CreateStagingFolder(const std::string& work, std::string& path) override {
    path = work + "/.fetched";
    return Step("stage " + path);
  }
  bool MoveIntoPlace(const std::string& from, const std::string& to) override {
    return Step("move " + from + " " + to);
  }
  bool DownloadAndVerify(const DownloadRequest& request, int verbosity,
                         platform::Console&) override {
    downloads.push_back(request);
    return Step("download " + request.file_name.value_or("") + " " + std::to_string(verbosity) +
                (request.cache_folder ? " cached in " + *request.cache_folder : ""));
  }
  bool CreateIsoImage(const std::string& work, const std::string& output, const std::string& label,
                      int verbosity, const IsoImageOptions& options) override {
    return Step("iso " + work + " " + output + " [" + label + "] " + std::to_string(verbosity) +
                (options.hybrid ? " hybrid" : "") +
                (options.verified_distribution ? "" : " unverified"));
  }
  bool UntarArchive(const std::string& archive, const std::string& destination,
                    IFileProgressCallback* progress) override {
    if (on_untar) on_untar();
    if (progress != nullptr) progress->OnProgress(100, 50);
    return Step("untar " + archive + " " + destination, true);
  }
  void DeleteFile(const std::string& path) override { calls.push_back("delete " + path); }
  bool GetVirusDataVersion(const std::string& archive, std::string& found) override {
    if (!Step("version " + archive, true)) return false;
    found = version;
    return true;
  }

 private:
  bool Step(const std::string& line, bool uses_errno = false) {
    calls.push_back(line);
    for (const auto& [prefix, code] : failures) {
      if (line.rfind(prefix, 0) != 0) continue;
      if (uses_errno) {
        errno = code;
      } else {
        platform::SetLastError(static_cast<std::uint32_t>(code));
      }
      return false;
    }
    return true;
  }
};
