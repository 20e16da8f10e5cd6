// The verification half of the verified download: trust anchors, manifest, checksum.
#include <exception>
#include <sstream>

#include "download/download_file.h"
#include "download/progress.h"
#include "download/verified_download.h"
#include "platform/archive_error.h"
#include "platform/error_text.h"
#include "platform/file_ops.h"
#include "verify/verify_exceptions.h"
#include "verify/version_tool.h"

namespace {

constexpr int kRootCertificateId = 101;
constexpr int kCrlId = 102;

// Copies one embedded trust anchor (what: "CA certificate", "CRL") into a file; reports and
// returns false on failure.
bool WriteTrustAnchor(int id, const char* type, const std::string& path, const char* what,
                      platform::Reporter& report) {
  std::string bytes;
  if (!ExtractResourceToString(id, type, bytes)) {
    return report.Fail("Failed to extract %s: %s", what, platform::LastErrorText().c_str());
  }
  if (!WriteStringToFile(path, bytes)) {
    return report.Fail("Failed to save %s to %s: %s", what, path.c_str(),
                       ArchiveErrorText(0).c_str());
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

void DownloadDigest::OnChunk(const char* data, std::size_t size) noexcept {
  if (failure_) return;
  try {
    if (!digest_) digest_.emplace();
    digest_->Update(reinterpret_cast<const unsigned char*>(data), size);
  } catch (...) {
    failure_ = std::current_exception();
  }
}

std::string DownloadDigest::Finish() {
  if (failure_) std::rethrow_exception(failure_);
  if (!digest_) digest_.emplace();
  return VerificationToolCrypto::ToHex(digest_->Finish());
}

ChecksumResult CheckAgainstManifest(const std::string& folder, const std::string& file_name,
                                    const std::string& manifest_url, int verbosity,
                                    platform::Console& console, DownloadDigest* digest) {
  const std::string certificate = folder + "/ps_rootca.crt";
  const std::string crl = folder + "/ps.crl";
  const std::string manifest_path = folder + "/manifest.dat";
  platform::Reporter report(console, verbosity);
  if (!WriteTrustAnchor(kRootCertificateId, "CERTIFICATE", certificate, "CA certificate", report) ||
      !WriteTrustAnchor(kCrlId, "CRL", crl, "CRL", report)) {
    return ChecksumResult::kFailed;
  }

  report.Say("Downloading the manifest file...\n");
  bool fetched;
  {
    MyProgressCallback progress(verbosity, console);
    fetched = DownloadFile(manifest_url, manifest_path, &progress);
  }
  if (!fetched) {
    report.Fail("Download failed: %s\n", platform::LastErrorText().c_str());
    return ChecksumResult::kFailed;
  }

  VersionTool manifest;
  try {
    manifest.Verify(manifest_path, certificate, crl);
  } catch (const verify_exceptions::ve_base& error) {
    std::ostringstream description;
    error.describe(description);
    report.Fail("Manifest verification: %s\n", description.str().c_str());
    return ChecksumResult::kFailed;
  }

  const FileEntry* entry = FindEntry(manifest, file_name);
  if (entry == nullptr) {
    report.Fail("Error: Manifest does not contain the requested file.\n");
    return ChecksumResult::kFailed;
  }
  // A download's digest was taken as its bytes arrived; a cached copy is hashed from disk.
  int result = digest != nullptr ? (entry->Matches(digest->Finish()) ? 0 : 1)
                                 : entry->CheckFile(folder + "/");
  if (result == 1) return ChecksumResult::kMismatch;
  if (result != 0) {
    report.Fail("Failed to verify the checksum.\n");
    return ChecksumResult::kFailed;
  }
  platform::DeleteFile(manifest_path);
  platform::DeleteFile(crl);
  platform::DeleteFile(certificate);
  return ChecksumResult::kMatch;
}

bool VerifyDownloadedFile(const std::string& folder, const std::string& file_name,
                          const std::string& manifest_url, int verbosity,
                          platform::Console& console, DownloadDigest* digest) {
  ChecksumResult result =
      CheckAgainstManifest(folder, file_name, manifest_url, verbosity, console, digest);
  if (result == ChecksumResult::kMismatch) {
    platform::Reporter(console, verbosity).Fail("Error: File checksum is incorrect.\n");
  }
  return result == ChecksumResult::kMatch;
}
