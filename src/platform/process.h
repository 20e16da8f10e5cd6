// Child processes: finding a program and running it to its end.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

// The full path of the first executable file called `name` in the folders of $PATH.
std::optional<std::string> FindProgramOnPath(const std::string& name);

// Starts `program` with the arguments (argument 0 included) in the folder `cwd`, without a
// shell, sharing the tool's standard streams, and waits for its end. false with the last
// error set when it cannot be started; otherwise true with its exit code (128 + the signal
// number when a signal ended it).
bool RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                const std::string& cwd, int& exit_code);

}  // namespace platform
