// The system's own description of an errno value.
#pragma once

#include <string>

namespace platform {

// The runtime's text for an errno value, as strerror gives it ("Unknown error <n>" for a value
// it does not know).
std::string ErrnoText(int code);

}  // namespace platform
