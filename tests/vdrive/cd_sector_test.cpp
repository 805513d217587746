// The raw sectors checked against ECMA-130 from first principles: the EDC by a bitwise
// CRC over the polynomial, the P and Q parity by the syndromes of their Reed-Solomon codes.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "tests/vdrive/vdrive_test_support.h"
#include "vdrive/cd_sector.h"
#include "vdrive/medium.h"

namespace zorvane::vdrive {
namespace {

using test::BitwiseEdc;

std::uint32_t StoredEdc(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

// GF(2^8) with x^8 + x^4 + x^3 + x^2 + 1, by shift and add.
std::uint8_t Multiply(std::uint8_t a, std::uint8_t b) {
  std::uint8_t product = 0;
  while (b != 0) {
    if (b & 1) product ^= a;
    a = static_cast<std::uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1D : 0));
    b >>= 1;
  }
  return product;
}

// A codeword v of length n is valid when sum(v_i) = 0 and sum(alpha^(n-1-i) v_i) = 0.
bool ZeroSyndromes(const std::vector<std::uint8_t>& word) {
  std::uint8_t s0 = 0;
  std::uint8_t s1 = 0;
  for (const std::uint8_t v : word) {
    s0 ^= v;
    s1 = static_cast<std::uint8_t>(Multiply(s1, 2) ^ v);  // Horner's rule at alpha
  }
  return s0 == 0 && s1 == 0;
}

// The P vectors run down the 86 columns of the 24 x 86 byte matrix that starts at the
// header; the Q vectors run diagonally (one row down, one word on) over the 26 x 43
// word matrix that includes P, one vector starting on each row.
void ExpectValidParity(const std::uint8_t* sector) {
  const std::uint8_t* base = sector + 12;
  for (int column = 0; column < 86; ++column) {
    std::vector<std::uint8_t> word;
    word.reserve(26);
    for (int row = 0; row < 24; ++row) word.push_back(base[86 * row + column]);
    word.push_back(sector[2076 + column]);
    word.push_back(sector[2076 + 86 + column]);
    ASSERT_TRUE(ZeroSyndromes(word)) << "P column " << column;
  }
  for (int diagonal = 0; diagonal < 52; ++diagonal) {
    std::vector<std::uint8_t> word;
    word.reserve(45);
    const int plane = diagonal & 1;
    for (int k = 0; k < 43; ++k) {
      const int index = ((43 * (diagonal >> 1) + 44 * k) % 1118) * 2 + plane;
      word.push_back(base[index]);
    }
    word.push_back(sector[2248 + diagonal]);
    word.push_back(sector[2248 + 52 + diagonal]);
    ASSERT_TRUE(ZeroSyndromes(word)) << "Q diagonal " << diagonal;
  }
}

TEST(CdSectorTest, Mode1HasSyncBcdHeaderEdcAndValidParity) {
  for (const std::int32_t lba : {0, 1, 4499, 333000 - 1}) {
    std::uint8_t user[2048];
    GeneratedUserData(SectorType::kMode1, lba, user);
    std::uint8_t raw[kRawSectorSize];
    BuildRawSector(SectorType::kMode1, lba, user, nullptr, raw);
    const std::uint8_t sync[12] = {0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
    EXPECT_EQ(std::memcmp(raw, sync, 12), 0);
    const Msf msf = LbaToMsf(lba);
    EXPECT_EQ(raw[12], ToBcd(msf.minute));
    EXPECT_EQ(raw[13], ToBcd(msf.second));
    EXPECT_EQ(raw[14], ToBcd(msf.frame));
    EXPECT_EQ(raw[15], 0x01);
    EXPECT_EQ(std::memcmp(raw + 16, user, 2048), 0);
    EXPECT_EQ(StoredEdc(raw + 2064), BitwiseEdc(raw, 2064));
    for (int i = 2068; i < 2076; ++i) EXPECT_EQ(raw[i], 0) << i;
    ExpectValidParity(raw);
  }
  std::uint8_t user[2048] = {};
  std::uint8_t raw[kRawSectorSize];
  BuildRawSector(SectorType::kMode1, 0, user, nullptr, raw);
  EXPECT_EQ(raw[12], 0x00);  // LBA 0 is 00:02:00
  EXPECT_EQ(raw[13], 0x02);
  EXPECT_EQ(raw[14], 0x00);
}

TEST(CdSectorTest, Mode2FormsCarryTheSubheaderTwiceAndTheirEdc) {
  std::uint8_t sub[4] = {0x01, 0x02, 0x08, 0x00};
  std::uint8_t user[2336];
  for (std::size_t i = 0; i < sizeof user; ++i) user[i] = static_cast<std::uint8_t>(i * 7);
  std::uint8_t raw[kRawSectorSize];
  BuildRawSector(SectorType::kMode2Form1, 1000, user, sub, raw);
  EXPECT_EQ(raw[15], 0x02);
  EXPECT_EQ(std::memcmp(raw + 16, sub, 4), 0);
  EXPECT_EQ(std::memcmp(raw + 20, sub, 4), 0);
  EXPECT_EQ(std::memcmp(raw + 24, user, 2048), 0);
  EXPECT_EQ(StoredEdc(raw + 2072), BitwiseEdc(raw + 16, 2056));
  // The parity of a Mode 2 sector is computed with the header taken as zero.
  std::uint8_t zeroed[kRawSectorSize];
  std::memcpy(zeroed, raw, kRawSectorSize);
  std::memset(zeroed + 12, 0, 4);
  ExpectValidParity(zeroed);

  BuildRawSector(SectorType::kMode2Form2, 1000, user, sub, raw);
  EXPECT_EQ(std::memcmp(raw + 24, user, 2324), 0);
  EXPECT_EQ(StoredEdc(raw + 2348), BitwiseEdc(raw + 16, 2332));

  BuildRawSector(SectorType::kMode2Formless, 1000, user, nullptr, raw);
  EXPECT_EQ(std::memcmp(raw + 16, user, 2336), 0);
}

TEST(CdSectorTest, AudioSectorsAreTheirSamples) {
  std::uint8_t samples[kRawSectorSize];
  GeneratedUserData(SectorType::kAudio, 75, samples);
  std::uint8_t raw[kRawSectorSize];
  BuildRawSector(SectorType::kAudio, 75, samples, nullptr, raw);
  EXPECT_EQ(std::memcmp(raw, samples, kRawSectorSize), 0);
  // Sample n of LBA 75: ((75 * 588 + n) * 97) mod 65536 on the left, complement on the right.
  const auto left = static_cast<std::uint16_t>((75 * 588 + 3) * 97);
  EXPECT_EQ(raw[12], left & 0xFF);
  EXPECT_EQ(raw[13], left >> 8);
  EXPECT_EQ(raw[14], static_cast<std::uint8_t>(~left & 0xFF));
}

TEST(CdSectorTest, TimeCodesConvertBothWaysIncludingTheLeadIn) {
  EXPECT_EQ(LbaToMsf(0), (Msf{0, 2, 0}));
  EXPECT_EQ(LbaToMsf(359849), (Msf{79, 59, 74}));
  EXPECT_EQ(MsfToLba(Msf{79, 59, 74}), 359849);
  EXPECT_EQ(MsfToLba(Msf{97, 24, 1}), -11849);
  EXPECT_EQ(LbaToMsf(-11849), (Msf{97, 24, 1}));
  EXPECT_EQ(LbaToMsf(-150), (Msf{0, 0, 0}));
  EXPECT_EQ(ToBcd(59), 0x59);
}

}  // namespace
}  // namespace zorvane::vdrive
