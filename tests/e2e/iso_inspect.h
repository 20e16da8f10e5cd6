// Reads what the end-to-end tests check of an ISO 9660 image, straight from its bytes and
// through xorriso's own report.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace e2e {

struct IsoFacts {
  std::string volume_id;         // primary volume descriptor, blanks at the end removed
  std::string application_id;    // likewise
  bool joliet = false;           // a supplementary descriptor with a UCS-2 escape sequence
  bool rock_ridge = false;       // the Rock Ridge extension record
  std::string el_torito;         // xorriso's "-report_el_torito as_mkisofs" lines
  std::string files;             // xorriso's list of file paths, one per line
  bool boot_info_table = false;  // the boot file carries the table that points at it
};

std::optional<IsoFacts> InspectIso(const std::filesystem::path& image);

}  // namespace e2e
