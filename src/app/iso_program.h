// Finding and starting the ISO program, as each platform does it. Which program may run is
// decided by the caller: a distribution's own program only when its manifest verified it.
#pragma once

#include <string>
#include <vector>

// The name of isohybrid on this platform.
extern const char* const kHybridProgram;

// Starts the ISO program in the work folder with arguments (those after its name) and waits for
// it. Linux: the first of mkisofs, genisoimage, xorrisofs and xorriso -as mkisofs on PATH; the
// distribution's is never run. Windows: with may_run_distribution_program the distribution's
// slax/tools/WIN/mkisofs.exe, otherwise mkisofs.exe beside orbec.exe or else on PATH. false with
// the last error set when no program can be started.
bool RunIsoProgram(const std::string& work_folder, const std::vector<std::string>& arguments,
                   bool may_run_distribution_program, int& exit_code);
