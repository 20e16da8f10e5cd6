#include <optional>

#include "app/iso_program.h"
#include "platform/error_text.h"
#include "platform/last_error.h"
#include "platform/process.h"

const char* const kHybridProgram = "isohybrid";

namespace {

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

bool RunIsoProgram(const std::string& work_folder, const std::vector<std::string>& arguments, bool,
                   int& exit_code) {
  std::optional<IsoProgram> program = FindIsoProgram();
  if (!program) {
    platform::SetLastError(platform::kErrorFileNotFound);
    return false;
  }
  std::vector<std::string> all = program->leading_arguments;
  all.insert(all.end(), arguments.begin(), arguments.end());
  return platform::RunProcess(program->path, all, work_folder, exit_code);
}
