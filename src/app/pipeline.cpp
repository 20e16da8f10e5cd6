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
  Run(PipelineOps& ops, platform::Reporter& report, std::optional<std::string> cache_folder)
      : ops_(ops), report_(report), cache_(std::move(cache_folder)) {}

  bool Distribution(const std::string& work, const std::optional<std::string>& url);
  bool Product(const std::string& slax);
  bool VirusData(const std::string& slax, std::string& version);
  bool Identities(const std::string& slax, const std::string& version);

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
    return ops_.DownloadAndVerify(request, report_.verbosity());
  }

  PipelineOps& ops_;
  platform::Reporter& report_;
  std::optional<std::string> cache_;
};

bool Run::Distribution(const std::string& work, const std::optional<std::string>& url) {
  const std::string archive_name(server::kDistributionArchive);
  std::string archive = work + "/" + archive_name;
  report_.Say("Downloading Linux distribution from %s...\n", url ? url->c_str() : "Kavero");
  bool fetched = url ? Fetch(*url, std::nullopt, std::nullopt, work, archive_name)
                     : Fetch(server::DistributionBaseUrl(), archive_name,
                             std::string(server::kDistributionManifest), work, archive_name);
  if (!fetched) return false;

  report_.Say("Unpacking Linux distribution...\n");
  bool unpacked;
  {
    MyProgressCallback progress(report_.verbosity(), report_.console());
    unpacked = ops_.UntarArchive(archive, work, &progress);
  }
  if (!unpacked) {
    return report_.Fail("Failed to unpack the Linux distribution to %s: %s\n", work.c_str(),
                        ArchiveErrorText(0).c_str());
  }
  ops_.DeleteFile(archive);
  return true;
}

bool Run::Product(const std::string& slax) {
  report_.Say("Downloading Kavero Anti-Virus for Linux...\n");
  const std::string name(server::kProductArchive);
  return Fetch(server::ProductBaseUrl(), name, std::string(server::kProductManifest), slax, name);
}

bool Run::VirusData(const std::string& slax, std::string& version) {
  const std::string name(server::kVirusDataArchive);
  std::string archive = slax + name;
  report_.Say("Downloading virus data...\n");
  if (!Fetch(server::DataBaseUrl(), name, std::nullopt, slax, name)) return false;

  report_.Say("Determining virus data version...\n");
  // The version names a file, a URL and the image label, and its archive is not verified.
  if (!ops_.GetVirusDataVersion(archive, version) || !IsAcceptableVersion(version)) {
    return report_.Fail("Could not determine the virus data version\n");
  }
  return true;
}

bool Run::Identities(const std::string& slax, const std::string& version) {
  std::string name = platform::FormatText(server::kIdentityArchiveFormat, version.c_str());
  report_.Say("Downloading latest identities for virus data %s...\n", version.c_str());
  if (Fetch(server::DataBaseUrl(), name, std::nullopt, slax, name)) return true;
  if (platform::GetLastError() != platform::kErrorInternetItemNotFound) return false;
  report_.Say("No newer identities found\n");
  return true;
}

}  // namespace

bool BuildImage(const std::string& output, const std::optional<std::string>& distribution_url,
                int verbosity, PipelineOps& ops, platform::Console& console,
                const ImageOptions& options) {
  platform::Reporter report(console, verbosity);
  std::string full_output;
  if (!ops.ExpandOutputPath(output, full_output)) {
    return report.Fail("Failed to expand the output path: %s\n", platform::LastErrorText().c_str());
  }
  std::string temp;
  if (!ops.GetTempFolder(temp)) {
    return report.Fail("Failed to get temp folder: %s\n", platform::LastErrorText().c_str());
  }
  WorkFolder work(temp + kWorkFolderName, ops);
  if (!work.Create()) {
    return report.Fail("Failed to create temp folder %s: %s\n", work.path().c_str(),
                       platform::LastErrorText().c_str());
  }
  // An image written there would be removed with the work folder.
  if (ops.OutputInWorkFolder(full_output, work.path())) {
    return report.Fail("Cannot open the output file %s: %s\n", full_output.c_str(),
                       "The path belongs to the work folder that the run removes");
  }
  bool created = false;
  if (!ops.CanOpenOutputFile(full_output, created)) {
    return report.Fail("Cannot open the output file %s: %s\n", full_output.c_str(),
                       ArchiveErrorText(0).c_str());
  }
  NewOutputFile new_output(ops, full_output, created);

  if (options.cache_folder && !ops.PrepareCacheFolder(*options.cache_folder)) {
    return report.Fail("Failed to use the cache folder %s: %s\n", options.cache_folder->c_str(),
                       platform::LastErrorText().c_str());
  }

  Run run(ops, report, options.cache_folder);
  std::string slax = work.path() + "/slax/";
  std::string version;
  if (!run.Distribution(work.path(), distribution_url) || !run.Product(slax) ||
      !run.VirusData(slax, version) || !run.Identities(slax, version)) {
    return false;
  }
  report.Say("Creating the ISO image: %s...\n", output.c_str());
  IsoImageOptions iso;
  iso.hybrid = options.hybrid;
  iso.verified_distribution = !distribution_url;
  if (!ops.CreateIsoImage(work.path(), full_output,
                          platform::FormatText("ORBE %s", version.c_str()), verbosity, iso)) {
    return false;
  }
  new_output.Keep();
  report.Say("ISO image successfully created\n");
  return true;
}
