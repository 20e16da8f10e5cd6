#include "app/pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "app/fetch_ahead.h"
#include "app/iso_image.h"
#include "deployment.h"
#include "fake_pipeline_ops.h"
#include "platform/error_text.h"

using platform::MemoryConsole;

namespace {

const std::string kWork = "/tmp/KaveroBootableAvTempFolder";
const std::string kSlax = kWork + "/slax/";
const std::string kRemove = "remove " + kWork;
const std::string kUnlock = "unlock " + kWork;

// The run ended by removing its work folder and giving up its hold on it.
bool EndedCleanly(const std::vector<std::string>& calls) {
  return calls.size() >= 2 && calls[calls.size() - 2] == kRemove && calls.back() == kUnlock;
}

class PipelineTest : public testing::Test {
 protected:
  bool Build(int verbosity, std::optional<std::string> url = std::nullopt) {
    return BuildImage("out.iso", url, verbosity, ops_, console_);
  }
  FakePipelineOps ops_;
  MemoryConsole console_;
};

TEST_F(PipelineTest, RunsTheStepsInOrderAndRemovesTheWorkFolder) {
  ASSERT_TRUE(Build(1));
  const std::vector<std::string> expected = {
      "expand out.iso",
      "temp",
      "lock " + kWork,
      kRemove,
      "create " + kWork,
      "output /full/out.iso",
      "download KaveroLive-SLAX.tar 1",
      "untar " + kWork + "/KaveroLive-SLAX.tar " + kWork,
      "delete " + kWork + "/KaveroLive-SLAX.tar",
      "download linux.intel.libc6.glibc.2.2.tar 1",
      "download vdl.zip 1",
      "version " + kSlax + "vdl.zip",
      "download ide_2026.12.07.zip 1",
      "iso " + kWork + " /full/out.iso [ORBE 2026.12.07] 1",
      kRemove,
      kUnlock,
  };
  EXPECT_EQ(ops_.calls, expected);
  EXPECT_EQ(console_.out,
            "Downloading Linux distribution from Kavero...\n"
            "Unpacking Linux distribution...\n"
            "Downloading Kavero Anti-Virus for Linux...\n"
            "Downloading virus data...\n"
            "Determining virus data version...\n"
            "Downloading latest identities for virus data 2026.12.07...\n"
            "Creating the ISO image: out.iso...\n"
            "ISO image successfully created\n");
  EXPECT_EQ(console_.err, "");
}

TEST_F(PipelineTest, FetchesEachComponentFromItsPlaceWithItsManifest) {
  ASSERT_TRUE(Build(2));
  ASSERT_EQ(ops_.downloads.size(), 4u);
  const std::string server(deployment::kServer);
  const std::string account =
      std::string(deployment::kAccount) + ":" + std::string(deployment::kPassword) + "@";
  const DownloadRequest& dist = ops_.downloads[0];
  EXPECT_EQ(dist.base_url, server + "/tools/orbe/1.1/");
  EXPECT_EQ(dist.remote_name, "KaveroLive-SLAX.tar");
  EXPECT_EQ(dist.manifest_name, "KaveroLive-SLAX_manifest.dat");
  EXPECT_EQ(dist.folder, kWork);
  const DownloadRequest& product = ops_.downloads[1];
  EXPECT_EQ(product.base_url.find(account), server.find("://") + 3) << product.base_url;
  EXPECT_TRUE(product.base_url.ends_with("/kavero/products/full/OEM/Lumo/current/unix/"));
  EXPECT_EQ(product.manifest_name, "linux.intel.libc6.glibc.2.2.manifest");
  EXPECT_EQ(product.folder, kSlax);
  for (std::size_t i : {2u, 3u}) {
    EXPECT_TRUE(ops_.downloads[i].base_url.ends_with("/kavero/products/full/OEM/Lumo/data/"));
    EXPECT_NE(ops_.downloads[i].base_url.find(account), std::string::npos);
    EXPECT_EQ(ops_.downloads[i].manifest_name, std::nullopt);
    EXPECT_EQ(ops_.downloads[i].remote_name, ops_.downloads[i].file_name);
  }
  // The unpacking's progress line and its blanking line.
  EXPECT_NE(console_.out.find("Unpacking Linux distribution...\n50% of 0 KB\r" +
                              std::string(79, ' ') + "\rDownloading Kavero"),
            std::string::npos);
}

TEST_F(PipelineTest, AHybridImageIsAskedOfTheIsoStep) {
  ImageOptions options;
  options.hybrid = true;
  ASSERT_TRUE(BuildImage("out.iso", std::nullopt, 1, ops_, console_, options));
  EXPECT_EQ(ops_.calls[ops_.calls.size() - 3],
            "iso " + kWork + " /full/out.iso [ORBE 2026.12.07] 1 hybrid");
}

TEST_F(PipelineTest, OnlyFilesVerifiedByAManifestUseTheCache) {
  ImageOptions options;
  options.cache_folder = "/c";
  ASSERT_TRUE(BuildImage("out.iso", std::nullopt, 1, ops_, console_, options));
  EXPECT_EQ(ops_.calls[6], "cache /c") << "prepared after the output check, before any download";
  for (const std::string call : {"download KaveroLive-SLAX.tar 1 cached in /c",
                                 "download linux.intel.libc6.glibc.2.2.tar 1 cached in /c",
                                 "download vdl.zip 1", "download ide_2026.12.07.zip 1"}) {
    EXPECT_NE(std::find(ops_.calls.begin(), ops_.calls.end(), call), ops_.calls.end()) << call;
  }
  FakePipelineOps given_url;
  ASSERT_TRUE(BuildImage("out.iso", "http://h/d.tar", 1, given_url, console_, options));
  EXPECT_EQ(given_url.calls[7], "download KaveroLive-SLAX.tar 1") << "an unverified distribution";

  FakePipelineOps refused;
  MemoryConsole console;
  refused.failures["cache"] = platform::kErrorFolderIsLink;
  EXPECT_FALSE(BuildImage("out.iso", std::nullopt, 1, refused, console, options));
  EXPECT_EQ(console.err, "Failed to use the cache folder /c: The folder is a symbolic link\n");
  EXPECT_TRUE(refused.downloads.empty());
}

TEST_F(PipelineTest, AGivenDistributionUrlIsFetchedWholeWithoutManifest) {
  ASSERT_TRUE(Build(1, "ftp://host/some/other-name.tar"));
  const DownloadRequest& dist = ops_.downloads[0];
  EXPECT_EQ(dist.base_url, "ftp://host/some/other-name.tar");
  EXPECT_EQ(dist.remote_name, std::nullopt);
  EXPECT_EQ(dist.manifest_name, std::nullopt);
  EXPECT_EQ(dist.file_name, "KaveroLive-SLAX.tar");
  EXPECT_NE(std::find(ops_.calls.begin(), ops_.calls.end(),
                      "iso " + kWork + " /full/out.iso [ORBE 2026.12.07] 1 unverified"),
            ops_.calls.end())
      << "no program of an unverified distribution may run";
  EXPECT_EQ(console_.out.rfind(
                "Downloading Linux distribution from ftp://host/some/other-name.tar...\n", 0),
            0u);
}

TEST_F(PipelineTest, QuietPrintsNothingButFailures) {
  ops_.failures["download vdl.zip"] = 12029;
  EXPECT_FALSE(Build(0));
  EXPECT_EQ(console_.out, "");
  EXPECT_TRUE(EndedCleanly(ops_.calls));
}

TEST_F(PipelineTest, MissingIdentitiesAreNotAFailure) {
  ops_.failures["download ide_"] = platform::kErrorInternetItemNotFound;
  ASSERT_TRUE(Build(1));
  EXPECT_NE(console_.out.find("for virus data 2026.12.07...\nNo newer identities found\nCreating"),
            std::string::npos);
}

TEST_F(PipelineTest, OtherIdentityFailuresEndTheRun) {
  ops_.failures["download ide_"] = platform::kErrorInternetTimeout;
  EXPECT_FALSE(Build(1));
  EXPECT_EQ(console_.out.find("No newer identities found"), std::string::npos);
  EXPECT_TRUE(EndedCleanly(ops_.calls));
  EXPECT_EQ(ops_.calls[ops_.calls.size() - 3], "download ide_2026.12.07.zip 1");
}

// The platform's last error holds errno values on Linux and Windows codes on Windows, where
// the system gives their texts.
#ifdef _WIN32
constexpr int kBadArgument = 87;  // ERROR_INVALID_PARAMETER
constexpr int kNotFound = 2;      // ERROR_FILE_NOT_FOUND
#else
constexpr int kBadArgument = EINVAL;
constexpr int kNotFound = ENOENT;
#endif

struct FailureCase {
  std::string step;
  int code;
  std::string message;
  std::string last_call;  // the call before the final removal
};

TEST_F(PipelineTest, EachFailureReportsItsMessageAndStopsThere) {
  const FailureCase cases[] = {
      {"expand", kBadArgument,
       "Failed to expand the output path: " + platform::DownloadErrorText(kBadArgument) + "\n", ""},
      {"temp", kNotFound,
       "Failed to get temp folder: " + platform::DownloadErrorText(kNotFound) + "\n", ""},
      {"lock", platform::kErrorFolderInUse,
       "Failed to create temp folder " + kWork + ": Another orbec run is using the folder\n", ""},
      {"create", platform::kErrorFolderIsLink,
       "Failed to create temp folder " + kWork + ": The folder is a symbolic link\n",
       "create " + kWork},
      {"output", ENOENT, "Cannot open the output file /full/out.iso: No such file or directory\n",
       "output /full/out.iso"},
      {"download KaveroLive", 12028, "", "download KaveroLive-SLAX.tar 1"},
      {"untar", 101,
       "Failed to unpack the Linux distribution to " + kWork + ": The archive is truncated\n",
       "untar " + kWork + "/KaveroLive-SLAX.tar " + kWork},
      {"download linux", 12029, "", "download linux.intel.libc6.glibc.2.2.tar 1"},
      {"version", 0, "Could not determine the virus data version\n",
       "version " + kSlax + "vdl.zip"},
      {"iso", 0, "", "iso " + kWork + " /full/out.iso [ORBE 2026.12.07] 1"},
  };
  for (const FailureCase& c : cases) {
    FakePipelineOps ops;
    MemoryConsole console;
    ops.failures[c.step] = c.code;
    EXPECT_FALSE(BuildImage("out.iso", std::nullopt, 1, ops, console)) << c.step;
    EXPECT_EQ(console.err, c.message) << c.step;
    bool held = c.step != "expand" && c.step != "temp" && c.step != "lock";
    if (held) {
      ASSERT_GE(ops.calls.size(), 3u);
      EXPECT_TRUE(EndedCleanly(ops.calls)) << c.step;
      EXPECT_EQ(ops.calls[ops.calls.size() - 3], c.last_call) << c.step;
    } else {
      // Without the hold nothing is removed: the folder may be another run's.
      EXPECT_EQ(std::count(ops.calls.begin(), ops.calls.end(), kRemove), 0) << c.step;
    }
  }
}

TEST_F(PipelineTest, AnOutputFileMadeByTheRunGoesWhenTheRunFails) {
  for (const std::string step : {"download linux", "untar", "version", "iso", ""}) {
    FakePipelineOps ops;
    MemoryConsole console;
    ops.output_is_new = true;
    if (!step.empty()) ops.failures[step] = EIO;
    EXPECT_EQ(BuildImage("out.iso", std::nullopt, 1, ops, console), step.empty()) << step;
    const bool discarded =
        std::find(ops.calls.begin(), ops.calls.end(), "discard /full/out.iso") != ops.calls.end();
    EXPECT_EQ(discarded, !step.empty()) << step;
    EXPECT_TRUE(EndedCleanly(ops.calls)) << step;
  }
  // A file that was there before the run is never removed.
  ops_.failures["download linux"] = 12029;
  EXPECT_FALSE(Build(1));
  EXPECT_EQ(std::count(ops_.calls.begin(), ops_.calls.end(), "discard /full/out.iso"), 0);
}

TEST_F(PipelineTest, AnOutputInTheWorkFolderIsRefusedBeforeAnyDownload) {
  ops_.output_in_work_folder = true;
  EXPECT_FALSE(Build(1));
  EXPECT_EQ(console_.err,
            "Cannot open the output file /full/out.iso: The path belongs to the work folder that "
            "the run removes\n");
  EXPECT_TRUE(ops_.downloads.empty());
  EXPECT_EQ(ops_.calls[ops_.calls.size() - 3], "create " + kWork);
  EXPECT_TRUE(EndedCleanly(ops_.calls));
}

TEST_F(PipelineTest, AnUnsafeVersionIsRefused) {
  for (std::string version : {"../x", "a/b", "a\\b", "..", "1\t2", "v:1"}) {
    FakePipelineOps ops;
    MemoryConsole console;
    ops.version = version;
    EXPECT_FALSE(BuildImage("out.iso", std::nullopt, 1, ops, console)) << version;
    EXPECT_EQ(console.err, "Could not determine the virus data version\n") << version;
  }
  for (std::string version : {"", " 1.23 "}) {
    FakePipelineOps ops;
    MemoryConsole console;
    ops.version = version;
    EXPECT_TRUE(BuildImage("out.iso", std::nullopt, 1, ops, console)) << version;
    EXPECT_EQ(ops.calls[ops.calls.size() - 3],
              "iso " + kWork + " /full/out.iso [ORBE " + version + "] 1");
  }
}

// The ISO program's arguments: today's list for a distribution without a UEFI boot image, and
// the same list with the UEFI entry after the BIOS one.
TEST(IsoProgramArgumentsTest, PinnedForBiosAndForBiosWithUefi) {
  const std::string bios =
      "-J -R -D -no-emul-boot -boot-info-table -boot-load-size 4 -b "
      "slax/boot/isolinux.bin -c slax/boot/isolinux.boot";
  const std::string tail = " -o orbe.iso -A ORBE 1 -V ORBE 1 .";
  const std::tuple<int, bool, std::string> cases[] = {
      {1, false, "-quiet " + bios + tail},
      {2, false, "-v " + bios + tail},
      {1, true,
       "-quiet " + bios + " -eltorito-alt-boot -e slax/boot/efiboot.img -no-emul-boot" + tail},
  };
  for (const auto& [verbosity, uefi, expected] : cases) {
    std::string joined;
    for (const std::string& argument : IsoProgramArguments("ORBE 1", verbosity, uefi)) {
      joined += (joined.empty() ? "" : " ") + argument;
    }
    EXPECT_EQ(joined, expected);
  }
}

}  // namespace

// A job that fails stops the jobs started after it, also those started once it has failed,
// never one before it; output waits for Wait; a job that throws says so.
TEST(FetchAheadTest, AFailureStopsOnlyTheJobsAfterIt) {
  std::atomic<bool> release{false};
  auto wait_until = [](const std::function<bool()>& done) {
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  };
  FetchAhead jobs;
  jobs.Start([&](platform::Console& console) {
    wait_until([&] { return release.load() || TransfersStopped(); });
    console.Write(platform::Stream::kOut, "first\n");
    return true;
  });
  jobs.Start([](platform::Console&) { return false; });
  for (bool after_the_failure : {false, true}) {
    if (after_the_failure) jobs.Wait(1);
    jobs.Start([&](platform::Console&) {
      wait_until(TransfersStopped);
      return true;
    });
  }
  EXPECT_TRUE(jobs.Wait(2).stopped);
  EXPECT_TRUE(jobs.Wait(3).stopped);
  jobs.Start([](platform::Console&) -> bool { throw std::runtime_error("disk on fire"); });
  EXPECT_TRUE(jobs.Wait(4).threw);
  EXPECT_FALSE(jobs.Wait(1).stopped || jobs.Wait(1).ok);
  release = true;
  const FetchAhead::Outcome& first = jobs.Wait(0);
  EXPECT_TRUE(first.ok);
  platform::MemoryConsole console;
  first.output.Replay(console);
  EXPECT_EQ(console.out, "first\n");
}
