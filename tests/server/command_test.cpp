// SCSI commands over iSCSI: Data-In, R2T and Data-Out, unsolicited and immediate data,
// residuals, sense, LUNs, sequencing, NOP, task management and logout.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "tests/server/initiator.h"

namespace zorvane::vdrive::server::test {
namespace {

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes data(size);
  for (std::size_t i = 0; i < size; ++i)
    data[i] = static_cast<std::uint8_t>(i * 7 + seed + i / 2048);
  return data;
}

TEST(IscsiCommand, InquiryComesInOneDataInWithTheStatus) {
  ServedDrive served("dvd+rw");
  Initiator initiator(served.port());
  ASSERT_FALSE(initiator.Login().empty());
  const std::uint32_t stat_sn = initiator.exp_stat_sn;
  const Outcome outcome = initiator.Command(Inquiry(96), 96);
  ASSERT_TRUE(outcome.answered);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.data_in_pdus, 1);
  ASSERT_EQ(outcome.data.size(), 36u);
  EXPECT_EQ(outcome.data[0], 0x05);  // a CD/DVD device
  EXPECT_EQ(std::string(outcome.data.begin() + 8, outcome.data.begin() + 16), "ZORVANE ");
  EXPECT_EQ(outcome.residual_flags, 0x02);  // 60 bytes of the 96 not sent
  EXPECT_EQ(outcome.residual, 60u);
  EXPECT_EQ(initiator.exp_stat_sn, stat_sn + 1);
}

TEST(IscsiCommand, LongReadsAreCutToTheInitiatorsSegmentsAndBursts) {
  ServedDrive served("dvdrom");
  Initiator initiator(served.port());
  ASSERT_FALSE(initiator.Login({{"MaxBurstLength", "65536"}}).empty());
  const Outcome outcome = initiator.Command(Read10(1000, 64), 64 * 2048);
  ASSERT_TRUE(outcome.answered);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.residual_flags, 0);
  EXPECT_EQ(outcome.data_in_pdus, 16);  // 8,192 bytes each, as the initiator declared
  ASSERT_EQ(outcome.data.size(), 64u * 2048);
  for (std::uint32_t i = 0; i < 64; ++i) {
    const Bytes expected = PressedBlock(1000 + i);
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), outcome.data.begin() + i * 2048))
        << "block " << 1000 + i;
  }
}

TEST(IscsiCommand, DataInSequenceNumbersOffsetsAndFinalBitsAtEachBurst) {
  ServedDrive served("dvdrom");
  Initiator initiator(served.port());
  ASSERT_FALSE(initiator.Login({{"MaxBurstLength", "16384"}}).empty());
  std::uint8_t h[48];
  initiator.CommandHeader(h, Read10(0, 16), 0xC0, 16 * 2048, 0x42);
  initiator.SendPdu(h);
  for (std::uint32_t n = 0; n < 4; ++n) {
    Received pdu;
    ASSERT_TRUE(initiator.Read(&pdu));
    ASSERT_EQ(pdu.opcode(), 0x25);
    EXPECT_EQ(pdu.Field(16), 0x42u);
    EXPECT_EQ(pdu.Field(36), n);  // DataSN
    EXPECT_EQ(pdu.Field(40), n * 8192);
    EXPECT_EQ(pdu.data.size(), 8192u);
    // A burst of 16,384 bytes ends every second PDU; the last carries the status.
    EXPECT_EQ((pdu.flags() & 0x80) != 0, n % 2 == 1);
    EXPECT_EQ((pdu.flags() & 0x01) != 0, n == 3);
  }
}

TEST(IscsiCommand, ResidualsOfAReadWhoseExpectedLengthDiffersFromTheCdb) {
  ServedDrive served("dvdrom");
  Initiator initiator(served.port());
  ASSERT_FALSE(initiator.Login().empty());
  struct Case {
    std::uint16_t blocks;
    std::uint32_t expected;
    std::size_t got;
    std::uint8_t flags;
    std::uint32_t residual;
  };
  // A read of more than the 16 MiB one command moves here is an overflow all the same.
  constexpr std::uint32_t kLong = 9000 * 2048;
  for (const Case& c : {Case{1, 200, 200, 0x04, 1848}, Case{1, 10000, 2048, 0x02, 7952},
                        Case{2, 2048, 2048, 0x04, 2048}, Case{1, 0, 0, 0x04, 2048},
                        Case{9000, 4096, 4096, 0x04, kLong - 4096},
                        Case{9000, 16 << 20, 16 << 20, 0x04, kLong - (16 << 20)}}) {
    SCOPED_TRACE(std::to_string(c.blocks) + " blocks, expected " + std::to_string(c.expected));
    const Outcome outcome = initiator.Command(Read10(5, c.blocks), c.expected);
    ASSERT_TRUE(outcome.answered);
    EXPECT_EQ(outcome.response, 0);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.data.size(), c.got);
    EXPECT_EQ(outcome.residual_flags, c.flags);
    EXPECT_EQ(outcome.residual, c.residual);
    if (c.got >= 2048) {
      const std::uint32_t last = static_cast<std::uint32_t>(c.got / 2048) - 1;
      EXPECT_EQ(
          Bytes(outcome.data.begin() + last * 2048, outcome.data.begin() + last * 2048 + 2048),
          PressedBlock(5 + last));
    }
  }
}

// A pressed disc from an image file leaves from the file itself (sendfile); a range with an
// altered block, or running into the image's partial last block, is read and copied. Each
// way gives the file's bytes, cut into the initiator's 8,192-byte segments at their offsets.
TEST(IscsiCommand, APressedDiscsImageReadsAsTheFileHoldsIt) {
  char path[] = "/tmp/zorvane-served-image-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const Bytes image = Pattern(40 * 2048 + 1000, 9);  // the last block partly in the file
  ASSERT_EQ(write(fd, image.data(), image.size()), static_cast<ssize_t>(image.size()));
  close(fd);
  struct Case {
    const char* keys;
    std::uint32_t lba;
    std::uint16_t blocks;
    std::uint32_t expected;
    std::uint32_t altered;  // a block read with bytes 100..103 inverted, or 0
  };
  for (const Case& c : {Case{"", 2, 20, 20 * 2048, 0},
                        Case{"", 0, 4, 5001, 0},  // the data cut short: an overflow, padded
                        Case{",alter=7", 5, 4, 4 * 2048, 7},
                        Case{"", 38, 3, 3 * 2048, 0}}) {  // up to and into the partial block
    SCOPED_TRACE(std::string(c.keys) + " from " + std::to_string(c.lba));
    ServedDrive served(std::string("dvdrom,image=") + path + c.keys);
    Initiator initiator(served.port());
    ASSERT_FALSE(initiator.Login().empty());
    const Outcome outcome = initiator.Command(Read10(c.lba, c.blocks), c.expected);
    ASSERT_TRUE(outcome.answered);
    EXPECT_EQ(outcome.status, 0);
    const std::size_t range = std::size_t{c.blocks} * 2048;
    EXPECT_EQ(outcome.data_in_pdus,
              static_cast<int>((std::min<std::size_t>(range, c.expected) + 8191) / 8192));
    Bytes want(image.begin() + std::min(image.size(), std::size_t{c.lba} * 2048),
               image.begin() + std::min(image.size(), c.lba * 2048 + range));
    want.resize(range, 0);
    if (c.altered != 0) {
      for (std::size_t i = 100; i < 104; ++i) want[(c.altered - c.lba) * 2048 + i] ^= 0xFF;
    }
    want.resize(std::min<std::size_t>(range, c.expected));
    EXPECT_EQ(outcome.data, want);
    EXPECT_EQ(outcome.residual_flags, c.expected < range ? 0x04 : 0);
  }
  unlink(path);
}

TEST(IscsiCommand, AWriteExpectingMoreThanItsBlocksLeavesAnUnderflow) {
  ServedDrive served("dvd+rw");
  Initiator initiator(served.port());
  ASSERT_FALSE(initiator.Login().empty());
  const Bytes data = Pattern(65536, 3);
  const Outcome written = initiator.Command(Write10(40, 1), 0, data);
  ASSERT_TRUE(written.answered);
  EXPECT_EQ(written.status, 0);
  EXPECT_EQ(written.residual_flags, 0x02);
  EXPECT_EQ(written.residual, 65536u - 2048);
  Bytes expected(data.begin(), data.begin() + 2048);
  expected.resize(2 * 2048, 0);
  EXPECT_EQ(initiator.Command(Read10(40, 2), 2 * 2048).data, expected);
}

TEST(IscsiCommand, CheckConditionCarriesTheDrivesSense) {
  ServedDrive served("dvdrom");
  Initiator initiator(served.port());
  ASSERT_FALSE(initiator.Login().empty());
  const Outcome outcome = initiator.Command(Read10(3000000, 1), 2048);
  ASSERT_TRUE(outcome.answered);
  EXPECT_EQ(outcome.response, 0);
  EXPECT_EQ(outcome.status, 0x02);
  EXPECT_EQ(outcome.SenseCode(), 0x052100u);  // logical block address out of range
  EXPECT_TRUE(outcome.data.empty());
  EXPECT_EQ(outcome.residual_flags, 0x02);
  EXPECT_EQ(outcome.residual, 2048u);
  // A read longer than one command's data here, reaching beyond the disc.
  Bytes read12(12, 0);
  read12[0] = 0xA8;
  SetBe32(read12.data() + 6, 3000000);
  EXPECT_EQ(initiator.Command(read12, 2048).SenseCode(), 0x052100u);

  ServedDrive empty("nodisc");
  Initiator other(empty.port());
  ASSERT_FALSE(other.Login().empty());
  EXPECT_EQ(other.Command(TestUnitReady(), 0).SenseCode(), 0x023A01u);
}

TEST(IscsiCommand, AFailedPassThroughIsATargetFailure) {
  ServedDrive served("dvdrom,fail=00x1");
  Initiator initiator(served.port());
  ASSERT_FALSE(initiator.Login().empty());
  const Outcome failed = initiator.Command(TestUnitReady(), 0);
  ASSERT_TRUE(failed.answered);
  EXPECT_EQ(failed.response, 0x01);
  EXPECT_EQ(initiator.Command(TestUnitReady(), 0).status, 0);
}

TEST(IscsiCommand, OnlyLunZeroHasADrive) {
  ServedDrive served("dvdrom");
  Initiator initiator(served.port());
  ASSERT_FALSE(initiator.Login().empty());
  Bytes report_luns(12, 0);
  report_luns[0] = 0xA0;
  report_luns[9] = 16;
  for (const std::uint64_t lun : {0u, 3u}) {
    const Outcome luns = initiator.Command(report_luns, 16, {}, lun);
    ASSERT_EQ(luns.data.size(), 16u);
    EXPECT_EQ(Be32(luns.data.data()), 8u);  // one LUN: 0
    EXPECT_TRUE(std::all_of(luns.data.begin() + 8, luns.data.end(), [](auto b) { return b == 0; }));
  }
  const Outcome inquiry = initiator.Command(Inquiry(36), 36, {}, 1);
  ASSERT_EQ(inquiry.data.size(), 36u);
  EXPECT_EQ(inquiry.data[0], 0x7F);  // no logical unit
  EXPECT_EQ(initiator.Command(TestUnitReady(), 0, {}, 1).SenseCode(), 0x052500u);
}

TEST(IscsiCommand, WriteDataComesAsTheTargetAsksForIt) {
  ServedDrive served("dvd+rw");
  Initiator initiator(served.port());
  ASSERT_FALSE(initiator.Login({{"InitialR2T", "Yes"}, {"MaxBurstLength", "131072"}}).empty());
  const Bytes data = Pattern(200 * 2048, 1);
  const Outcome written = initiator.Command(Write10(5000, 200), 0, data);
  ASSERT_TRUE(written.answered);
  EXPECT_EQ(written.status, 0);
  // 409,600 bytes in bursts of 131,072: four R2Ts, numbered, each from where the last ended.
  ASSERT_EQ(written.r2ts.size(), 4u);
  for (std::uint32_t n = 0; n < 4; ++n) {
    EXPECT_EQ(written.r2ts[n].Field(36), n);  // R2TSN
    EXPECT_EQ(written.r2ts[n].Field(40), n * 131072);
    EXPECT_EQ(written.r2ts[n].Field(44), n < 3 ? 131072u : 409600u - 3 * 131072);
    EXPECT_NE(written.r2ts[n].Field(20), 0xFFFFFFFFu);
  }
  const Outcome read = initiator.Command(Read10(5000, 200), 200 * 2048);
  EXPECT_EQ(read.data, data);
}

TEST(IscsiCommand, UnsolicitedDataThenR2TsForTheRest) {
  ServedDrive served("dvd+rw");
  Initiator initiator(served.port());
  ASSERT_FALSE(initiator.Login({{"InitialR2T", "No"}, {"FirstBurstLength", "65536"}}).empty());
  ASSERT_FALSE(initiator.initial_r2t);
  const Bytes data = Pattern(100 * 2048, 2);
  const Outcome written = initiator.Command(Write10(100, 100), 0, data);
  ASSERT_TRUE(written.answered);
  EXPECT_EQ(written.status, 0);
  ASSERT_FALSE(written.r2ts.empty());
  EXPECT_EQ(written.r2ts[0].Field(40), 65536u);  // the first burst came unasked
  EXPECT_EQ(initiator.Command(Read10(100, 100), 100 * 2048).data, data);

  // A write that fits the first burst needs no R2T at all.
  const Bytes small = Pattern(8 * 2048, 3);
  const Outcome quick = initiator.Command(Write10(300, 8), 0, small);
  EXPECT_EQ(quick.status, 0);
  EXPECT_TRUE(quick.r2ts.empty());
  EXPECT_EQ(initiator.Command(Read10(300, 8), 8 * 2048).data, small);
}

TEST(IscsiCommand, ImmediateDataWhenTheTargetOffersIt) {
  TargetSettings settings;
  settings.immediate_data = true;
  ServedDrive served("dvd+rw", settings);
  Initiator initiator(served.port());
  auto keys = initiator.Login(
      {{"ImmediateData", "Yes"}, {"InitialR2T", "Yes"}, {"FirstBurstLength", "8192"}});
  EXPECT_EQ(keys["ImmediateData"], "Yes");
  const Bytes data = Pattern(2 * 2048, 4);
  const Outcome quick = initiator.Command(Write10(40, 2), 0, data);
  EXPECT_EQ(quick.status, 0);
  EXPECT_TRUE(quick.r2ts.empty());
  const Bytes more = Pattern(16 * 2048, 5);  // 8,192 bytes immediate, the rest asked for
  const Outcome longer = initiator.Command(Write10(50, 16), 0, more);
  EXPECT_EQ(longer.status, 0);
  ASSERT_EQ(longer.r2ts.size(), 1u);
  EXPECT_EQ(longer.r2ts[0].Field(40), 8192u);
  EXPECT_EQ(initiator.Command(Read10(40, 2), 2 * 2048).data, data);
  EXPECT_EQ(initiator.Command(Read10(50, 16), 16 * 2048).data, more);
}

TEST(IscsiCommand, CommandNumbersOutsideTheWindowAreIgnored) {
  ServedDrive served("dvdrom");
  Initiator initiator(served.port());
  ASSERT_FALSE(initiator.Login().empty());
  EXPECT_EQ(initiator.max_cmd_sn, initiator.cmd_sn + 15);  // a window of 16 commands
  std::uint8_t h[48];
  for (const std::uint32_t number : {initiator.max_cmd_sn + 1, initiator.cmd_sn - 1}) {
    initiator.CommandHeader(h, TestUnitReady(), 0x80, 0, 0x77);
    SetBe32(h + 24, number);
    initiator.cmd_sn--;
    initiator.SendPdu(h);
    Received nothing;
    EXPECT_FALSE(initiator.Read(&nothing, 300)) << "CmdSN " << number;
  }
  EXPECT_EQ(initiator.Command(TestUnitReady(), 0).status, 0);
}

TEST(IscsiCommand, CommandsWaitInOrderBehindAWriteAwaitingItsData) {
  ServedDrive served("dvd+rw");
  Initiator initiator(served.port());
  ASSERT_FALSE(initiator.Login({{"InitialR2T", "Yes"}}).empty());
  std::uint8_t h[48];
  initiator.CommandHeader(h, Write10(0, 1), 0xA0, 2048, 1);
  initiator.SendPdu(h);
  Received r2t;
  ASSERT_TRUE(initiator.Read(&r2t));
  ASSERT_EQ(r2t.opcode(), 0x31);
  // A read of the same block, sent before the write's data: answered after the write.
  initiator.CommandHeader(h, Read10(0, 1), 0xC0, 2048, 2);
  initiator.SendPdu(h);
  Received early;
  EXPECT_FALSE(initiator.Read(&early, 300));
  const Bytes data = Pattern(2048, 9);
  initiator.DataOutHeader(h, 1, r2t.Field(20), 0, 0, true);
  initiator.SendPdu(h, data);
  Received response;
  ASSERT_TRUE(initiator.Read(&response));
  EXPECT_EQ(response.opcode(), 0x21);
  EXPECT_EQ(response.Field(16), 1u);
  Received read;
  ASSERT_TRUE(initiator.Read(&read));
  EXPECT_EQ(read.opcode(), 0x25);
  EXPECT_EQ(read.Field(16), 2u);
  EXPECT_EQ(read.data, data);
}

TEST(IscsiCommand, NopOutIsEchoedWithItsData) {
  ServedDrive served("dvdrom");
  Initiator initiator(served.port());
  ASSERT_FALSE(initiator.Login().empty());
  std::uint8_t h[48] = {};
  h[0] = 0x40;  // NOP-Out, immediate
  h[1] = 0x80;
  SetBe32(h + 16, 0x55);
  SetBe32(h + 20, 0xFFFFFFFF);
  SetBe32(h + 24, initiator.cmd_sn);
  const Bytes ping = {1, 2, 3, 4, 5};
  initiator.SendPdu(h, ping);
  Received pong;
  ASSERT_TRUE(initiator.Read(&pong));
  EXPECT_EQ(pong.opcode(), 0x20);
  EXPECT_EQ(pong.Field(16), 0x55u);
  EXPECT_EQ(pong.Field(20), 0xFFFFFFFFu);
  EXPECT_EQ(pong.data, ping);
  // A NOP-Out with the reserved tag asks for no answer.
  SetBe32(h + 16, 0xFFFFFFFF);
  initiator.SendPdu(h);
  Received none;
  EXPECT_FALSE(initiator.Read(&none, 300));
}

TEST(IscsiCommand, AbortTaskDropsAWriteAwaitingItsDataAndTheDiscKeepsItsBlocks) {
  ServedDrive served("dvd+rw");
  Initiator initiator(served.port());
  ASSERT_FALSE(initiator.Login({{"InitialR2T", "Yes"}}).empty());
  std::uint8_t h[48];
  initiator.CommandHeader(h, Write10(700, 4), 0xA0, 4 * 2048, 9);
  const std::uint32_t write_sn = Be32(h + 24);
  initiator.SendPdu(h);
  Received r2t;
  ASSERT_TRUE(initiator.Read(&r2t));
  ASSERT_EQ(r2t.opcode(), 0x31);
  auto task_request = [&](std::uint8_t function, std::uint32_t referenced, std::uint8_t lun) {
    std::uint8_t t[48] = {};
    t[0] = 0x42;
    t[1] = static_cast<std::uint8_t>(0x80 | function);
    t[9] = lun;
    SetBe32(t + 16, 0x900 + function);
    SetBe32(t + 20, referenced);
    SetBe32(t + 24, initiator.cmd_sn);
    SetBe32(t + 32, write_sn);
    initiator.SendPdu(t);
    Received answer;
    EXPECT_TRUE(initiator.Read(&answer));
    EXPECT_EQ(answer.opcode(), 0x22);
    return answer.header[2];
  };
  EXPECT_EQ(task_request(1, 9, 0), 0);       // function complete
  EXPECT_EQ(task_request(1, 9, 0), 1);       // no such task any more
  EXPECT_EQ(task_request(5, 0, 0), 0);       // LUN reset
  EXPECT_EQ(task_request(5, 0, 2), 2);       // no such LUN
  EXPECT_EQ(task_request(3, 0, 0), 5);       // CLEAR ACA: not supported
  EXPECT_EQ(task_request(0x7F, 0, 0), 255);  // unknown: rejected
  // Data for the aborted command is let go.
  initiator.DataOutHeader(h, 9, r2t.Field(20), 0, 0, true);
  initiator.SendPdu(h, Pattern(4 * 2048, 6));
  // The LUN reset reached the drive: a unit attention for this nexus.
  EXPECT_EQ(initiator.Command(TestUnitReady(), 0).SenseCode(), 0x062903u);
  const Outcome read = initiator.Command(Read10(700, 4), 4 * 2048);
  EXPECT_EQ(read.data, Bytes(4 * 2048, 0));  // the formatted, unwritten area
}

// Each session is its own I_T nexus: a prevention of medium removal ends with the session
// that set it, and a load is a unit attention for every session.
TEST(IscsiCommand, APreventionEndsWithItsSessionAndALoadReachesEverySession) {
  ServedDrive served("dvd+rw");
  Initiator holder(served.port());
  Initiator other(served.port());
  ASSERT_FALSE(holder.Login().empty());
  ASSERT_FALSE(other.Login().empty());
  const Bytes prevent = {0x1E, 0, 0, 0, 0x01, 0};
  const Bytes eject = {0x1B, 0, 0, 0, 0x02, 0};
  const Bytes load = {0x1B, 0, 0, 0, 0x03, 0};
  ASSERT_EQ(holder.Command(prevent, 0).status, 0);
  EXPECT_EQ(other.Command(eject, 0).SenseCode(), 0x055302u);  // medium removal prevented
  holder.Drop();
  std::uint32_t sense = 0x055302;
  for (int i = 0; i < 100 && sense == 0x055302; ++i) {  // the server sees the drop soon
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const Outcome outcome = other.Command(eject, 0);
    sense = outcome.status == 0 ? 0 : outcome.SenseCode();
  }
  EXPECT_EQ(sense, 0u);
  Initiator again(served.port());
  ASSERT_FALSE(again.Login().empty());
  ASSERT_EQ(other.Command(load, 0).status, 0);
  EXPECT_EQ(other.Command(TestUnitReady(), 0).SenseCode(), 0x062800u);
  EXPECT_EQ(again.Command(TestUnitReady(), 0).SenseCode(), 0x062800u);
  EXPECT_EQ(again.Command(TestUnitReady(), 0).status, 0);
}

TEST(IscsiCommand, LogoutAnswersAndCloses) {
  ServedDrive served("dvdrom");
  Initiator initiator(served.port());
  ASSERT_FALSE(initiator.Login().empty());
  std::uint8_t h[48] = {};
  h[0] = 0x46;
  h[1] = 0x80;  // close the session
  SetBe32(h + 16, 0x66);
  SetBe32(h + 24, initiator.cmd_sn);
  initiator.SendPdu(h);
  Received answer;
  ASSERT_TRUE(initiator.Read(&answer));
  EXPECT_EQ(answer.opcode(), 0x26);
  EXPECT_EQ(answer.header[2], 0);
  EXPECT_EQ(answer.Field(16), 0x66u);
  EXPECT_TRUE(initiator.ClosedWithin(2000));
}

TEST(IscsiCommand, SessionsNeverInterleaveCommandsOnTheDrive) {
  ServedDrive served("dvd+rw");
  constexpr int kSessions = 4;
  constexpr int kRounds = 25;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int s = 0; s < kSessions; ++s) {
    threads.emplace_back([&, s] {
      Initiator initiator(served.port());
      if (initiator.Login().empty()) {
        ++wrong;
        return;
      }
      for (int round = 0; round < kRounds; ++round) {
        const auto lba = static_cast<std::uint32_t>(s * 1000 + round * 8);
        const Bytes data = Pattern(8 * 2048, static_cast<std::uint8_t>(s * 31 + round));
        if (initiator.Command(Write10(lba, 8), 0, data).status != 0) ++wrong;
        if (initiator.Command(Read10(lba, 8), 8 * 2048).data != data) ++wrong;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(IscsiCommand, ADroppedConnectionMidWriteLeavesTheConfirmedDisc) {
  const std::filesystem::path state =
      std::filesystem::temp_directory_path() /
      ("zorvane-iscsi-state-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::remove(state);
  const std::string spec = "dvd+rw,state=" + state.string();
  const Bytes confirmed = Pattern(16 * 2048, 7);
  {
    ServedDrive served(spec);
    Initiator initiator(served.port());
    ASSERT_FALSE(initiator.Login({{"InitialR2T", "Yes"}}).empty());
    ASSERT_EQ(initiator.Command(Write10(64, 16), 0, confirmed).status, 0);
    ASSERT_EQ(initiator.Command(SynchronizeCache(), 0).status, 0);
    // Another write over the same blocks, cut off after half of its data.
    std::uint8_t h[48];
    initiator.CommandHeader(h, Write10(64, 16), 0xA0, 16 * 2048, 0x99);
    initiator.SendPdu(h);
    Received r2t;
    ASSERT_TRUE(initiator.Read(&r2t));
    initiator.DataOutHeader(h, 0x99, r2t.Field(20), 0, 0, false);
    initiator.SendPdu(h, Bytes(8 * 2048, 0xEE));
    initiator.Drop();
    // The drive never saw the cut command: a new session reads the confirmed blocks.
    Initiator next(served.port());
    ASSERT_FALSE(next.Login().empty());
    EXPECT_EQ(next.Command(Read10(64, 16), 16 * 2048).data, confirmed);
  }
  std::string error;
  auto drive = Drive::Create(spec, &error);
  ASSERT_TRUE(drive) << error;
  std::vector<std::uint8_t> block(16 * 2048);
  const Bytes cdb = Read10(64, 16);
  for (int i = 0; i < 3; ++i) {  // through the unit attention of the loaded disc
    drive->Execute(TestUnitReady().data(), 6, Direction::kNone, nullptr, 0);
  }
  const Reply reply =
      drive->Execute(cdb.data(), cdb.size(), Direction::kIn, block.data(), block.size());
  EXPECT_EQ(reply.status, Status::kGood);
  EXPECT_EQ(block, confirmed);
  std::filesystem::remove(state);
}

}  // namespace
}  // namespace zorvane::vdrive::server::test
