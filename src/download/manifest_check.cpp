// The verification half of the verified download: trust anchors, manifest, checksum.
#include <sstream>

#include "download/download_file.h"
#include "download/progress.h"
#include "download/verified_download.h"
#include "platform/archive_error.h"
#include "platform/error_text.h"
#include "platform/file_ops.h"
#include "verify/verify_exceptions.h"
#include "verify/version_tool.h"

using platform::Print;
using platform::Stream;

namespace {

constexpr int kRootCertificateId = 101;
constexpr int kCrlId = 102;

// Copies one embedded trust anchor into a file; reports and returns false on failure.
bool WriteTrustAnchor(int id, const char* type, const std::string& path, const char* extract_failed,
                      const char* save_failed, platform::Console& console) {
  std::string bytes;
  if (!ExtractResourceToString(id, type, bytes)) {
    std::string reason = platform::LastErrorText();
    Print(console, Stream::kErr, extract_failed, reason.c_str());
    return false;
  }
  if (!WriteStringToFile(path, bytes)) {
    std::string reason = ArchiveErrorText(0);
    Print(console, Stream::kErr, save_failed, path.c_str(), reason.c_str());
    return false;
  }
  return true;
}

// The manifest entry of the downloaded file: "./name" or ".\name", exactly.
const FileEntry* FindEntry(const VersionTool& manifest, const std::string& name) {
  for (auto entry = manifest.EntriesBegin(); entry != manifest.EntriesEnd(); ++entry) {
    if (entry->path == ".\\" + name || entry->path == "./" + name) return &*entry;
  }
  return nullptr;
}

}  // namespace

ChecksumResult CheckAgainstManifest(const std::string& folder, const std::string& file_name,
                                    const std::string& manifest_url, int verbosity,
                                    platform::Console& console) {
  const std::string certificate = folder + "/ps_rootca.crt";
  const std::string crl = folder + "/ps.crl";
  const std::string manifest_path = folder + "/manifest.dat";
  if (!WriteTrustAnchor(kRootCertificateId, "CERTIFICATE", certificate,
                        "Failed to extract CA certificate: %s",
                        "Failed to save CA certificate to %s: %s", console) ||
      !WriteTrustAnchor(kCrlId, "CRL", crl, "Failed to extract CRL: %s",
                        "Failed to save CRL to %s: %s", console)) {
    return ChecksumResult::kFailed;
  }

  if (verbosity != 0) Print(console, Stream::kOut, "Downloading the manifest file...\n");
  bool fetched;
  {
    MyProgressCallback progress(verbosity, console);
    fetched = DownloadFile(manifest_url, manifest_path, &progress);
  }
  if (!fetched) {
    std::string reason = platform::LastErrorText();
    Print(console, Stream::kErr, "Download failed: %s\n", reason.c_str());
    return ChecksumResult::kFailed;
  }

  VersionTool manifest;
  try {
    manifest.Verify(manifest_path, certificate, crl);
  } catch (const verify_exceptions::ve_base& error) {
    std::ostringstream description;
    error.describe(description);
    Print(console, Stream::kErr, "Manifest verification: %s\n", description.str().c_str());
    return ChecksumResult::kFailed;
  }

  const FileEntry* entry = FindEntry(manifest, file_name);
  if (entry == nullptr) {
    Print(console, Stream::kErr, "Error: Manifest does not contain the requested file.\n");
    return ChecksumResult::kFailed;
  }
  int result = entry->CheckFile(folder + "/");
  if (result == 1) return ChecksumResult::kMismatch;
  if (result != 0) {
    Print(console, Stream::kErr, "Failed to verify the checksum.\n");
    return ChecksumResult::kFailed;
  }
  platform::DeleteFile(manifest_path);
  platform::DeleteFile(crl);
  platform::DeleteFile(certificate);
  return ChecksumResult::kMatch;
}

bool VerifyDownloadedFile(const std::string& folder, const std::string& file_name,
                          const std::string& manifest_url, int verbosity,
                          platform::Console& console) {
  ChecksumResult result = CheckAgainstManifest(folder, file_name, manifest_url, verbosity, console);
  if (result == ChecksumResult::kMismatch) {
    Print(console, Stream::kErr, "Error: File checksum is incorrect.\n");
  }
  return result == ChecksumResult::kMatch;
}
