// CommandSet.txt: a library of ready-made commands, one per line as
// "NAME = HEX BYTES ;comment".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zorvane {

// The file's name in the start directory.
inline constexpr const char* kCommandSetFileName = "CommandSet.txt";

// Decodes the file's bytes to UTF-8: text that is valid UTF-8 is kept (without a byte
// order mark); anything else is read as Big5 (code page 950), the encoding such files were
// written in on older systems. Bytes that are not Big5 either become U+FFFD.
std::string DecodeCommandSetText(std::string_view bytes);

// The lines of the file, each ended by CR LF; text after the last CR LF is not a line,
// and empty lines are skipped. Lines are kept whole, however long. Sorted the way the
// list shows them: ignoring ASCII case, then by bytes.
std::vector<std::string> CommandSetLines(std::string_view text);

// The command text of a line: from the first non-blank character after the first "=" up
// to the first ";" after it (blanks before the ";" stay). Empty without a "=".
std::string CommandTextOf(std::string_view line);

// Reads the file into sorted lines. On failure returns false with the message box text
// ("Can not open PATH").
bool ReadCommandSet(const std::string& path, std::vector<std::string>* lines, std::string* error);

// The path of the command list in a directory.
std::string CommandSetPath(const std::string& directory);

}  // namespace zorvane
