// The signed manifest: its parsed parts (VerifyTool), one line of its file list (FileEntry),
// and the two stream extractions that read them.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

// One line of a manifest's file list.
class FileEntry {
 public:
  FileEntry(std::string path, std::uint32_t number, std::string checksum);

  std::string Checksum() const { return checksum_; }

  // Hashes the file folderPrefix + path (a backslash in path taken as a path separator) and
  // compares its digest with the checksum: 0 equal, 1 different, 2 the file cannot be opened
  // or read. Throws ve_crypt when the digest machinery fails.
  int CheckFile(const std::string& folderPrefix) const;

  // Whether a SHA-1 digest given as ToHex writes it (40 lower-case hexadecimal characters) is
  // the listed checksum.
  bool Matches(const std::string& hexDigest) const { return hexDigest == checksum_; }

  std::string path;          // as written between the quotes
  std::uint32_t number = 0;  // stored and copied, used by no check

 private:
  std::string checksum_;  // lower-case hexadecimal, as written
};

// The parts of a signed manifest.
class VerifyTool {
 public:
  // Runs every cryptographic check of the manifest, in this order: signer certificate,
  // signatures over body, chain certificates, CRL, CRL currency, root certificate, chain.
  // Throws the first failure (ve_crypt, ve_badsig, ve_badcert, ve_file 7).
  void VerifyTrust(const std::string& rootCertPath, const std::string& crlPath) const;

  std::string body;                            // the signed bytes
  std::vector<std::string> signatures;         // decoded signature candidates, in file order
  std::string signerCertificate;               // PEM text
  std::vector<std::string> chainCertificates;  // PEM texts, towards the root
};

// Splits a binary stream holding a signed manifest into target. A malformed manifest fails
// the stream and leaves target unchanged. Throws ve_badsig when the first signature block is
// missing or empty and ve_badcert when there is no certificate block.
std::istream& operator>>(std::istream& in, VerifyTool& target);

// Reads a file list (comment and entry lines up to the end of the input) into target. A
// malformed list fails the stream and leaves target unchanged.
std::istream& operator>>(std::istream& in, std::vector<FileEntry>& target);
