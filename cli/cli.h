// The headless front end: the same operations as the window, with the information console
// on standard output and the command console (and message boxes) on standard error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace zorvane {

// Runs one command line (without the program name). Returns the exit status: 0 done,
// 1 no drive or the drive could not be used, 2 usage error.
int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// Hexadecimal bytes as the command line takes them: two digits per byte (or one digit
// standing alone before a blank or at the end), separated by blanks or commas. Text the
// window's parser would read otherwise ("1,2", "123", "0x12") or that holds no byte is
// refused with a message naming the bad text.
bool ParseStrictHex(std::string_view text, std::vector<std::uint8_t>* bytes, std::string* error);

}  // namespace zorvane
