#include "download/transfer_limits.h"

#include <cstdlib>

namespace {

constexpr long kDefaultTimeoutSeconds = 60;

}  // namespace

long TransferTimeoutSeconds() {
  const char* text = std::getenv("ORBEC_TRANSFER_TIMEOUT");
  if (text == nullptr) return kDefaultTimeoutSeconds;
  char* end = nullptr;
  long seconds = std::strtol(text, &end, 10);
  return (end != text && *end == '\0' && seconds > 0) ? seconds : kDefaultTimeoutSeconds;
}
