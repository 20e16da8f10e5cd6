#include "app/iso_image.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>

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
constexpr std::streamoff kIsoIdentifierOffset = 16 * 2048 + 1;
constexpr std::streamoff kSectorSize = 2048;

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
                   bool verified_distribution, int& exit_code) {
  const auto program = IsoProgram(work_folder, verified_distribution);
  if (!program) {
    platform::SetLastError(platform::kErrorFileNotFound);
    return false;
  }
  const std::string command_line = platform::FormatText(
      "\"%s\" %s -J -R -D -no-emul-boot -boot-info-table -boot-load-size 4 -b \"%s\" -c "
      "\"%s\" -o \"%s\" -A \"%s\" -V \"%s\" .",
      program->second.c_str(), verbosity == 2 ? "-v" : "-quiet", kBootImage, kBootCatalog,
      kImageName, label.c_str(), label.c_str());
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
bool RunIsoProgram(const std::string& work_folder, const std::string& label, int verbosity, bool,
                   int& exit_code) {
  std::optional<IsoProgram> program = FindIsoProgram();
  if (!program) {
    platform::SetLastError(platform::kErrorFileNotFound);
    return false;
  }
  std::vector<std::string> arguments = program->leading_arguments;
  for (std::string& argument : IsoProgramArguments(label, verbosity)) {
    arguments.push_back(std::move(argument));
  }
  return platform::RunProcess(program->path, arguments, work_folder, exit_code);
}

#endif

// What the ISO program left as "orbe.iso": an ISO 9660 image has the standard identifier
// "CD001" of its first volume descriptor at byte 32769 and is a whole number of 2048-byte
// sectors long. Anything else must not reach the output path as a success. nullptr when it is
// an image, else why not.
const char* NotAnImage(const std::string& image) {
  std::ifstream file(std::filesystem::path(std::u8string(image.begin(), image.end())),
                     std::ios::binary | std::ios::ate);
  if (!file) return "the program wrote no image file";
  const std::streamoff size = file.tellg();
  char identifier[5];
  if (size < kIsoIdentifierOffset + static_cast<std::streamoff>(sizeof identifier) ||
      !file.seekg(kIsoIdentifierOffset) || !file.read(identifier, sizeof identifier) ||
      std::memcmp(identifier, "CD001", sizeof identifier) != 0) {
    return "the file has no ISO 9660 volume descriptor";
  }
  if (size % kSectorSize != 0) return "its size is not a whole number of 2048-byte sectors";
  return nullptr;
}

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
    platform::SetLastError(platform::kErrorFileNotFound);
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
                    const std::string& label, int verbosity, const IsoImageOptions& options,
                    platform::Console& console) {
  int exit_code = 0;
  console.Flush();
  if (!RunIsoProgram(work_folder, label, verbosity, options.verified_distribution, exit_code)) {
    std::string reason = platform::LastErrorText();
    Print(console, Stream::kErr, "Failed to launch mkisofs: %s\n", reason.c_str());
    return false;
  }
  if (exit_code != 0) {
    Print(console, Stream::kErr, "mkisofs failed with exit code %lu\n",
          static_cast<unsigned long>(exit_code));
    return false;
  }
  if (const char* reason = NotAnImage(work_folder + "/" + kImageName)) {
    Print(console, Stream::kErr, "mkisofs did not write an ISO 9660 image: %s\n", reason);
    return false;
  }
  if (options.hybrid && !MakeHybrid(work_folder, console)) return false;
  if (!platform::MoveFileReplace(work_folder + "/" + kImageName, output)) {
    Print(console, Stream::kErr, "MoveFile failed with error code %d\n",
          static_cast<int>(platform::GetLastError()));
    return false;
  }
  return true;
}
