// A disc kept in a state file: found again by the next drive, refused when damaged.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "tests/vdrive/vdrive_test_support.h"
#include "vdrive/presets.h"
#include "vdrive/state_file.h"

namespace zorvane::vdrive {
namespace {

using test::Ready;
using test::Send;

class StateFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/zorvane-state-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    dir_ = dir;
    path_ = dir_ + "/disc.state";
  }
  void TearDown() override {
    std::remove(path_.c_str());
    ::rmdir(dir_.c_str());
  }
  std::string dir_;
  std::string path_;
};

TEST_F(StateFileTest, TheNextDriveFindsTheDiscAsItWasLeft) {
  {
    auto first = Ready("cdr-multi,state=" + path_);
    ASSERT_NE(first, nullptr);
  }
  struct stat info {};
  ASSERT_EQ(::stat(path_.c_str(), &info), 0);
  // Another preset with the same state file: the stored disc wins.
  auto second = Ready("dvdrom,state=" + path_);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(test::MediumType(*second), 0x11);
  EXPECT_EQ(test::CurrentProfile(*second), 0x09);
  auto reference = Ready("cdr-multi");
  for (const std::uint8_t format : {0, 1, 2, 3, 4}) {
    EXPECT_EQ(Send(*second, test::ReadToc(format, false)).data,
              Send(*reference, test::ReadToc(format, false)).data)
        << int(format);
  }
  EXPECT_EQ(Send(*second, test::DiscInfo()).data, Send(*reference, test::DiscInfo()).data);
  EXPECT_EQ(Send(*second, test::Read10(31402, 2)).data,
            Send(*reference, test::Read10(31402, 2)).data);
  // Without the key, the preset is loaded as usual.
  auto plain = Ready("dvdrom");
  EXPECT_EQ(test::MediumType(*plain), 0x41);
}

TEST_F(StateFileTest, DamagedOrForeignFilesAreRefusedNamingTheFile) {
  const std::string cases[] = {
      "hello, world\n",
      "ZORVANE-VDRIVE-DISC 1\nmedium x 1 1 1 8 0 0 0 0 0 1 1000\n",       // no end record
      "ZORVANE-VDRIVE-DISC 1\nmedium x 1 9 1 8 0 0 0 0 0 1 1000\nend\n",  // bad family
      "ZORVANE-VDRIVE-DISC 1\nmedium x 1 1 1 8 0 0 0 0 0 1 1000\nsectors 1\nsector 5 9999\nend\n",
      "ZORVANE-VDRIVE-DISC 1\nend\n",  // no medium
  };
  for (const std::string& text : cases) {
    {
      std::ofstream file(path_, std::ios::binary | std::ios::trunc);
      file << text;
    }
    std::string error;
    EXPECT_FALSE(ValidateSpec("cdrom,state=" + path_, &error)) << text;
    EXPECT_NE(error.find(path_), std::string::npos) << error;
    EXPECT_EQ(Drive::Create("cdrom,state=" + path_, &error), nullptr);
  }
}

TEST_F(StateFileTest, WrittenSectorsAreStoredSparsely) {
  Medium medium;
  bool tray_open = false;
  std::string error;
  DriveSpec spec;
  ASSERT_TRUE(ParseSpec("dvd+rw", &spec, &error));
  ASSERT_TRUE(BuildMedium(spec, &medium, &tray_open, &error)) << error;
  medium.content.written[0] = std::vector<std::uint8_t>(2048, 0xA5);
  medium.content.written[2295103] = std::vector<std::uint8_t>(2048, 0x5A);
  ASSERT_TRUE(SaveMedium(medium, path_, &error)) << error;
  struct stat info {};
  ASSERT_EQ(::stat(path_.c_str(), &info), 0);
  EXPECT_LT(info.st_size, 8 * 1024);  // a 4.7 GB disc with two sectors written
  Medium loaded;
  ASSERT_TRUE(LoadMedium(path_, &loaded, &error)) << error;
  EXPECT_EQ(loaded.content.written, medium.content.written);
  EXPECT_EQ(loaded.capacity, medium.capacity);
  EXPECT_EQ(loaded.dvd.maker, "RICOHJPN");
  auto drive = Ready("nodisc,state=" + path_);
  EXPECT_EQ(Send(*drive, test::Read10(2295103, 1)).data, std::vector<std::uint8_t>(2048, 0x5A));
  EXPECT_EQ(Send(*drive, test::Read10(1, 1)).data, std::vector<std::uint8_t>(2048, 0));
  EXPECT_FALSE(SaveMedium(medium, dir_ + "/missing/dir/disc.state", &error));
  EXPECT_NE(error.find("missing/dir"), std::string::npos);
}

}  // namespace
}  // namespace zorvane::vdrive
