#include <gtest/gtest.h>

#include "vdrive/drive.h"
#include "vdrive/spec.h"

namespace zorvane::vdrive {
namespace {

TEST(SpecTest, EveryPresetParsesAndStarts) {
  for (const std::string& preset : PresetNames()) {
    DriveSpec spec;
    std::string error;
    EXPECT_TRUE(ParseSpec(preset, &spec, &error)) << preset << ": " << error;
    EXPECT_EQ(spec.preset, preset);
    EXPECT_TRUE(ValidateSpec(preset, &error)) << preset << ": " << error;
  }
  EXPECT_EQ(PresetNames().size(), 23U);
}

TEST(SpecTest, KeysAreParsed) {
  DriveSpec spec;
  std::string error;
  ASSERT_TRUE(ParseSpec(
      "cdr-blank,atip=97:26:66,leadout=74:59:74,serial=SN1,vendor=PLEXTOR,product=DVDR "
      "PX-760A,revision=1.07,quirk=noatip,quirk=noc2,quality=poor,damage=10-20,damage=5-5,"
      "ready=3,attention,fault=28@100:031100x2,fault=00:020401,fail=43x1,fail=12,time=real,"
      "alter=7,alter=0,quirk=notestwrite",
      &spec, &error))
      << error;
  EXPECT_EQ(spec.atip, (Msf{97, 26, 66}));
  EXPECT_EQ(spec.leadout, (Msf{74, 59, 74}));
  EXPECT_EQ(spec.serial, "SN1");
  EXPECT_EQ(spec.vendor, "PLEXTOR");
  EXPECT_EQ(spec.product, "DVDR PX-760A");
  EXPECT_EQ(spec.revision, "1.07");
  EXPECT_TRUE(spec.quirks.no_atip);
  EXPECT_TRUE(spec.quirks.no_c2);
  EXPECT_FALSE(spec.quirks.block_descriptor);
  EXPECT_EQ(spec.quality, Quality::kPoor);
  ASSERT_EQ(spec.damage.size(), 2U);
  EXPECT_EQ(spec.damage[1].first, 5);
  EXPECT_EQ(spec.damage[1].last, 5);
  EXPECT_EQ(spec.ready, 3);
  EXPECT_TRUE(spec.attention);
  ASSERT_EQ(spec.faults.size(), 2U);
  EXPECT_EQ(spec.faults[0].opcode, 0x28);
  EXPECT_EQ(spec.faults[0].lba, 100);
  EXPECT_EQ(spec.faults[0].sense, 0x031100U);
  EXPECT_EQ(spec.faults[0].count, 2);
  EXPECT_FALSE(spec.faults[1].lba.has_value());
  EXPECT_EQ(spec.faults[1].count, 0);
  ASSERT_EQ(spec.fails.size(), 2U);
  EXPECT_EQ(spec.fails[0].opcode, 0x43);
  EXPECT_EQ(spec.fails[0].count, 1);
  EXPECT_EQ(spec.fails[1].count, 0);
  EXPECT_TRUE(spec.real_time);
  EXPECT_EQ(spec.altered, (std::vector<std::int32_t>{7, 0}));
  EXPECT_TRUE(spec.quirks.no_test_write);
}

TEST(SpecTest, MalformedSpecsSayWhatIsWrong) {
  const std::pair<const char*, const char*> cases[] = {
      {"bogus", "unknown preset \"bogus\""},
      {"", "no preset given"},
      {"cdrom,colour=red", "unknown key \"colour\""},
      {"cdrom,", "empty key"},
      {"cdr-blank,atip=97:60:00", "bad value for atip="},
      {"cdr-blank,atip=97:24:75", "bad value for atip="},
      {"cdr-blank,leadout=79-59-74", "bad value for leadout="},
      {"cdrom,ready=lots", "bad value for ready="},
      {"cdrom,ready", "key ready needs a value"},
      {"cdrom,attention=1", "attention takes no value"},
      {"cdrom,quality=great", "bad value for quality="},
      {"cdrom,quirk=fast", "bad value for quirk="},
      {"cdrom,damage=20-10", "bad value for damage="},
      {"cdrom,damage=20", "bad value for damage="},
      {"cdrom,fault=28:0311", "bad value for fault="},
      {"cdrom,alter=-1", "bad value for alter="},
      {"cdrom,fault=2G:031100", "bad value for fault="},
      {"cdrom,fault=28@x:031100", "bad value for fault="},
      {"cdrom,fault=28:001100", "bad value for fault="},
      {"cdrom,fault=28:031100x0", "bad value for fault="},
      {"cdrom,fail=28x", "bad value for fail="},
      {"cdrom,time=slow", "bad value for time="},
      {"cdrom,vendor=TOOLONGNAME", "bad value for vendor="},
      {"cdrom,product=", "bad value for product="},
      {"cdrom,revision=12345", "bad value for revision="},
      {"cdrom,blocks=3", "bad value for blocks="},
      {"cdrom,image=", "bad value for image="},
  };
  for (const auto& [text, message] : cases) {
    DriveSpec spec;
    std::string error;
    EXPECT_FALSE(ParseSpec(text, &spec, &error)) << text;
    EXPECT_NE(error.find(message), std::string::npos) << text << " -> " << error;
  }
}

TEST(SpecTest, KeysThatDoNotFitThePresetAreRefused) {
  const std::pair<const char*, const char*> cases[] = {
      {"dvdrom,atip=97:24:01", "atip= does not apply to preset dvdrom"},
      {"cdrom,leadout=79:59:74", "leadout= does not apply"},
      {"cdrom,maker=MCC", "maker= does not apply"},
      {"dvd-ram,maker=MCC", "maker= does not apply"},
      {"cdr-blank,image=/dev/null", "image= does not apply"},
      {"cdmixed,blocks=1000", "blocks= does not apply"},
      {"cdda,blocks=405001", "blocks= of preset cdda takes up to 405000"},
      {"dvd+r,maker=TOOLONGID", "bad value for maker="},
      {"dvd+r,maker=MCC/ABCD", "bad value for maker="},
      {"cdrom,image=/nonexistent/file.iso", "image /nonexistent/file.iso"},
      {"cdr-blank,cdtext=/dev/null", "cdtext= does not apply"},
      {"cdda,cdtext=/nonexistent/packs", "cdtext /nonexistent/packs"},
      {"cdda,cdtext=/dev/null", "cdtext /dev/null"},  // not a regular file
  };
  for (const auto& [text, message] : cases) {
    std::string error;
    EXPECT_FALSE(ValidateSpec(text, &error)) << text;
    EXPECT_NE(error.find(message), std::string::npos) << text << " -> " << error;
    EXPECT_EQ(Drive::Create(text, &error), nullptr) << text;
  }
}

}  // namespace
}  // namespace zorvane::vdrive
