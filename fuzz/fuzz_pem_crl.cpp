// The PEM body reader on its own (first byte: the line limit), then the whole input as a CRL
// file loaded from disk.
#include <sstream>

#include "fuzz_support.h"
#include "verify/certificates.h"
#include "verify/stream_readers.h"
#include "verify/verify_exceptions.h"
#include "verify/x509.h"

namespace {

using VerificationToolCrypto::IsBase64Char;
using VerificationToolCrypto::ReadPemBody;

// Lines of 1 to 79 Base64 characters, each ended by a line feed; one or two '=' may end the last
// line or stand on a line of their own after it; at least one line carries no padding.
bool WellFormedBody(const std::string& body) {
  std::size_t start = 0;
  std::size_t plainLines = 0;
  while (start < body.size()) {
    const std::size_t end = body.find('\n', start);
    if (end == std::string::npos) return false;
    const std::string_view line(body.data() + start, end - start);
    const std::size_t run = line.find('=') == std::string_view::npos ? line.size() : line.find('=');
    for (std::size_t i = 0; i < run; ++i) {
      if (!IsBase64Char(line[i])) return false;
    }
    const std::size_t padding = line.size() - run;
    if (run > 79 || line.substr(run).find_first_not_of('=') != std::string_view::npos) return false;
    start = end + 1;
    if (padding > 2) return false;
    if (padding > 0) return start == body.size() && plainLines > 0;
    if (run == 0) return false;
    ++plainLines;
  }
  return plainLines > 0;
}

void ReadBody(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  const std::size_t limit = data[0] < 4 ? data[0] : VerificationToolCrypto::kNoLimit;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  in >> std::noskipws;
  std::string body;
  in >> ReadPemBody{body, limit};
  if (in.fail()) return;
  fuzzing::Require(limit != 0, "a limit of no lines always fails");
  fuzzing::Require(WellFormedBody(body), "an accepted body is Base64 lines");
}

void LoadCrl(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path file = fuzzing::Scratch() / "input.crl";
  fuzzing::WriteBytes(file, data, size);
  try {
    VerificationToolCrypto::CCrlContextPtr crl = VerificationToolCrypto::LoadCrlFile(file);
    fuzzing::Require(crl && !crl->get().signed_part.signed_bytes.empty(),
                     "a loaded CRL holds its signed bytes");
  } catch (const verify_exceptions::ve_crypt&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ReadBody(data, size);
  LoadCrl(data, size);
  return 0;
}
