#include "app/iso_image.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "app/iso_check.h"
#include "app/iso_program.h"
#include "platform/error_text.h"
#include "platform/file_ops.h"
#include "platform/last_error.h"
#include "platform/process.h"
#include "platform/text_format.h"

namespace {

constexpr const char* kImageName = "orbe.iso";
constexpr const char* kBootImage = "slax/boot/isolinux.bin";
constexpr const char* kBootCatalog = "slax/boot/isolinux.boot";
// The distribution's FAT image with EFI/BOOT/BOOTX64.EFI, for a second boot entry that UEFI
// firmware starts.
constexpr const char* kUefiBootImage = "slax/boot/efiboot.img";
// An isolinux.bin that can also start from a hard disk's master boot record carries this
// number (0x7078c0fb, little-endian) at byte 64; isohybrid needs it.
constexpr unsigned char kHybridSignature[] = {0xfb, 0xc0, 0x78, 0x70};
constexpr std::size_t kHybridSignatureOffset = 64;

bool HasHybridSignature(const std::string& boot_image) {
  // The path is UTF-8; a std::string alone would be taken in the ANSI code page on Windows.
  std::ifstream file(std::filesystem::path(std::u8string(boot_image.begin(), boot_image.end())),
                     std::ios::binary);
  char bytes[kHybridSignatureOffset + sizeof kHybridSignature];
  return file.read(bytes, sizeof bytes) &&
         std::memcmp(bytes + kHybridSignatureOffset, kHybridSignature, sizeof kHybridSignature) ==
             0;
}

// Gives the image in the work folder a master boot record and partition table with isohybrid,
// so that it also boots when written to a USB drive; the CD boot stays as it is.
bool MakeHybrid(const std::string& work_folder, bool uefi, platform::Reporter& report) {
  std::optional<std::string> program = platform::FindProgramOnPath(kHybridProgram);
  int exit_code = 0;
  bool started = false;
  if (!program) {
    platform::SetLastError(platform::kErrorFileNotFound);
  } else if (HasHybridSignature(work_folder + "/" + kBootImage)) {
    report.console().Flush();
    // With --uefi the UEFI boot image also becomes a partition, so that UEFI firmware starts
    // the drive through its partition table too.
    std::vector<std::string> arguments{kHybridProgram, kImageName};
    if (uefi) arguments.insert(arguments.begin() + 1, "--uefi");
    started = platform::RunProcess(*program, arguments, work_folder, exit_code);
  } else {
    return report.Fail(
        "Cannot make the image boot from a USB drive: %s has no hybrid signature (the "
        "isolinux.bin of the package isolinux has one)\n",
        kBootImage);
  }
  if (!started) {
    return report.Fail(
        "Failed to launch isohybrid: %s (it comes with the package syslinux-utils)\n",
        platform::LastErrorText().c_str());
  }
  if (exit_code != 0) {
    return report.Fail("isohybrid failed with exit code %lu\n",
                       static_cast<unsigned long>(exit_code));
  }
  return true;
}

}  // namespace

std::vector<std::string> IsoProgramArguments(const std::string& label, int verbosity, bool uefi) {
  std::vector<std::string> arguments{verbosity == platform::kVerbose ? "-v" : "-quiet",
                                     "-J",
                                     "-R",
                                     "-D",
                                     "-no-emul-boot",
                                     "-boot-info-table",
                                     "-boot-load-size",
                                     "4",
                                     "-b",
                                     kBootImage,
                                     "-c",
                                     kBootCatalog};
  if (uefi) {
    // A second catalog entry, after the BIOS one; the BIOS options do not reach it.
    for (const char* argument : {"-eltorito-alt-boot", "-e", kUefiBootImage, "-no-emul-boot"}) {
      arguments.push_back(argument);
    }
  }
  for (const std::string& argument : {std::string("-o"), std::string(kImageName), std::string("-A"),
                                      label, std::string("-V"), label, std::string(".")}) {
    arguments.push_back(argument);
  }
  return arguments;
}

bool HasUefiBootImage(const std::string& work_folder) {
  const std::string path = work_folder + "/" + kUefiBootImage;
  std::error_code error;
  // A link or a folder of that name is no boot image.
  return std::filesystem::symlink_status(
             std::filesystem::path(std::u8string(path.begin(), path.end())), error)
             .type() == std::filesystem::file_type::regular;
}

bool CreateIsoImage(const std::string& work_folder, const std::string& output,
                    const std::string& label, int verbosity, const IsoImageOptions& options,
                    platform::Console& console) {
  int exit_code = 0;
  const bool uefi = HasUefiBootImage(work_folder);
  platform::Reporter report(console, verbosity);
  console.Flush();
  // Nothing of a distribution that no manifest verified is ever run: whoever served or altered
  // the archive would run code as the user.
  if (!RunIsoProgram(work_folder, IsoProgramArguments(label, verbosity, uefi),
                     options.verified_distribution, exit_code)) {
    return report.Fail("Failed to launch mkisofs: %s\n", platform::LastErrorText().c_str());
  }
  if (exit_code != 0) {
    return report.Fail("mkisofs failed with exit code %lu\n",
                       static_cast<unsigned long>(exit_code));
  }
  const std::string image = work_folder + "/" + kImageName;
  if (const char* reason = NotAnIsoImage(image)) {
    return report.Fail("mkisofs did not write an ISO 9660 image: %s\n", reason);
  }
  // A distribution that carries a UEFI boot image must not quietly give a BIOS-only disk.
  if (uefi && !HasUefiBootEntry(image)) {
    return report.Fail(
        "mkisofs wrote no UEFI boot entry for %s (xorriso and genisoimage write one)\n",
        kUefiBootImage);
  }
  if (options.hybrid && !MakeHybrid(work_folder, uefi, report)) return false;
  if (!platform::MoveFileReplace(image, output)) {
    return report.Fail("MoveFile failed with error code %d\n",
                       static_cast<int>(platform::GetLastError()));
  }
  return true;
}
