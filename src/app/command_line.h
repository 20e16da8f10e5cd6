// The entry point's work: command line, banner, usage, exit status.
#pragma once

// Runs the tool for the given command line and returns the process exit status.
int OrbecMain(int argc, char* argv[]);
