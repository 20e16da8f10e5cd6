#include "app/iso_image.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

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

// Starts the distribution's ISO program in the work folder, as Windows programs are started:
// by its full path, with its command line as one text.
bool RunIsoProgram(const std::string& work_folder, const std::string& label, int verbosity,
                   int& exit_code) {
  const std::string command_line = platform::FormatText(
      "\"%s\" %s -J -R -D -no-emul-boot -boot-info-table -boot-load-size 4 -b \"%s\" -c "
      "\"%s\" -o \"%s\" -A \"%s\" -V \"%s\" .",
      kDistributionIsoProgram, verbosity == 2 ? "-v" : "-quiet", kBootImage, kBootCatalog,
      kImageName, label.c_str(), label.c_str());
  return platform::RunProcessWithCommandLine(work_folder + "\\" + kDistributionIsoProgram,
                                             command_line, work_folder, exit_code);
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

// Starts the first ISO program found on PATH in the work folder.
bool RunIsoProgram(const std::string& work_folder, const std::string& label, int verbosity,
                   int& exit_code) {
  std::optional<IsoProgram> program = FindIsoProgram();
  if (!program) {
    platform::SetLastError(ENOENT);
    return false;
  }
  std::vector<std::string> arguments = program->leading_arguments;
  for (std::string& argument : IsoProgramArguments(label, verbosity)) {
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
bool MakeHybrid(const std::string& work_folder, platform::Console& console) {
  std::optional<std::string> program = platform::FindProgramOnPath(kHybridProgram);
  int exit_code = 0;
  bool started = false;
  if (!program) {
    platform::SetLastError(ENOENT);
  } else if (HasHybridSignature(work_folder + "/" + kBootImage)) {
    console.Flush();
    started = platform::RunProcess(*program, {kHybridProgram, kImageName}, work_folder, exit_code);
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

std::vector<std::string> IsoProgramArguments(const std::string& label, int verbosity) {
  return {verbosity == 2 ? "-v" : "-quiet",
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
          kBootCatalog,
          "-o",
          kImageName,
          "-A",
          label,
          "-V",
          label,
          "."};
}

bool CreateIsoImage(const std::string& work_folder, const std::string& output,
                    const std::string& label, int verbosity, bool hybrid,
                    platform::Console& console) {
  int exit_code = 0;
  console.Flush();
  if (!RunIsoProgram(work_folder, label, verbosity, exit_code)) {
    std::string reason = platform::LastErrorText();
    Print(console, Stream::kErr, "Failed to launch mkisofs: %s\n", reason.c_str());
    return false;
  }
  if (exit_code != 0) {
    Print(console, Stream::kErr, "mkisofs failed with exit code %lu\n",
          static_cast<unsigned long>(exit_code));
    return false;
  }
  if (hybrid && !MakeHybrid(work_folder, console)) return false;
  if (!platform::MoveFileReplace(work_folder + "/" + kImageName, output)) {
    Print(console, Stream::kErr, "MoveFile failed with error code %d\n",
          static_cast<int>(platform::GetLastError()));
    return false;
  }
  return true;
}
