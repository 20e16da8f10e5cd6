// The operations that the image build pipeline is made of. The real set does the work;
// tests hand BuildImage a fake that records calls and scripts outcomes, so the step order,
// the early stops, the clean-up and the exact lines can be checked without network or disk.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/iso_image.h"
#include "download/progress.h"
#include "platform/console.h"
#include "platform/folder_lock.h"
#include "platform/interrupt.h"

// What the user asked of the image beyond the defaults.
struct ImageOptions {
  bool hybrid = false;  // also bootable from a USB drive (isohybrid)
  // A folder of verified downloads (the distribution and the product) kept between runs.
  std::optional<std::string> cache_folder;
};

// One call of DownloadAndVerify: what to fetch, whether to verify it, where to put it.
struct DownloadRequest {
  std::string base_url;
  std::optional<std::string> remote_name;
  std::optional<std::string> manifest_name;
  std::string folder;
  std::optional<std::string> file_name;
  std::optional<std::string> cache_folder;  // only for files verified by a manifest
};

class PipelineOps {
 public:
  virtual ~PipelineOps() = default;

  // Failures of these leave the reason in the platform's last error.
  virtual bool ExpandOutputPath(const std::string& typed, std::string& full) = 0;
  virtual bool GetTempFolder(std::string& folder) = 0;
  // Takes the run's exclusive hold on the work folder (and its clean-up on interruption);
  // fails when another run holds it. Unlock gives both up.
  virtual bool LockWorkFolder(const std::string& path) = 0;
  virtual void UnlockWorkFolder(const std::string& path) = 0;
  virtual bool CreateWorkFolder(const std::string& path) = 0;
  virtual void RemoveFolder(const std::string& path) = 0;
  // Creates the cache folder private when missing; refuses a link, a non-directory or a
  // folder of another user. Failure leaves the reason in the last error.
  virtual bool PrepareCacheFolder(const std::string& path) = 0;

  // True when the output path is the work folder, lies inside it or is its lock file: places
  // the run itself removes.
  virtual bool OutputInWorkFolder(const std::string& output, const std::string& work) = 0;
  // Failure leaves the reason in errno. created tells whether the check made the file.
  virtual bool CanOpenOutputFile(const std::string& path, bool& created) = 0;
  // Removes the empty output file that the check made, when the run fails.
  virtual void RemoveNewOutputFile(const std::string& path) = 0;

  // Whether DownloadAndVerify may run on other threads while the run goes on.
  virtual bool FetchesAhead() const = 0;
  // Creates a private folder of an unpredictable name inside the work folder, for files
  // fetched before the folder they belong in exists.
  virtual bool CreateStagingFolder(const std::string& work, std::string& path) = 0;
  // Renames a file over `to`; false, with nothing changed, when that cannot be done.
  virtual bool MoveIntoPlace(const std::string& from, const std::string& to) = 0;

  // These print their own failure messages, DownloadAndVerify to the console given.
  virtual bool DownloadAndVerify(const DownloadRequest& request, int verbosity,
                                 platform::Console& console) = 0;
  virtual bool CreateIsoImage(const std::string& work_folder, const std::string& output,
                              const std::string& label, int verbosity,
                              const IsoImageOptions& options) = 0;

  // Failure leaves the reason in errno; nothing printed.
  virtual bool UntarArchive(const std::string& archive, const std::string& destination,
                            IFileProgressCallback* progress) = 0;
  virtual void DeleteFile(const std::string& path) = 0;
  virtual bool GetVirusDataVersion(const std::string& archive, std::string& version) = 0;
};

// The operations that really do the work, printing to the given console.
class RealPipelineOps : public PipelineOps {
 public:
  explicit RealPipelineOps(platform::Console& console) : console_(console) {}

  bool ExpandOutputPath(const std::string& typed, std::string& full) override;
  bool GetTempFolder(std::string& folder) override;
  bool LockWorkFolder(const std::string& path) override;
  void UnlockWorkFolder(const std::string& path) override;
  bool CreateWorkFolder(const std::string& path) override;
  void RemoveFolder(const std::string& path) override;
  bool PrepareCacheFolder(const std::string& path) override;
  bool OutputInWorkFolder(const std::string& output, const std::string& work) override;
  bool CanOpenOutputFile(const std::string& path, bool& created) override;
  void RemoveNewOutputFile(const std::string& path) override;
  bool FetchesAhead() const override { return true; }
  bool CreateStagingFolder(const std::string& work, std::string& path) override;
  bool MoveIntoPlace(const std::string& from, const std::string& to) override;
  bool DownloadAndVerify(const DownloadRequest& request, int verbosity,
                         platform::Console& console) override;
  bool CreateIsoImage(const std::string& work_folder, const std::string& output,
                      const std::string& label, int verbosity,
                      const IsoImageOptions& options) override;
  bool UntarArchive(const std::string& archive, const std::string& destination,
                    IFileProgressCallback* progress) override;
  void DeleteFile(const std::string& path) override;
  bool GetVirusDataVersion(const std::string& archive, std::string& version) override;

 private:
  platform::Console& console_;
  std::unique_ptr<platform::FolderLock> lock_;
  std::unique_ptr<platform::InterruptCleanup> cleanup_;
  std::unique_ptr<platform::ClaimedFile> new_output_;
};
