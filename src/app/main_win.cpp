// The Windows entry point: the command line arrives as UTF-16 and goes on as UTF-8.
#include <string>
#include <vector>

#include "app/command_line.h"
#include "platform/windows_win.h"

int wmain(int argc, wchar_t* argv[]) {
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) arguments.push_back(platform::Narrow(argv[i]));
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return OrbecMain(argc, pointers.data());
}
