#include "app/command_line.h"

int OrbecMain(int, char*[]) { return 1; }
