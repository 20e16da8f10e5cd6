#include "app/iso_image.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>

#include "platform/error_text.h"
#include "platform/file_ops.h"
#include "platform/last_error.h"
#include "platform/process.h"

using platform::Print;
using platform::Stream;

namespace {

constexpr const char* kImageName = "orbe.iso";
constexpr const char* kBootImage = "slax/boot/isolinux.bin";
#ifdef _WIN32
constexpr const char* kHybridProgram = "isohybrid.exe";
#else
constexpr const char* kHybridProgram = "isohybrid";
#endif
// An isolinux.bin that can also start from a hard disk's master boot record carries this
// number (0x7078c0fb, little-endian) at byte 64; isohybrid needs it.
constexpr unsigned char kHybridSignature[] = {0xfb, 0xc0, 0x78, 0x70};
constexpr std::size_t kHybridSignatureOffset = 64;

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

bool HasHybridSignature(const std::string& boot_image) {
  std::ifstream file(boot_image, std::ios::binary);
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
          "slax/boot/isolinux.boot",
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
  std::optional<IsoProgram> program = FindIsoProgram();
  int exit_code = 0;
  bool started = false;
  if (program) {
    std::vector<std::string> arguments = program->leading_arguments;
    for (std::string& argument : IsoProgramArguments(label, verbosity)) {
      arguments.push_back(std::move(argument));
    }
    console.Flush();
    started = platform::RunProcess(program->path, arguments, work_folder, exit_code);
  } else {
    platform::SetLastError(ENOENT);
  }
  if (!started) {
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
