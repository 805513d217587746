// The error figures a quality scan measures: deterministic for a disc (seeded by address),
// at the level the device spec string asks for, and high in the damaged ranges.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vdrive/cd_sector.h"
#include "vdrive/spec.h"

namespace zorvane::vdrive {

struct PiErrors {
  std::uint16_t pie = 0;  // inner-parity errors in the interval
  std::uint16_t pif = 0;  // inner-parity failures
};

struct CdErrors {
  std::uint16_t bler = 0;  // block error rate: C1 frames in error
  std::uint16_t e22 = 0;   // C2 frames with two errors, corrected
  std::uint16_t e32 = 0;   // C2 frames with three errors: uncorrectable
};

class QualityModel {
 public:
  QualityModel(const std::string& disc_seed, Quality quality, std::vector<BlockRange> damage);

  bool Damaged(std::int32_t first, std::int32_t count) const;

  // Errors of the DVD blocks [first, first + count).
  PiErrors DvdErrors(std::int32_t first, std::int32_t count) const;

  // Errors of the CD second (75 blocks) starting at `first`.
  CdErrors CdSecondErrors(std::int32_t first) const;

  // The C2 pointers of a CD block: one bit for each of the 2352 bytes, most significant bit
  // first. All zero unless the block is damaged.
  void C2Pointers(std::int32_t lba, std::uint8_t out[kC2Size]) const;

 private:
  std::uint64_t Hash(std::int64_t address, std::uint64_t salt) const;

  std::uint64_t seed_;
  Quality quality_;
  std::vector<BlockRange> damage_;
};

}  // namespace zorvane::vdrive
