// The built tool end to end against a loopback server holding a small signed mirror.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "end_to_end.h"
#include "iso_inspect.h"
#include "support/tar_builder.h"
#include "support/zip_builder.h"

namespace e2e {
namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::TestServer;
using testing_support::WriteFileBytes;
namespace fs = std::filesystem;

TEST_F(EndToEnd, QuietRunBuildsABootableImageAndPrintsNothing) {
  WriteFileBytes(Output(), "an older file");
  RunResult run = Run({"-q", "out.iso"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");

  auto facts = InspectIso(Output());
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->volume_id, "ORBE 2026.12.07");
  EXPECT_EQ(facts->application_id, "ORBE 2026.12.07");
  EXPECT_TRUE(facts->joliet);
  EXPECT_TRUE(facts->rock_ridge);
  EXPECT_TRUE(facts->boot_info_table);
  for (const char* option : {"-b '/slax/boot/isolinux.bin'", "-c '/slax/boot/isolinux.boot'",
                             "-no-emul-boot", "-boot-load-size 4", "-boot-info-table"}) {
    EXPECT_NE(facts->el_torito.find(option), std::string::npos) << option << "\n"
                                                                << facts->el_torito;
  }
  for (const char* present : {"'/slax/linux.intel.libc6.glibc.2.2.tar'", "'/slax/vdl.zip'",
                              "'/slax/ide_2026.12.07.zip'", "'/readme.txt'"}) {
    EXPECT_NE(facts->files.find(present), std::string::npos) << present;
  }
  for (const char* absent :
       {"KaveroLive-SLAX.tar", "manifest.dat", "ps.crl", "ps_rootca.crt", "orbe.iso"}) {
    EXPECT_EQ(facts->files.find(absent), std::string::npos) << absent;
  }
}

TEST_F(EndToEnd, NormalRunPrintsEveryStep) {
  RunResult run = Run({"out.iso"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, Banner() + kSteps);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(fs::exists(Output()));
  auto log = server_->RequestLog();
  ASSERT_EQ(log.size(), 6u);
  // The product and the virus data are fetched while the distribution is: in any order.
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& request) {
                            return request.starts_with(
                                "GET /kavero/products/full/OEM/Lumo/current/unix//"
                                "linux.intel.libc6.glibc.2.2.tar Basic ");
                          }),
            1);
}

TEST_F(EndToEnd, VerboseRunAddsProgressLines) {
  RunResult run = Run({"-v", "out.iso"});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string blank = std::string(79, ' ') + "\r";
  EXPECT_NE(run.out.find("% of "), std::string::npos);
  // Every step line of the normal run appears, in order, each progress run ending blanked.
  std::size_t at = 0;
  for (std::size_t line = 0; line < kSteps.size();) {
    std::size_t end = kSteps.find('\n', line) + 1;
    std::string text = kSteps.substr(line, end - line);
    std::size_t found = run.out.find(text, at);
    ASSERT_NE(found, std::string::npos) << text;
    at = found + text.size();
    line = end;
  }
  EXPECT_NE(run.out.find(blank + "Downloading the manifest file...\n"), std::string::npos);
  EXPECT_NE(run.out.find(blank + "Determining virus data version...\n"), std::string::npos);
}

TEST_F(EndToEnd, MissingIdentitiesStillGiveAnImage) {
  fs::remove(mirror_ / Mirror::kIdentities);
  RunResult run = Run({"out.iso"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "Download failed: The file does not exist.\n");
  EXPECT_NE(run.out.find("2026.12.07...\nNo newer identities found\nCreating the ISO image"),
            std::string::npos);
  auto facts = InspectIso(Output());
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->files.find("ide_"), std::string::npos);
}

TEST_F(EndToEnd, AFailingIdentityServerEndsTheRun) {
  Faults(R"({"/kavero/products/full/OEM/Lumo/data/ide_2026.12.07.zip": ["status:500"]})");
  WriteFileBytes(Output(), "keep");
  RunResult run = Run({"out.iso"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Download failed: Unsuccessful download\n");
  EXPECT_EQ(ReadFileBytes(Output()), "keep");
}

TEST_F(EndToEnd, ACorruptFirstDownloadIsFetchedAgain) {
  Faults(R"({"/tools/orbe/1.1/KaveroLive-SLAX.tar": ["corrupt", "ok"]})");
  RunResult run = Run({"out.iso"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "Error: File checksum is incorrect.\n");
  EXPECT_NE(run.out.find("Downloading Linux distribution from Kavero...\n"
                         "Downloading the manifest file...\n"
                         "Retrying the download...\n"
                         "Downloading the manifest file...\n"
                         "Integrity successfully verified.\n"),
            std::string::npos)
      << run.out;
}

TEST_F(EndToEnd, ABadSignatureFailsTwice) {
  std::string manifest = ReadFileBytes(mirror_ / Mirror::kProductManifest);
  manifest[manifest.find("\".\\") + 1] = '/';  // one byte of the signed body changed
  WriteFileBytes(mirror_ / Mirror::kProductManifest, manifest);
  RunResult run = Run({"out.iso"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "Manifest verification: [BADSIG]: 6\n\nManifest verification: [BADSIG]: 6\n\n");
  EXPECT_NE(run.out.find("Retrying the download...\n"), std::string::npos);
  EXPECT_EQ(run.out.find("Downloading virus data"), std::string::npos);
}

TEST_F(EndToEnd, AGivenDistributionUrlOverHttpIsNotVerified) {
  fs::create_directories(mirror_ / "other");
  fs::copy_file(mirror_ / Mirror::kDistribution, mirror_ / "other/any-name.tar");
  std::string url = server_->url() + "/other/any-name.tar";
  RunResult run = Run({"-d", url, "out.iso"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.out.starts_with(Banner() + "Downloading Linux distribution from " + url +
                                  "...\nUnpacking Linux distribution...\n"))
      << run.out;
  for (const std::string& request : server_->RequestLog()) {
    EXPECT_EQ(request.find("KaveroLive-SLAX"), std::string::npos) << request;
  }
}

TEST_F(EndToEnd, AGivenDistributionUrlOverFtp) {
  TempDir ftp_root;
  WriteFileBytes(ftp_root.path() / "dist.tar", Mirror::DistributionTar());
  auto ftp = TestServer::StartFtp(ftp_root.path(), {});
  ASSERT_TRUE(ftp);
  RunResult run = Run({"-q", "-d", ftp->url() + "/dist.tar", "out.iso"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::exists(Output()));
}

TEST_F(EndToEnd, ACorruptDistributionArchiveFailsTheUnpacking) {
  fs::create_directories(mirror_ / "other");
  std::string tar = Mirror::DistributionTar();
  tar[148] ^= 1;  // the first header's checksum
  WriteFileBytes(mirror_ / "other/bad.tar", tar);
  RunResult run = Run({"-q", "-d", server_->url() + "/other/bad.tar", "out.iso"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Failed to unpack the Linux distribution to " + work_.string() +
                         ": The archive is corrupt\n");
}

TEST_F(EndToEnd, AVirusDataArchiveWithoutVersionFails) {
  testing_support::WriteZip(mirror_ / Mirror::kVirusData, {{"other.txt", "1.0\n"}});
  RunResult run = Run({"out.iso"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Could not determine the virus data version\n");
  EXPECT_EQ(run.out.find("Downloading latest identities"), std::string::npos);
}

// The ISO program fails, or ends well without writing an image: the run fails, and no output
// file is left.
TEST_F(EndToEnd, IsoProgramFailures) {
  fs::path bin = dir_.path() / "bin";
  fs::create_directories(bin);
  const std::string descriptor = "printf CD001 | dd of=orbe.iso bs=1 seek=32769 conv=notrunc";
  const std::pair<std::string, std::string> cases[] = {
      {"exit 3", "mkisofs failed with exit code 3\n"},
      {"printf '12 bytes only' > orbe.iso",
       "mkisofs did not write an ISO 9660 image: the file has no ISO 9660 volume descriptor\n"},
      {"truncate -s 64K orbe.iso",
       "mkisofs did not write an ISO 9660 image: the file has no ISO 9660 volume descriptor\n"},
      {"truncate -s 40001 orbe.iso && " + descriptor,
       "mkisofs did not write an ISO 9660 image: its size is not a whole number of 2048-byte "
       "sectors\n"},
      {"true", "mkisofs did not write an ISO 9660 image: the program wrote no image file\n"},
  };
  for (const auto& [script, message] : cases) {
    WriteFileBytes(bin / "mkisofs", "#!/bin/sh\n" + script + " 2>/dev/null\n");
    fs::permissions(bin / "mkisofs", fs::perms::owner_all);
    RunResult failed = Run({"-q", "new.iso"}, {{"PATH", bin.string() + ":/usr/bin:/bin"}});
    EXPECT_EQ(failed.status, 1) << script;
    EXPECT_EQ(failed.err, message) << script;
    EXPECT_FALSE(fs::exists(dir_.path() / "run/new.iso")) << script;
  }

  fs::remove(bin / "mkisofs");
  RunResult missing = Run({"-q", "out.iso"}, {{"PATH", bin.string()}});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "Failed to launch mkisofs: No such file or directory\n");
}

// -u: the image gets a master boot record and a partition table (it also boots from a USB
// drive) and stays a bootable ISO 9660 image.
TEST_F(EndToEnd, AnImageThatAlsoBootsFromAUsbDrive) {
  RunResult run = Run({"-q", "-u", "out.iso"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ToolErrors(run.err), "");
  const std::string image = ReadFileBytes(Output());
  ASSERT_GT(image.size(), 512u);
  EXPECT_EQ(image.substr(510, 2), "\x55\xaa") << "no master boot record";
  EXPECT_EQ(static_cast<unsigned char>(image[446]), 0x80) << "no active partition";
  auto facts = InspectIso(Output());
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->volume_id, "ORBE 2026.12.07");
  EXPECT_NE(facts->el_torito.find("-no-emul-boot"), std::string::npos);
}

// What -u needs: the isohybrid program, and a boot image that can start from a disk.
TEST_F(EndToEnd, AHybridImageFailsClearlyWithoutWhatItNeeds) {
  fs::path bin = dir_.path() / "bin";
  fs::create_directories(bin);
  fs::create_symlink("/usr/bin/xorriso", bin / "xorriso");
  RunResult missing = Run({"-q", "-u", "new.iso"}, {{"PATH", bin.string()}});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err,
            "Failed to launch isohybrid: No such file or directory (it comes with the package "
            "syslinux-utils)\n");

  std::string tar = Mirror::DistributionTar();
  const std::size_t boot = tar.find(ReadFileBytes("/usr/lib/ISOLINUX/isolinux.bin"));
  ASSERT_NE(boot, std::string::npos);
  tar[boot + 64] ^= 1;  // the hybrid signature
  fs::create_directories(mirror_ / "other");
  WriteFileBytes(mirror_ / "other/cd-only.tar", tar);
  RunResult cd_only = Run({"-q", "-u", "-d", server_->url() + "/other/cd-only.tar", "new.iso"});
  EXPECT_EQ(cd_only.status, 1);
  EXPECT_EQ(ToolErrors(cd_only.err),
            "Cannot make the image boot from a USB drive: slax/boot/isolinux.bin has no hybrid "
            "signature (the isolinux.bin of the package isolinux has one)\n");
  EXPECT_FALSE(fs::exists(dir_.path() / "run/new.iso"));
}

// A distribution that carries slax/boot/efiboot.img gets a second boot entry for UEFI
// firmware; with -u the image also gets the partition through which UEFI starts a USB drive.
// A folder of that name is no boot image, and a program that leaves the entry out fails the run.
TEST_F(EndToEnd, AUefiBootImageGetsItsOwnBootEntry) {
  fs::create_directories(mirror_ / "other");
  const std::string uefi_tar =
      testing_support::TarBuilder()
          .AddDirectory("slax/")
          .AddDirectory("slax/boot/")
          .AddFile("slax/boot/isolinux.bin", ReadFileBytes("/usr/lib/ISOLINUX/isolinux.bin"))
          .AddFile("slax/boot/efiboot.img", std::string(64 * 1024, 'F'))
          .AddEnd()
          .Bytes();
  WriteFileBytes(mirror_ / "other/uefi.tar", uefi_tar);
  const std::string url = server_->url() + "/other/uefi.tar";
  RunResult run = Run({"-q", "-u", "-d", url, "out.iso"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto facts = InspectIso(Output());
  ASSERT_TRUE(facts);
  EXPECT_NE(facts->el_torito.find("-b '/slax/boot/isolinux.bin'"), std::string::npos);
  EXPECT_NE(facts->el_torito.find("-eltorito-alt-boot"), std::string::npos) << facts->el_torito;
  EXPECT_NE(facts->el_torito.find("-e '/slax/boot/efiboot.img'"), std::string::npos);
  const std::string image = ReadFileBytes(Output());
  EXPECT_EQ(static_cast<unsigned char>(image[446 + 16 + 4]), 0xef) << "no EFI partition";

  const std::string folder_tar =
      testing_support::TarBuilder()
          .AddDirectory("slax/")
          .AddDirectory("slax/boot/")
          .AddFile("slax/boot/isolinux.bin", ReadFileBytes("/usr/lib/ISOLINUX/isolinux.bin"))
          .AddDirectory("slax/boot/efiboot.img/")
          .AddEnd()
          .Bytes();
  WriteFileBytes(mirror_ / "other/folder.tar", folder_tar);
  RunResult folder = Run({"-q", "-d", server_->url() + "/other/folder.tar", "out.iso"});
  ASSERT_EQ(folder.status, 0) << folder.err;
  facts = InspectIso(Output());
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->el_torito.find("-eltorito-alt-boot"), std::string::npos) << facts->el_torito;

  fs::path bin = dir_.path() / "bin";
  fs::create_directories(bin);
  WriteFileBytes(bin / "mkisofs",
                 "#!/bin/bash\nargs=(\"$@\")\nfor i in \"${!args[@]}\"; do\n"
                 "  [ \"${args[i]}\" = -eltorito-alt-boot ] && unset \"args[i]\" \"args[i+1]\" "
                 "\"args[i+2]\" \"args[i+3]\"\ndone\nexec /usr/bin/xorriso -as mkisofs "
                 "\"${args[@]}\"\n");
  fs::permissions(bin / "mkisofs", fs::perms::owner_all);
  RunResult bios_only = Run({"-q", "-d", url, "new.iso"}, {{"PATH", bin.string()}});
  EXPECT_EQ(bios_only.status, 1);
  EXPECT_EQ(bios_only.err,
            "mkisofs wrote no UEFI boot entry for slax/boot/efiboot.img (xorriso and genisoimage "
            "write one)\n");
  EXPECT_FALSE(fs::exists(dir_.path() / "run/new.iso"));
}

// -c: a second run takes the distribution and the product from the cache after checking them
// against their freshly downloaded manifests; a changed cache entry is never used.
TEST_F(EndToEnd, ACacheOfVerifiedDownloadsSparesTheLargeDownloads) {
  const fs::path cache = dir_.path() / "cache";
  auto large_downloads = [&](std::size_t from) {
    std::vector<std::string> large;
    auto log = server_->RequestLog();
    for (std::size_t i = from; i < log.size(); ++i) {
      if (log[i].find(".tar ") != std::string::npos) large.push_back(log[i]);
    }
    return large;
  };
  RunResult first = Run({"-q", "-c", cache.string(), "first.iso"});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(large_downloads(0).size(), 2u);
  EXPECT_EQ(fs::status(cache).permissions() & fs::perms::all, fs::perms::owner_all);

  std::size_t before = server_->RequestLog().size();
  RunResult second = Run({"-c", cache.string(), "second.iso"});
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_TRUE(large_downloads(before).empty());
  EXPECT_EQ(server_->RequestLog().size() - before, 4u) << "two manifests, vdl.zip, identities";
  EXPECT_NE(second.out.find("Found a copy in the cache " + cache.string() + ", checking it...\n"),
            std::string::npos);
  auto a = InspectIso(dir_.path() / "run/first.iso");
  auto b = InspectIso(dir_.path() / "run/second.iso");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->files, b->files);

  std::string product = ReadFileBytes(cache / "linux.intel.libc6.glibc.2.2.tar");
  product[100] ^= 1;
  fs::remove(cache / "linux.intel.libc6.glibc.2.2.tar");
  WriteFileBytes(cache / "linux.intel.libc6.glibc.2.2.tar", product);
  before = server_->RequestLog().size();
  RunResult changed = Run({"-q", "-c", cache.string(), "third.iso"});
  ASSERT_EQ(changed.status, 0) << changed.err;
  EXPECT_EQ(ToolErrors(changed.err), "");
  EXPECT_EQ(large_downloads(before).size(), 1u) << "the product, downloaded afresh";
  EXPECT_EQ(ReadFileBytes(cache / "linux.intel.libc6.glibc.2.2.tar"),
            ReadFileBytes(mirror_ / Mirror::kProduct));

  // Two runs at once (each with its own temporary folder) sharing the cache: both images are
  // made and the cache keeps whole, correct copies.
  fs::remove_all(cache);
  fs::create_directories(dir_.path() / "tmp2");
  auto one = Start({"-q", "-c", cache.string(), "fifth.iso"});
  auto two = Start({"-q", "-c", cache.string(), "sixth.iso"},
                   {{"TMPDIR", (dir_.path() / "tmp2").string()}});
  EXPECT_EQ(one->Wait().status, 0);
  EXPECT_EQ(two->Wait().status, 0);
  EXPECT_EQ(ReadFileBytes(cache / "linux.intel.libc6.glibc.2.2.tar"),
            ReadFileBytes(mirror_ / Mirror::kProduct));
  EXPECT_EQ(ReadFileBytes(cache / "KaveroLive-SLAX.tar"),
            ReadFileBytes(mirror_ / Mirror::kDistribution));
  EXPECT_EQ(std::distance(fs::directory_iterator(cache), fs::directory_iterator()), 2)
      << "no temporary copies left";
  EXPECT_TRUE(fs::is_empty(dir_.path() / "tmp2"));

  fs::create_directory_symlink(cache, dir_.path() / "link");
  RunResult linked = Run({"-q", "-c", (dir_.path() / "link").string(), "fourth.iso"});
  EXPECT_EQ(linked.status, 1);
  EXPECT_EQ(linked.err, "Failed to use the cache folder " + (dir_.path() / "link").string() +
                            ": The folder is a symbolic link\n");
}

TEST_F(EndToEnd, AnOutputInAMissingFolderFailsBeforeAnyRequest) {
  RunResult run = Run({"missing/out.iso"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Cannot open the output file " +
                         (dir_.path() / "run/missing/out.iso").string() +
                         ": No such file or directory\n");
  EXPECT_TRUE(server_->RequestLog().empty());
}

TEST_F(EndToEnd, UsageAndQuietOutput) {
  RunResult usage = Run({});
  EXPECT_EQ(usage.status, 1);
  EXPECT_NE(usage.out.find("Usage: orbec [options] <output file>\n"), std::string::npos);
  EXPECT_TRUE(usage.out.starts_with(Banner()));
  EXPECT_NE(Banner().find(" v1.1.6\n"), std::string::npos);
}

}  // namespace
}  // namespace e2e
