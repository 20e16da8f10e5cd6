// Child processes: finding a program and running it to its end.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

// The full path of the first executable file called `name` in the folders of PATH (on Windows
// separated by ';', and `name` + ".exe" when `name` has no extension).
std::optional<std::string> FindProgramOnPath(const std::string& name);

// Starts `program` with the arguments (argument 0 included) in the folder `cwd`, without a
// shell, sharing the tool's standard streams, and waits for its end. false with the last
// error set when it cannot be started; otherwise true with its exit code (128 + the signal
// number when a signal ended it; on Windows the 32-bit exit code, -1 when it cannot be read).
bool RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                const std::string& cwd, int& exit_code);

#ifdef _WIN32
// As RunProcess, for a Windows program, which reads its command line as one text: `program`
// is the full path of the file to start, `command_line` reaches it exactly as given,
// argument 0 included.
bool RunProcessWithCommandLine(const std::string& program, const std::string& command_line,
                               const std::string& cwd, int& exit_code);

// The full path of the file `name` in the folder of the running program's own file, when a
// file (not a folder) of that name is there.
std::optional<std::string> ProgramBesideTool(const std::string& name);
#endif

}  // namespace platform
