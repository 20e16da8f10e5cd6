#include "iso_inspect.h"

#include <cstdio>
#include <fstream>
#include <regex>

#include "support/temp_dir.h"

namespace e2e {
namespace {

constexpr std::size_t kSector = 2048;

std::string Output(const std::string& command) {
  std::string text;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      text.append(buffer, n);
    pclose(pipe);
  }
  return text;
}

std::string Trimmed(const std::string& field) {
  return field.substr(0, field.find_last_not_of(' ') + 1);
}

std::uint32_t Le32(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

void ReadDescriptors(const std::string& image, IsoFacts& facts) {
  for (std::size_t sector = 16; (sector + 1) * kSector <= image.size(); ++sector) {
    std::string descriptor = image.substr(sector * kSector, kSector);
    if (descriptor.compare(1, 5, "CD001") != 0) break;
    auto type = static_cast<unsigned char>(descriptor[0]);
    if (type == 1) {
      facts.volume_id = Trimmed(descriptor.substr(40, 32));
      facts.application_id = Trimmed(descriptor.substr(574, 128));
    } else if (type == 2) {
      std::string escape = descriptor.substr(88, 3);
      facts.joliet |= escape == "%/@" || escape == "%/C" || escape == "%/E";
    } else if (type == 255) {
      break;
    }
  }
  facts.rock_ridge = image.find("RRIP_1991A") != std::string::npos ||
                     image.find("IEEE_P1282") != std::string::npos ||
                     image.find("IEEE_1282") != std::string::npos;
}

// The boot information table at offset 8 of the boot file: the primary volume descriptor's
// sector (16) and the boot file's own sector.
bool HasBootInfoTable(const std::string& image, const std::string& lba_report) {
  std::smatch match;
  std::regex line(R"(File data lba:\s+\d+\s*,\s*(\d+)\s*,.*'/slax/boot/isolinux.bin')");
  if (!std::regex_search(lba_report, match, line)) return false;
  std::size_t lba = std::stoul(match[1]);
  std::size_t at = lba * kSector;
  if (at + 64 > image.size()) return false;
  return Le32(image, at + 8) == 16 && Le32(image, at + 12) == lba;
}

}  // namespace

std::optional<IsoFacts> InspectIso(const std::filesystem::path& path) {
  std::string image = testing_support::ReadFileBytes(path);
  if (image.size() < 17 * kSector) return std::nullopt;
  IsoFacts facts;
  ReadDescriptors(image, facts);
  std::string quoted = "'" + path.string() + "'";
  facts.el_torito =
      Output("xorriso -indev " + quoted + " -report_el_torito as_mkisofs 2>/dev/null");
  std::string lba = Output("xorriso -indev " + quoted + " -find / -exec report_lba -- 2>/dev/null");
  facts.files = Output("xorriso -indev " + quoted + " -find / 2>/dev/null");
  facts.boot_info_table = HasBootInfoTable(image, lba);
  return facts;
}

}  // namespace e2e
