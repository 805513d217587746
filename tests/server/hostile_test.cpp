// Malformed and hostile PDUs: each ends its own connection with a reject (or without an
// answer during login); the server goes on serving others and the disc is untouched.
#include <gtest/gtest.h>

#include <random>

#include "tests/server/initiator.h"

namespace zorvane::vdrive::server::test {
namespace {

// True when the next PDU is a reject of `opcode` and the connection then closes.
::testing::AssertionResult RejectedAndClosed(Initiator& initiator, std::uint8_t opcode) {
  std::vector<Received> before;
  if (!initiator.ClosedWithin(3000, &before)) {
    return ::testing::AssertionFailure() << "the connection stayed open";
  }
  for (const Received& pdu : before) {
    if (pdu.opcode() == 0x3F && pdu.data.size() == 48 && (pdu.data[0] & 0x3F) == opcode) {
      return ::testing::AssertionSuccess();
    }
  }
  return ::testing::AssertionFailure()
         << "no reject of opcode " << int{opcode} << " among " << before.size() << " PDUs";
}

// A logged-in initiator that has been asked for the data of an 8-block WRITE at LBA 20.
struct PendingWrite {
  explicit PendingWrite(std::uint16_t port) : initiator(port) {
    EXPECT_FALSE(initiator.Login({{"InitialR2T", "Yes"}}).empty());
    std::uint8_t h[48];
    initiator.CommandHeader(h, Write10(20, 8), 0xA0, 8 * 2048, 0x31);
    initiator.SendPdu(h);
    EXPECT_TRUE(initiator.Read(&r2t));
    EXPECT_EQ(r2t.opcode(), 0x31);
  }
  void SendData(std::uint32_t ttt, std::uint32_t data_sn, std::uint32_t offset, std::size_t length,
                bool final) {
    std::uint8_t h[48];
    initiator.DataOutHeader(h, 0x31, ttt, data_sn, offset, final);
    initiator.SendPdu(h, Bytes(length, 0xAB));
  }
  Initiator initiator;
  Received r2t;
};

void ExpectBlocksUntouched(std::uint16_t port) {
  Initiator check(port);
  ASSERT_FALSE(check.Login().empty());
  EXPECT_EQ(check.Command(Read10(20, 8), 8 * 2048).data, Bytes(8 * 2048, 0));
}

TEST(IscsiHostile, DataOutOfSequenceIsRejectedAndTheWriteNeverReachesTheDrive) {
  ServedDrive served("dvd+rw");
  struct Case {
    const char* what;
    std::uint32_t data_sn;
    std::uint32_t offset;
    std::size_t length;
    bool wrong_tag;
  };
  for (const Case& c :
       {Case{"DataSN 1 first", 1, 0, 8192, false}, Case{"DataSN -1", 0xFFFFFFFF, 0, 8192, false},
        Case{"an offset not where the last ended", 0, 2048, 8192, false},
        Case{"more than the R2T asked", 0, 0, 8 * 2048 + 4, false},
        Case{"the final PDU short of the R2T", 0, 0, 4096, false},
        Case{"a transfer tag never given", 0, 0, 8192, true}}) {
    SCOPED_TRACE(c.what);
    PendingWrite pending(served.port());
    const std::uint32_t ttt = c.wrong_tag ? pending.r2t.Field(20) + 1000 : pending.r2t.Field(20);
    pending.SendData(ttt, c.data_sn, c.offset, c.length, c.length != 8192);
    if (c.length == 8192) pending.SendData(ttt, c.data_sn + 1, c.offset + 8192, 8192, true);
    EXPECT_TRUE(RejectedAndClosed(pending.initiator, 0x05));
  }
  ExpectBlocksUntouched(served.port());
}

TEST(IscsiHostile, UnsolicitedDataBeyondTheFirstBurstIsRejected) {
  ServedDrive served("dvd+rw");
  Initiator initiator(served.port());
  ASSERT_FALSE(initiator.Login({{"InitialR2T", "No"}, {"FirstBurstLength", "8192"}}).empty());
  std::uint8_t h[48];
  initiator.CommandHeader(h, Write10(20, 8), 0x20, 8 * 2048, 0x31);  // unsolicited data follows
  initiator.SendPdu(h);
  initiator.DataOutHeader(h, 0x31, 0xFFFFFFFF, 0, 0, false);
  initiator.SendPdu(h, Bytes(8192, 1));
  initiator.DataOutHeader(h, 0x31, 0xFFFFFFFF, 1, 8192, true);
  initiator.SendPdu(h, Bytes(8192, 1));
  EXPECT_TRUE(RejectedAndClosed(initiator, 0x05));
  ExpectBlocksUntouched(served.port());
}

TEST(IscsiHostile, CommandsThatBreakTheRulesAreRejected) {
  ServedDrive served("dvd+rw");
  struct Case {
    const char* what;
    std::uint8_t flags;
    std::uint32_t expected;
    std::size_t immediate;
    Bytes ahs;
  };
  for (const Case& c : {
           Case{"immediate data on a read", 0xC0, 2048, 512, {}},
           Case{"immediate data where none was negotiated", 0xA0, 2048, 512, {}},
           Case{"a transfer length without a direction", 0x80, 2048, 0, {}},
           Case{"unsolicited data promised though InitialR2T is Yes", 0x20, 2048, 0, {}},
           Case{"an AHS longer than the header says", 0x80, 0, 0, {0, 40, 1, 0}},
           Case{"an AHS of length zero", 0x80, 0, 0, {0, 0, 1, 0}},
       }) {
    SCOPED_TRACE(c.what);
    Initiator initiator(served.port());
    ASSERT_FALSE(initiator.Login({{"InitialR2T", "Yes"}, {"ImmediateData", "Yes"}}).empty());
    std::uint8_t h[48];
    initiator.CommandHeader(h, Write10(20, 1), c.flags, c.expected, 5);
    initiator.SendPdu(h, Bytes(c.immediate, 0xCD), c.ahs);
    EXPECT_TRUE(RejectedAndClosed(initiator, 0x01));
  }
  ExpectBlocksUntouched(served.port());
}

TEST(IscsiHostile, HeadersNoInitiatorSendsAreRejected) {
  ServedDrive served("dvdrom");
  struct Case {
    const char* what;
    std::uint8_t byte0;
    std::uint32_t data_length;
  };
  for (const Case& c : {Case{"a target opcode", 0x21, 0}, Case{"an unknown opcode", 0x1F, 0},
                        Case{"bit 7 of byte 0", 0x80, 0},
                        Case{"a data segment above the declared maximum", 0x00, 262145},
                        Case{"a login in the full feature phase", 0x43, 0}}) {
    SCOPED_TRACE(c.what);
    Initiator initiator(served.port());
    ASSERT_FALSE(initiator.Login().empty());
    Bytes header(48, 0);
    header[0] = c.byte0;
    header[1] = 0x80;
    SetBe24(header.data() + 5, c.data_length);
    SetBe32(header.data() + 16, 0x1234);
    initiator.SendRaw(header);
    EXPECT_TRUE(RejectedAndClosed(initiator, c.byte0 & 0x3F));
  }
  Initiator after(served.port());
  ASSERT_FALSE(after.Login().empty());
  EXPECT_EQ(after.Command(TestUnitReady(), 0).status, 0);
}

TEST(IscsiHostile, OversizedLoginsAndTextsEndTheConnection) {
  ServedDrive served("dvdrom");
  {
    Initiator initiator(served.port());
    Bytes header(48, 0);
    header[0] = 0x43;
    header[1] = 0x81;
    SetBe24(header.data() + 5, 8193);  // above what login allows
    initiator.SendRaw(header);
    EXPECT_TRUE(initiator.ClosedWithin(3000));
  }
  {
    // A login text continued without end.
    Initiator initiator(served.port());
    std::uint8_t h[48] = {};
    h[0] = 0x43;
    h[1] = 0x40;
    std::vector<Received> before;
    for (int i = 0; i < 12 && initiator.connected(); ++i) {
      initiator.SendPdu(h, Bytes(8000, 'a'));
      Received answer;
      if (!initiator.Read(&answer, 2000)) break;
      before.push_back(answer);
    }
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(before.back().header[36], 0x03);  // out of resources
    EXPECT_TRUE(initiator.ClosedWithin(3000));
  }
  {
    Initiator initiator(served.port());
    initiator.SendLogin(0x87, {{"InitiatorName", kTestInitiator},
                               {"TargetName", kDefaultTargetName},
                               {std::string(64, 'K'), "1"}});  // a key too long
    Received answer;
    ASSERT_TRUE(initiator.Read(&answer));
    EXPECT_EQ(answer.header[36], 0x02);
    EXPECT_TRUE(initiator.ClosedWithin(3000));
  }
}

TEST(IscsiHostile, RandomBytesNeverStopTheServer) {
  ServedDrive served("dvd+rw");
  std::mt19937 random(1234);
  for (int round = 0; round < 60; ++round) {
    Initiator initiator(served.port());
    if (round % 2 == 1) {
      ASSERT_FALSE(initiator.Login().empty());
    }
    Bytes noise(48 + random() % 400);
    for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
    // Keep the data segment length small so that the target waits for little.
    noise[5] = 0;
    noise[6] = static_cast<std::uint8_t>(random() % 2);
    initiator.SendRaw(noise);
    initiator.Drop();
  }
  Initiator after(served.port());
  ASSERT_FALSE(after.Login().empty());
  EXPECT_EQ(after.Command(Read10(20, 8), 8 * 2048).data, Bytes(8 * 2048, 0));
}

}  // namespace
}  // namespace zorvane::vdrive::server::test
