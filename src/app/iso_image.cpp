#include "app/iso_image.h"

#include <cerrno>
#include <optional>

#include "platform/error_text.h"
#include "platform/file_ops.h"
#include "platform/last_error.h"
#include "platform/process.h"

using platform::Print;
using platform::Stream;

namespace {

constexpr const char* kImageName = "orbe.iso";

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
          "slax/boot/isolinux.bin",
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
                    const std::string& label, int verbosity, platform::Console& console) {
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
  if (!platform::MoveFileReplace(work_folder + "/" + kImageName, output)) {
    Print(console, Stream::kErr, "MoveFile failed with error code %d\n",
          static_cast<int>(platform::GetLastError()));
    return false;
  }
  return true;
}
