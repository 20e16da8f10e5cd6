#include "app/command_line.h"

#include <gtest/gtest.h>

#include <map>
#include <new>

#include "fake_pipeline_ops.h"

using platform::MemoryConsole;

namespace {

std::optional<std::string> Version(std::string_view name) {
  static const std::map<std::string_view, std::string> values = {
      {"FileDescription", "Orbec Builder"}, {"FileVersion", "1.1.6"}, {"LegalCopyright", "(C) Us"}};
  auto found = values.find(name);
  return found == values.end() ? std::nullopt : std::optional<std::string>(found->second);
}

const std::string kBanner = "Orbec Builder v1.1.6\n(C) Us\n\n";
const std::string kUsage =
    "Usage: orbec [options] <output file>\n"
    "Options:\n"
    "    -d <url>  URL to download the Linux distribution (default: from Kavero)\n"
    "    -q        quiet (no output)\n"
    "    -v        verbose output\n"
    "    -u        the image also boots from a USB drive (needs isohybrid, package "
    "syslinux-utils)\n"
    "    -c <dir>  keep verified downloads in this folder and reuse them in later runs\n";

struct Parsed {
  std::vector<std::string> arguments;
  bool usage;
  std::string output;
  int verbosity;
  std::optional<std::string> url;
};

}  // namespace

TEST(ParseCommandLine, OptionsAreWholeCaseSensitiveAndTheLastArgumentIsTheOutput) {
  const Parsed cases[] = {
      {{}, true, "", 0, {}},
      {{"out.iso"}, false, "out.iso", 1, {}},
      {{"-q", "out.iso"}, false, "out.iso", 0, {}},
      {{"-v", "-q", "out.iso"}, false, "out.iso", 0, {}},
      {{"-q", "-v", "out.iso"}, false, "out.iso", 2, {}},
      {{"-d", "out.iso"}, true, "", 0, {}},
      {{"-d", "-v", "out.iso"}, false, "out.iso", 1, "-v"},
      {{"-d", "http://a/1", "-d", "ftp://b/2", "out.iso"}, false, "out.iso", 1, "ftp://b/2"},
      {{"-V", "out.iso"}, true, "", 0, {}},
      {{"--v", "out.iso"}, true, "", 0, {}},
      {{"-q", "-x", "out.iso"}, true, "", 0, {}},
      {{"-q"}, false, "-q", 1, {}},
      {{"-v", "-d"}, false, "-d", 2, {}},
  };
  for (const Parsed& c : cases) {
    std::optional<CommandLine> line = ParseCommandLine(c.arguments);
    std::string where = testing::PrintToString(c.arguments);
    ASSERT_EQ(!line, c.usage) << where;
    if (!line) continue;
    EXPECT_EQ(line->output, c.output) << where;
    EXPECT_EQ(line->verbosity, c.verbosity) << where;
    EXPECT_EQ(line->distribution_url, c.url) << where;
  }
}

TEST(ParseCommandLine, MinusUAndMinusCForTheImageAndTheCache) {
  EXPECT_TRUE(ParseCommandLine({"-u", "-q", "out.iso"})->hybrid);
  EXPECT_FALSE(ParseCommandLine({"-q", "out.iso"})->hybrid);
  EXPECT_FALSE(ParseCommandLine({"-u"})->hybrid) << "the last argument is the output file";
  EXPECT_FALSE(ParseCommandLine({"-U", "out.iso"}));
  EXPECT_EQ(ParseCommandLine({"-c", "cache", "-u", "out.iso"})->cache_folder, "cache");
  EXPECT_EQ(ParseCommandLine({"-c", "-v", "out.iso"})->cache_folder, "-v");
  EXPECT_EQ(ParseCommandLine({"out.iso"})->cache_folder, std::nullopt);
  EXPECT_FALSE(ParseCommandLine({"-c", "out.iso"})) << "-c directly before the output file";
}

TEST(PrintBanner, NeedsAllThreeValuesAndThreeVersionNumbers) {
  MemoryConsole console;
  PrintBanner(console, Version);
  EXPECT_EQ(console.out, kBanner);

  for (std::string version : {"1.1", "", "a.b.c"}) {
    MemoryConsole short_version;
    PrintBanner(short_version, [&](std::string_view name) -> std::optional<std::string> {
      return name == "FileVersion" ? std::optional<std::string>(version) : Version(name);
    });
    EXPECT_EQ(short_version.out, "") << version;
  }
  MemoryConsole missing;
  PrintBanner(missing, [](std::string_view name) -> std::optional<std::string> {
    return name == "LegalCopyright" ? std::nullopt : Version(name);
  });
  EXPECT_EQ(missing.out, "");
}

TEST(RunOrbec, UsageErrorsPrintBannerAndUsageAndExitWithOne) {
  for (std::vector<std::string> arguments :
       {std::vector<std::string>{}, {"-d", "out.iso"}, {"-q", "-x", "out.iso"}}) {
    MemoryConsole console;
    FakePipelineOps ops;
    EXPECT_EQ(RunOrbec(arguments, ops, console, Version), 1);
    EXPECT_EQ(console.out, kBanner + kUsage);
    EXPECT_EQ(console.err, "");
    EXPECT_TRUE(ops.calls.empty());
  }
}

TEST(RunOrbec, TheExitStatusFollowsThePipeline) {
  MemoryConsole console;
  FakePipelineOps ops;
  EXPECT_EQ(RunOrbec({"out.iso"}, ops, console, Version), 0);
  EXPECT_EQ(console.out.rfind(kBanner, 0), 0u);

  MemoryConsole quiet;
  FakePipelineOps failing;
  failing.failures["iso"] = 0;
  EXPECT_EQ(RunOrbec({"-q", "out.iso"}, failing, quiet, Version), 1);
  EXPECT_EQ(quiet.out, "");
}

TEST(RunOrbec, ExceptionsAreReportedAndTheWorkFolderStillGoes) {
  MemoryConsole console;
  FakePipelineOps ops;
  ops.on_untar = [] { throw std::bad_alloc(); };
  EXPECT_EQ(RunOrbec({"-q", "out.iso"}, ops, console, Version), 1);
  EXPECT_EQ(console.err, "Exception: code 0x8007000e\n");
  EXPECT_EQ(ops.calls.back(), "unlock /tmp/KaveroBootableAvTempFolder");
  EXPECT_EQ(ops.calls[ops.calls.size() - 2], "remove /tmp/KaveroBootableAvTempFolder");

  MemoryConsole other;
  FakePipelineOps throwing;
  throwing.on_untar = [] { throw std::logic_error("x"); };
  EXPECT_EQ(RunOrbec({"-q", "out.iso"}, throwing, other, Version), 1);
  EXPECT_EQ(other.err, "Unhandled exception\n");
  EXPECT_EQ(throwing.calls[throwing.calls.size() - 2], "remove /tmp/KaveroBootableAvTempFolder");
}
