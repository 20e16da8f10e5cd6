// The error family of the manifest verification library. Every failure of the library is one
// of these, thrown by value and caught by reference to ve_base; the library never prints.
#pragma once

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>

namespace verify_exceptions {

// Verification codes: one numbering shared by the errors and VersionTool's state.
enum VerifyCode : std::int32_t {
  kNotVerified = 1,
  kValid = 2,
  kCannotOpen = 3,
  kMalformed = 4,
  kCryptFailed = 5,
  kBadSignature = 6,
  kBadCertificate = 7,
  kMalformedFileList = 8,
};

// Base of the family. what() is "VerifyTool Exception" for every member; the details are in
// code and in the one-line description.
class ve_base : public std::runtime_error {
 public:
  explicit ve_base(std::int32_t code);
  ~ve_base() override = default;
  virtual std::ostream& describe(std::ostream& out) const = 0;

  std::int32_t code;
};

// A file that cannot be opened (3), a malformed manifest (4) or file list (8), or a trust
// anchor that is not accessible (7). path is the path as the caller gave it.
class ve_file : public ve_base {
 public:
  ve_file(std::int32_t code, const std::string& path);
  std::ostream& describe(std::ostream& out) const override;

  std::string path;
};

// A cryptographic step failed (always code 5); message names the step.
class ve_crypt : public ve_base {
 public:
  explicit ve_crypt(const std::string& message);
  std::ostream& describe(std::ostream& out) const override;

  std::string message;
};

// No signature, or none that verifies (code 6).
class ve_badsig : public ve_base {
 public:
  ve_badsig();
  std::ostream& describe(std::ostream& out) const override;
};

// A certificate, chain or CRL check failed (code 7).
class ve_badcert : public ve_base {
 public:
  ve_badcert();
  std::ostream& describe(std::ostream& out) const override;
};

std::ostream& operator<<(std::ostream& out, const ve_file& e);
std::ostream& operator<<(std::ostream& out, const ve_crypt& e);
std::ostream& operator<<(std::ostream& out, const ve_badsig& e);
std::ostream& operator<<(std::ostream& out, const ve_badcert& e);

}  // namespace verify_exceptions
