#include "app/command_line.h"

#include <cstdio>
#include <new>

#include "app/pipeline.h"
#include "platform/interrupt.h"
#include "platform/resources.h"

using platform::Print;
using platform::Stream;

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return std::nullopt;
  CommandLine line;
  line.output = arguments.back();
  const std::size_t last = arguments.size() - 1;
  for (std::size_t i = 0; i < last; ++i) {
    const std::string& option = arguments[i];
    if (option == "-d") {
      if (i + 1 == last) return std::nullopt;
      line.distribution_url = arguments[++i];
    } else if (option == "-v") {
      line.verbosity = platform::kVerbose;
    } else if (option == "-q") {
      line.verbosity = platform::kQuiet;
    } else if (option == "-u") {
      line.hybrid = true;
    } else if (option == "-c") {
      if (i + 1 == last) return std::nullopt;
      line.cache_folder = arguments[++i];
    } else {
      return std::nullopt;
    }
  }
  return line;
}

void PrintBanner(platform::Console& console, const VersionLookup& lookup) {
  std::optional<std::string> description = lookup("FileDescription");
  std::optional<std::string> version = lookup("FileVersion");
  std::optional<std::string> copyright = lookup("LegalCopyright");
  if (!description || !version || !copyright) return;
  unsigned major = 0, minor = 0, patch = 0;
  if (std::sscanf(version->c_str(), "%u.%u.%u", &major, &minor, &patch) != 3) return;
  Print(console, Stream::kOut, "%s v%u.%u.%u\n", description->c_str(), major, minor, patch);
  Print(console, Stream::kOut, "%s\n\n", copyright->c_str());
}

void PrintUsage(platform::Console& console, const VersionLookup& lookup) {
  PrintBanner(console, lookup);
  Print(console, Stream::kOut, "Usage: orbec [options] <output file>\n");
  Print(console, Stream::kOut, "Options:\n");
  Print(console, Stream::kOut,
        "    -d <url>  URL to download the Linux distribution (default: from Kavero)\n");
  Print(console, Stream::kOut, "    -q        quiet (no output)\n");
  Print(console, Stream::kOut, "    -v        verbose output\n");
  Print(console, Stream::kOut,
        "    -u        the image also boots from a USB drive (needs isohybrid, package "
        "syslinux-utils)\n");
  Print(console, Stream::kOut,
        "    -c <dir>  keep verified downloads in this folder and reuse them in later runs\n");
}

int RunOrbec(const std::vector<std::string>& arguments, PipelineOps& ops,
             platform::Console& console, const VersionLookup& lookup) {
  try {
    std::optional<CommandLine> line = ParseCommandLine(arguments);
    if (!line) {
      PrintUsage(console, lookup);
      return 1;
    }
    if (line->verbosity != platform::kQuiet) PrintBanner(console, lookup);
    ImageOptions options;
    options.hybrid = line->hybrid;
    options.cache_folder = line->cache_folder;
    return BuildImage(line->output, line->distribution_url, line->verbosity, ops, console, options)
               ? 0
               : 1;
  } catch (const std::bad_alloc&) {
    Print(console, Stream::kErr, "Exception: code 0x%08x\n", 0x8007000eU);
  } catch (...) {
    Print(console, Stream::kErr, "Unhandled exception\n");
  }
  return 1;
}

int OrbecMain(int argc, char* argv[]) {
  // A console that goes away (a reader such as head that ends) costs only the text.
  platform::IgnoreBrokenPipe();
  platform::Console& console = platform::StdConsole();
  int status = 1;
  try {
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    RealPipelineOps ops(console);
    status = RunOrbec(arguments, ops, console, platform::VersionString);
  } catch (const std::bad_alloc&) {
    Print(console, Stream::kErr, "Exception: code 0x%08x\n", 0x8007000eU);
  }
  console.Flush();
  return status;
}
