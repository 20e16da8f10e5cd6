// Linux programs started from a test running under wine.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// Starts the Linux program arguments[0] with those arguments. Wine runs it detached: there is
// no waiting for it and no exit code. Its standard streams go nowhere, since wine loses what
// this process writes to its own after handing them to a Linux program. False when it could
// not be started.
bool StartOnHost(const std::vector<std::string>& arguments);

}  // namespace testing_support
