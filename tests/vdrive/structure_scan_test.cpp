// READ DISC STRUCTURE on DVDs, and the vendor quality scans walking CDs and DVDs.
#include <gtest/gtest.h>

#include "tests/vdrive/vdrive_test_support.h"

namespace zorvane::vdrive {
namespace {

using test::Answer;
using test::Be16;
using test::Be24;
using test::Be32;
using test::Ready;
using test::Send;

std::string Text(const std::vector<std::uint8_t>& d, std::size_t at, std::size_t size) {
  std::string text(d.begin() + static_cast<long>(at), d.begin() + static_cast<long>(at + size));
  return text.substr(0, text.find('\0'));
}

TEST(DiscStructureTest, PhysicalFormatOfEachDvd) {
  struct Expect {
    const char* preset;
    std::uint8_t book;
    std::uint8_t structure;
    std::uint32_t blocks;
  };
  const Expect cases[] = {
      {"dvdrom", 0x01, 0x01, 2298496},     {"dvd-r", 0x25, 0x02, 2298496},
      {"dvd-rw-seq", 0x32, 0x04, 2297888}, {"dvd+r", 0xA1, 0x02, 2295104},
      {"dvd+rw", 0x92, 0x04, 2295104},     {"dvd-ram", 0x16, 0x04, 2236704},
      {"dvd+r-dl", 0xE1, 0x32, 4173824},   {"dvd-r-dl", 0x26, 0x32, 4171712},
  };
  for (const Expect& e : cases) {
    SCOPED_TRACE(e.preset);
    auto drive = Ready(e.preset);
    const Answer pfi = Send(*drive, test::DiscStructure(0x00));
    ASSERT_EQ(pfi.sense, kGood);
    ASSERT_EQ(pfi.data.size(), 4U + 2048);
    EXPECT_EQ(Be16(pfi.data, 0), 2050U);
    EXPECT_EQ(pfi.data[4], e.book);
    EXPECT_EQ(pfi.data[6], e.structure);
    EXPECT_EQ(Be32(pfi.data, 8), 0x030000U);
    // Linear density 0.267 um a bit on one layer, 0.293 um on two; 0.74 um track pitch.
    EXPECT_EQ(pfi.data[7], (e.structure & 0x60) != 0 ? 0x10 : 0x00);
    if ((e.structure & 0x20) == 0) {
      EXPECT_EQ(Be32(pfi.data, 12), 0x030000U + e.blocks - 1);
    } else {
      // Opposite track path: layer 0 ends half way, layer 1 ends at the complement of
      // the start.
      EXPECT_EQ(Be32(pfi.data, 12), 0xFCFFFFU);
      EXPECT_EQ(Be32(pfi.data, 16), 0x030000U + e.blocks / 2 - 1);
      EXPECT_EQ(Send(*drive, test::DiscStructure(0x00, 1)).sense, kGood);
    }
    EXPECT_EQ(Send(*drive, test::DiscStructure(0x00, 2)).sense, kInvalidField);
  }
  EXPECT_EQ(Send(*Ready("dvdrom"), test::DiscStructure(0x00, 1)).sense, kInvalidField);
}

TEST(DiscStructureTest, MakerIdsFromAdipAndPrePits) {
  auto plus = Ready("dvd+r");
  Answer pfi = Send(*plus, test::DiscStructure(0x00));
  EXPECT_EQ(Text(pfi.data, 4 + 19, 8), "MCC");
  EXPECT_EQ(Text(pfi.data, 4 + 27, 3), "004");
  const Answer adip = Send(*plus, test::DiscStructure(0x11));
  ASSERT_EQ(adip.data.size(), 4U + 256);
  EXPECT_EQ(Text(adip.data, 4 + 19, 8), "MCC");
  auto keyed = Ready("dvd+rw,maker=CMC MAG/AM3");
  pfi = Send(*keyed, test::DiscStructure(0x00));
  EXPECT_EQ(Text(pfi.data, 4 + 19, 8), "CMC MAG");
  EXPECT_EQ(Text(pfi.data, 4 + 27, 3), "AM3");

  auto minus = Ready("dvd-r,maker=TYG03TYG03AB");
  const Answer prepit = Send(*minus, test::DiscStructure(0x0E));
  ASSERT_EQ(prepit.sense, kGood);
  ASSERT_EQ(prepit.data.size(), 4U + 40);
  for (int field = 0; field < 5; ++field) EXPECT_EQ(prepit.data[4 + 8 * field], field + 1);
  EXPECT_EQ(Text(prepit.data, 4 + 17, 6) + Text(prepit.data, 4 + 25, 6), "TYG03TYG03AB");
  EXPECT_EQ(Be24(prepit.data, 4 + 3), 0x030000U + 2298496 - 1);  // last recordable sector
  auto standard = Ready("dvd-r");
  EXPECT_EQ(Text(Send(*standard, test::DiscStructure(0x0E)).data, 4 + 17, 6), "MCC 03");
  // Each structure only where the medium has it.
  EXPECT_EQ(Send(*plus, test::DiscStructure(0x0E)).sense, kInvalidField);
  EXPECT_EQ(Send(*minus, test::DiscStructure(0x11)).sense, kInvalidField);
  EXPECT_EQ(Send(*Ready("dvdrom"), test::DiscStructure(0x0E)).sense, kInvalidField);
}

TEST(DiscStructureTest, LeadInControlDataOfDvdMinusMedia) {
  // Format 10h: the control data zone's physical format information, which a DVD-R DL
  // burner reads for the end of layer 0 before writing.
  auto dual = Ready("dvd-r-dl");
  const Answer control = Send(*dual, test::DiscStructure(0x10));
  ASSERT_EQ(control.sense, kGood);
  ASSERT_EQ(control.data.size(), 4U + 2048);
  EXPECT_EQ(control.data[4 + 2] >> 5, 1);                              // two layers
  EXPECT_EQ(Be32(control.data, 4 + 4), 0x030000U);                     // data zone start
  EXPECT_EQ(Be32(control.data, 4 + 12), 0x030000U + 4171712 / 2 - 1);  // layer 0 end
  EXPECT_EQ(control.data, Send(*dual, test::DiscStructure(0x00)).data);
  EXPECT_EQ(Send(*dual, test::DiscStructure(0x10, 1)).sense, kGood);
  EXPECT_EQ(Send(*dual, test::DiscStructure(0x10, 2)).sense, kInvalidField);
  auto single = Ready("dvd-r");
  EXPECT_EQ(Be32(Send(*single, test::DiscStructure(0x10)).data, 4 + 8), 0x030000U + 2298496 - 1);
  for (const char* other : {"dvd+r", "dvd+r-dl", "dvd-ram", "dvdrom"}) {
    SCOPED_TRACE(other);
    EXPECT_EQ(Send(*Ready(other), test::DiscStructure(0x10)).sense, kInvalidField);
  }
}

TEST(DiscStructureTest, ListOfStructuresAndOtherMedia) {
  auto drive = Ready("dvd-rw-seq");
  const Answer list = Send(*drive, test::DiscStructure(0xFF));
  ASSERT_EQ(list.sense, kGood);
  std::vector<std::uint8_t> formats;
  for (std::size_t at = 4; at + 4 <= list.data.size(); at += 4) formats.push_back(list.data[at]);
  EXPECT_EQ(formats, (std::vector<std::uint8_t>{0x00, 0x01, 0x04, 0x0E, 0x10, 0xFF}));
  EXPECT_EQ(Be16(list.data, 6), 2050U);
  const Answer copyright = Send(*drive, test::DiscStructure(0x01));
  EXPECT_EQ(copyright.data.size(), 8U);
  EXPECT_EQ(Send(*drive, test::DiscStructure(0x03)).sense, kInvalidField);
  EXPECT_EQ(Send(*Ready("cdrom"), test::DiscStructure(0x00)).sense, kIncompatibleFormat);
  EXPECT_EQ(Send(*Ready("bdrom"), test::DiscStructure(0x00)).sense, kIncompatibleFormat);
  EXPECT_EQ(Send(*Ready("bdrom"), test::DiscStructure(0xFF, 0, 1)).sense, kGood);
  EXPECT_EQ(Send(*Ready("hddvdrom"), test::DiscStructure(0x00)).data[4], 0x40);
  EXPECT_EQ(Send(*test::Start("nodisc"), test::DiscStructure(0x00)).sense, kNoMediumTrayClosed);
}

const std::vector<std::uint8_t> kSeekZero = {0x2B, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const std::vector<std::uint8_t> kMeasure = {0xF3, 0x0E, 0, 0, 0, 0, 0, 0, 0x10, 0};

struct DvdScan {
  std::vector<std::uint32_t> addresses;
  std::vector<std::uint32_t> pie;
  std::vector<std::uint32_t> pif;
  Sense end = 0;
};

DvdScan ScanDvd(Drive& drive) {
  DvdScan scan;
  EXPECT_EQ(Send(drive, kSeekZero, 16).sense, kGood);
  for (int i = 0; i < 100000; ++i) {
    const Answer answer = Send(drive, kMeasure, 16);
    if (answer.sense != kGood) {
      scan.end = answer.sense;
      break;
    }
    EXPECT_EQ(answer.data.size(), 16U);
    scan.addresses.push_back(Be24(answer.data, 1));
    scan.pie.push_back(Be16(answer.data, 4));
    scan.pif.push_back(Be16(answer.data, 6));
  }
  return scan;
}

std::uint64_t Sum(const std::vector<std::uint32_t>& values) {
  std::uint64_t sum = 0;
  for (const std::uint32_t v : values) sum += v;
  return sum;
}

TEST(VendorScanTest, DvdScanWalksTheRecordedAreaInEccBlockSteps) {
  auto drive = Ready("dvdrom,blocks=20000");
  EXPECT_EQ(Send(*drive, kMeasure, 16).sense, kCommandSequenceError);  // not started
  const DvdScan scan = ScanDvd(*drive);
  ASSERT_EQ(scan.addresses.size(), (20000U + 127) / 128);
  for (std::size_t i = 0; i < scan.addresses.size(); ++i) {
    EXPECT_EQ(scan.addresses[i], 128U * i);
  }
  EXPECT_EQ(scan.end, kLbaOutOfRange);
  EXPECT_EQ(Send(*drive, kMeasure, 16).sense, kCommandSequenceError);  // the scan is over
  // The same disc gives the same figures.
  const DvdScan again = ScanDvd(*drive);
  EXPECT_EQ(again.pie, scan.pie);
  EXPECT_EQ(Send(*drive, {0xF3, 0x0F, 0, 0, 0, 0, 0, 0, 0x10, 0}, 16).sense, kInvalidField);
  // A blank disc has nothing to scan.
  auto blank = Ready("dvd+r");
  EXPECT_EQ(ScanDvd(*blank).addresses.size(), 0U);
  EXPECT_EQ(Send(*Ready("cdrom"), kMeasure, 16).sense, kInvalidField);
}

TEST(VendorScanTest, QualityAndDamageSetTheDvdErrorLevel) {
  const std::uint64_t good = Sum(ScanDvd(*Ready("dvdrom,blocks=64000,quality=good")).pie);
  const std::uint64_t average = Sum(ScanDvd(*Ready("dvdrom,blocks=64000")).pie);
  const std::uint64_t poor = Sum(ScanDvd(*Ready("dvdrom,blocks=64000,quality=poor")).pie);
  EXPECT_LT(good, average);
  EXPECT_LT(average, poor);
  const DvdScan damaged = ScanDvd(*Ready("dvdrom,blocks=64000,quality=good,damage=1000-1300"));
  for (std::size_t i = 0; i < damaged.addresses.size(); ++i) {
    const bool hit = damaged.addresses[i] + 127 >= 1000 && damaged.addresses[i] <= 1300;
    EXPECT_EQ(damaged.pie[i] >= 280, hit) << damaged.addresses[i];
    EXPECT_EQ(damaged.pif[i] >= 8, hit) << damaged.addresses[i];
  }
}

struct CdSecond {
  std::vector<std::uint8_t> time;
  std::uint32_t bler, e22, e32;
};

std::vector<CdSecond> ScanCd(Drive& drive, Sense* end) {
  std::vector<std::uint8_t> cdb(12, 0);
  cdb[0] = 0xDF;
  auto sub = [&](std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    std::vector<std::uint8_t> command = cdb;
    command[1] = a;
    command[2] = b;
    command[4] = c;
    return command;
  };
  EXPECT_EQ(Send(drive, sub(0xA3, 0, 0), 16).sense, kGood);
  for (const std::uint8_t setup : {0x02, 0x00, 0x04, 0x02}) {
    EXPECT_EQ(Send(drive, sub(0xA0, 0, setup), 16).sense, kGood);
  }
  std::vector<CdSecond> seconds;
  for (int i = 0; i < 10000; ++i) {
    const Answer time = Send(drive, sub(0x82, 0x09, 0), 16);
    if (time.sense != kGood) {
      *end = time.sense;
      break;
    }
    const Answer counts = Send(drive, sub(0x82, 0x05, 0), 16);
    EXPECT_EQ(time.data.size(), 3U);
    EXPECT_EQ(counts.data.size(), 6U);
    seconds.push_back(
        {time.data, Be16(counts.data, 0), Be16(counts.data, 2), Be16(counts.data, 4)});
    EXPECT_EQ(Send(drive, sub(0x97, 0, 0), 16).sense, kGood);
  }
  return seconds;
}

TEST(VendorScanTest, CdScanReportsEachSecondUntilTheLeadOut) {
  auto drive = Ready("cdrom,blocks=4500");  // one minute
  Sense end = 0;
  const std::vector<CdSecond> seconds = ScanCd(*drive, &end);
  ASSERT_EQ(seconds.size(), 60U);
  EXPECT_EQ(seconds[0].time, (std::vector<std::uint8_t>{0x00, 0x02, 0x00}));  // BCD 00:02:00
  EXPECT_EQ(seconds[1].time, (std::vector<std::uint8_t>{0x00, 0x03, 0x00}));
  EXPECT_EQ(seconds[59].time, (std::vector<std::uint8_t>{0x01, 0x01, 0x00}));
  EXPECT_EQ(end, kLbaOutOfRange);
  std::vector<std::uint8_t> measure(12, 0);
  measure[0] = 0xDF;
  measure[1] = 0x82;
  measure[2] = 0x09;
  EXPECT_EQ(Send(*drive, measure, 16).sense, kCommandSequenceError);
  measure[1] = 0xA0;
  measure[4] = 0x07;
  EXPECT_EQ(Send(*drive, {0xDF, 0xA3}, 16).sense, kGood);
  EXPECT_EQ(Send(*drive, measure, 16).sense, kInvalidField);
  EXPECT_EQ(Send(*drive, {0xDF, 0x55}, 16).sense, kInvalidField);
  EXPECT_EQ(Send(*Ready("dvdrom"), {0xDF, 0xA3}, 16).sense, kInvalidField);
}

TEST(VendorScanTest, CdErrorLevelsAndDamage) {
  Sense end = 0;
  auto total = [&](const std::string& spec) {
    auto drive = Ready(spec);
    std::uint64_t bler = 0;
    for (const CdSecond& s : ScanCd(*drive, &end)) bler += s.bler;
    return bler;
  };
  EXPECT_LT(total("cdda"), total("cdda,quality=poor"));
  EXPECT_LT(total("cdda,quality=good"), total("cdda"));
  auto drive = Ready("cdrom,blocks=7500,quality=good,damage=1500-1600");
  const std::vector<CdSecond> seconds = ScanCd(*drive, &end);
  ASSERT_EQ(seconds.size(), 100U);
  for (std::size_t i = 0; i < seconds.size(); ++i) {
    const bool hit = i == 20 || i == 21;  // blocks 1500-1574 and 1575-1649
    EXPECT_EQ(seconds[i].e32 > 0, hit) << i;
    EXPECT_EQ(seconds[i].bler >= 300, hit) << i;
  }
}

TEST(VendorScanTest, NovendorQuirkRejectsTheScanOpcodes) {
  auto dvd = Ready("dvdrom,quirk=novendor");
  EXPECT_EQ(Send(*dvd, kSeekZero, 16).sense, kGood);
  EXPECT_EQ(Send(*dvd, kMeasure, 16).sense, kInvalidOpcode);
  auto cd = Ready("cdrom,quirk=novendor");
  EXPECT_EQ(Send(*cd, {0xDF, 0xA3}, 16).sense, kInvalidOpcode);
}

}  // namespace
}  // namespace zorvane::vdrive
