#include "verify/version_tool.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "verify/verify_exceptions.h"

using verify_exceptions::ve_file;

namespace {

// Opening a trust anchor early, so that a missing one is reported before the manifest is
// parsed.
std::ifstream OpenTrustAnchor(const std::string& path) {
  std::ifstream file(path);
  if (!file.is_open()) throw ve_file(verify_exceptions::kCannotOpen, path);
  return file;
}

}  // namespace

void VersionTool::Verify(const std::string& manifestPath, const std::string& rootCertPath,
                         const std::string& crlPath) {
  std::ifstream rootFile = OpenTrustAnchor(rootCertPath);
  if (!crlPath.empty()) OpenTrustAnchor(crlPath);
  ParseManifest(manifestPath);
  VerifyTrust(rootCertPath, crlPath);
  ParseFileList(manifestPath);
  state_ = verify_exceptions::kValid;
}

void VersionTool::ParseManifest(const std::string& manifestPath) {
  std::ifstream manifest(manifestPath, std::ios::binary);
  if (!manifest.is_open()) {
    state_ = verify_exceptions::kCannotOpen;
    throw ve_file(verify_exceptions::kCannotOpen, manifestPath);
  }
  manifest >> *static_cast<VerifyTool*>(this);
  if (manifest.fail()) {
    state_ = verify_exceptions::kMalformed;
    throw ve_file(verify_exceptions::kMalformed, manifestPath);
  }
}

void VersionTool::ParseFileList(const std::string& manifestPath) {
  std::istringstream list(body);
  list >> entries_;
  if (list.fail()) {
    state_ = verify_exceptions::kMalformedFileList;
    throw ve_file(verify_exceptions::kMalformedFileList, manifestPath);
  }
}

void VersionTool::RequireValid() const {
  if (state_ != verify_exceptions::kValid) {
    throw std::logic_error("VersionTool::version, method called when version file is not valid");
  }
}

VersionTool::EntryIterator VersionTool::EntriesBegin() const {
  RequireValid();
  return entries_.begin();
}

VersionTool::EntryIterator VersionTool::EntriesEnd() const {
  RequireValid();
  return entries_.end();
}
