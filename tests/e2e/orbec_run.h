// Runs the built orbec binary as a user would, and the demo mirror it talks to.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/test_server.h"

namespace e2e {

struct RunResult {
  int status = -1;      // exit status, or 128 + the signal that ended the process
  int signal = 0;       // the signal that ended the process, 0 when it exited
  long max_rss_kb = 0;  // the process's peak resident memory
  std::string out;
  std::string err;
};

// One orbec process started in `cwd` with extra environment variables, its standard output
// and error kept in files until it ends. Streams named in closed_streams (1 output, 2 error)
// are instead a pipe whose reader is gone.
class OrbecProcess {
 public:
  OrbecProcess(const std::vector<std::string>& arguments, const std::filesystem::path& cwd,
               const std::map<std::string, std::string>& environment, int closed_streams = 0);
  ~OrbecProcess();
  OrbecProcess(const OrbecProcess&) = delete;
  OrbecProcess& operator=(const OrbecProcess&) = delete;

  void Signal(int signal_number);
  RunResult Wait();

 private:
  testing_support::TempDir streams_;
  pid_t pid_ = -1;
};

// Runs orbec with the arguments in `cwd`, with extra environment variables; waits for it.
RunResult RunOrbec(const std::vector<std::string>& arguments, const std::filesystem::path& cwd,
                   const std::map<std::string, std::string>& environment);

// A small mirror of the download server's content (distribution, product, virus data,
// identities, signed manifests) in a folder, laid out by URL path.
class Mirror {
 public:
  static constexpr const char* kVersion = "2026.12.07";
  static constexpr const char* kDistribution = "tools/orbe/1.1/KaveroLive-SLAX.tar";
  static constexpr const char* kDistributionManifest =
      "tools/orbe/1.1/KaveroLive-SLAX_manifest.dat";
  static constexpr const char* kProduct =
      "kavero/products/full/OEM/Lumo/current/unix/linux.intel.libc6.glibc.2.2.tar";
  static constexpr const char* kProductManifest =
      "kavero/products/full/OEM/Lumo/current/unix/linux.intel.libc6.glibc.2.2.manifest";
  static constexpr const char* kVirusData = "kavero/products/full/OEM/Lumo/data/vdl.zip";
  static constexpr const char* kIdentities =
      "kavero/products/full/OEM/Lumo/data/ide_2026.12.07.zip";

  explicit Mirror(std::filesystem::path root);
  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path operator/(const std::string& path) const { return root_ / path; }

  // The distribution archive's bytes.
  static std::string DistributionTar();
  // Writes the signed manifest of one file of the mirror.
  void Sign(const std::string& file, const std::string& manifest) const;

 private:
  std::filesystem::path root_;
};

// The port of the server the tool was built for.
int DeploymentPort();

}  // namespace e2e
