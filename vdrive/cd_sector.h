// The 2352-byte CD sector of ECMA-130: sync, header, sub-header, user data, EDC and the
// P and Q parity of the layered error correction.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zorvane::vdrive {

inline constexpr std::size_t kRawSectorSize = 2352;
inline constexpr std::size_t kC2Size = 294;            // one bit for each byte of the raw sector
inline constexpr std::size_t kRawSubchannelSize = 96;  // P-W: one byte per symbol
inline constexpr std::size_t kQSize = 12;              // the Q channel's 96 bits

// The kinds of sector a CD track holds.
enum class SectorType : std::uint8_t {
  kAudio = 1,          // CD-DA: 2352 bytes of samples
  kMode1 = 2,          // 2048 bytes of user data with EDC and ECC
  kMode2Formless = 3,  // 2336 bytes of user data
  kMode2Form1 = 4,     // sub-header, 2048 bytes with EDC and ECC
  kMode2Form2 = 5,     // sub-header, 2324 bytes with EDC
};

// The bytes of user data one sector of the type carries.
std::size_t UserDataSize(SectorType type);

// Where the fields of a data sector lie in the 2352 bytes.
struct SectorLayout {
  std::size_t sync = 12;
  std::size_t header = 4;
  std::size_t subheader = 0;
  std::size_t user = 2048;
  std::size_t edc_ecc = 288;  // everything after the user data
};
SectorLayout LayoutOf(SectorType type);

// The EDC of ECMA-130: a 32-bit CRC, least significant bit first, with the polynomial
// (x^16 + x^15 + x^2 + 1)(x^16 + x^2 + x + 1).
std::uint32_t ComputeEdc(const std::uint8_t* data, std::size_t size);

// Builds the unscrambled raw sector at `lba` from its user data (UserDataSize bytes) and,
// for Mode 2 forms, the 4 sub-header bytes (written twice). Audio sectors are the user
// data itself.
void BuildRawSector(SectorType type, std::int32_t lba, const std::uint8_t* user,
                    const std::uint8_t* subheader, std::uint8_t out[kRawSectorSize]);

// The Q channel's CRC over its first 10 bytes: CRC-16 with x^16 + x^12 + x^5 + 1, the
// remainder inverted (ECMA-130), stored most significant byte first in bytes 10 and 11.
void PutQCrc(std::uint8_t q[kQSize]);

// The 96 bytes of raw P-W sub-channel of one block: byte i holds bit i of each channel,
// P in bit 7, Q in bit 6 and R-W (here zeros) below. `p` is the P channel's one value for
// the whole block.
void InterleaveSubchannel(bool p, const std::uint8_t q[kQSize],
                          std::uint8_t out[kRawSubchannelSize]);

}  // namespace zorvane::vdrive
