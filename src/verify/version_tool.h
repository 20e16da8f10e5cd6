// The manifest reader: verifies one signed manifest end to end and hands out its file list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "verify/verify_tool.h"

class VersionTool : public VerifyTool {
 public:
  // The largest manifest file read. A larger one is refused as malformed without being read,
  // so that a broken or hostile file cannot cost the memory and time of its size.
  static constexpr std::size_t kMaxManifestSize = 16 * 1024 * 1024;

  using EntryIterator = std::vector<FileEntry>::const_iterator;

  VersionTool() = default;
  VersionTool(const VersionTool&) = delete;
  VersionTool& operator=(const VersionTool&) = delete;

  // Checks that the three files open, parses the manifest, runs the trust check and reads
  // the file list. On success State() is 2. Throws the verify_exceptions family: ve_file 3
  // (a file cannot be opened), 4 (malformed manifest, or one of more than kMaxManifestSize
  // bytes), 8 (malformed file list), and whatever the parser and the trust check throw.
  void Verify(const std::string& manifestPath, const std::string& rootCertPath,
              const std::string& crlPath);

  // Positions over the file list. Throw std::logic_error unless the manifest was verified.
  EntryIterator EntriesBegin() const;
  EntryIterator EntriesEnd() const;

  // A verification code: 1 not verified, 2 valid, 3, 4 or 8 after those failures.
  std::int32_t State() const { return state_; }

 private:
  void RequireValid() const;
  void ParseManifest(const std::string& manifestPath);
  [[noreturn]] void RefuseMalformed(const std::string& manifestPath);
  void ParseFileList(const std::string& manifestPath);

  std::vector<FileEntry> entries_;
  std::int32_t state_ = 1;
};
