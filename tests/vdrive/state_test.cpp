// A disc kept in a state file: found again by the next drive, refused when damaged.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

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
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);  // temporary files of killed writers too
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
      "ZORVANE-VDRIVE-DISC 2\nmedium x 1 1 1 8 0 0 0 0 0 1 1000 0\n",       // no end record
      "ZORVANE-VDRIVE-DISC 2\nmedium x 1 9 1 8 0 0 0 0 0 1 1000 0\nend\n",  // bad family
      "ZORVANE-VDRIVE-DISC 2\nmedium x 1 1 1 8 0 0 0 0 0 1 1000 0\nsectors 1\nsector 5 9999\nend\n",
      "ZORVANE-VDRIVE-DISC 2\nend\n",                                     // no medium
      "ZORVANE-VDRIVE-DISC 1\nmedium x 1 1 1 8 0 0 0 0 0 1 1000\nend\n",  // an older format
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
  medium.content.store = SectorStore::CreateTemporary(&error);
  ASSERT_NE(medium.content.store, nullptr) << error;
  const std::vector<std::uint8_t> first(2048, 0xA5);
  const std::vector<std::uint8_t> last(2048, 0x5A);
  ASSERT_TRUE(medium.content.store->Write(0, 1, 2048, first.data()));
  ASSERT_TRUE(medium.content.store->Write(2295103, 1, 2048, last.data()));
  // The temporary store is copied beside the state file, which refers to it.
  ASSERT_TRUE(SaveMedium(medium, path_, &error)) << error;
  EXPECT_EQ(medium.content.store->Path(), path_ + ".sectors-1");
  struct stat info {};
  ASSERT_EQ(::stat(path_.c_str(), &info), 0);
  EXPECT_LT(info.st_size, 8 * 1024);  // a 4.7 GB disc with two sectors written
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((path_ + ".sectors-1").c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 2 * 2048);
  EXPECT_EQ(info.st_mode & 0777, 0600u);  // the sectors are as private as the state file
  Medium loaded;
  ASSERT_TRUE(LoadMedium(path_, &loaded, &error)) << error;
  ASSERT_NE(loaded.content.store, nullptr);
  EXPECT_EQ(loaded.content.store->Extents().size(), 2U);
  std::vector<std::uint8_t> sector(2048);
  EXPECT_EQ(loaded.content.store->Read(2295103, sector.data(), sector.size()), 2048U);
  EXPECT_EQ(sector, last);
  EXPECT_EQ(loaded.content.store->Read(1, sector.data(), sector.size()), 0U);
  EXPECT_EQ(loaded.capacity, medium.capacity);
  EXPECT_EQ(loaded.dvd.maker, "RICOHJPN");
  auto drive = Ready("nodisc,state=" + path_);
  EXPECT_EQ(Send(*drive, test::Read10(2295103, 1)).data, std::vector<std::uint8_t>(2048, 0x5A));
  EXPECT_EQ(Send(*drive, test::Read10(1, 1)).data, std::vector<std::uint8_t>(2048, 0));
  EXPECT_FALSE(SaveMedium(medium, dir_ + "/missing/dir/disc.state", &error));
  EXPECT_NE(error.find("missing/dir"), std::string::npos);
}

// Temporary files of saves killed before their rename go at the next start, whether a disc
// is on file or not; files that only look alike stay.
TEST_F(StateFileTest, TemporariesOfKilledSavesGoAtTheNextStart) {
  const std::string stale[] = {path_ + ".tmp-Ab12Cd", path_ + ".tmp-000000"};
  const std::string kept[] = {path_ + ".tmp-Ab12C", path_ + ".tmp-Ab12Cde", path_ + ".backup",
                              dir_ + "/other.state.tmp-Ab12Cd"};
  for (const bool disc_on_file : {false, true}) {
    for (const std::string& name : stale) {
      std::ofstream(name) << "ZORVANE-VDRIVE-DISC 3\nmedium";
    }
    for (const std::string& name : kept) std::ofstream(name) << "x";
    ASSERT_EQ(StateFileExists(path_), disc_on_file);
    ASSERT_NE(Ready("dvd+r,state=" + path_), nullptr);
    for (const std::string& name : stale) EXPECT_FALSE(StateFileExists(name)) << name;
    for (const std::string& name : kept) EXPECT_TRUE(StateFileExists(name)) << name;
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
}

TEST_F(StateFileTest, ADamagedSectorIsCaughtByTheChecksum) {
  {
    auto drive = Ready("dvd+rw,state=" + path_);
    ASSERT_EQ(test::WriteAll(*drive, 10, test::Pattern(4, 2048, 1), 2048), kGood);
    ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  }
  const std::string good = ReadFile(path_);
  std::string text = good;
  const std::size_t at = text.find("extent 10 4 2048 0\n");
  ASSERT_NE(at, std::string::npos) << text;
  text[at + 7] = '2';  // the run now claims to start at block 20
  WriteFile(path_, text);
  std::string error;
  EXPECT_FALSE(ValidateSpec("dvd+rw,state=" + path_, &error));
  EXPECT_NE(error.find(path_), std::string::npos) << error;
  EXPECT_NE(error.find("damaged"), std::string::npos) << error;
  // Cut short anywhere, the file is refused as well.
  WriteFile(path_, text.substr(0, text.size() / 2));
  EXPECT_EQ(Drive::Create("dvd+rw,state=" + path_, &error), nullptr);
  // A data file that no longer holds the sectors the state file lists.
  WriteFile(path_, good);
  ASSERT_TRUE(ValidateSpec("dvd+rw,state=" + path_, &error)) << error;
  ASSERT_EQ(::truncate((path_ + ".sectors-1").c_str(), 2048), 0);
  EXPECT_FALSE(ValidateSpec("dvd+rw,state=" + path_, &error));
  EXPECT_NE(error.find("does not hold the sectors"), std::string::npos) << error;
  ASSERT_EQ(::unlink((path_ + ".sectors-1").c_str()), 0);
  EXPECT_FALSE(ValidateSpec("dvd+rw,state=" + path_, &error));
  EXPECT_NE(error.find(".sectors-1"), std::string::npos) << error;
}

// What the drive has confirmed is on disk: after SYNCHRONIZE CACHE, CLOSE TRACK/SESSION, a
// finished BLANK or FORMAT and an eject, a new drive on the same file finds it.
TEST_F(StateFileTest, EveryConfirmationReachesTheFile) {
  const std::string spec = "cdrw-blank,state=" + path_;
  auto drive = Ready(spec);
  ASSERT_EQ(test::SelectWrite(*drive, test::WriteSetup{}).sense, kGood);
  const std::vector<std::uint8_t> data = test::Pattern(20, 2048, 2);
  ASSERT_EQ(test::WriteAll(*drive, 0, data, 2048), kGood);
  EXPECT_EQ(test::Invisible(*Ready(spec)).next, 0U);  // written, not yet confirmed
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  EXPECT_EQ(test::Invisible(*Ready(spec)).next, 452U);  // 20 blocks padded to 300
  ASSERT_EQ(Send(*drive, test::Close(2, 0), 0).sense, kGood);
  {
    auto again = Ready(spec);
    EXPECT_EQ(test::Disc(*again).status, 1);
    EXPECT_EQ(Send(*again, test::Read10(0, 20)).data, data);
  }
  // A BLANK with Immed reaches the file when it ends, not before.
  ASSERT_EQ(Send(*drive, test::Blank(1, true), 0).sense, kGood);
  EXPECT_EQ(test::Disc(*Ready(spec)).status, 1);
  test::WaitReady(*drive);
  EXPECT_EQ(test::Disc(*Ready(spec)).status, 0);
  ASSERT_EQ(test::Format(*drive, 0x24, 0xFFFFFFFF).sense, kGood);
  EXPECT_EQ(test::Disc(*Ready(spec)).background, 2);
  // Written on MRW and ejected without a flush: the eject saves it.
  const std::vector<std::uint8_t> more = test::Pattern(2, 2048, 3);
  ASSERT_EQ(test::WriteAll(*drive, 900, more, 2048), kGood);
  ASSERT_EQ(Send(*drive, {0x1B, 0, 0, 0, 0x02, 0}, 0).sense, kGood);
  EXPECT_EQ(Send(*Ready(spec), test::Read10(900, 2)).data, more);
  // A file that cannot be replaced fails the confirming command.
  const std::string gone = dir_ + "/gone";
  ASSERT_EQ(::mkdir(gone.c_str(), 0700), 0);
  auto lost = Ready("dvd+rw,state=" + gone + "/disc.state");
  ASSERT_NE(lost, nullptr);
  std::filesystem::remove_all(gone);
  EXPECT_EQ(Send(*lost, {0x35}, 0).sense, kWriteError);
  // Nowhere to keep the sectors: the write itself fails.
  EXPECT_EQ(test::WriteAll(*lost, 0, more, 2048), kWriteError);
}

// Only regular files hold a disc: a FIFO or a device at image= or state= would block the
// program in open() for good; a state file in a folder that is not there is named.
TEST_F(StateFileTest, OnlyRegularFilesAndAnExistingFolder) {
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::pair<std::string, std::string> refused[] = {
      {"cdrom,image=" + fifo, "not a regular file"},
      {"cdrom,image=/dev/null", "not a regular file"},
      {"cdrom,state=" + fifo, "not a regular file"},
      {"dvd+r,state=/dev/null", "not a regular file"},
      {"dvd+r,state=" + dir_, "not a regular file"},
      {"dvd+r,state=" + dir_ + "/missing/disc.state", "folder " + dir_ + "/missing does not exist"},
      {"dvd+r,state=" + path_ + "/disc.state", path_ + " does not exist"},
  };
  for (const auto& [spec, reason] : refused) {
    // In a child that an alarm ends, so that an open() that blocks fails the test.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::alarm(5);
      std::string error;
      const bool valid = ValidateSpec(spec, &error);
      const bool created = Drive::Create(spec, &error) != nullptr;
      ::_exit(!valid && !created && error.find(reason) != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << spec << (WIFSIGNALED(status) ? ": blocked" : ": not refused with the reason");
  }
  // A file at the folder's place.
  ASSERT_TRUE(Ready("dvd+r,state=" + path_) != nullptr);
  std::string error;
  EXPECT_FALSE(ValidateSpec("dvd+r,state=" + path_ + "/disc.state", &error));
  EXPECT_NE(error.find("is not a folder"), std::string::npos) << error;
  // A state file in the working folder is fine.
  EXPECT_TRUE(CheckStateFolder("disc.state", &error)) << error;
}

// A writer killed at any instant leaves the disc it had confirmed last, or the one it was
// confirming, never a mixture.
// `blocks` each generation; the kill comes up to `latest_us` after the first flush.
void KillWritersMidStream(const std::string& path, std::uint32_t blocks, int latest_us,
                          int rounds) {
  const std::string spec = "dvd+rw,state=" + path;
  const std::uint32_t kBlocks = blocks;
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> delay_us(1000, latest_us);
  int torn = 0;
  for (int round = 0; round < rounds; ++round) {
    std::filesystem::remove(path);  // each writer starts from a blank disc
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(ready[0]);
      // The writer: each generation fills the same blocks with its number, then flushes.
      std::string error;
      std::unique_ptr<Drive> drive = Drive::Create(spec, &error);
      if (!drive) ::_exit(2);
      std::vector<std::uint8_t> chunk(32 * 2048);
      std::uint8_t cdb[10] = {0x2A, 0, 0, 0, 0, 0, 0, 0, 32, 0};
      const std::uint8_t flush[10] = {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0};
      for (std::uint32_t n = 0;; ++n) {
        const auto generation = static_cast<std::uint8_t>(n % 255 + 1);  // never 0
        std::fill(chunk.begin(), chunk.end(), generation);
        for (std::uint32_t lba = 0; lba < kBlocks; lba += 32) {
          cdb[4] = static_cast<std::uint8_t>(lba >> 8);
          cdb[5] = static_cast<std::uint8_t>(lba);
          drive->Execute(cdb, 10, Direction::kOut, chunk.data(), chunk.size());
        }
        drive->Execute(flush, 10, Direction::kNone, nullptr, 0);
        if (n == 0) {  // the first disc is on file: the parent may now strike
          const char byte = 1;
          if (::write(ready[1], &byte, 1) != 1) ::_exit(3);
        }
      }
    }
    ::close(ready[1]);
    char byte = 0;
    const bool started = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (started) ::usleep(static_cast<useconds_t>(delay_us(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(started && WIFSIGNALED(status)) << "the writer ended by itself: " << status;
    std::string error;
    std::unique_ptr<Drive> drive = Drive::Create(spec, &error);
    ASSERT_NE(drive, nullptr) << error;
    const test::Answer answer =
        Send(*drive, test::Read10(0, static_cast<std::uint16_t>(kBlocks)), kBlocks * 2048);
    ASSERT_EQ(answer.sense, kGood);
    const std::uint8_t generation = answer.data[0];
    EXPECT_NE(generation, 0);  // the writer had confirmed at least its first disc
    if (std::any_of(answer.data.begin(), answer.data.end(),
                    [&](std::uint8_t value) { return value != generation; })) {
      ++torn;
    }
  }
  EXPECT_EQ(torn, 0);
}

TEST_F(StateFileTest, AWriterKilledMidStreamLeavesTheOldOrTheNewDisc) {
  KillWritersMidStream(path_, 512, 60000, 8);
}

// 16 MB a generation: the data file is packed anew every few generations, and a kill during
// the packing leaves a whole disc too.
TEST_F(StateFileTest, AWriterKilledMidStreamAtScaleLeavesTheOldOrTheNewDisc) {
  KillWritersMidStream(path_, 8192, 600000, 6);
  // What is left beside the state file: its data file, and at most a copy a kill cut short.
  int data_files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    data_files += entry.path().string().find(".sectors-") != std::string::npos;
  }
  EXPECT_LE(data_files, 2);
}

}  // namespace
}  // namespace zorvane::vdrive
