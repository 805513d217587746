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

// The longest line the list keeps (a longer line is cut there, on a character boundary),
// and the largest file it reads: a list of commands is a few kilobytes.
inline constexpr std::size_t kCommandSetLineLimit = 511;
inline constexpr std::size_t kCommandSetFileLimit = 1024 * 1024;

// The lines of the file, each ended by CR LF; text after the last CR LF is not a line,
// and empty lines are skipped. Lines longer than kCommandSetLineLimit bytes are cut to
// it. Sorted the way the list shows them: ignoring ASCII case, then by bytes.
std::vector<std::string> CommandSetLines(std::string_view text);

// The command text of a line: from the first non-blank character after the first "=" up
// to the first ";" after it (blanks before the ";" stay). Empty without a "=".
std::string CommandTextOf(std::string_view line);

// Reads the file into sorted lines. On failure returns false with the message box text:
// "Can not open PATH" and, where known, what is wrong with it ("(a directory)", "(not a
// regular file)", "(larger than 1 MB)", "(UTF-16 text: ...)", or the system's reason).
// The file is opened without blocking and read only when it is a regular file, so a
// FIFO or a device in its place cannot hold the window up.
bool ReadCommandSet(const std::string& path, std::vector<std::string>* lines, std::string* error);

// The path of the command list in a directory.
std::string CommandSetPath(const std::string& directory);

}  // namespace zorvane
