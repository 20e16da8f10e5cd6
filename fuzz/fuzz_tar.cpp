// The tar reader: the input as an archive file, unpacked into a fresh folder that is removed
// after each input. Nothing may appear beside the destination, no symbolic link anywhere, and
// the progress reports stay in range.
#include <cerrno>

#include "archive/tar_reader.h"
#include "fuzz_support.h"

namespace {

namespace fs = std::filesystem;

// Progress reports: always the archive's size as the total, positions never past it and never
// going back.
class CheckedProgress : public IFileProgressCallback {
 public:
  explicit CheckedProgress(std::uint64_t size) : size_(size) {}
  void OnProgress(std::uint64_t total, std::uint64_t done) override {
    fuzzing::Require(total == size_, "progress totals are the archive size");
    fuzzing::Require(done <= total && done >= last_, "progress positions move forward in range");
    last_ = done;
  }

 private:
  std::uint64_t size_;
  std::uint64_t last_ = 0;
};

class RunFolder {
 public:
  RunFolder() : path_(fuzzing::Scratch() / "run") { fs::create_directory(path_); }
  ~RunFolder() { fs::remove_all(path_); }
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  RunFolder run;
  const fs::path archive = run.path() / "archive.tar";
  const fs::path destination = run.path() / "dest";
  fuzzing::WriteBytes(archive, data, size);
  fs::create_directory(destination);
  CheckedProgress progress(size);
  errno = 0;
  const bool ok = UntarArchive(archive, destination, &progress);
  fuzzing::Require(ok || errno != 0, "a failure leaves its reason in errno");
  const std::vector<std::string> everything = fuzzing::Listing(fuzzing::Scratch());
  const std::vector<std::string> inside = fuzzing::Listing(destination);
  fuzzing::Require(everything.size() == inside.size() + 3,
                   "nothing is written outside the destination");
  for (const std::string& name : everything) {
    fuzzing::Require(!name.ends_with("@"), "no symbolic link is made");
  }
  return 0;
}
