#include "verify/version_tool.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "verify/stream_readers.h"
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

// The size the opened file reports, or -1 where it cannot tell (a pipe, for instance).
std::streamoff ReportedSize(std::istream& file) {
  std::streamoff size = file.seekg(0, std::ios::end) ? std::streamoff(file.tellg()) : -1;
  file.clear();
  file.seekg(0, std::ios::beg);
  file.clear();
  return size;
}

// The whole file into text, unless it reports or turns out to hold more than limit bytes:
// at most limit + 1 bytes are read, so that a file that grows while it is read, or never
// ends, is still told apart. False for a larger file and for a read error.
bool ReadAtMost(std::istream& file, std::size_t limit, std::string& text) {
  constexpr std::size_t kBlockSize = 64 * 1024;
  std::streamoff size = ReportedSize(file);
  if (size > static_cast<std::streamoff>(limit)) return false;
  text.clear();
  text.reserve(static_cast<std::size_t>(std::max<std::streamoff>(size, 0)) + 1);
  while (file && text.size() <= limit) {
    std::size_t start = text.size();
    text.resize(start + std::min(kBlockSize, limit + 1 - start));
    file.read(text.data() + start, static_cast<std::streamsize>(text.size() - start));
    text.resize(start + static_cast<std::size_t>(file.gcount()));
  }
  return !file.bad() && text.size() <= limit;
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
  std::string text;
  if (!ReadAtMost(manifest, kMaxManifestSize, text)) RefuseMalformed(manifestPath);
  VerificationToolCrypto::TextViewStream in(text);
  in >> *static_cast<VerifyTool*>(this);
  if (in.fail()) RefuseMalformed(manifestPath);
}

void VersionTool::RefuseMalformed(const std::string& manifestPath) {
  state_ = verify_exceptions::kMalformed;
  throw ve_file(verify_exceptions::kMalformed, manifestPath);
}

void VersionTool::ParseFileList(const std::string& manifestPath) {
  VerificationToolCrypto::TextViewStream list(body);
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
