#include "app/iso_image.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>

#include "app/iso_check.h"
#include "platform/error_text.h"
#include "platform/file_ops.h"
#include "platform/last_error.h"
#include "platform/process.h"
#include "platform/text_format.h"

using platform::Print;
using platform::Stream;

namespace {

constexpr const char* kImageName = "orbe.iso";
constexpr const char* kBootImage = "slax/boot/isolinux.bin";
constexpr const char* kBootCatalog = "slax/boot/isolinux.boot";
// The distribution's FAT image with EFI/BOOT/BOOTX64.EFI, for a second boot entry that UEFI
// firmware starts.
constexpr const char* kUefiBootImage = "slax/boot/efiboot.img";
#ifdef _WIN32
constexpr const char* kHybridProgram = "isohybrid.exe";
#else
constexpr const char* kHybridProgram = "isohybrid";
#endif
// An isolinux.bin that can also start from a hard disk's master boot record carries this
// number (0x7078c0fb, little-endian) at byte 64; isohybrid needs it.
constexpr unsigned char kHybridSignature[] = {0xfb, 0xc0, 0x78, 0x70};
constexpr std::size_t kHybridSignatureOffset = 64;

#ifdef _WIN32

// The ISO program that the distribution carries, relative to the work folder.
constexpr const char* kDistributionIsoProgram = "slax/tools/WIN/mkisofs.exe";
constexpr const char* kIsoProgramFile = "mkisofs.exe";

// The program's full path and how its command line names it. A distribution that nothing
// verified brings no program that is run: whoever served or altered the archive would run
// code as the user. The ISO program then comes from beside orbec.exe, or else from PATH.
std::optional<std::pair<std::string, std::string>> IsoProgram(const std::string& work_folder,
                                                              bool verified_distribution) {
  if (verified_distribution) {
    return std::pair(work_folder + "\\" + kDistributionIsoProgram, kDistributionIsoProgram);
  }
  std::optional<std::string> outside = platform::ProgramBesideTool(kIsoProgramFile);
  if (!outside) outside = platform::FindProgramOnPath(kIsoProgramFile);
  if (!outside) return std::nullopt;
  return std::pair(*outside, *outside);
}

// Starts the ISO program in the work folder, as Windows programs are started: by its full
// path, with its command line as one text.
bool RunIsoProgram(const std::string& work_folder, const std::string& label, int verbosity,
                   const IsoImageOptions& options, bool uefi, int& exit_code) {
  const auto program = IsoProgram(work_folder, options.verified_distribution);
  if (!program) {
    platform::SetLastError(platform::kErrorFileNotFound);
    return false;
  }
  const std::string uefi_entry =
      uefi ? platform::FormatText(" -eltorito-alt-boot -e \"%s\" -no-emul-boot", kUefiBootImage)
           : "";
  const std::string command_line = platform::FormatText(
      "\"%s\" %s -J -R -D -no-emul-boot -boot-info-table -boot-load-size 4 -b \"%s\" -c "
      "\"%s\"%s -o \"%s\" -A \"%s\" -V \"%s\" .",
      program->second.c_str(), verbosity == 2 ? "-v" : "-quiet", kBootImage, kBootCatalog,
      uefi_entry.c_str(), kImageName, label.c_str(), label.c_str());
  return platform::RunProcessWithCommandLine(program->first, command_line, work_folder, exit_code);
}

#else

struct IsoProgram {
  std::string path;
  std::vector<std::string> leading_arguments;  // argument 0 and any mode switches
};

// The first mkisofs-compatible program on PATH.
std::optional<IsoProgram> FindIsoProgram() {
  for (const char* name : {"mkisofs", "genisoimage", "xorrisofs"}) {
    if (auto path = platform::FindProgramOnPath(name)) return IsoProgram{*path, {name}};
  }
  if (auto path = platform::FindProgramOnPath("xorriso")) {
    return IsoProgram{*path, {"xorriso", "-as", "mkisofs"}};
  }
  return std::nullopt;
}

// Starts the first ISO program found on PATH in the work folder; nothing of the distribution's
// is ever run here.
bool RunIsoProgram(const std::string& work_folder, const std::string& label, int verbosity,
                   const IsoImageOptions&, bool uefi, int& exit_code) {
  std::optional<IsoProgram> program = FindIsoProgram();
  if (!program) {
    platform::SetLastError(platform::kErrorFileNotFound);
    return false;
  }
  std::vector<std::string> arguments = program->leading_arguments;
  for (std::string& argument : IsoProgramArguments(label, verbosity, uefi)) {
    arguments.push_back(std::move(argument));
  }
  return platform::RunProcess(program->path, arguments, work_folder, exit_code);
}

#endif

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
bool MakeHybrid(const std::string& work_folder, bool uefi, platform::Console& console) {
  std::optional<std::string> program = platform::FindProgramOnPath(kHybridProgram);
  int exit_code = 0;
  bool started = false;
  if (!program) {
    platform::SetLastError(platform::kErrorFileNotFound);
  } else if (HasHybridSignature(work_folder + "/" + kBootImage)) {
    console.Flush();
    // With --uefi the UEFI boot image also becomes a partition, so that UEFI firmware starts
    // the drive through its partition table too.
    std::vector<std::string> arguments{kHybridProgram, kImageName};
    if (uefi) arguments.insert(arguments.begin() + 1, "--uefi");
    started = platform::RunProcess(*program, arguments, work_folder, exit_code);
  } else {
    Print(console, Stream::kErr,
          "Cannot make the image boot from a USB drive: %s has no hybrid signature (the "
          "isolinux.bin of the package isolinux has one)\n",
          kBootImage);
    return false;
  }
  if (!started) {
    std::string reason = platform::LastErrorText();
    Print(console, Stream::kErr,
          "Failed to launch isohybrid: %s (it comes with the package syslinux-utils)\n",
          reason.c_str());
    return false;
  }
  if (exit_code != 0) {
    Print(console, Stream::kErr, "isohybrid failed with exit code %lu\n",
          static_cast<unsigned long>(exit_code));
    return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> IsoProgramArguments(const std::string& label, int verbosity, bool uefi) {
  std::vector<std::string> arguments{verbosity == 2 ? "-v" : "-quiet",
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
  console.Flush();
  if (!RunIsoProgram(work_folder, label, verbosity, options, uefi, exit_code)) {
    std::string reason = platform::LastErrorText();
    Print(console, Stream::kErr, "Failed to launch mkisofs: %s\n", reason.c_str());
    return false;
  }
  if (exit_code != 0) {
    Print(console, Stream::kErr, "mkisofs failed with exit code %lu\n",
          static_cast<unsigned long>(exit_code));
    return false;
  }
  const std::string image = work_folder + "/" + kImageName;
  if (const char* reason = NotAnIsoImage(image)) {
    Print(console, Stream::kErr, "mkisofs did not write an ISO 9660 image: %s\n", reason);
    return false;
  }
  // A distribution that carries a UEFI boot image must not quietly give a BIOS-only disk.
  if (uefi && !HasUefiBootEntry(image)) {
    Print(console, Stream::kErr,
          "mkisofs wrote no UEFI boot entry for %s (xorriso and genisoimage write one)\n",
          kUefiBootImage);
    return false;
  }
  if (options.hybrid && !MakeHybrid(work_folder, uefi, console)) return false;
  if (!platform::MoveFileReplace(image, output)) {
    Print(console, Stream::kErr, "MoveFile failed with error code %d\n",
          static_cast<int>(platform::GetLastError()));
    return false;
  }
  return true;
}
