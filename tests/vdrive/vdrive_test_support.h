// Talking to a virtual drive through CDBs only, as a host does.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "vdrive/drive.h"

namespace zorvane::vdrive::test {

struct Answer {
  Status status = Status::kGood;
  Sense sense = 0;
  std::vector<std::uint8_t> data;  // the bytes transferred
  Reply reply;
};

// The CDB length a host sends for an opcode: 6 below 20h, 12 for A0h-BFh and D0h-DFh,
// 10 for the rest.
std::size_t CdbLengthOf(std::uint8_t opcode);

// Sends a CDB with a data-in phase of `length` bytes (none when 0).
Answer Send(Drive& drive, std::vector<std::uint8_t> cdb, std::size_t length = 65535);

// Sends a CDB with a data-out phase.
Answer SendOut(Drive& drive, std::vector<std::uint8_t> cdb, std::vector<std::uint8_t> data);

// Starts a drive from a device spec string; the test fails when the string is refused.
std::unique_ptr<Drive> Start(const std::string& spec);

// Starts a drive and waits out its readiness and unit attention with TEST UNIT READY.
std::unique_ptr<Drive> Ready(const std::string& spec);

std::uint32_t Be16(const std::vector<std::uint8_t>& data, std::size_t at);
std::uint32_t Be24(const std::vector<std::uint8_t>& data, std::size_t at);
std::uint32_t Be32(const std::vector<std::uint8_t>& data, std::size_t at);

// CDBs.
std::vector<std::uint8_t> Read10(std::uint32_t lba, std::uint16_t count);
std::vector<std::uint8_t> Read12(std::uint32_t lba, std::uint32_t count);
std::vector<std::uint8_t> ReadCd(std::uint32_t lba, std::uint32_t count, std::uint8_t type,
                                 std::uint8_t fields, std::uint8_t subchannel = 0);
std::vector<std::uint8_t> ReadToc(std::uint8_t format, bool msf, std::uint8_t number = 0);
std::vector<std::uint8_t> TrackInfo(std::uint8_t type, std::uint32_t value);
std::vector<std::uint8_t> DiscInfo();
std::vector<std::uint8_t> Capacity();
std::vector<std::uint8_t> FormatCapacities();
std::vector<std::uint8_t> ModeSense10(std::uint8_t page, std::uint8_t control = 0,
                                      bool dbd = false);
std::vector<std::uint8_t> Configuration(std::uint8_t rt, std::uint16_t first = 0);
std::vector<std::uint8_t> DiscStructure(std::uint8_t format, std::uint8_t layer = 0,
                                        std::uint8_t media = 0);

// Whether the 12 bytes of a Q channel end in the CRC of its first 10 (the remainder
// inverted, as recorded).
bool QCrcHolds(const std::uint8_t* q);

// Recording.
std::vector<std::uint8_t> Write10(std::uint32_t lba, std::uint16_t count);
std::vector<std::uint8_t> Close(std::uint8_t function, std::uint16_t number, bool immed = false);
std::vector<std::uint8_t> Reserve(std::uint32_t blocks);
std::vector<std::uint8_t> Blank(std::uint8_t type, bool immed = false);

// The write parameters page as a MODE SELECT(10) parameter list.
struct WriteSetup {
  std::uint8_t write_type = 1;  // track at once
  std::uint8_t track_mode = 4;  // data
  std::uint8_t block_type = 8;  // Mode 1, 2048 bytes
  std::uint8_t multi_session = 3;
  std::uint8_t session_format = 0;
  bool test_write = false;
};
Answer SelectWrite(Drive& drive, const WriteSetup& setup);

// Writes `data` (whole blocks of `block_size`) from `lba` in commands of at most
// `per_command` blocks; the sense of the first refused command, or kGood.
Sense WriteAll(Drive& drive, std::uint32_t lba, const std::vector<std::uint8_t>& data,
               std::size_t block_size, std::uint16_t per_command = 31);

// FORMAT UNIT with one format descriptor.
Answer Format(Drive& drive, std::uint8_t type, std::uint32_t blocks, bool immed = false,
              std::uint32_t parameter = 0);

// Distinct bytes for `blocks` blocks: a pseudo-random sequence from `seed`.
std::vector<std::uint8_t> Pattern(std::size_t blocks, std::size_t block_size, std::uint32_t seed);

// The next writable address and free blocks of READ TRACK INFORMATION for track FFh.
struct Writable {
  Sense sense = 0;
  std::uint8_t track = 0;
  std::uint8_t session = 0;
  bool blank = false;
  std::uint32_t next = 0;
  std::uint32_t free = 0;
};
Writable Invisible(Drive& drive);

// Disc status, last session state and BG format status of READ DISC INFORMATION.
struct DiscState {
  int status = -1;
  int session_state = -1;
  int sessions = 0;
  int background = -1;
};
DiscState Disc(Drive& drive);

// Sends TEST UNIT READY until the drive is ready; the not-ready answers seen on the way.
std::vector<Sense> WaitReady(Drive& drive, int limit = 100);

// The ECMA-130 EDC computed bit by bit from its polynomial (independent of the drive's).
std::uint32_t BitwiseEdc(const std::uint8_t* data, std::size_t size);

// The medium-type byte of a MODE SENSE(10) header.
std::uint8_t MediumType(Drive& drive);

// The current profile of GET CONFIGURATION.
std::uint16_t CurrentProfile(Drive& drive);

// A drive's features from GET CONFIGURATION (RT 0): code -> descriptor bytes.
struct FeatureView {
  bool current = false;
  std::uint8_t version = 0;
  std::vector<std::uint8_t> data;
};
std::vector<std::pair<std::uint16_t, FeatureView>> Features(Drive& drive, std::uint8_t rt = 0);

}  // namespace zorvane::vdrive::test
