// The virus data version lookup: the input as a zip file.
#include <cstring>

#include "archive/virus_data_version.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path zip = fuzzing::Scratch() / "vdl.zip";
  fuzzing::WriteBytes(zip, data, size);
  std::string version = "untouched";
  if (!GetVirusDataVersion(zip, version)) {
    fuzzing::Require(version == "untouched", "a failed lookup leaves the version unchanged");
    return 0;
  }
  fuzzing::Require(version.find_first_of(std::string("\r\n\0", 3)) == std::string::npos,
                   "the version is one line");
  fuzzing::Require(version.size() <= 64 * 1024, "at most the kept bytes make the version");
  IsAcceptableVersion(version);
  return 0;
}
