// The Windows entry point: the command line arrives as UTF-16 and goes on as UTF-8.
#include <new>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "platform/console.h"
#include "platform/windows_win.h"

int wmain(int argc, wchar_t* argv[]) {
  std::vector<std::string> arguments;
  std::vector<char*> pointers;
  try {
    arguments.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) arguments.push_back(platform::Narrow(argv[i]));
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
  } catch (const std::bad_alloc&) {
    // The same report as an out-of-memory failure later in the run.
    platform::Print(platform::StdConsole(), platform::Stream::kErr, "Exception: code 0x%08x\n",
                    0x8007000eU);
    return 1;
  }
  return OrbecMain(argc, pointers.data());
}
