// The headless front end: the same operations as the window, with the information console
// on standard output and the command console (and message boxes) on standard error.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zorvane {

// Runs one command line (without the program name). Returns the exit status: 0 done,
// 1 no drive or the drive could not be used, 2 usage error.
int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace zorvane
