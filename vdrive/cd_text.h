// CD-TEXT as the drive keeps it: the 18-byte packs of a lead-in's R-W sub-channel (type,
// track, sequence number, block and character position, 12 bytes, CRC-16 of the first 16
// bytes with x^16+x^12+x^5+1, inverted). The drive does not read the texts; it checks each
// pack's CRC, as it does when it reads the lead-in, and answers READ TOC format 5 with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zorvane::vdrive {

inline constexpr std::size_t kCdTextPack = 18;
// A lead-in block of packed R-W sub-channel from the host: four packs of 24 six-bit symbols.
inline constexpr std::size_t kLeadinSubchannelBlock = 96;

// The CRC a pack's bytes 16-17 hold, over its first 16 bytes.
std::uint16_t CdTextPackCrc(const std::uint8_t* pack);
bool CdTextPackGood(const std::uint8_t* pack);

// Collects the packs of a lead-in as a reader of it gets them: the lead-in repeats its packs,
// so each (block, sequence number) is kept once, from its first copy with a good CRC; packs
// with a bad CRC or a type outside 80h-8Fh are dropped and counted.
class CdTextCollector {
 public:
  CdTextCollector() : slots_(8 * 256 * kCdTextPack), have_(8 * 256, false) {}
  void Add(const std::uint8_t* pack);
  // One block of packed R-W sub-channel (96 bytes): the low six bits of each byte are the
  // symbols; each 24 of them are a pack's 144 bits, most significant first.
  void AddLeadinBlock(const std::uint8_t* block);
  // The packs kept, by block and then sequence number.
  std::vector<std::uint8_t> Packs() const;
  int bad() const { return bad_; }

 private:
  std::vector<std::uint8_t> slots_;
  std::vector<bool> have_;
  int bad_ = 0;
};

// Packs checked and ordered as above, from a file or a state (18 bytes each).
std::vector<std::uint8_t> CheckedCdTextPacks(const std::uint8_t* packs, std::size_t size);

}  // namespace zorvane::vdrive
