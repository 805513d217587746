#include "vdrive/cd_sector.h"

#include <cstring>

#include "vdrive/bytes.h"

namespace zorvane::vdrive {

namespace {

struct Tables {
  std::array<std::uint32_t, 256> edc{};
  std::array<std::uint8_t, 256> forward{};   // multiplication by alpha in GF(2^8)
  std::array<std::uint8_t, 256> backward{};  // division by (1 + alpha)
  Tables() {
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t crc = i;
      for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) ? 0xD8018001U : 0);
      edc[i] = crc;
      // The field of the Reed-Solomon product code: x^8 + x^4 + x^3 + x^2 + 1.
      const std::uint32_t doubled = (i << 1) ^ ((i & 0x80) ? 0x11D : 0);
      forward[i] = static_cast<std::uint8_t>(doubled);
      backward[i ^ doubled] = static_cast<std::uint8_t>(i);
    }
  }
};

const Tables& GetTables() {
  static const Tables tables;
  return tables;
}

// One set of parity vectors: `major_count` vectors of `minor_count` bytes each, taken from
// the 2340 bytes after the sync field, the two parity bytes of each vector written to
// `parity` and `parity + major_count`.
void ComputeParity(const std::uint8_t* data, std::size_t major_count, std::size_t minor_count,
                   std::size_t major_step, std::size_t minor_step, std::uint8_t* parity) {
  const Tables& t = GetTables();
  const std::size_t size = major_count * minor_count;
  for (std::size_t major = 0; major < major_count; ++major) {
    std::size_t index = (major >> 1) * major_step + (major & 1);
    std::uint8_t a = 0;
    std::uint8_t b = 0;
    for (std::size_t minor = 0; minor < minor_count; ++minor) {
      const std::uint8_t value = data[index];
      index += minor_step;
      if (index >= size) index -= size;
      a ^= value;
      b ^= value;
      a = t.forward[a];
    }
    a = t.backward[t.forward[a] ^ b];
    parity[major] = a;
    parity[major + major_count] = static_cast<std::uint8_t>(a ^ b);
  }
}

// P parity (86 vectors of 24 bytes) then Q parity (52 vectors of 43 bytes), over the
// header, data and P parity as ECMA-130 lays them out.
void ComputeEcc(std::uint8_t* sector) {
  ComputeParity(sector + 12, 86, 24, 2, 86, sector + 2076);
  ComputeParity(sector + 12, 52, 43, 86, 88, sector + 2248);
}

constexpr std::uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

void WriteHeader(std::uint8_t* sector, std::int32_t lba, std::uint8_t mode) {
  std::memcpy(sector, kSync, sizeof kSync);
  const Msf msf = LbaToMsf(lba);
  sector[12] = ToBcd(msf.minute);
  sector[13] = ToBcd(msf.second);
  sector[14] = ToBcd(msf.frame);
  sector[15] = mode;
}

}  // namespace

std::size_t UserDataSize(SectorType type) {
  switch (type) {
    case SectorType::kAudio:
      return 2352;
    case SectorType::kMode2Formless:
      return 2336;
    case SectorType::kMode2Form2:
      return 2324;
    case SectorType::kMode1:
    case SectorType::kMode2Form1:
      break;
  }
  return 2048;
}

SectorLayout LayoutOf(SectorType type) {
  switch (type) {
    case SectorType::kAudio:
      return SectorLayout{0, 0, 0, 2352, 0};
    case SectorType::kMode1:
      return SectorLayout{12, 4, 0, 2048, 288};
    case SectorType::kMode2Formless:
      return SectorLayout{12, 4, 0, 2336, 0};
    case SectorType::kMode2Form1:
      return SectorLayout{12, 4, 8, 2048, 280};
    case SectorType::kMode2Form2:
      return SectorLayout{12, 4, 8, 2324, 4};
  }
  return SectorLayout{};
}

std::uint32_t ComputeEdc(const std::uint8_t* data, std::size_t size) {
  const Tables& t = GetTables();
  std::uint32_t edc = 0;
  for (std::size_t i = 0; i < size; ++i) edc = (edc >> 8) ^ t.edc[(edc ^ data[i]) & 0xFF];
  return edc;
}

void BuildRawSector(SectorType type, std::int32_t lba, const std::uint8_t* user,
                    const std::uint8_t* subheader, std::uint8_t out[kRawSectorSize]) {
  std::memset(out, 0, kRawSectorSize);
  auto put_edc = [out](std::size_t from, std::size_t to) {
    const std::uint32_t edc = ComputeEdc(out + from, to - from);
    for (int i = 0; i < 4; ++i) out[to + i] = static_cast<std::uint8_t>(edc >> (8 * i));
  };
  switch (type) {
    case SectorType::kAudio:
      std::memcpy(out, user, kRawSectorSize);
      return;
    case SectorType::kMode1:
      WriteHeader(out, lba, 1);
      std::memcpy(out + 16, user, 2048);
      put_edc(0, 2064);
      ComputeEcc(out);  // bytes 2068..2075 stay zero
      return;
    case SectorType::kMode2Formless:
      WriteHeader(out, lba, 2);
      std::memcpy(out + 16, user, 2336);
      return;
    case SectorType::kMode2Form1: {
      WriteHeader(out, lba, 2);
      std::memcpy(out + 16, subheader, 4);
      std::memcpy(out + 20, subheader, 4);
      std::memcpy(out + 24, user, 2048);
      put_edc(16, 2072);
      // The header takes no part in the parity of a Mode 2 sector: computed as zero.
      std::uint8_t header[4];
      std::memcpy(header, out + 12, 4);
      std::memset(out + 12, 0, 4);
      ComputeEcc(out);
      std::memcpy(out + 12, header, 4);
      return;
    }
    case SectorType::kMode2Form2:
      WriteHeader(out, lba, 2);
      std::memcpy(out + 16, subheader, 4);
      std::memcpy(out + 20, subheader, 4);
      std::memcpy(out + 24, user, 2324);
      put_edc(16, 2348);
      return;
  }
}

void PutQCrc(std::uint8_t q[kQSize]) {
  static const std::array<std::uint16_t, 256> table = [] {
    std::array<std::uint16_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t crc = i << 8;
      for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
      t[i] = static_cast<std::uint16_t>(crc);
    }
    return t;
  }();
  std::uint16_t crc = 0;
  for (int i = 0; i < 10; ++i) {
    crc = static_cast<std::uint16_t>((crc << 8) ^ table[((crc >> 8) ^ q[i]) & 0xFF]);
  }
  crc = static_cast<std::uint16_t>(~crc);
  q[10] = static_cast<std::uint8_t>(crc >> 8);
  q[11] = static_cast<std::uint8_t>(crc);
}

void InterleaveSubchannel(bool p, const std::uint8_t q[kQSize],
                          std::uint8_t out[kRawSubchannelSize]) {
  for (std::size_t i = 0; i < kRawSubchannelSize; ++i) {
    const bool q_bit = ((q[i / 8] >> (7 - i % 8)) & 1) != 0;
    out[i] = static_cast<std::uint8_t>((p ? 0x80 : 0) | (q_bit ? 0x40 : 0));
  }
}

}  // namespace zorvane::vdrive
