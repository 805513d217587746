#include "vdrive/cd_text.h"

#include <algorithm>

namespace zorvane::vdrive {

std::uint16_t CdTextPackCrc(const std::uint8_t* pack) {
  std::uint16_t crc = 0;
  for (int i = 0; i < 16; ++i) {
    crc ^= static_cast<std::uint16_t>(pack[i] << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<std::uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
  }
  return static_cast<std::uint16_t>(~crc);
}

bool CdTextPackGood(const std::uint8_t* pack) {
  const std::uint16_t crc = CdTextPackCrc(pack);
  return pack[16] == (crc >> 8) && pack[17] == (crc & 0xFF);
}

void CdTextCollector::Add(const std::uint8_t* pack) {
  if (pack[0] < 0x80 || pack[0] > 0x8F || !CdTextPackGood(pack)) {
    ++bad_;
    return;
  }
  const std::size_t slot =
      std::size_t{static_cast<std::uint8_t>((pack[3] >> 4) & 0x07)} * 256 + pack[2];
  if (have_[slot]) return;
  have_[slot] = true;
  std::copy_n(pack, kCdTextPack, &slots_[slot * kCdTextPack]);
}

void CdTextCollector::AddLeadinBlock(const std::uint8_t* block) {
  for (std::size_t p = 0; p < 4; ++p) {
    const std::uint8_t* symbols = block + 24 * p;
    std::uint8_t pack[kCdTextPack];
    for (std::size_t g = 0; g < 6; ++g) {
      const std::uint8_t* s = symbols + 4 * g;
      pack[3 * g] = static_cast<std::uint8_t>((s[0] & 0x3F) << 2 | (s[1] & 0x3F) >> 4);
      pack[3 * g + 1] = static_cast<std::uint8_t>((s[1] & 0x0F) << 4 | (s[2] & 0x3F) >> 2);
      pack[3 * g + 2] = static_cast<std::uint8_t>((s[2] & 0x03) << 6 | (s[3] & 0x3F));
    }
    Add(pack);
  }
}

std::vector<std::uint8_t> CdTextCollector::Packs() const {
  std::vector<std::uint8_t> packs;
  for (std::size_t slot = 0; slot < have_.size(); ++slot) {
    if (!have_[slot]) continue;
    const auto from = slots_.begin() + static_cast<std::ptrdiff_t>(slot * kCdTextPack);
    packs.insert(packs.end(), from, from + kCdTextPack);
  }
  return packs;
}

std::vector<std::uint8_t> CheckedCdTextPacks(const std::uint8_t* packs, std::size_t size) {
  CdTextCollector collector;
  for (std::size_t at = 0; at + kCdTextPack <= size; at += kCdTextPack) collector.Add(packs + at);
  return collector.Packs();
}

}  // namespace zorvane::vdrive
