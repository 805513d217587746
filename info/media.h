// What the drive holds: the medium-type code of the mode parameter header, and the names
// of MMC profiles.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/json_writer.h"
#include "transport/console.h"

namespace zorvane {

inline constexpr std::size_t kReplyBufferSize = 65536;

// The shared reply buffer of the UI thread's commands: each command overwrites it.
// Workers pass buffers of their own.
extern std::uint8_t ReplyBuffer[kReplyBufferSize];

// Medium-type codes the program acts on.
inline constexpr std::uint8_t kMediumUnknown = 0x00;
inline constexpr std::uint8_t kMediumNoDisc = 0x70;
inline constexpr std::uint8_t kMediumDoorOpen = 0x71;
inline constexpr std::uint8_t kMediumNoDevice = 0xFF;

inline bool IsDvdMedium(std::uint8_t code) {
  return code >= 0x41 && code <= 0x4F;
}

// The description the probe prints after "Media Code=%02X, ", or null for a code without
// one.
const char* MediumTypeText(std::uint8_t code);

// Waits for the current drive to become ready and returns the medium-type byte of its
// MODE SENSE(10) page 2Ah header: 0xFF when the drive cannot be reached. With report = 1
// it prints the code and its description to the information console. Commands are sent
// with tracing off; tracing is on again on return. `reply` receives the mode data (a
// buffer of kReplyBufferSize bytes).
//
// When MODE SENSE itself is refused, no header is there to read: "medium not present"
// gives 0x70 (0x71 with the tray open), any other refusal 0x00 (unknown medium).
std::uint8_t ProbeMediumType(int report, std::uint8_t* reply = ReplyBuffer);

// The probe's console text: "Media Code=%02X, " and the code's description.
void PrintMediumType(Console* console, std::uint8_t code);

// The probe's fields as members of the JSON object being written: the code, its
// description (without the line end, null for a code without one) and the state it means.
void MediumTypeJson(JsonWriter& json, std::uint8_t code);

// The display name of an MMC profile (its low byte) into `text` (at least 32 bytes).
void ProfileName(std::uint8_t profile, char* text, std::size_t size = 32);

// The same name as a constant string.
const char* ProfileNameText(std::uint8_t profile);

}  // namespace zorvane
