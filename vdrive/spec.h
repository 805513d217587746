// The description of a virtual drive: "PRESET[,KEY=VALUE]...".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vdrive/bytes.h"

namespace zorvane::vdrive {

// An injected answer: `sense` to commands with `opcode` (touching `lba`, when given),
// `count` times (0: always).
struct FaultRule {
  std::uint8_t opcode = 0;
  std::optional<std::int32_t> lba;
  Sense sense = 0;
  int count = 0;
};

// An injected transport failure: the pass-through request itself fails.
struct FailRule {
  std::uint8_t opcode = 0;
  int count = 0;  // 0: always
};

struct BlockRange {
  std::int32_t first = 0;
  std::int32_t last = 0;
};

enum class Quality : std::uint8_t { kAverage, kGood, kPoor };

struct Quirks {
  bool no_atip = false;           // READ TOC format 4 rejected
  bool block_descriptor = false;  // MODE SENSE returns an 8-byte block descriptor
  bool no_c2 = false;             // READ CD C2 fields rejected
  bool no_vendor = false;         // vendor scan opcodes rejected
  bool no_performance = false;    // GET PERFORMANCE rejected
  bool raw_toc_msf = false;       // raw TOC and PMA addresses follow the MSF bit (QEMU)
  bool ignore_start = false;      // GET CONFIGURATION ignores the starting feature (QEMU)
  bool dao_default = false;       // page 05h powers on as session at once, audio, raw blocks
  bool no_test_write = false;     // no test write: page 2Ah, features 002Dh-002Fh, page 05h
};

// What the medium-type byte of the mode parameter header holds.
enum class MediumTypeMode : std::uint8_t {
  kLegacy,     // the code table of ATAPI drives, following the disc
  kZero,       // always 00h, as many current drives answer
  kQemuAtapi,  // always 70h, as QEMU's ATAPI drive answers even with a disc loaded
};

struct DriveSpec {
  std::string preset;
  std::optional<std::string> image;
  std::optional<Msf> atip;
  std::optional<Msf> leadout;
  std::optional<std::string> maker;
  std::optional<std::string> serial;
  std::optional<std::string> vendor;
  std::optional<std::string> product;
  std::optional<std::string> revision;
  std::optional<std::int32_t> blocks;
  std::optional<std::string> state;
  std::optional<std::string> cdtext;  // a file of CD-TEXT packs for a pressed audio CD
  Quirks quirks;
  Quality quality = Quality::kAverage;
  std::vector<BlockRange> damage;
  // Blocks whose user data every read returns altered, with no sense.
  std::vector<std::int32_t> altered;
  int ready = 0;
  bool attention = false;
  std::vector<FaultRule> faults;
  std::vector<FailRule> fails;
  bool real_time = false;
  MediumTypeMode medium_type = MediumTypeMode::kLegacy;
};

// Parses a spec. On a malformed one returns false and says what is wrong: an unknown
// preset, an unknown key, or a bad value (naming the key).
bool ParseSpec(std::string_view text, DriveSpec* spec, std::string* error);

// The preset names, in the order the documentation lists them.
const std::vector<std::string>& PresetNames();

}  // namespace zorvane::vdrive
