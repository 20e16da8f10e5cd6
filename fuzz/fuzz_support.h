// What the fuzz targets share: a private scratch folder per fuzzing process, writing an input to
// a file, and the check that stops the run when a reader breaks one of its promises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fuzzing {

// A fresh folder under the temporary folder, made on first use and removed when the process
// ends normally (fuzz/run also points TMPDIR at a folder of its own and removes that).
const std::filesystem::path& Scratch();

void WriteBytes(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size);

// Every path under a folder, relative and sorted; folders end with "/", symbolic links with "@".
std::vector<std::string> Listing(const std::filesystem::path& folder);

// Prints what was broken and aborts, which libFuzzer reports as a crash with the input saved.
[[noreturn]] void Broken(const char* promise);

inline void Require(bool holds, const char* promise) {
  if (!holds) Broken(promise);
}

}  // namespace fuzzing
