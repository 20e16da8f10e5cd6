// The fixture of the end-to-end tests: a signed mirror served on the port the tool was built
// for, a private temporary folder and a folder to run in.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "orbec_run.h"
#include "support/temp_dir.h"
#include "support/test_server.h"

namespace e2e {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::TestServer;
using testing_support::WriteFileBytes;
namespace fs = std::filesystem;

inline const std::string kSteps =
    "Downloading Linux distribution from Kavero...\n"
    "Downloading the manifest file...\n"
    "Integrity successfully verified.\n"
    "Unpacking Linux distribution...\n"
    "Downloading Kavero Anti-Virus for Linux...\n"
    "Downloading the manifest file...\n"
    "Integrity successfully verified.\n"
    "Downloading virus data...\n"
    "Determining virus data version...\n"
    "Downloading latest identities for virus data 2026.12.07...\n"
    "Creating the ISO image: out.iso...\n"
    "ISO image successfully created\n";

// Standard error without the banner that xorriso prints even when asked to be quiet.
inline std::string ToolErrors(const std::string& err) {
  std::string kept;
  std::size_t at = 0;
  while (at < err.size()) {
    std::size_t end = err.find('\n', at);
    end = end == std::string::npos ? err.size() : end + 1;
    std::string line = err.substr(at, end - at);
    if (line.starts_with("xorriso ")) {
      if (err.compare(end, 1, "\n") == 0) ++end;  // and the empty line after it
    } else {
      kept += line;
    }
    at = end;
  }
  return kept;
}

class EndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_.path() / "tmp");
    fs::create_directories(dir_.path() / "run");
    rules_ = dir_.path() / "rules.json";
    WriteFileBytes(rules_, "{}");
    TestServer::Options options;
    options.port = DeploymentPort();
    options.rules = rules_;
    server_ = TestServer::StartHttp(mirror_.root(), options);
    ASSERT_TRUE(server_);
  }

  void TearDown() override {
    EXPECT_FALSE(fs::exists(work_)) << "the work folder outlived the run";
    EXPECT_FALSE(fs::exists(work_.string() + ".lock")) << "the lock file outlived the run";
  }

  RunResult Run(std::vector<std::string> arguments, std::map<std::string, std::string> env = {}) {
    RunResult result = RunOrbec(arguments, dir_.path() / "run", Env(std::move(env)));
    result.err = ToolErrors(result.err);
    return result;
  }

  // Starts a run without waiting for it.
  std::unique_ptr<OrbecProcess> Start(std::vector<std::string> arguments,
                                      std::map<std::string, std::string> env = {},
                                      int closed_streams = 0) {
    return std::make_unique<OrbecProcess>(arguments, dir_.path() / "run", Env(std::move(env)),
                                          closed_streams);
  }

  std::map<std::string, std::string> Env(std::map<std::string, std::string> env) const {
    env.emplace("TMPDIR", (dir_.path() / "tmp").string());
    env.emplace("ORBEC_TRANSFER_TIMEOUT", "10");
    return env;
  }

  void Faults(const std::string& rules) { WriteFileBytes(rules_, rules); }
  fs::path Output() const { return dir_.path() / "run/out.iso"; }
  std::string Banner() const {
    std::string usage = RunOrbec({}, dir_.path(), {}).out;
    return usage.substr(0, usage.find("Usage"));
  }

  TempDir dir_;
  Mirror mirror_{dir_.path() / "mirror"};
  fs::path rules_;
  fs::path work_ = dir_.path() / "tmp/KaveroBootableAvTempFolder";
  std::unique_ptr<TestServer> server_;
};

}  // namespace e2e
