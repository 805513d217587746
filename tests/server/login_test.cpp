// Login and discovery, spoken on a loopback socket.
#include <gtest/gtest.h>

#include "tests/server/initiator.h"

namespace zorvane::vdrive::server::test {
namespace {

TEST(IscsiLogin, DiscoveryListsTheTargetAtTheAddressItWasReachedOn) {
  ServedDrive served("dvd+rw");
  Initiator initiator(served.port());
  ASSERT_TRUE(initiator.LoginDiscovery());
  std::uint8_t h[48] = {};
  h[0] = 0x44;  // text request, immediate
  h[1] = 0x80;
  SetBe32(h + 16, 7);
  SetBe32(h + 20, 0xFFFFFFFF);
  SetBe32(h + 24, initiator.cmd_sn);
  const std::string text = std::string("SendTargets=All") + '\0';
  initiator.SendPdu(h, Bytes(text.begin(), text.end()));
  Received answer;
  ASSERT_TRUE(initiator.Read(&answer));
  EXPECT_EQ(answer.opcode(), 0x24);
  EXPECT_EQ(answer.Field(16), 7u);
  EXPECT_EQ(answer.Field(20), 0xFFFFFFFFu);
  auto keys = answer.Keys();
  EXPECT_EQ(keys["TargetName"], kDefaultTargetName);
  EXPECT_EQ(keys["TargetAddress"], "127.0.0.1:" + std::to_string(served.port()) + ",1");

  // A discovery session carries no SCSI commands: rejected, and the connection ends.
  const Outcome outcome = initiator.Command(TestUnitReady(), 0);
  EXPECT_FALSE(outcome.answered);
  EXPECT_TRUE(initiator.ClosedWithin(2000));
}

TEST(IscsiLogin, NegotiatesEachKeyByItsRule) {
  ServedDrive served("dvd+rw");
  Initiator initiator(served.port());
  auto keys = initiator.Login({{"InitialR2T", "No"},
                               {"ImmediateData", "Yes"},
                               {"MaxBurstLength", "131072"},
                               {"FirstBurstLength", "1048576"},  // above MaxBurstLength
                               {"MaxConnections", "4"},
                               {"ErrorRecoveryLevel", "2"},
                               {"MaxOutstandingR2T", "8"},
                               {"DataPDUInOrder", "No"},
                               {"DefaultTime2Wait", "5"},
                               {"X-com.example.Frobnicate", "On"},
                               {"IFMarker", "Yes"}});
  ASSERT_FALSE(keys.empty());
  EXPECT_EQ(keys["AuthMethod"], "None");
  EXPECT_EQ(keys["TargetPortalGroupTag"], "1");
  EXPECT_EQ(keys["HeaderDigest"], "None");
  EXPECT_EQ(keys["InitialR2T"], "No");
  EXPECT_EQ(keys["ImmediateData"], "No");  // this target takes unsolicited Data-Out instead
  EXPECT_EQ(keys["MaxBurstLength"], "131072");
  EXPECT_EQ(keys["FirstBurstLength"], "131072");  // never above MaxBurstLength
  EXPECT_EQ(keys["MaxConnections"], "1");
  EXPECT_EQ(keys["ErrorRecoveryLevel"], "0");
  EXPECT_EQ(keys["MaxOutstandingR2T"], "1");
  EXPECT_EQ(keys["DataPDUInOrder"], "Yes");
  EXPECT_EQ(keys["DefaultTime2Wait"], "5");
  EXPECT_EQ(keys["X-com.example.Frobnicate"], "NotUnderstood");
  EXPECT_EQ(keys["IFMarker"], "No");
  EXPECT_EQ(keys["MaxRecvDataSegmentLength"], "262144");
  // The session works.
  EXPECT_EQ(initiator.Command(TestUnitReady(), 0).status, 0);
}

TEST(IscsiLogin, DigestsOtherThanNoneAreRefusedAndNoneIsPickedFromAList) {
  ServedDrive served("dvd+rw");
  Initiator initiator(served.port());
  initiator.SendLogin(0x87, {{"InitiatorName", kTestInitiator},
                             {"TargetName", kDefaultTargetName},
                             {"HeaderDigest", "CRC32C,None"},
                             {"DataDigest", "CRC32C"}});
  Received answer;
  ASSERT_TRUE(initiator.Read(&answer));
  EXPECT_EQ(answer.header[36], 0);
  auto keys = answer.Keys();
  EXPECT_EQ(keys["HeaderDigest"], "None");
  EXPECT_EQ(keys["DataDigest"], "Reject");
}

TEST(IscsiLogin, RefusalsCarryTheirStatusAndEndTheConnection) {
  ServedDrive served("dvd+rw");
  struct Case {
    const char* what;
    std::uint8_t flags;
    Keys keys;
    std::uint16_t tsih;
    std::uint16_t status;
  };
  const std::vector<Case> cases = {
      {"another target's name",
       0x81,
       {{"InitiatorName", kTestInitiator}, {"TargetName", "iqn.2000-01.com.example:disk"}},
       0,
       0x0203},
      {"no initiator name", 0x81, {{"TargetName", kDefaultTargetName}}, 0, 0x0207},
      {"no target name in a normal session", 0x81, {{"InitiatorName", kTestInitiator}}, 0, 0x0207},
      {"authentication this target cannot offer",
       0x81,
       {{"InitiatorName", kTestInitiator},
        {"TargetName", kDefaultTargetName},
        {"AuthMethod", "CHAP"}},
       0,
       0x0201},
      {"a connection for an existing session",
       0x81,
       {{"InitiatorName", kTestInitiator}, {"TargetName", kDefaultTargetName}},
       5,
       0x020A},
      {"a transit to the stage it is in",
       0x84,
       {{"InitiatorName", kTestInitiator}, {"TargetName", kDefaultTargetName}},
       0,
       0x0200},
      {"transit and continue together",
       0xC1,
       {{"InitiatorName", kTestInitiator}, {"TargetName", kDefaultTargetName}},
       0,
       0x0200},
      {"an unknown session type",
       0x81,
       {{"InitiatorName", kTestInitiator}, {"SessionType", "Other"}},
       0,
       0x0209},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Initiator initiator(served.port());
    initiator.SendLogin(c.flags, c.keys, c.tsih);
    Received answer;
    ASSERT_TRUE(initiator.Read(&answer));
    EXPECT_EQ(answer.opcode(), 0x23);
    EXPECT_EQ(answer.header[36] << 8 | answer.header[37], c.status);
    EXPECT_EQ(answer.header[14] << 8 | answer.header[15], 0);  // no session made
    EXPECT_TRUE(initiator.ClosedWithin(2000));
  }
}

TEST(IscsiLogin, TextSpreadOverSeveralPdusIsJoined) {
  ServedDrive served("dvd+rw");
  Initiator initiator(served.port());
  // "InitiatorName=..." cut in the middle of its value, continued in the next PDU.
  std::uint8_t h[48] = {};
  h[0] = 0x43;
  h[1] = 0x40 | 0x00;  // continue, security stage
  SetBe32(h + 16, 1);
  const std::string first = "InitiatorName=iqn.1999-06.inv";
  initiator.SendPdu(h, Bytes(first.begin(), first.end()));
  Received answer;
  ASSERT_TRUE(initiator.Read(&answer));
  EXPECT_EQ(answer.header[36], 0);
  EXPECT_TRUE(answer.data.empty());
  EXPECT_EQ(answer.flags() & 0x80, 0);
  h[1] = 0x83;  // transit from the security stage straight to the full feature phase
  const std::string rest =
      std::string("alid.zorvane:tests") + '\0' + "TargetName=" + kDefaultTargetName + '\0';
  initiator.SendPdu(h, Bytes(rest.begin(), rest.end()));
  ASSERT_TRUE(initiator.Read(&answer));
  EXPECT_EQ(answer.header[36], 0);
  EXPECT_EQ(answer.flags() & 0x83, 0x83);
  EXPECT_NE(answer.header[14] << 8 | answer.header[15], 0);  // the session's handle
}

TEST(IscsiLogin, AnythingButALoginFirstEndsTheConnectionWithoutAnAnswer) {
  ServedDrive served("dvd+rw");
  Initiator initiator(served.port());
  std::uint8_t h[48];
  initiator.CommandHeader(h, TestUnitReady(), 0x80, 0, 1);
  initiator.SendPdu(h);
  std::vector<Received> before;
  EXPECT_TRUE(initiator.ClosedWithin(2000, &before));
  EXPECT_TRUE(before.empty());
}

TEST(IscsiLogin, AnUnfinishedLoginIsDroppedAfterItsTime) {
  ServedDrive served("dvd+rw");  // login timeout of two seconds
  Initiator initiator(served.port());
  initiator.SendRaw({0x43, 0x81, 0, 0});  // a header that never completes
  EXPECT_TRUE(initiator.ClosedWithin(5000));
  // A byte every 300 ms does not keep a login PDU alive: it is whole within its time or
  // the connection ends (48 bytes would take 14 s).
  Initiator trickling(served.port());
  std::size_t sent = 0;
  for (; sent < 48; ++sent) {
    trickling.SendRaw({sent == 0 ? std::uint8_t{0x43} : std::uint8_t{0}});
    if (trickling.ClosedWithin(300)) break;
  }
  EXPECT_LT(sent, 20u);
}

// Text keys end with a zero byte, the last one too; a key is negotiated once a login.
TEST(IscsiLogin, TextWithoutItsClosingZeroOrAKeySentTwiceIsAnInitiatorError) {
  ServedDrive served("dvd+rw");
  auto refused = [](Initiator& initiator) {
    Received answer;
    return initiator.Read(&answer) && answer.opcode() == 0x23 &&
           (answer.header[36] << 8 | answer.header[37]) == 0x0200 && initiator.ClosedWithin(2000);
  };
  {
    Initiator initiator(served.port());
    std::uint8_t h[48] = {};
    h[0] = 0x43;
    h[1] = 0x81;
    const std::string text =
        std::string("InitiatorName=") + kTestInitiator + '\0' + "TargetName=" + kDefaultTargetName;
    initiator.SendPdu(h, Bytes(text.begin(), text.end()));
    EXPECT_TRUE(refused(initiator));
  }
  const Keys names = {{"InitiatorName", kTestInitiator}, {"TargetName", kDefaultTargetName}};
  {
    Initiator initiator(served.port());
    Keys keys = names;
    keys.insert(keys.end(), {{"MaxBurstLength", "65536"}, {"MaxBurstLength", "131072"}});
    initiator.SendLogin(0x87, keys);
    EXPECT_TRUE(refused(initiator));
  }
  {
    Initiator initiator(served.port());
    Keys keys = names;
    keys.emplace_back("MaxBurstLength", "65536");
    initiator.SendLogin(0x81, keys);
    Received answer;
    ASSERT_TRUE(initiator.Read(&answer));
    EXPECT_EQ(answer.header[36], 0);
    initiator.SendLogin(0x87, {{"MaxBurstLength", "131072"}});
    EXPECT_TRUE(refused(initiator));
  }
}

}  // namespace
}  // namespace zorvane::vdrive::server::test
