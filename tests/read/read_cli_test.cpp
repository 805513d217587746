// `zorvane-cli read`: the same read from the command line, its arguments and exit status.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "tests/read/read_test_support.h"

namespace zorvane::test {
namespace {

using ReadCliTest = ReadTest;

TEST_F(ReadCliTest, ReadsTheFirstTrackByDefaultAndExitsZero) {
  std::vector<std::uint8_t> image(2048 * 700);
  std::mt19937 random(5);
  for (auto& byte : image) byte = static_cast<std::uint8_t>(random());
  {
    FILE* file = std::fopen(Path("disc.iso").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(image.data(), 1, image.size(), file), image.size());
    std::fclose(file);
  }
  for (const char* preset : {"dvdrom", "cdrom"}) {
    SCOPED_TRACE(preset);
    const CliRun run = RunCliCaptured(
        {"--drive", std::string("d=virtual:") + preset + ",image=" + Path("disc.iso"), "read",
         Path("out.iso")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(FileBytes(Path("out.iso")), image);
    // The read button's table of contents on standard output, the trace on standard error.
    EXPECT_NE(run.out.find("軌號"), std::string::npos);
    EXPECT_NE(run.err.find("READ CAPACITY  25 00"), std::string::npos);
  }
}

TEST_F(ReadCliTest, TrackAndSectorOptionsChooseTheRange) {
  CliRun run =
      RunCliCaptured({"--drive", "d=virtual:cdr-multi", "read", "--track", "2", Path("t2.iso")});
  EXPECT_EQ(run.status, 0) << run.err;
  std::string why;
  EXPECT_TRUE(HoldsPatternBlocks(FileBytes(Path("t2.iso")), 0, 31402, 8000, &why)) << why;
  EXPECT_EQ(FileBytes(Path("t2.iso")).size(), 8000u * 2048);

  run = RunCliCaptured({"--drive", "d=virtual:cdda", "read", "--track=3", "--first", "37000",
                        "--last=37009", Path("t3.wav")});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::vector<std::uint8_t> wave = FileBytes(Path("t3.wav"));
  ASSERT_EQ(wave.size(), 44u + 10 * 2352);
  const std::vector<std::uint8_t> block = AudioBlock(37009);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), wave.end() - 2352));
  // Progress goes to standard error (a line, as it is no terminal).
  EXPECT_NE(run.err.find("read: "), std::string::npos);
}

// A whole WAVE read needs no going back to its header, so it may go to a pipe.
TEST_F(ReadCliTest, AWholeWaveReadGoesThroughAPipe) {
  const std::string fifo = Path("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::vector<std::uint8_t> received;
  std::thread reader([&] {
    std::ifstream in(fifo, std::ios::binary);
    received.assign(std::istreambuf_iterator<char>(in), {});
  });
  const CliRun run = RunCliCaptured(
      {"--drive", "d=virtual:cdda", "read", "--first", "100", "--last", "299", fifo});
  reader.join();
  EXPECT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(received.size(), 44u + 200 * 2352);
  EXPECT_EQ(Le32(received, 40), 200u * 2352);
  const std::vector<std::uint8_t> block = AudioBlock(299);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), received.end() - 2352));
}

TEST_F(ReadCliTest, FailuresExitOneWithTheReasonAndUsageErrorsTwo) {
  CliRun run = RunCliCaptured(
      {"--drive", "d=virtual:cdrom,fault=A8@100:031100", "read", "--last", "999", Path("bad.iso")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Read12 Command Error.\n"), std::string::npos);
  EXPECT_NE(run.err.find("zorvane-cli: read: read failed at sector 100 (031100)\n"),
            std::string::npos);

  run = RunCliCaptured({"--drive", "d=virtual:cdrom", "read", "--track", "2", Path("x.iso")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("the disc has no track 2"), std::string::npos);

  run = RunCliCaptured({"--drive", "d=virtual:cdr-blank", "read", Path("blank.iso")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("nothing to read"), std::string::npos);

  run = RunCliCaptured({"--drive", "d=virtual:cdrom", "read", "/nonexistent/dir/x.iso"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("檔案 /nonexistent/dir/x.iso 無法被開啟, errorcode=2\n"),
            std::string::npos);
  EXPECT_NE(run.err.find("cannot create /nonexistent/dir/x.iso"), std::string::npos);

  for (const std::vector<std::string>& args : {std::vector<std::string>{"read"},
                                               {"read", "--track"},
                                               {"read", "--first", "x", "o"},
                                               {"read", "a", "b"},
                                               {"read", "--bogus", "o"},
                                               {"read", "--track", "0", "o"}}) {
    std::vector<std::string> full = {"--drive", "d=virtual:cdrom"};
    full.insert(full.end(), args.begin(), args.end());
    run = RunCliCaptured(full);
    EXPECT_EQ(run.status, 2) << args.back();
    EXPECT_NE(run.err.find("usage: zorvane-cli read"), std::string::npos);
  }
}

}  // namespace
}  // namespace zorvane::test
