// The built tool when the machine or the server lets it down, when it is interrupted, and
// when two runs share one temporary folder.
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <thread>
#include <tuple>

#include "end_to_end.h"
#include "iso_inspect.h"
#include "support/tar_builder.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

// Waits until a path exists; false after the time limit.
bool AppearsWithin(const fs::path& path, std::chrono::milliseconds limit) {
  for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(10ms)) {
    if (fs::exists(path)) return true;
  }
  return false;
}

class Trouble : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    WriteFileBytes(Output(), "keep");
  }

  void TearDown() override {
    EXPECT_EQ(ReadFileBytes(Output()), "keep") << "an existing output file was changed";
    for (const fs::path& mount : mounts_) umount2(mount.c_str(), MNT_DETACH);
    EndToEnd::TearDown();
  }

  // A small file system at dir/name; false (test skipped) when this process may not mount.
  bool Mount(const std::string& name, std::size_t bytes, bool read_only = false) {
    fs::path target = dir_.path() / name;
    fs::create_directories(target);
    std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    unsigned long flags = read_only ? MS_RDONLY : 0;
    if (mount("tmpfs", target.c_str(), "tmpfs", flags, options.c_str()) != 0) return false;
    mounts_.push_back(target);
    return true;
  }

  fs::path SmallTmp() const { return dir_.path() / "small"; }

  std::vector<fs::path> mounts_;
};

#define REQUIRE_MOUNT(...) \
  if (!Mount(__VA_ARGS__)) GTEST_SKIP() << "mounting a small file system needs root"

TEST_F(Trouble, TheDiskFillsUpDuringADownload) {
  REQUIRE_MOUNT("small", 16 * 1024);
  RunResult run = Run({"out.iso"}, {{"TMPDIR", SmallTmp().string()}});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Download failed: No space left on device\n");
  EXPECT_TRUE(fs::is_empty(SmallTmp()));
}

TEST_F(Trouble, TheDiskFillsUpDuringTheUnpacking) {
  // Room for the archive, not for the unpacked files; -v fetches nothing meanwhile.
  std::size_t archive = fs::file_size(mirror_ / Mirror::kDistribution);
  REQUIRE_MOUNT("small", archive + 24 * 1024);
  RunResult run = Run({"-v", "out.iso"}, {{"TMPDIR", SmallTmp().string()}});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Failed to unpack the Linux distribution to " +
                         (SmallTmp() / "KaveroBootableAvTempFolder").string() +
                         ": No space left on device\n");
  EXPECT_TRUE(fs::is_empty(SmallTmp()));
}

TEST_F(Trouble, AnEndlessBodyEndsWhenTheDiskIsFull) {
  REQUIRE_MOUNT("small", 1024 * 1024);
  Faults(R"({"/kavero/products/full/OEM/Lumo/data/vdl.zip": ["endless"]})");
  RunResult run = Run({"out.iso"}, {{"TMPDIR", SmallTmp().string()}});
  EXPECT_EQ(run.status, 1);
  // The virus data is fetched while the distribution is: whichever step meets the full disk
  // first reports it (a trust anchor's line has no line break of its own).
  const std::regex disk_full(
      "((Download failed|Failed to (unpack|save) [^:]*): No space left on device\n?)+");
  EXPECT_TRUE(std::regex_match(run.err, disk_full)) << run.err;
  EXPECT_TRUE(fs::is_empty(SmallTmp()));
}

TEST_F(Trouble, TheDiskFillsUpDuringTheImageMove) {
  REQUIRE_MOUNT("out", 8 * 1024);
  fs::path output = dir_.path() / "out/out.iso";
  WriteFileBytes(output, "keep too");
  RunResult run = Run({"-q", output.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "MoveFile failed with error code 28\n");
  EXPECT_EQ(ReadFileBytes(output), "keep too");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path() / "out"), fs::directory_iterator()),
            1);
}

TEST_F(Trouble, AnUnwritableOutputFolderFailsBeforeAnyDownload) {
  REQUIRE_MOUNT("readonly", 64 * 1024, true);
  fs::path output = dir_.path() / "readonly/out.iso";
  RunResult run = Run({"-q", output.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "Cannot open the output file " + output.string() + ": Read-only file system\n");
  EXPECT_TRUE(server_->RequestLog().empty());
}

// The image copied onto another file system and interrupted half way: the copy goes, the old
// output stays.
TEST_F(Trouble, AnInterruptedImageMoveLeavesNoCopy) {
  REQUIRE_MOUNT("out", std::size_t{1} << 30);
  fs::path bin = dir_.path() / "bin";
  fs::create_directories(bin);
  WriteFileBytes(bin / "mkisofs",
                 "#!/bin/sh\n/usr/bin/truncate -s 512M orbe.iso\n"
                 "printf CD001 | /bin/dd of=orbe.iso bs=1 seek=32769 conv=notrunc 2>/dev/null\n");
  fs::permissions(bin / "mkisofs", fs::perms::owner_all);
  fs::path output = dir_.path() / "out/out.iso";
  WriteFileBytes(output, "keep too");
  auto run = Start({"-q", output.string()}, {{"PATH", bin.string()}});
  bool copying = false;
  for (auto end = std::chrono::steady_clock::now() + 30s;
       !copying && std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(1ms)) {
    copying =
        std::distance(fs::directory_iterator(output.parent_path()), fs::directory_iterator()) > 1;
  }
  run->Signal(SIGTERM);
  RunResult result = run->Wait();
  ASSERT_TRUE(copying) << result.status << result.err;
  EXPECT_EQ(result.signal, SIGTERM) << result.status << result.err;
  EXPECT_EQ(ReadFileBytes(output), "keep too");
  EXPECT_EQ(std::distance(fs::directory_iterator(output.parent_path()), fs::directory_iterator()),
            1);
}

// Places that the run itself removes: the work folder, what is in it, its lock file, also
// when spelled through a link or a relative path.
TEST_F(Trouble, AnOutputTheRunWouldDestroyIsRefused) {
  fs::create_directory_symlink(dir_.path() / "tmp", dir_.path() / "tmp-link");
  const std::pair<std::string, fs::path> outputs[] = {
      {(work_ / "out.iso").string(), work_ / "out.iso"},
      {work_.string() + ".lock", work_.string() + ".lock"},
      {(dir_.path() / "tmp-link/KaveroBootableAvTempFolder/out.iso").string(),
       dir_.path() / "tmp-link/KaveroBootableAvTempFolder/out.iso"},
      {"../tmp/KaveroBootableAvTempFolder/slax/../out.iso", work_ / "out.iso"},
  };
  for (const auto& [typed, full] : outputs) {
    RunResult run = Run({"-q", typed});
    EXPECT_EQ(run.status, 1) << typed;
    EXPECT_EQ(run.err, "Cannot open the output file " + full.string() +
                           ": The path belongs to the work folder that the run removes\n");
    EXPECT_TRUE(fs::is_empty(dir_.path() / "tmp")) << typed;
  }
  EXPECT_TRUE(server_->RequestLog().empty());
}

// An output file that the run made is removed again when the run fails or is interrupted.
TEST_F(Trouble, AFailedRunRemovesTheOutputFileItMade) {
  Faults(R"({"/kavero/products/full/OEM/Lumo/data/vdl.zip": ["status:500"],
             "/tools/orbe/1.1/KaveroLive-SLAX.tar": ["ok", "slow:300"]})");
  RunResult failed = Run({"-q", "new.iso"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err, "Download failed: Unsuccessful download\n");
  EXPECT_FALSE(fs::exists(dir_.path() / "run/new.iso"));

  auto run = Start({"-q", "new.iso"});
  ASSERT_TRUE(AppearsWithin(work_ / "KaveroLive-SLAX.tar", 10s));
  ASSERT_TRUE(fs::exists(dir_.path() / "run/new.iso"));
  run->Signal(SIGINT);
  EXPECT_EQ(run->Wait().signal, SIGINT);
  EXPECT_FALSE(fs::exists(dir_.path() / "run/new.iso"));
}

// A console whose reader went away (orbec x.iso | head): the run goes on, cleans up and ends
// with its own status. (The ISO program, which writes to standard error even when quiet, is
// left to its own default when that is closed too.)
TEST_F(Trouble, AClosedConsoleCostsOnlyTheText) {
  RunResult made = Start({"new.iso"}, {}, 1)->Wait();
  EXPECT_EQ(made.status, 0) << made.signal;
  auto facts = InspectIso(dir_.path() / "run/new.iso");
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->volume_id, "ORBE 2026.12.07");
  EXPECT_TRUE(fs::is_empty(dir_.path() / "tmp"));
  fs::remove(dir_.path() / "run/new.iso");

  Faults(R"({"/kavero/products/full/OEM/Lumo/data/vdl.zip": ["status:500"]})");
  RunResult failed = Start({"new.iso"}, {}, 1 | 2)->Wait();
  EXPECT_EQ(failed.status, 1) << failed.signal;
  EXPECT_TRUE(fs::is_empty(dir_.path() / "tmp"));
  EXPECT_FALSE(fs::exists(dir_.path() / "run/new.iso"));
}

// Each row: the faults, the failure line, the last step line. The last rows fail one component
// while the others are still being fetched: the line is the first failing step's, in its place.
TEST_F(Trouble, ServerFaultsEndTheRunWithTheirReason) {
  const std::string distribution = R"("/tools/orbe/1.1/KaveroLive-SLAX.tar": )";
  const std::string product = R"("/kavero/products/full/OEM/Lumo/current/unix/)"
                              R"(linux.intel.libc6.glibc.2.2.tar": )";
  const std::string data = R"("/kavero/products/full/OEM/Lumo/data/vdl.zip": )";
  const std::string refused = "Download failed: Unsuccessful download\n";
  const std::string first = "Downloading Linux distribution from Kavero...\n";
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {distribution + R"(["short:1000"])",
       "Download failed: The connection with the server was terminated abnormally\n", first},
      {distribution + R"(["stall:1000"])", "Download failed: The connection has timed out\n",
       first},
      {distribution + R"(["trickle:2"])", "Download failed: The connection has timed out\n", first},
      {distribution + R"(["redirectloop"])",
       "Download failed: The redirection failed (too many redirects or a redirect loop)\n", first},
      {distribution + R"(["status:403"])", refused, first},
      {distribution + R"(["status:403"], )" + product + R"(["stall:1000"], )" + data +
           R"(["slow:300"])",
       refused, first},
      {distribution + R"(["slow:20"], )" + product + R"(["status:403"], )" + data +
           R"(["stall:1000"])",
       refused, "Downloading Kavero Anti-Virus for Linux...\n"},
      {distribution + R"(["slow:20"], )" + product + R"(["slow:300"], )" + data +
           R"(["status:403"])",
       refused, "Downloading virus data...\n"},
  };
  for (const auto& [faults, message, last_step] : cases) {
    Faults("{" + faults + "}");
    RunResult run = Run({"out.iso"}, {{"ORBEC_TRANSFER_TIMEOUT", "2"}});
    EXPECT_EQ(run.status, 1) << faults;
    EXPECT_EQ(run.err, message) << faults;
    EXPECT_TRUE(run.out.ends_with(last_step)) << faults << run.out;
    EXPECT_FALSE(fs::exists(work_)) << faults;
  }
}

// A manifest far beyond any real one's size (256 MiB of zeros, sparse, before a well-formed
// manifest) is refused without being read into memory, on the first try and on the retry.
TEST_F(Trouble, AnOversizedManifestIsRefusedUnread) {
  const fs::path manifest = mirror_ / Mirror::kProductManifest;
  const std::string signed_text = ReadFileBytes(manifest);
  fs::resize_file(manifest, 0);
  fs::resize_file(manifest, std::uintmax_t{256} << 20);
  std::ofstream(manifest, std::ios::binary | std::ios::app) << signed_text;
  RunResult run = Run({"-q", "out.iso"});
  EXPECT_EQ(run.status, 1);
  const std::regex refused_twice(
      "(Manifest verification: \\[BADFILE\\]: 4: '[^']*manifest\\.dat'\n){2}");
  EXPECT_TRUE(std::regex_match(run.err, refused_twice)) << run.err;
  // Holding the manifest would take at least its own 256 MiB (1 GiB before it was bounded).
  EXPECT_LT(run.max_rss_kb, 256 * 1024) << "peak memory in KiB";
  std::printf("oversized manifest: peak memory %ld KiB\n", run.max_rss_kb);
}

TEST_F(Trouble, AnInterruptedDownloadRemovesTheWorkFolder) {
  Faults(R"({"/tools/orbe/1.1/KaveroLive-SLAX.tar": ["slow:300"]})");
  for (int signal_number : {SIGINT, SIGTERM}) {
    auto run = Start({"-q", "out.iso"});
    ASSERT_TRUE(AppearsWithin(work_ / "KaveroLive-SLAX.tar", 10s));
    run->Signal(signal_number);
    RunResult result = run->Wait();
    EXPECT_EQ(result.signal, signal_number) << result.err;
    EXPECT_FALSE(fs::exists(work_));
    EXPECT_FALSE(fs::exists(work_.string() + ".lock"));
  }
}

TEST_F(Trouble, AnInterruptedIsoProgramIsStopped) {
  fs::path bin = dir_.path() / "bin";
  fs::create_directories(bin);
  fs::path pid_file = dir_.path() / "iso.pid";
  WriteFileBytes(bin / "mkisofs",
                 "#!/bin/sh\necho $$ > '" + pid_file.string() + "'\nexec /bin/sleep 60\n");
  fs::permissions(bin / "mkisofs", fs::perms::owner_all);
  auto run = Start({"-q", "out.iso"}, {{"PATH", bin.string()}});
  ASSERT_TRUE(AppearsWithin(pid_file, 20s));
  std::this_thread::sleep_for(100ms);
  run->Signal(SIGTERM);
  RunResult result = run->Wait();
  EXPECT_EQ(result.signal, SIGTERM) << result.status << result.out << result.err;
  pid_t iso = std::stoi(ReadFileBytes(pid_file));
  EXPECT_NE(kill(iso, 0), 0) << "the ISO program outlived the run";
  EXPECT_FALSE(fs::exists(work_));
}

TEST_F(Trouble, AnInterruptedUnpackingRemovesTheWorkFolder) {
  testing_support::TarBuilder tar;
  tar.AddDirectory("many/");
  for (int i = 0; i < 8000; ++i) tar.AddFile("many/" + std::to_string(i), std::string(1000, 'x'));
  fs::create_directories(mirror_ / "other");
  WriteFileBytes(mirror_ / "other/many.tar", tar.AddEnd().Bytes());
  std::string url = server_->url() + "/other/many.tar";
  auto run = Start({"-d", url, "out.iso"});
  ASSERT_TRUE(AppearsWithin(work_ / "many/100", 10s));
  run->Signal(SIGINT);
  RunResult result = run->Wait();
  EXPECT_EQ(result.signal, SIGINT) << result.status << result.err;
  EXPECT_TRUE(result.out.ends_with("Downloading Linux distribution from " + url +
                                   "...\nUnpacking Linux distribution...\n"))
      << "the steps reported before the signal are lost: " << result.out;
  EXPECT_FALSE(fs::exists(work_));
  EXPECT_FALSE(fs::exists(work_.string() + ".lock"));
}

TEST_F(Trouble, InterruptionsAtAnyPointLeaveNothingBehind) {
  // The product and the virus data are still being fetched at the early points.
  Faults(R"({"/tools/orbe/1.1/KaveroLive-SLAX.tar": ["slow:20"],
             "/kavero/products/full/OEM/Lumo/current/unix/linux.intel.libc6.glibc.2.2.tar":
                 ["slow:400"],
             "/kavero/products/full/OEM/Lumo/data/vdl.zip": ["slow:400"]})");
  int interrupted = 0;
  for (auto delay : {50ms, 200ms, 400ms, 700ms, 1000ms, 1400ms, 2000ms}) {
    auto run = Start({"-q", "out.iso"});
    std::this_thread::sleep_for(delay);
    run->Signal(SIGTERM);
    RunResult result = run->Wait();
    EXPECT_TRUE(result.status == 0 || result.signal == SIGTERM) << result.status << result.err;
    interrupted += result.signal == SIGTERM;
    EXPECT_FALSE(fs::exists(work_)) << delay.count();
    EXPECT_FALSE(fs::exists(work_.string() + ".lock")) << delay.count();
    if (result.status == 0) WriteFileBytes(Output(), "keep");
  }
  EXPECT_GT(interrupted, 0);
}

TEST_F(Trouble, ASecondRunLeavesTheFirstRunsWorkAlone) {
  Faults(R"({"/tools/orbe/1.1/KaveroLive-SLAX.tar": ["slow:100"]})");
  auto first = Start({"-q", "out.iso"});
  ASSERT_TRUE(AppearsWithin(work_ / "KaveroLive-SLAX.tar", 10s));
  RunResult second = Run({"-q", "second.iso"});
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.err, "Failed to create temp folder " + work_.string() +
                            ": Another orbec run is using the folder\n");
  EXPECT_FALSE(fs::exists(dir_.path() / "run/second.iso"));
  RunResult result = first->Wait();
  EXPECT_EQ(result.status, 0) << result.err;
  auto facts = InspectIso(Output());
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->volume_id, "ORBE 2026.12.07");
  WriteFileBytes(Output(), "keep");
}

// Every multiple of 512 below the size, and four offsets inside every eighth block.
std::vector<std::size_t> Cuts(std::size_t size) {
  std::vector<std::size_t> cuts;
  for (std::size_t block = 0; block < size; block += 512) {
    for (std::size_t inside : {0, 1, 100, 257, 511}) {
      if (block + inside < size && (inside == 0 || block % 4096 == 0)) {
        cuts.push_back(block + inside);
      }
    }
  }
  return cuts;
}

// A failed run leaves only the output file that was there before it.
void ExpectNothingLeft(const fs::path& dir, const std::string& what) {
  EXPECT_TRUE(fs::is_empty(dir / "tmp")) << what;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "run"), fs::directory_iterator()), 1)
      << what;
}

// Signed files, their manifests and the unsigned virus data, each served cut short: the run
// fails with the failure the cut calls for, removes its work folder and writes nothing else.
TEST_F(Trouble, TruncatedFilesEndTheRunWithTheirFailure) {
  const std::regex twice_refused(
      "(Error: File checksum is incorrect\\.\n|"
      "Manifest verification: \\[[A-Z_]+\\]: ([0-9]+\\n|[0-9]+: '[^']*')\\n){2}");
  const std::pair<const char*, std::regex> files[] = {
      {Mirror::kDistribution, twice_refused},
      {Mirror::kDistributionManifest, twice_refused},
      {Mirror::kProduct, twice_refused},
      {Mirror::kProductManifest, twice_refused},
      {Mirror::kVirusData, std::regex("Could not determine the virus data version\\n")},
  };
  std::size_t runs = 0;
  for (const auto& [file, failure] : files) {
    const std::string whole = ReadFileBytes(mirror_ / file);
    for (std::size_t cut : Cuts(whole.size())) {
      WriteFileBytes(mirror_ / file, whole.substr(0, cut));
      RunResult run = Run({"-q", "out.iso"});
      ++runs;
      std::string what = std::string(file) + " cut at " + std::to_string(cut);
      EXPECT_EQ(run.status, 1) << what;
      EXPECT_TRUE(std::regex_match(run.err, failure)) << what << ": " << run.err;
      ExpectNothingLeft(dir_.path(), what);
    }
    WriteFileBytes(mirror_ / file, whole);
  }
  std::printf("truncated signed or zipped files: %zu runs\n", runs);
}

// A distribution given by URL is not verified, so its cuts reach the unpacking. Cuts inside a
// block are never a place where an archive may end.
TEST_F(Trouble, ATruncatedUnverifiedDistributionFailsTheUnpacking) {
  const std::string whole = Mirror::DistributionTar();
  fs::create_directories(mirror_ / "other");
  std::size_t runs = 0;
  for (std::size_t cut : Cuts(whole.size())) {
    if (cut % 512 == 0) continue;
    WriteFileBytes(mirror_ / "other/cut.tar", whole.substr(0, cut));
    RunResult run = Run({"-q", "-d", server_->url() + "/other/cut.tar", "out.iso"});
    ++runs;
    std::string what = "cut at " + std::to_string(cut);
    EXPECT_EQ(run.status, 1) << what;
    EXPECT_EQ(run.err, "Failed to unpack the Linux distribution to " + work_.string() +
                           ": The archive is truncated\n")
        << what;
    ExpectNothingLeft(dir_.path(), what);
  }
  std::printf("truncated unverified distributions: %zu runs\n", runs);
}

}  // namespace
}  // namespace e2e
