// Writes signed manifests for tests, well-formed or with chosen malformations: every part
// (body, each block's begin line, Base64 lines and end line, bytes after the last block) is a
// field that a test can change before taking the bytes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "support/test_pki.h"

namespace testing_support {

// How Base64 data is laid out in lines.
struct LineOptions {
  std::size_t width = 64;
  // The '=' padding on a line of its own after the last Base64 characters.
  bool paddingOnOwnLine = false;
  std::string lineEnd = "\n";
};

// Base64 of bytes in one piece, padding included.
std::string Base64(const std::string& bytes);
// Base64 of bytes in lines laid out as options say, each with its line end.
std::string Base64Lines(const std::string& bytes, const LineOptions& options = {});

// The bytes in reverse order (a signature stored least significant byte first).
std::string Reversed(std::string bytes);

struct PemBlock {
  std::string begin;  // begin line with its line end
  std::string lines;  // Base64 lines with their line ends
  std::string end;    // end line with its line end

  std::string Text() const { return begin + lines + end; }
};

PemBlock SignatureBlock(const std::string& signature, const LineOptions& options = {});
PemBlock CertificateBlock(const std::string& der, const LineOptions& options = {});

// A manifest: body, blocks in order, then trailer.
struct ManifestWriter {
  std::string Bytes() const;

  std::string body;
  std::vector<PemBlock> blocks;
  std::string trailer;
};

// A well-formed manifest: body, its SHA-1 signature by signer's key, signer's certificate,
// then the chain certificates in order.
ManifestWriter SignedManifest(const std::string& body, const TestCert& signer,
                              const std::vector<TestCert>& chain);

}  // namespace testing_support
