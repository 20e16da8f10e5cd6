#include "app/pipeline_ops.h"

#include "app/iso_image.h"
#include "archive/tar_reader.h"
#include "archive/virus_data_version.h"
#include "download/verified_download.h"
#include "platform/file_ops.h"
#include "platform/paths.h"

bool RealPipelineOps::ExpandOutputPath(const std::string& typed, std::string& full) {
  return platform::FullPath(typed, full);
}

bool RealPipelineOps::GetTempFolder(std::string& folder) { return platform::TempFolder(folder); }

namespace {

std::string LockFileOf(const std::string& work) { return work + ".lock"; }

// Paths are UTF-8 text. A path made from char8_t text keeps every character on every platform;
// one made from char text is converted byte by byte on Windows.
std::filesystem::path Utf8Path(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace

bool RealPipelineOps::LockWorkFolder(const std::string& path) {
  const std::string lock_file = LockFileOf(path);
  lock_ = platform::FolderLock::Acquire(lock_file);
  if (!lock_) return false;
  cleanup_ = std::make_unique<platform::InterruptCleanup>(path, lock_file);
  return true;
}

void RealPipelineOps::UnlockWorkFolder(const std::string&) {
  new_output_.reset();
  cleanup_.reset();
  lock_.reset();
}

bool RealPipelineOps::CreateWorkFolder(const std::string& path) {
  return platform::MakePrivateDirectory(path);
}

void RealPipelineOps::RemoveFolder(const std::string& path) { platform::RemoveOwnTree(path); }

bool RealPipelineOps::PrepareCacheFolder(const std::string& path) {
  return platform::MakePrivateDirectory(path);
}

bool RealPipelineOps::OutputInWorkFolder(const std::string& output, const std::string& work) {
  const std::string where = platform::ResolvedLocation(output);
  const std::string folder = platform::ResolvedLocation(work);
  return where == folder || where.starts_with(folder + "/") ||
         where == platform::ResolvedLocation(LockFileOf(work));
}

bool RealPipelineOps::CanOpenOutputFile(const std::string& path, bool& created) {
  if (!platform::CanOpenForAppend(path, created)) return false;
  // An interruption removes the new file too; the image later takes its name, not its
  // identity, so a finished image is never removed for it.
  if (created) new_output_ = std::make_unique<platform::ClaimedFile>(path);
  return true;
}

void RealPipelineOps::RemoveNewOutputFile(const std::string&) {
  if (new_output_) new_output_->Remove();
  new_output_.reset();
}

bool RealPipelineOps::CreateStagingFolder(const std::string& work, std::string& path) {
  return platform::WithFreshSibling(work + "/fetched", [&](const std::string& name) {
    path = name;
    return platform::MakePrivateDirectory(name);
  });
}

bool RealPipelineOps::MoveIntoPlace(const std::string& from, const std::string& to) {
  return platform::RenameOver(from, to);
}

bool RealPipelineOps::DownloadAndVerify(const DownloadRequest& request, int verbosity,
                                        platform::Console& console) {
  return ::DownloadAndVerify(request.base_url, request.remote_name, request.manifest_name,
                             request.folder, request.file_name, verbosity, console,
                             request.cache_folder);
}

bool RealPipelineOps::CreateIsoImage(const std::string& work_folder, const std::string& output,
                                     const std::string& label, int verbosity,
                                     const IsoImageOptions& options) {
  return ::CreateIsoImage(work_folder, output, label, verbosity, options, console_);
}

bool RealPipelineOps::UntarArchive(const std::string& archive, const std::string& destination,
                                   IFileProgressCallback* progress) {
  return ::UntarArchive(Utf8Path(archive), Utf8Path(destination), progress);
}

void RealPipelineOps::DeleteFile(const std::string& path) { platform::DeleteFile(path); }

bool RealPipelineOps::GetVirusDataVersion(const std::string& archive, std::string& version) {
  return ::GetVirusDataVersion(Utf8Path(archive), version);
}
