#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

#include "app/iso_program.h"
#include "platform/error_text.h"
#include "platform/last_error.h"
#include "platform/process.h"

const char* const kHybridProgram = "isohybrid.exe";

namespace {

// The ISO program that the distribution carries, relative to the work folder.
constexpr const char* kDistributionIsoProgram = "slax/tools/WIN/mkisofs.exe";
constexpr const char* kIsoProgramFile = "mkisofs.exe";
// Options whose value is a path or a label, written in double quotes.
constexpr const char* kQuotedValueOf[] = {"-b", "-c", "-e", "-o", "-A", "-V"};

// The program's full path and how its command line names it.
std::optional<std::pair<std::string, std::string>> IsoProgram(const std::string& work_folder,
                                                              bool may_run_distribution_program) {
  if (may_run_distribution_program) {
    return std::pair(work_folder + "\\" + kDistributionIsoProgram, kDistributionIsoProgram);
  }
  std::optional<std::string> outside = platform::ProgramBesideTool(kIsoProgramFile);
  if (!outside) outside = platform::FindProgramOnPath(kIsoProgramFile);
  if (!outside) return std::nullopt;
  return std::pair(*outside, *outside);
}

// Windows programs read their command line as one text: the program's name and each path and
// label in double quotes, the switches bare.
std::string CommandLine(const std::string& name, const std::vector<std::string>& arguments) {
  std::string line = "\"" + name + "\"";
  std::string previous;
  for (const std::string& argument : arguments) {
    const bool quoted = std::find(std::begin(kQuotedValueOf), std::end(kQuotedValueOf), previous) !=
                        std::end(kQuotedValueOf);
    line += quoted ? " \"" + argument + "\"" : " " + argument;
    previous = argument;
  }
  return line;
}

}  // namespace

bool RunIsoProgram(const std::string& work_folder, const std::vector<std::string>& arguments,
                   bool may_run_distribution_program, int& exit_code) {
  const auto program = IsoProgram(work_folder, may_run_distribution_program);
  if (!program) {
    platform::SetLastError(platform::kErrorFileNotFound);
    return false;
  }
  return platform::RunProcessWithCommandLine(
      program->first, CommandLine(program->second, arguments), work_folder, exit_code);
}
