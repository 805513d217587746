// Names of MMC commands and texts of sense codes, as the command trace prints them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "transport/console.h"

namespace zorvane {

// Opcode to command name; an opcode outside the table gives "UNKNOWN".
const char* CommandName(std::uint8_t opcode);

// Text of a 24-bit sense code (sense byte 2, ASC, ASCQ), compared whole; null when the
// code has no text.
const char* SenseText(std::int32_t sense_code);

// Appends the text of the sense code to the console when the code has one; returns the
// code unchanged.
std::int32_t LogSenseText(Console* console, std::int32_t sense_code);

inline constexpr std::size_t kCommandNameCount = 63;
inline constexpr std::size_t kSenseTextCount = 247;

struct SenseTextEntry {
  std::int32_t code;
  const char* text;
};

// The whole sense table, ascending by code.
const SenseTextEntry* SenseTextTable(std::size_t* count);

// The opcodes that have a name, ascending.
const std::uint8_t* NamedOpcodes(std::size_t* count);

}  // namespace zorvane
