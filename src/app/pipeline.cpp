#include "app/pipeline.h"

#include <cerrno>
#include <cstdio>

#include "app/work_folder.h"
#include "archive/virus_data_version.h"
#include "download/server.h"
#include "platform/archive_error.h"
#include "platform/error_text.h"
#include "platform/last_error.h"
#include "platform/text_format.h"

using platform::Print;
using platform::Stream;

namespace {

// The output file that the output check made: removed again unless the run succeeds, so a
// failed run leaves no empty file behind. A file that was there before is never touched.
class NewOutputFile {
 public:
  NewOutputFile(PipelineOps& ops, const std::string& path, bool created)
      : ops_(ops), path_(path), pending_(created) {}
  ~NewOutputFile() {
    if (pending_) ops_.RemoveNewOutputFile(path_);
  }
  NewOutputFile(const NewOutputFile&) = delete;
  NewOutputFile& operator=(const NewOutputFile&) = delete;
  void Keep() { pending_ = false; }

 private:
  PipelineOps& ops_;
  const std::string& path_;
  bool pending_;
};

// The steps after the work folder exists; one object per run.
class Run {
 public:
  Run(PipelineOps& ops, platform::Console& console, int verbosity,
      std::optional<std::string> cache_folder)
      : ops_(ops), console_(console), verbosity_(verbosity), cache_(std::move(cache_folder)) {}

  bool Distribution(const std::string& work, const std::optional<std::string>& url);
  bool Product(const std::string& slax);
  bool VirusData(const std::string& slax, std::string& version);
  bool Identities(const std::string& slax, const std::string& version);

  // A step line on standard output, unless quiet.
  template <typename... Args>
  void Say(const char* format, Args... args) {
    if (verbosity_ != 0) Print(console_, Stream::kOut, format, args...);
  }

 private:
  // Files verified by a manifest may come from, and go into, the cache.
  bool Fetch(std::string base, std::optional<std::string> remote,
             std::optional<std::string> manifest, std::string folder, std::string name) {
    DownloadRequest request;
    request.base_url = std::move(base);
    request.remote_name = std::move(remote);
    request.cache_folder = manifest ? cache_ : std::nullopt;
    request.manifest_name = std::move(manifest);
    request.folder = std::move(folder);
    request.file_name = std::move(name);
    return ops_.DownloadAndVerify(request, verbosity_);
  }

  PipelineOps& ops_;
  platform::Console& console_;
  int verbosity_;
  std::optional<std::string> cache_;
};

bool Run::Distribution(const std::string& work, const std::optional<std::string>& url) {
  const std::string archive_name(server::kDistributionArchive);
  std::string archive = work + "/" + archive_name;
  Say("Downloading Linux distribution from %s...\n", url ? url->c_str() : "Kavero");
  bool fetched = url ? Fetch(*url, std::nullopt, std::nullopt, work, archive_name)
                     : Fetch(server::DistributionBaseUrl(), archive_name,
                             std::string(server::kDistributionManifest), work, archive_name);
  if (!fetched) return false;

  Say("Unpacking Linux distribution...\n");
  bool unpacked;
  {
    MyProgressCallback progress(verbosity_, console_);
    unpacked = ops_.UntarArchive(archive, work, &progress);
  }
  if (!unpacked) {
    std::string reason = ArchiveErrorText(0);
    Print(console_, Stream::kErr, "Failed to unpack the Linux distribution to %s: %s\n",
          work.c_str(), reason.c_str());
    return false;
  }
  ops_.DeleteFile(archive);
  return true;
}

bool Run::Product(const std::string& slax) {
  Say("Downloading Kavero Anti-Virus for Linux...\n");
  const std::string name(server::kProductArchive);
  return Fetch(server::ProductBaseUrl(), name, std::string(server::kProductManifest), slax, name);
}

bool Run::VirusData(const std::string& slax, std::string& version) {
  const std::string name(server::kVirusDataArchive);
  std::string archive = slax + name;
  Say("Downloading virus data...\n");
  if (!Fetch(server::DataBaseUrl(), name, std::nullopt, slax, name)) return false;

  Say("Determining virus data version...\n");
  // The version names a file, a URL and the image label, and its archive is not verified.
  if (!ops_.GetVirusDataVersion(archive, version) || !IsAcceptableVersion(version)) {
    Print(console_, Stream::kErr, "Could not determine the virus data version\n");
    return false;
  }
  return true;
}

bool Run::Identities(const std::string& slax, const std::string& version) {
  std::string name = platform::FormatText(server::kIdentityArchiveFormat, version.c_str());
  Say("Downloading latest identities for virus data %s...\n", version.c_str());
  if (Fetch(server::DataBaseUrl(), name, std::nullopt, slax, name)) return true;
  if (platform::GetLastError() != platform::kErrorInternetItemNotFound) return false;
  Say("No newer identities found\n");
  return true;
}

}  // namespace

bool BuildImage(const std::string& output, const std::optional<std::string>& distribution_url,
                int verbosity, PipelineOps& ops, platform::Console& console,
                const ImageOptions& options) {
  std::string full_output;
  if (!ops.ExpandOutputPath(output, full_output)) {
    std::string reason = platform::LastErrorText();
    Print(console, Stream::kErr, "Failed to expand the output path: %s\n", reason.c_str());
    return false;
  }
  std::string temp;
  if (!ops.GetTempFolder(temp)) {
    std::string reason = platform::LastErrorText();
    Print(console, Stream::kErr, "Failed to get temp folder: %s\n", reason.c_str());
    return false;
  }
  WorkFolder work(temp + kWorkFolderName, ops);
  if (!work.Create()) {
    std::string reason = platform::LastErrorText();
    Print(console, Stream::kErr, "Failed to create temp folder %s: %s\n", work.path().c_str(),
          reason.c_str());
    return false;
  }
  // An image written there would be removed with the work folder.
  if (ops.OutputInWorkFolder(full_output, work.path())) {
    Print(console, Stream::kErr, "Cannot open the output file %s: %s\n", full_output.c_str(),
          "The path belongs to the work folder that the run removes");
    return false;
  }
  bool created = false;
  if (!ops.CanOpenOutputFile(full_output, created)) {
    std::string reason = ArchiveErrorText(0);
    Print(console, Stream::kErr, "Cannot open the output file %s: %s\n", full_output.c_str(),
          reason.c_str());
    return false;
  }
  NewOutputFile new_output(ops, full_output, created);

  if (options.cache_folder && !ops.PrepareCacheFolder(*options.cache_folder)) {
    std::string reason = platform::LastErrorText();
    Print(console, Stream::kErr, "Failed to use the cache folder %s: %s\n",
          options.cache_folder->c_str(), reason.c_str());
    return false;
  }

  Run run(ops, console, verbosity, options.cache_folder);
  std::string slax = work.path() + "/slax/";
  std::string version;
  if (!run.Distribution(work.path(), distribution_url) || !run.Product(slax) ||
      !run.VirusData(slax, version) || !run.Identities(slax, version)) {
    return false;
  }
  run.Say("Creating the ISO image: %s...\n", output.c_str());
  IsoImageOptions iso;
  iso.hybrid = options.hybrid;
  iso.verified_distribution = !distribution_url;
  if (!ops.CreateIsoImage(work.path(), full_output,
                          platform::FormatText("ORBE %s", version.c_str()), verbosity, iso)) {
    return false;
  }
  new_output.Keep();
  run.Say("ISO image successfully created\n");
  return true;
}
