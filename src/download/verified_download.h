// Fetching a component, and proving it genuine against its signed manifest.
#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <string>

#include "download/download_file.h"
#include "platform/console.h"
#include "verify/digest.h"

// Downloads base_url + "/" + remote_name (or base_url alone) to folder + "/" + file_name (or
// folder alone). With a manifest name the file is verified against that manifest, and
// fetched and verified once more when the first verification fails. Prints its own failure
// messages; after a failed download the transfer's code stays in the last error.
//
// With a cache folder (and a manifest and file name), a copy kept there is used instead of the
// download when the verified manifest lists its checksum; otherwise the file is downloaded and
// verified as above, then a link or copy of it is kept in the cache for the next run.
bool DownloadAndVerify(const std::string& base_url, const std::optional<std::string>& remote_name,
                       const std::optional<std::string>& manifest_name, const std::string& folder,
                       const std::optional<std::string>& file_name, int verbosity,
                       platform::Console& console = platform::StdConsole(),
                       const std::optional<std::string>& cache_folder = std::nullopt);

// The outcome of checking a file against its manifest.
enum class ChecksumResult { kMatch, kMismatch, kFailed };

// The SHA-1 of one download, taken from its chunks as they are written, so that the file
// need not be read back to be checked. One object per transfer: a retry hashes afresh.
class DownloadDigest final : public IChunkSink {
 public:
  // A failure of the digest machinery is kept and thrown by Finish, where a check of the file
  // on disk would have thrown it.
  void OnChunk(const char* data, std::size_t size) noexcept override;

  // ToHex of the SHA-1 of every chunk given (of none: the empty body's); called once, and only
  // for a transfer that succeeded. Throws ve_crypt as Sha1Digest does.
  std::string Finish();

 private:
  std::optional<VerificationToolCrypto::Sha1Digest> digest_;  // set up with the first bytes
  std::exception_ptr failure_;
};

// Writes the embedded trust anchors into the folder, downloads the manifest there, verifies it
// and compares the file's checksum with its entry: with the digest of its download when one is
// given, else by hashing the file in the folder. Removes the verification files on a match.
// Prints every failure but a mismatch.
ChecksumResult CheckAgainstManifest(const std::string& folder, const std::string& file_name,
                                    const std::string& manifest_url, int verbosity,
                                    platform::Console& console, DownloadDigest* digest);

// CheckAgainstManifest, with a mismatch reported too; true on a match.
bool VerifyDownloadedFile(const std::string& folder, const std::string& file_name,
                          const std::string& manifest_url, int verbosity,
                          platform::Console& console, DownloadDigest* digest);

// Copies the embedded resource of that id and type; false with the last error set.
bool ExtractResourceToString(int id, const std::string& type, std::string& bytes);

// Writes all bytes to the file, creating or truncating it; false with errno set.
bool WriteStringToFile(const std::string& path, const std::string& bytes);

// A file name made safe for a URL path: bytes other than unreserved and sub-delimiter
// characters are percent-encoded (a blank becomes %20).
std::string EncodeUrlName(const std::string& name);
