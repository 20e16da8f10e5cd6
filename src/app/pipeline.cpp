#include "app/pipeline.h"

#include <cerrno>
#include <cstdio>

#include "app/fetch_ahead.h"
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

// A component fetched ahead of its step: where its file is kept until the step takes it.
struct Prefetched {
  std::size_t job;
  std::string name;
};

// The steps after the work folder exists; one object per run.
class Run {
 public:
  Run(PipelineOps& ops, platform::Reporter& report, std::optional<std::string> cache_folder)
      : ops_(ops), report_(report), cache_(std::move(cache_folder)) {}
  ~Run() { EndFetchingAhead(); }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // Starts fetching the product and the virus data while the distribution is fetched and
  // unpacked (their folder does not exist before). Progress lines cannot be shown from there,
  // so a verbose run fetches one component after the other.
  void StartFetchingAhead(const std::string& work);
  // Stops what still runs ahead and removes the files no step took.
  void EndFetchingAhead();

  bool Distribution(const std::string& work, const std::optional<std::string>& url);
  bool Product(const std::string& slax);
  bool VirusData(const std::string& slax, std::string& version);
  bool Identities(const std::string& slax, const std::string& version);

 private:
  // Files verified by a manifest may come from, and go into, the cache.
  DownloadRequest Request(std::string base, std::optional<std::string> remote,
                          std::optional<std::string> manifest, std::string folder,
                          std::string name) const {
    DownloadRequest request;
    request.base_url = std::move(base);
    request.remote_name = std::move(remote);
    request.cache_folder = manifest ? cache_ : std::nullopt;
    request.manifest_name = std::move(manifest);
    request.folder = std::move(folder);
    request.file_name = std::move(name);
    return request;
  }
  DownloadRequest ProductRequest(std::string folder) const {
    const std::string name(server::kProductArchive);
    return Request(server::ProductBaseUrl(), name, std::string(server::kProductManifest),
                   std::move(folder), name);
  }
  DownloadRequest VirusDataRequest(std::string folder) const {
    const std::string name(server::kVirusDataArchive);
    return Request(server::DataBaseUrl(), name, std::nullopt, std::move(folder), name);
  }

  bool Fetch(const DownloadRequest& request) {
    return ops_.DownloadAndVerify(request, report_.verbosity(), report_.console());
  }
  std::optional<Prefetched> Ahead(const DownloadRequest& request);
  bool FetchOrTake(std::optional<Prefetched>& ahead, const DownloadRequest& request);

  PipelineOps& ops_;
  platform::Reporter& report_;
  std::optional<std::string> cache_;
  std::optional<FetchAhead> jobs_;
  std::string staging_;
  std::optional<Prefetched> product_;
  std::optional<Prefetched> virus_data_;
};

void Run::StartFetchingAhead(const std::string& work) {
  if (report_.verbose() || !ops_.FetchesAhead()) return;
  // Without a folder of its own nothing runs ahead; the steps fetch as they come.
  if (!ops_.CreateStagingFolder(work, staging_)) return;
  jobs_.emplace();
  product_ = Ahead(ProductRequest(staging_));
  virus_data_ = Ahead(VirusDataRequest(staging_));
}

std::optional<Prefetched> Run::Ahead(const DownloadRequest& request) {
  const int verbosity = report_.verbosity();
  std::size_t job = jobs_->Start([this, request, verbosity](platform::Console& console) {
    return ops_.DownloadAndVerify(request, verbosity, console);
  });
  return Prefetched{job, request.file_name.value_or("")};
}

void Run::EndFetchingAhead() {
  if (!jobs_) return;
  jobs_->StopAll();
  jobs_.reset();
  ops_.RemoveFolder(staging_);
}

// Takes the outcome of the fetch ahead: its file moved into its folder, or its failure, with
// the lines it printed. A fetch that was stopped or threw, a failure whose lines name the folder
// it ran in (they would not be the step's own words), or a file that cannot be moved into place
// (the distribution lacks the folder or holds something of that name) leave the step to be done
// here, as if nothing had run ahead.
bool Run::FetchOrTake(std::optional<Prefetched>& ahead, const DownloadRequest& request) {
  if (jobs_ && ahead) {
    const FetchAhead::Outcome& outcome = jobs_->Wait(ahead->job);
    const bool own_failure =
        !outcome.ok && !outcome.stopped && !outcome.threw && !outcome.output.Mentions(staging_);
    const std::string target = request.folder + "/" + ahead->name;
    if (own_failure || (outcome.ok && ops_.MoveIntoPlace(staging_ + "/" + ahead->name, target))) {
      outcome.output.Replay(report_.console());
      ahead.reset();
      return outcome.ok;
    }
    ahead.reset();
  }
  return Fetch(request);
}

bool Run::Distribution(const std::string& work, const std::optional<std::string>& url) {
  const std::string archive_name(server::kDistributionArchive);
  std::string archive = work + "/" + archive_name;
  report_.Say("Downloading Linux distribution from %s...\n", url ? url->c_str() : "Kavero");
  bool fetched =
      url ? Fetch(Request(*url, std::nullopt, std::nullopt, work, archive_name))
          : Fetch(Request(server::DistributionBaseUrl(), archive_name,
                          std::string(server::kDistributionManifest), work, archive_name));
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
  return FetchOrTake(product_, ProductRequest(slax));
}

bool Run::VirusData(const std::string& slax, std::string& version) {
  const std::string name(server::kVirusDataArchive);
  std::string archive = slax + name;
  report_.Say("Downloading virus data...\n");
  const bool fetched = FetchOrTake(virus_data_, VirusDataRequest(slax));
  EndFetchingAhead();  // nothing else runs ahead, and the image must not hold the folder
  if (!fetched) return false;

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
  if (Fetch(Request(server::DataBaseUrl(), name, std::nullopt, slax, name))) return true;
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
  run.StartFetchingAhead(work.path());
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
