// ExecuteCdb: the one door to a drive.
#pragma once

#include <atomic>
#include <cstdint>

#include "transport/backend.h"

namespace zorvane {

// Number of drive slots (d: to j:).
inline constexpr int kSlotCount = 7;

// Command tracing: while 1, every CDB and the open and request failures are written to
// the command console; while non-zero, the sense line is. Set only to 0 or 1.
extern std::atomic<std::int32_t> TraceEnabled;

// The 24-bit result of a command: sense byte 2 taken whole, ASC, ASCQ. 0 = good.
using SenseCode = std::int32_t;

inline SenseCode SenseCodeOf(const std::uint8_t* fixed_sense) {
  return static_cast<SenseCode>(fixed_sense[2]) << 16 |
         static_cast<SenseCode>(fixed_sense[12]) << 8 | static_cast<SenseCode>(fixed_sense[13]);
}

// Length of a CDB by the group of its opcode: 6, 10 or 12 bytes.
std::uint8_t CdbLength(std::uint8_t opcode);

// Time-out of a command in seconds: 120 for SEND OPC INFORMATION, 5,400 for BLANK, 10 for
// every other.
std::uint32_t CommandTimeout(std::uint8_t opcode);

// Sends one CDB to the drive in `slot` and returns -1 when it could not be issued (the
// device does not open, or the pass-through request failed) or the SenseCode.
//   transfer_length: only its low 16 bits are used.
//   direction: kDataOut, kDataIn or kDataNone.
//   close_after: 1 closes the slot's device after a carried-out request; anything else
//   keeps it open for the next call. A failed request keeps the device open.
// Calls on one slot are serialised: two threads never interleave inside a device.
std::int32_t ExecuteCdb(const std::uint8_t* cdb, std::uint8_t slot, std::uint8_t target,
                        std::uint32_t lun, std::uint32_t transfer_length, void* buffer,
                        std::uint8_t direction, std::uint8_t close_after);

// ExecuteCdb without a word to the command console, whatever TraceEnabled says: for a job
// that polls the drive in the background (following a format or a blank), whose commands
// every half second would bury the user's own trace. TraceEnabled itself is left alone.
std::int32_t ExecuteCdbUntraced(const std::uint8_t* cdb, std::uint8_t slot, std::uint8_t target,
                                std::uint32_t lun, std::uint32_t transfer_length, void* buffer,
                                std::uint8_t direction, std::uint8_t close_after);

// Closes every cached device (used when the drive map changes, and between tests).
void CloseAllDevices();

// True when the slot's device is open and cached.
bool IsDeviceOpen(std::uint8_t slot);

// A job's hold on a slot (see exclusive_use.h). HoldDevice puts `handle` in the slot in
// place of any cached one (a null handle keeps the slot's own, opened as usual); while
// held, the device stays open whatever close_after says, and before the first command
// that changes the disc (ChangesDisc) PREVENT MEDIUM REMOVAL is sent once.
// ReleaseDevice sends ALLOW MEDIUM REMOVAL when the tray was locked and closes the device.
void HoldDevice(std::uint8_t slot, std::unique_ptr<DeviceHandle> handle);
void ReleaseDevice(std::uint8_t slot);
bool IsDeviceHeld(std::uint8_t slot);

// WRITE (10/12), WRITE AND VERIFY, BLANK, FORMAT UNIT, CLOSE TRACK/SESSION, RESERVE TRACK.
bool ChangesDisc(std::uint8_t opcode);

}  // namespace zorvane
