// The entry point's work: command line, banner, usage, exit status.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/pipeline_ops.h"
#include "platform/console.h"

struct CommandLine {
  std::string output;
  std::optional<std::string> distribution_url;
  int verbosity = platform::kNormal;
  bool hybrid = false;                      // -u: the image also boots from a USB drive
  std::optional<std::string> cache_folder;  // -c: verified downloads kept between runs
};

// The arguments after the program name; nullopt when usage must be shown.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& arguments);

// Looks up one string of the program's version information.
using VersionLookup = std::function<std::optional<std::string>(std::string_view)>;

// Description, version and copyright lines, or nothing when the version information is
// incomplete.
void PrintBanner(platform::Console& console, const VersionLookup& lookup);
void PrintUsage(platform::Console& console, const VersionLookup& lookup);

// Parses, prints the banner, runs the pipeline; returns the exit status. Exceptions that
// leave the pipeline are reported here.
int RunOrbec(const std::vector<std::string>& arguments, PipelineOps& ops,
             platform::Console& console, const VersionLookup& lookup);

// The process entry point with the real operations and console.
int OrbecMain(int argc, char* argv[]);
