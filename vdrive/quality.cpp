#include "vdrive/quality.h"

#include <cstring>

namespace zorvane::vdrive {

namespace {

std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

std::uint64_t Fnv(const std::string& text) {
  std::uint64_t hash = 0xCBF29CE484222325ULL;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001B3ULL;
  }
  return hash;
}

std::uint16_t Pick(std::uint64_t hash, std::uint32_t base, std::uint32_t spread) {
  return static_cast<std::uint16_t>(base + (spread == 0 ? 0 : hash % spread));
}

}  // namespace

QualityModel::QualityModel(const std::string& disc_seed, Quality quality,
                           std::vector<BlockRange> damage)
    : seed_(Fnv(disc_seed)), quality_(quality), damage_(std::move(damage)) {}

std::uint64_t QualityModel::Hash(std::int64_t address, std::uint64_t salt) const {
  return Mix(seed_ ^ Mix(static_cast<std::uint64_t>(address) * 0x100000001B3ULL + salt));
}

bool QualityModel::Damaged(std::int32_t first, std::int32_t count) const {
  for (const BlockRange& range : damage_) {
    if (first <= range.last && first + count - 1 >= range.first) return true;
  }
  return false;
}

PiErrors QualityModel::DvdErrors(std::int32_t first, std::int32_t count) const {
  const std::uint64_t a = Hash(first, 1);
  const std::uint64_t b = Hash(first, 2);
  if (Damaged(first, count)) return PiErrors{Pick(a, 280, 400), Pick(b, 8, 24)};
  switch (quality_) {
    case Quality::kGood:
      return PiErrors{Pick(a, 0, 4), 0};
    case Quality::kPoor:
      return PiErrors{Pick(a, 20, 150), Pick(b, 0, 5)};
    case Quality::kAverage:
      break;
  }
  return PiErrors{Pick(a, 0, 12), static_cast<std::uint16_t>(b % 3 == 0 ? 1 : 0)};
}

CdErrors QualityModel::CdSecondErrors(std::int32_t first) const {
  const std::uint64_t a = Hash(first, 3);
  const std::uint64_t b = Hash(first, 4);
  const std::uint64_t c = Hash(first, 5);
  if (Damaged(first, kFramesPerSecond)) {
    return CdErrors{Pick(a, 300, 500), Pick(b, 20, 60), Pick(c, 1, 30)};
  }
  switch (quality_) {
    case Quality::kGood:
      return CdErrors{Pick(a, 0, 6), 0, 0};
    case Quality::kPoor:
      return CdErrors{Pick(a, 40, 180), Pick(b, 0, 4), 0};
    case Quality::kAverage:
      break;
  }
  return CdErrors{Pick(a, 0, 20), 0, 0};
}

void QualityModel::C2Pointers(std::int32_t lba, std::uint8_t out[kC2Size]) const {
  std::memset(out, 0, kC2Size);
  if (!Damaged(lba, 1)) return;
  const int errors = 1 + static_cast<int>(Hash(lba, 6) % 12);
  for (int i = 0; i < errors; ++i) {
    const std::size_t byte = Hash(lba, 7 + static_cast<std::uint64_t>(i)) % kRawSectorSize;
    out[byte / 8] |= static_cast<std::uint8_t>(0x80 >> (byte % 8));
  }
}

}  // namespace zorvane::vdrive
