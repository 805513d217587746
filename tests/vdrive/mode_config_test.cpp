// The medium each preset loads as MODE SENSE and GET CONFIGURATION report it, the mode
// pages, and the speed and performance commands.
#include <gtest/gtest.h>

#include <map>

#include "tests/vdrive/vdrive_test_support.h"

namespace zorvane::vdrive {
namespace {

using test::Answer;
using test::Be16;
using test::Be32;
using test::Ready;
using test::Send;
using test::SendOut;

struct PresetMedium {
  const char* preset;
  std::uint8_t code;
  std::uint16_t profile;
};

constexpr PresetMedium kPresetMedia[] = {
    {"nodisc", 0x70, 0x00},     {"open", 0x71, 0x00},       {"cdrom", 0x01, 0x08},
    {"cdda", 0x02, 0x08},       {"cdmixed", 0x03, 0x08},    {"cdr-blank", 0x10, 0x09},
    {"cdr-open", 0x11, 0x09},   {"cdr-closed", 0x11, 0x09}, {"cdr-multi", 0x11, 0x09},
    {"cdrw-blank", 0x20, 0x0A}, {"cdrw-mrw", 0x21, 0x0A},   {"dvdrom", 0x41, 0x10},
    {"dvd-r", 0x41, 0x11},      {"dvd-r-dl", 0x41, 0x15},   {"dvd-rw-seq", 0x41, 0x14},
    {"dvd-rw-ro", 0x41, 0x13},  {"dvd-ram", 0x41, 0x12},    {"dvd+r", 0x41, 0x1B},
    {"dvd+r-dl", 0x41, 0x2B},   {"dvd+rw", 0x41, 0x1A},     {"bdrom", 0x00, 0x40},
    {"hddvdrom", 0x00, 0x50},
};

TEST(ModeSenseTest, EveryPresetReportsItsMediumTypeAndProfile) {
  for (const PresetMedium& p : kPresetMedia) {
    auto drive = Ready(p.preset);
    EXPECT_EQ(test::MediumType(*drive), p.code) << p.preset;
    EXPECT_EQ(test::CurrentProfile(*drive), p.profile) << p.preset;
    const Answer six = Send(*drive, {0x1A, 0, 0x2A, 0, 0xFF, 0});
    ASSERT_EQ(six.sense, kGood) << p.preset;
    EXPECT_EQ(six.data[1], p.code) << p.preset;
    EXPECT_EQ(six.data[0], six.data.size() - 1) << p.preset;
    // The profile list holds the current profile, flagged.
    const auto features = test::Features(*drive);
    ASSERT_FALSE(features.empty());
    ASSERT_EQ(features[0].first, 0x0000);
    int flagged = 0;
    const auto& list = features[0].second.data;
    for (std::size_t at = 0; at + 4 <= list.size(); at += 4) {
      if (list[at + 2] & 1) {
        ++flagged;
        EXPECT_EQ(Be16(list, at), p.profile) << p.preset;
      }
    }
    EXPECT_EQ(flagged, p.profile == 0 ? 0 : 1) << p.preset;
  }
}

TEST(ModeSenseTest, MediumTypeFollowsWhatIsRecorded) {
  auto cdr = Ready("cdr-blank");
  EXPECT_EQ(test::MediumType(*cdr), 0x10);  // nothing recorded: type unknown
  ASSERT_EQ(test::SelectWrite(*cdr, test::WriteSetup{}).sense, kGood);
  ASSERT_EQ(test::WriteAll(*cdr, 0, test::Pattern(20, 2048, 1), 2048), kGood);
  EXPECT_EQ(test::MediumType(*cdr), 0x11);  // data only
  ASSERT_EQ(Send(*cdr, {0x35}, 0).sense, kGood);
  ASSERT_EQ(test::SelectWrite(*cdr, test::WriteSetup{1, 0, 0x00}).sense, kGood);
  ASSERT_EQ(test::WriteAll(*cdr, test::Invisible(*cdr).next, test::Pattern(4, 2352, 2), 2352),
            kGood);
  EXPECT_EQ(test::MediumType(*cdr), 0x13);  // data and audio

  auto rw = Ready("cdrw-blank");
  EXPECT_EQ(test::MediumType(*rw), 0x20);
  ASSERT_EQ(test::SelectWrite(*rw, test::WriteSetup{1, 0, 0x00}).sense, kGood);
  ASSERT_EQ(test::WriteAll(*rw, 0, test::Pattern(4, 2352, 3), 2352), kGood);
  EXPECT_EQ(test::MediumType(*rw), 0x22);  // audio only
  ASSERT_EQ(Send(*rw, test::Blank(1), 0).sense, kGood);
  EXPECT_EQ(test::MediumType(*rw), 0x20);

  // Tray open, then closed on the disc.
  Send(*rw, {0x1B, 0, 0, 0, 0x02, 0}, 0);
  EXPECT_EQ(test::MediumType(*rw), 0x71);
}

TEST(ModeSenseTest, MediumTypeVariantsOfDrivesThatDoNotKeepTheTable) {
  for (const char* preset : {"cdrom", "dvd+r", "nodisc", "open", "bdrom"}) {
    EXPECT_EQ(test::MediumType(*Ready(std::string(preset) + ",mediumtype=zero")), 0x00) << preset;
    EXPECT_EQ(test::MediumType(*Ready(std::string(preset) + ",mediumtype=qemu-atapi")), 0x70)
        << preset;
  }
  EXPECT_EQ(test::MediumType(*Ready("cdrom,mediumtype=legacy")), 0x01);
  std::string error;
  EXPECT_EQ(Drive::Create("cdrom,mediumtype=ide", &error), nullptr);
  EXPECT_NE(error.find("mediumtype="), std::string::npos) << error;
}

TEST(ModeSenseTest, BlockDescriptorOnlyWithTheQuirkAndWithoutDbd) {
  auto plain = Ready("cdrom");
  Answer answer = Send(*plain, test::ModeSense10(0x2A));
  EXPECT_EQ(Be16(answer.data, 6), 0U);
  EXPECT_EQ(answer.data[8] & 0x3F, 0x2A);
  auto quirky = Ready("cdrom,quirk=blockdesc");
  answer = Send(*quirky, test::ModeSense10(0x2A));
  ASSERT_EQ(Be16(answer.data, 6), 8U);
  EXPECT_EQ(test::Be24(answer.data, 9), 333000U);
  EXPECT_EQ(test::Be24(answer.data, 13), 2048U);
  EXPECT_EQ(answer.data[16] & 0x3F, 0x2A);
  EXPECT_EQ(Be16(answer.data, 0), answer.data.size() - 2);
  answer = Send(*quirky, test::ModeSense10(0x2A, 0, true));
  EXPECT_EQ(Be16(answer.data, 6), 0U);
  answer = Send(*quirky, {0x1A, 0, 0x2A, 0, 0xFF, 0});
  EXPECT_EQ(answer.data[3], 8);
  EXPECT_EQ(answer.data[12] & 0x3F, 0x2A);
}

TEST(ModeSenseTest, CapabilitiesFollowTheMediumAndTheSelectedSpeeds) {
  auto drive = Ready("cdr-blank");
  Answer answer = Send(*drive, test::ModeSense10(0x2A));
  const std::vector<std::uint8_t> page(answer.data.begin() + 8, answer.data.end());
  ASSERT_GE(page.size(), 32U);
  EXPECT_EQ(page[1], page.size() - 2);
  EXPECT_EQ(page[2] & 0x3F, 0x3F);   // reads CD-R, CD-RW, DVD-ROM, DVD-R, DVD-RAM
  EXPECT_EQ(page[3] & 0x33, 0x33);   // writes them
  EXPECT_EQ(page[5] & 0x10, 0x10);   // C2 pointers
  EXPECT_EQ(Be16(page, 12), 2048U);  // buffer, KB
  EXPECT_EQ(Be16(page, 8), 8467U);   // 48x CD
  EXPECT_EQ(Be16(page, 18), 8467U);  // writes CD-R at 48x
  const std::uint32_t count = Be16(page, 30);
  ASSERT_EQ(count, 5U);
  ASSERT_EQ(page.size(), 32 + 4 * count);
  std::vector<std::uint32_t> speeds;
  for (std::uint32_t i = 0; i < count; ++i) speeds.push_back(Be16(page, 32 + 4 * i + 2));
  EXPECT_EQ(speeds, (std::vector<std::uint32_t>{8467, 7056, 5645, 4234, 2822}));
  EXPECT_EQ(page[32 + 1] & 0x03, 0x01);  // the fastest by CAV
  // SET CD SPEED selects the closest speeds not above the request.
  ASSERT_EQ(Send(*drive, {0xBB, 0, 0x1B, 0x58, 0x16, 0x00, 0, 0, 0, 0, 0, 0}, 0).sense, kGood);
  answer = Send(*drive, test::ModeSense10(0x2A));
  EXPECT_EQ(Be16(answer.data, 8 + 14), 5645U);  // 7000 asked: 32x read
  EXPECT_EQ(Be16(answer.data, 8 + 28), 4234U);  // 5632 asked: 24x write
  EXPECT_EQ(Send(*drive, {0xBB, 2, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, 0).sense,
            kInvalidField);
  // A pressed disc cannot be written: no write speeds.
  auto rom = Ready("dvdrom");
  answer = Send(*rom, test::ModeSense10(0x2A));
  EXPECT_EQ(Be16(answer.data, 8 + 30), 0U);
  EXPECT_EQ(Be16(answer.data, 8 + 8), 22160U);
  auto no_c2 = Ready("cdrom,quirk=noc2");
  answer = Send(*no_c2, test::ModeSense10(0x2A));
  EXPECT_EQ(answer.data[8 + 5] & 0x10, 0);
}

TEST(ModeSenseTest, PagesControlsAndRefusals) {
  auto drive = Ready("cdrom");
  Answer all = Send(*drive, test::ModeSense10(0x3F));
  ASSERT_EQ(all.sense, kGood);
  std::vector<std::uint8_t> codes;
  for (std::size_t at = 8; at + 2 <= all.data.size(); at += 2 + all.data[at + 1]) {
    codes.push_back(all.data[at] & 0x3F);
  }
  EXPECT_EQ(codes, (std::vector<std::uint8_t>{0x01, 0x05, 0x0A, 0x1A, 0x2A}));
  // The control page, which SCSI initiators read: fixed-format sense (D_SENSE clear),
  // through MODE SENSE(6) as well; nothing in it changeable, so MODE SELECT refuses it.
  for (const std::vector<std::uint8_t>& cdb :
       {test::ModeSense10(0x0A), std::vector<std::uint8_t>{0x1A, 0x08, 0x0A, 0, 0xFF, 0}}) {
    const Answer control = Send(*drive, cdb);
    ASSERT_EQ(control.sense, kGood);
    const std::size_t at = cdb[0] == 0x5A ? 8 : 4;
    ASSERT_EQ(control.data.size(), at + 12);
    EXPECT_EQ(control.data[at], 0x0A);
    EXPECT_EQ(control.data[at + 1], 0x0A);
    EXPECT_EQ(control.data[at + 2] & 0x04, 0x00);  // D_SENSE
    EXPECT_EQ(Be16(control.data, at + 8), 0xFFFFU);
  }
  const Answer control_mask = Send(*drive, test::ModeSense10(0x0A, 1));
  ASSERT_EQ(control_mask.data.size(), 8U + 12U);
  for (std::size_t i = 8 + 2; i < control_mask.data.size(); ++i) {
    EXPECT_EQ(control_mask.data[i], 0x00) << i;
  }
  std::vector<std::uint8_t> select_control(8 + 12, 0);
  select_control[8] = 0x0A;
  select_control[9] = 0x0A;
  EXPECT_EQ(SendOut(*drive, {0x55, 0x10, 0, 0, 0, 0, 0, 0, 20, 0}, select_control).sense,
            kInvalidFieldInParameters);
  // Power conditions, behind the Power Management feature: the standby timer.
  const Answer power = Send(*drive, test::ModeSense10(0x1A));
  ASSERT_EQ(power.sense, kGood);
  ASSERT_EQ(power.data.size(), 8U + 12U);
  EXPECT_EQ(power.data[8 + 1], 0x0A);
  EXPECT_EQ(power.data[8 + 3], 0x01);
  EXPECT_EQ(Be32(power.data, 8 + 8), 3000U);
  EXPECT_EQ(Send(*drive, test::ModeSense10(0x1A, 1)).data[8 + 3], 0x00);  // nothing changeable
  EXPECT_EQ(Send(*drive, test::ModeSense10(0x05, 3)).sense, kSavingNotSupported);
  EXPECT_EQ(Send(*drive, test::ModeSense10(0x0E)).sense, kInvalidField);
  const Answer changeable = Send(*drive, test::ModeSense10(0x05, 1));
  EXPECT_EQ(changeable.data[8 + 2] & 0x0F, 0x0F);  // the write type can be changed
  const Answer defaults = Send(*drive, test::ModeSense10(0x05, 2));
  EXPECT_EQ(defaults.data[8 + 2] & 0x0F, 0x01);  // track at once
  EXPECT_EQ(defaults.data[8 + 4], 0x08);         // Mode 1
  // Truncation keeps the full length in the header.
  const Answer cut = Send(*drive, {0x5A, 0, 0x3F, 0, 0, 0, 0, 0, 10, 0});
  EXPECT_EQ(cut.data.size(), 10U);
  EXPECT_EQ(Be16(cut.data, 0), all.data.size() - 2);
}

std::vector<std::uint8_t> WriteParameters(std::uint8_t write_type, std::uint8_t block_type,
                                          std::uint8_t session_format = 0,
                                          std::uint8_t track_mode = 0x04) {
  std::vector<std::uint8_t> list(8 + 52, 0);
  list[8] = 0x05;
  list[9] = 0x32;
  list[10] = write_type;
  list[11] = track_mode;
  list[12] = block_type;
  list[16] = session_format;
  list[8 + 15] = 150;
  return list;
}

const std::vector<std::uint8_t> kModeSelect = {0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0};

TEST(ModeSelectTest, WriteParametersAreValidatedAndKept) {
  auto drive = Ready("cdr-blank");
  ASSERT_EQ(SendOut(*drive, kModeSelect, WriteParameters(0x00, 0x0A, 0x20)).sense, kGood);
  Answer page = Send(*drive, test::ModeSense10(0x05));
  EXPECT_EQ(page.data[8 + 2] & 0x0F, 0x00);
  EXPECT_EQ(page.data[8 + 4], 0x0A);
  EXPECT_EQ(page.data[8 + 8], 0x20);
  // The invisible track follows the write parameters: packet recording now.
  Answer track = Send(*drive, test::TrackInfo(1, 0xFF));
  EXPECT_EQ(track.data[6] & 0x20, 0x20);
  const std::pair<std::vector<std::uint8_t>, Sense> refused[] = {
      {WriteParameters(0x05, 0x08), kInvalidFieldInParameters},  // no such write type
      {WriteParameters(0x01, 0x04), kInvalidFieldInParameters},  // reserved block type
      {WriteParameters(0x01, 0x08, 0x30), kInvalidFieldInParameters},
      {WriteParameters(0x04, 0x08), kInvalidFieldInParameters},  // layer jump on a CD
  };
  for (const auto& [list, sense] : refused) {
    EXPECT_EQ(SendOut(*drive, kModeSelect, list).sense, sense);
  }
  page = Send(*drive, test::ModeSense10(0x05));
  EXPECT_EQ(page.data[8 + 4], 0x0A);  // a refused list changes nothing
  std::vector<std::uint8_t> reserved = WriteParameters(0x01, 0x08);
  reserved[8 + 6] = 0x01;
  EXPECT_EQ(SendOut(*drive, kModeSelect, reserved).sense, kInvalidFieldInParameters);
  std::vector<std::uint8_t> other = WriteParameters(0x01, 0x08);
  other[8] = 0x2A;
  EXPECT_EQ(SendOut(*drive, kModeSelect, other).sense, kInvalidFieldInParameters);
  EXPECT_EQ(SendOut(*drive, {0x55, 0x10, 0, 0, 0, 0, 0, 0, 30, 0}, WriteParameters(1, 8)).sense,
            kParameterLengthError);
  EXPECT_EQ(SendOut(*drive, {0x55, 0x00, 0, 0, 0, 0, 0, 0, 60, 0}, WriteParameters(1, 8)).sense,
            kInvalidField);
  EXPECT_EQ(SendOut(*drive, {0x55, 0x11, 0, 0, 0, 0, 0, 0, 60, 0}, WriteParameters(1, 8)).sense,
            kInvalidField);
}

// Pages with no changeable field: a host that sends back the page it read (mode sense,
// then mode select of the same bytes, as SCSI libraries do) is answered GOOD; a changed
// field is refused and the page stays as it was.
TEST(ModeSelectTest, FixedPagesSentBackUnchangedAreTaken) {
  auto drive = Ready("dvd+rw");
  for (const std::uint8_t code : {std::uint8_t{0x0A}, std::uint8_t{0x1A}}) {
    SCOPED_TRACE(static_cast<int>(code));
    const Answer sensed = Send(*drive, test::ModeSense10(code));
    ASSERT_EQ(sensed.sense, kGood);
    ASSERT_GE(sensed.data.size(), 8u + 12u);
    std::vector<std::uint8_t> list(8, 0);
    list.insert(list.end(), sensed.data.begin() + 8, sensed.data.begin() + 8 + 12);
    const std::vector<std::uint8_t> select = {
        0x55, 0x10, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(list.size()), 0};
    EXPECT_EQ(SendOut(*drive, select, list).sense, kGood);
    std::vector<std::uint8_t> changed = list;
    changed[8 + 3] ^= 0x01;
    EXPECT_EQ(SendOut(*drive, select, changed).sense, kInvalidFieldInParameters);
    std::vector<std::uint8_t> shorter = list;
    shorter[8 + 1] = 0x06;  // a page length other than the drive's
    EXPECT_EQ(SendOut(*drive, select, shorter).sense, kInvalidFieldInParameters);
    const Answer after = Send(*drive, test::ModeSense10(code));
    EXPECT_EQ(after.data, sensed.data);
  }
}

TEST(ModeSelectTest, DvdMediaRefuseCdWriteModes) {
  auto drive = Ready("dvd-r");
  EXPECT_EQ(SendOut(*drive, kModeSelect, WriteParameters(0x01, 0x08)).sense,
            kInvalidFieldInParameters);
  EXPECT_EQ(SendOut(*drive, kModeSelect, WriteParameters(0x00, 0x0A)).sense,
            kInvalidFieldInParameters);
  EXPECT_EQ(SendOut(*drive, kModeSelect, WriteParameters(0x00, 0x08)).sense, kGood);
  EXPECT_EQ(SendOut(*drive, kModeSelect, WriteParameters(0x04, 0x08)).sense,
            kInvalidFieldInParameters);
  auto dl = Ready("dvd-r-dl");
  EXPECT_EQ(SendOut(*dl, kModeSelect, WriteParameters(0x04, 0x08)).sense, kGood);
  auto plus = Ready("dvd+r");
  std::vector<std::uint8_t> test_write = WriteParameters(0x00, 0x08);
  test_write[10] |= 0x10;
  EXPECT_EQ(SendOut(*plus, kModeSelect, test_write).sense, kInvalidFieldInParameters);
  EXPECT_EQ(SendOut(*drive, kModeSelect, test_write).sense, kGood);
  // A recorder without test writing refuses it, and says so in its features.
  auto plain = Ready("dvd-r,quirk=notestwrite");
  EXPECT_EQ(SendOut(*plain, kModeSelect, test_write).sense, kInvalidFieldInParameters);
  auto test_write_bit = [](Drive& d) {
    for (const auto& [code, view] : test::Features(d)) {
      if (code == 0x002F) return view.data.at(0) & 0x04;
    }
    return -1;
  };
  EXPECT_EQ(test_write_bit(*plain), 0);
  EXPECT_EQ(test_write_bit(*drive), 0x04);
}

std::map<std::uint16_t, test::FeatureView> FeatureMap(Drive& drive, std::uint8_t rt = 0) {
  std::map<std::uint16_t, test::FeatureView> map;
  for (auto& [code, view] : test::Features(drive, rt)) map[code] = view;
  return map;
}

TEST(ConfigurationTest, FeaturesListAndCurrency) {
  auto cd = Ready("cdr-blank");
  auto features = FeatureMap(*cd);
  for (const std::uint16_t code : {0x0000, 0x0001, 0x0002, 0x0003, 0x0010, 0x001E, 0x001F, 0x0021,
                                   0x0028, 0x002D, 0x002F, 0x0108}) {
    EXPECT_EQ(features.count(code), 1U) << std::hex << code;
  }
  EXPECT_TRUE(features[0x001E].current);
  EXPECT_FALSE(features[0x001F].current);
  EXPECT_FALSE(features[0x0021].current);  // no packets on CD
  EXPECT_TRUE(features[0x002D].current);
  EXPECT_TRUE(features[0x002E].current);   // session at once from a cue sheet
  EXPECT_FALSE(features[0x0010].current);  // a blank disc has nothing to read
  EXPECT_FALSE(features[0x0028].current);
  EXPECT_EQ(features[0x001E].data[0] & 0x02, 0x02);  // C2 flags
  EXPECT_EQ(features[0x0001].version, 2);

  auto dvd = Ready("dvdrom");
  features = FeatureMap(*dvd);
  EXPECT_TRUE(features[0x001F].current);
  EXPECT_TRUE(features[0x0010].current);
  EXPECT_EQ(Be16(features[0x0010].data, 4), 16U);  // blocking: one ECC block
  EXPECT_FALSE(features[0x001E].current);

  auto minus = Ready("dvd-rw-seq");
  features = FeatureMap(*minus);
  EXPECT_TRUE(features[0x002F].current);
  EXPECT_TRUE(features[0x0021].current);
  EXPECT_EQ(features[0x0021].data[4], 16);  // link size of DVD

  // RT 1 lists only current features, RT 2 only the one asked for.
  for (const auto& [code, view] : test::Features(*cd, 1)) {
    EXPECT_TRUE(view.current) << std::hex << code;
  }
  const auto one = test::Features(*cd, 2);
  EXPECT_TRUE(one.size() == 1 && one[0].first == 0x0000);
  const Answer single = Send(*cd, test::Configuration(2, 0x002D));
  ASSERT_EQ(single.sense, kGood);
  ASSERT_EQ(single.data.size(), 8U + 8U);
  EXPECT_EQ(Be16(single.data, 8), 0x002DU);
  EXPECT_EQ(Send(*cd, test::Configuration(3)).sense, kInvalidField);
  const Answer from = Send(*cd, test::Configuration(0, 0x0100));
  EXPECT_EQ(Be16(from.data, 8), 0x0100U);
}

TEST(ConfigurationTest, NoProfileIsCurrentUntilTheDiscIsIdentified) {
  auto drive = test::Start("dvd+r,ready=2");
  // While TEST UNIT READY answers 02/04/01 the drive does not know the disc yet.
  EXPECT_EQ(test::CurrentProfile(*drive), 0x0000);
  auto features = FeatureMap(*drive);
  EXPECT_FALSE(features[0x001F].current);  // DVD Read
  EXPECT_FALSE(features[0x002B].current);  // DVD+R
  for (std::size_t at = 0; at + 4 <= features[0x0000].data.size(); at += 4) {
    EXPECT_EQ(features[0x0000].data[at + 2] & 0x01, 0) << "profile at " << at;
  }
  EXPECT_EQ(Send(*drive, {0x00}, 0).sense, kBecomingReady);
  EXPECT_EQ(test::CurrentProfile(*drive), 0x0000);
  EXPECT_EQ(Send(*drive, {0x00}, 0).sense, kBecomingReady);
  // Identified: the disc's profile and features are current.
  EXPECT_EQ(test::CurrentProfile(*drive), 0x001B);
  EXPECT_TRUE(FeatureMap(*drive)[0x002B].current);
  EXPECT_EQ(Send(*drive, {0x00}, 0).sense, kGood);
}

TEST(ConfigurationTest, IgnorestartQuirkAlwaysAnswersFromTheProfileList) {
  auto drive = Ready("cdrw-mrw,quirk=ignorestart");
  // Asked for the MRW feature alone, the drive answers its profile list.
  const auto one = test::Features(*drive, 2);
  ASSERT_EQ(one.size(), 1U);
  EXPECT_EQ(one[0].first, 0x0000);
  const Answer mrw = Send(*drive, test::Configuration(2, 0x0028));
  ASSERT_EQ(mrw.sense, kGood);
  EXPECT_EQ(Be16(mrw.data, 8), 0x0000U);
  EXPECT_EQ(Be16(Send(*drive, test::Configuration(0, 0x0100)).data, 8), 0x0000U);
  EXPECT_EQ(Be16(mrw.data, 6), 0x000AU);  // the current profile is still in the header
  // Without the quirk the starting feature is honoured.
  EXPECT_EQ(Be16(Send(*Ready("cdrw-mrw"), test::Configuration(2, 0x0028)).data, 8), 0x0028U);
}

TEST(ConfigurationTest, MrwIsCurrentOnlyOnTheMrwDisc) {
  auto mrw = Ready("cdrw-mrw");
  auto features = FeatureMap(*mrw);
  EXPECT_TRUE(features[0x0028].current);
  EXPECT_EQ(features[0x0028].data[0] & 0x01, 0x01);  // write
  EXPECT_TRUE(features[0x0020].current);             // random writable
  EXPECT_FALSE(features[0x002D].current);
  auto blank = Ready("cdrw-blank");
  EXPECT_FALSE(FeatureMap(*blank)[0x0028].current);
  EXPECT_TRUE(FeatureMap(*blank)[0x0023].current);  // formattable
}

TEST(PerformanceTest, WriteSpeedsAndNominalPerformance) {
  auto drive = Ready("dvd+r");
  const std::vector<std::uint8_t> speeds = {0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 10, 0x03, 0};
  Answer answer = Send(*drive, speeds);
  ASSERT_EQ(answer.sense, kGood);
  ASSERT_EQ(Be32(answer.data, 0), answer.data.size() - 4);
  const std::size_t count = (answer.data.size() - 8) / 16;
  ASSERT_EQ(count, 5U);
  std::vector<std::uint32_t> writes;
  for (std::size_t i = 0; i < count; ++i) {
    EXPECT_EQ(Be32(answer.data, 8 + 16 * i + 4), 2295104U - 1);  // end LBA
    writes.push_back(Be32(answer.data, 8 + 16 * i + 12));
  }
  EXPECT_EQ(writes, (std::vector<std::uint32_t>{22160, 16620, 11080, 8310, 5540}));
  answer = Send(*drive, {0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0x03, 0});
  EXPECT_EQ(answer.data.size(), 8U + 32U);  // limited to two descriptors

  auto rom = Ready("dvdrom");
  answer = Send(*rom, {0xAC, 0x10, 0, 0, 0, 0, 0, 0, 0, 10, 0x00, 0});
  ASSERT_EQ(answer.sense, kGood);
  ASSERT_EQ(answer.data.size(), 8U + 16U);
  EXPECT_EQ(Be32(answer.data, 8 + 8), 2298496U - 1);
  EXPECT_EQ(Be32(answer.data, 8 + 12), 22160U);
  EXPECT_LT(Be32(answer.data, 8 + 4), 22160U);
  EXPECT_EQ(Send(*rom, {0xAC, 0x08, 0, 0, 0, 0, 0, 0, 0, 10, 0x00, 0}).sense, kInvalidField);
  EXPECT_EQ(Send(*rom, {0xAC, 0x03, 0, 0, 0, 0, 0, 0, 0, 10, 0x00, 0}).sense, kInvalidField);
  EXPECT_EQ(Send(*rom, {0xAC, 0x00, 0, 0, 0, 0, 0, 0, 0, 10, 0x00, 0}).data, answer.data);
  // The write performance of a recordable disc, flagged as such.
  answer = Send(*drive, {0xAC, 0x04, 0, 0, 0, 0, 0, 0, 0, 1, 0x00, 0});
  ASSERT_EQ(answer.data.size(), 8U + 16U);
  EXPECT_EQ(answer.data[4] & 0x02, 0x02);
  EXPECT_EQ(Be32(answer.data, 8 + 12), 22160U);
  EXPECT_EQ(Send(*rom, {0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 10, 0x01, 0}).sense, kInvalidField);
  answer = Send(*rom, {0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 10, 0x03, 0});
  EXPECT_EQ(answer.data.size(), 8U);  // a pressed disc has no write speeds
  // Except 01b: the whole list, here the nominal descriptor alone; 10b: the exceptions
  // alone (none), flagged in the header.
  const Answer nominal = Send(*rom, {0xAC, 0x10, 0, 0, 0, 0, 0, 0, 0, 10, 0x00, 0});
  answer = Send(*rom, {0xAC, 0x11, 0, 0, 0, 0, 0, 0, 0, 10, 0x00, 0});
  ASSERT_EQ(answer.sense, kGood);
  EXPECT_EQ(answer.data, nominal.data);
  answer = Send(*rom, {0xAC, 0x12, 0, 0, 0, 0, 0, 0, 0, 10, 0x00, 0});
  ASSERT_EQ(answer.sense, kGood);
  EXPECT_EQ(answer.data.size(), 8U);
  EXPECT_EQ(answer.data[4] & 0x01, 0x01);
  EXPECT_EQ(nominal.data[4] & 0x01, 0x00);

  auto quirky = Ready("dvd+r,quirk=noperf");
  EXPECT_EQ(Send(*quirky, speeds).sense, kInvalidOpcode);
  EXPECT_EQ(FeatureMap(*quirky)[0x0107].data[0] & 0x02, 0);
}

TEST(PerformanceTest, SetStreamingSelectsSpeeds) {
  auto drive = Ready("dvd+r");
  std::vector<std::uint8_t> descriptor(28, 0);
  descriptor[11] = 0xFF;  // end LBA
  descriptor[14] = 0x2B;  // read size 11,080 KB
  descriptor[15] = 0x48;
  descriptor[18] = 0x03;  // in 1,000 ms
  descriptor[19] = 0xE8;
  descriptor[22] = 0x20;  // write size 8,310 KB
  descriptor[23] = 0x76;
  descriptor[26] = 0x03;
  descriptor[27] = 0xE8;
  const std::vector<std::uint8_t> cdb = {0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0};
  ASSERT_EQ(SendOut(*drive, cdb, descriptor).sense, kGood);
  Answer page = Send(*drive, test::ModeSense10(0x2A));
  EXPECT_EQ(Be16(page.data, 8 + 14), 11080U);
  EXPECT_EQ(Be16(page.data, 8 + 28), 8310U);
  descriptor[0] = 0x04;  // restore defaults
  ASSERT_EQ(SendOut(*drive, cdb, descriptor).sense, kGood);
  page = Send(*drive, test::ModeSense10(0x2A));
  EXPECT_EQ(Be16(page.data, 8 + 28), 22160U);
  descriptor[0] = 0;
  descriptor[19] = 0;
  descriptor[18] = 0;  // no read time
  EXPECT_EQ(SendOut(*drive, cdb, descriptor).sense, kInvalidFieldInParameters);
  EXPECT_EQ(SendOut(*drive, {0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0}, descriptor).sense,
            kParameterLengthError);
  EXPECT_EQ(SendOut(*drive, {0xB6, 0, 0, 0, 0, 0, 0, 0, 5, 0, 28, 0}, descriptor).sense,
            kInvalidField);
}

}  // namespace
}  // namespace zorvane::vdrive
