// Malformed and hostile PDUs: each ends its own connection with a reject (or without an
// answer during login); the server goes on serving others and the disc is untouched.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <random>
#include <thread>

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
  void SendData(std::uint32_t task, std::uint32_t ttt, std::uint32_t data_sn, std::uint32_t offset,
                std::size_t length, bool final) {
    std::uint8_t h[48];
    initiator.DataOutHeader(h, task, ttt, data_sn, offset, final);
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
    std::uint32_t task = 0x31;
  };
  for (const Case& c :
       {Case{"DataSN 1 first", 1, 0, 8192, false}, Case{"DataSN -1", 0xFFFFFFFF, 0, 8192, false},
        Case{"an offset not where the last ended", 0, 2048, 8192, false},
        Case{"more than the R2T asked", 0, 0, 8 * 2048 + 4, false},
        Case{"the final PDU short of the R2T", 0, 0, 4096, false},
        Case{"a transfer tag never given", 0, 0, 8192, true},
        Case{"a task that never was", 0, 0, 8192, false, 0x77}}) {
    SCOPED_TRACE(c.what);
    PendingWrite pending(served.port());
    const std::uint32_t ttt = c.wrong_tag ? pending.r2t.Field(20) + 1000 : pending.r2t.Field(20);
    pending.SendData(c.task, ttt, c.data_sn, c.offset, c.length, c.length != 8192);
    if (c.length == 8192) pending.SendData(c.task, ttt, c.data_sn + 1, c.offset + 8192, 8192, true);
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
    std::uint32_t tag = 5;
  };
  for (const Case& c : {
           Case{"immediate data on a read", 0xC0, 2048, 512, {}},
           Case{"immediate data where none was negotiated", 0xA0, 2048, 512, {}},
           Case{"a transfer length without a direction", 0x80, 2048, 0, {}},
           Case{"unsolicited data promised though InitialR2T is Yes", 0x20, 2048, 0, {}},
           Case{"an AHS longer than the header says", 0x80, 0, 0, {0, 40, 1, 0}},
           Case{"an AHS of length zero", 0x80, 0, 0, {0, 0, 1, 0}},
           Case{"the reserved task tag", 0x80, 0, 0, {}, 0xFFFFFFFF},
       }) {
    SCOPED_TRACE(c.what);
    Initiator initiator(served.port());
    ASSERT_FALSE(initiator.Login({{"InitialR2T", "Yes"}, {"ImmediateData", "Yes"}}).empty());
    std::uint8_t h[48];
    initiator.CommandHeader(h, Write10(20, 1), c.flags, c.expected, c.tag);
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

// With InitialR2T=No, a write whose unsolicited data never comes holds the queue; immediate
// writes behind it, each with a first burst of data, fill the command window and no more:
// the rest are rejected (too many immediate commands) and their data let go.
TEST(IscsiHostile, ImmediateCommandsCountAgainstTheCommandWindow) {
  ServedDrive served("dvd+rw");
  Initiator initiator(served.port());
  ASSERT_FALSE(initiator.Login({{"InitialR2T", "No"}, {"ImmediateData", "No"}}).empty());
  ASSERT_EQ(initiator.first_burst, 65536u);
  std::uint8_t h[48];
  initiator.CommandHeader(h, Write10(20, 32), 0x20, 65536, 1);  // its data never comes
  initiator.SendPdu(h);
  constexpr std::uint32_t kFlood = 40;
  for (std::uint32_t i = 0; i < kFlood; ++i) {
    initiator.CommandHeader(h, Write10(200, 32), 0x20, 65536, 0x100 + i);
    h[0] |= 0x40;  // immediate: the command number stays
    --initiator.cmd_sn;
    initiator.SendPdu(h);
    initiator.DataOutHeader(h, 0x100 + i, 0xFFFFFFFF, 0, 0, true);
    initiator.SendPdu(h, Bytes(65536, 0xEE));
  }
  std::uint32_t rejected = 0;
  Received pdu;
  while (initiator.Read(&pdu, 1000)) {
    if (pdu.opcode() == 0x3F && pdu.header[2] == 0x06) ++rejected;
  }
  EXPECT_EQ(rejected, kFlood - 15);  // the window is 16 commands, the held write one of them
  Initiator other(served.port());
  ASSERT_FALSE(other.Login().empty());
  EXPECT_EQ(other.Command(Inquiry(36), 36).status, 0);
  // The held write's data comes at last: it and the fifteen queued behind it are done.
  initiator.DataOutHeader(h, 1, 0xFFFFFFFF, 0, 0, true);
  initiator.SendPdu(h, Bytes(65536, 0xDD));
  int good = 0;
  while (initiator.Read(&pdu, 1000)) good += pdu.opcode() == 0x21 && pdu.header[3] == 0;
  EXPECT_EQ(good, 16);
}

// A logged-in session that goes silent is pinged with a NOP-In; one that answers stays, one
// that does not is closed, so that silent sessions cannot hold every slot.
TEST(IscsiHostile, ASilentSessionIsPingedAndClosedWhenItDoesNotAnswer) {
  ServerOptions options = TestOptions();
  options.idle_timeout_ms = 300;
  options.ping_timeout_ms = 300;
  ServedDrive served("dvdrom", {}, options);
  Initiator answering(served.port());
  ASSERT_FALSE(answering.Login().empty());
  for (int i = 0; i < 3; ++i) {
    Received ping;
    ASSERT_TRUE(answering.Read(&ping, 3000));
    ASSERT_EQ(ping.opcode(), 0x20);
    EXPECT_EQ(ping.Field(16), 0xFFFFFFFFu);
    EXPECT_NE(ping.Field(20), 0xFFFFFFFFu);
    std::uint8_t h[48] = {};
    h[0] = 0x40;  // NOP-Out, immediate
    h[1] = 0x80;
    SetBe32(h + 16, 0xFFFFFFFF);
    SetBe32(h + 20, ping.Field(20));
    SetBe32(h + 24, answering.cmd_sn);
    SetBe32(h + 28, answering.exp_stat_sn);
    answering.SendPdu(h);
  }
  EXPECT_EQ(answering.Command(Inquiry(36), 36).status, 0);

  Initiator silent(served.port());
  ASSERT_FALSE(silent.Login().empty());
  std::vector<Received> before;
  EXPECT_TRUE(silent.ClosedWithin(3000, &before));
  ASSERT_EQ(before.size(), 1u);
  EXPECT_EQ(before[0].opcode(), 0x20);
}

// The accepted socket probes a peer that vanished after 30 s of silence and gives up on
// data left unacknowledged, instead of the kernel's two hours.
TEST(IscsiHostile, ConnectionSocketsKeepAliveWithAUserTimeout) {
  ServedDrive served("dvdrom");
  Initiator initiator(served.port());
  ASSERT_FALSE(initiator.Login().empty());
  sockaddr_in mine{};
  socklen_t size = sizeof mine;
  ASSERT_EQ(getsockname(initiator.fd(), reinterpret_cast<sockaddr*>(&mine), &size), 0);
  int accepted = -1;  // the server's end, in this process: its peer is this initiator
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::stoi(entry.path().filename().string());
    sockaddr_in peer{};
    socklen_t peer_size = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_size) == 0 &&
        peer.sin_family == AF_INET && peer.sin_port == mine.sin_port) {
      accepted = fd;
    }
  }
  ASSERT_GE(accepted, 0);
  auto option = [&](int level, int name) {
    int value = -1;
    socklen_t length = sizeof value;
    getsockopt(accepted, level, name, &value, &length);
    return value;
  };
  EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 30);
  EXPECT_GT(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 0);
}

// A client asks for a 16 MiB read with a tiny receive window and never reads. Others are
// served meanwhile; the stuck send gives up after its time-out, and stopping the server
// does not wait for it. A client that drops its connection mid-read costs the server
// nothing either. Each for generated blocks (sent from memory) and for a pressed disc's
// image (sent from the file, whose sendfile raises SIGPIPE at a dropped peer).
TEST(IscsiHostile, AClientThatStopsReadingHoldsNeitherASlotNorTheStop) {
  char path[] = "/tmp/zorvane-hostile-image-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, (16 << 20) + 2048), 0);
  close(fd);
  auto stuck_read = [](std::uint16_t port) {
    auto stuck = std::make_unique<Initiator>(port, 4096);
    EXPECT_FALSE(stuck->Login().empty());
    std::uint8_t h[48];
    stuck->CommandHeader(h, Read10(0, 8192), 0xC0, 16 << 20, 7);
    stuck->SendPdu(h);
    pollfd answer{stuck->fd(), POLLIN, 0};
    EXPECT_EQ(poll(&answer, 1, 30000), 1);  // the read is done and its data on its way
    return stuck;
  };
  for (const std::string& spec : {std::string("dvdrom"), std::string("dvdrom,image=") + path}) {
    SCOPED_TRACE(spec);
    {
      ServerOptions options = TestOptions();
      options.send_timeout_ms = 500;
      ServedDrive served(spec, {}, options);
      const auto stuck = stuck_read(served.port());
      Initiator other(served.port());
      ASSERT_FALSE(other.Login().empty());
      EXPECT_EQ(other.Command(Inquiry(36), 36).status, 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      std::vector<Received> before;
      EXPECT_TRUE(stuck->ClosedWithin(3000, &before));
      for (const Received& pdu : before) EXPECT_EQ(pdu.flags() & 0x01, 0) << "the read completed";
      // Gone as soon as its read is sent: the server's sends of its long PDUs meet a closed
      // peer.
      for (int i = 0; i < 5; ++i) {
        Initiator gone(served.port());
        ASSERT_FALSE(gone.Login({{"MaxRecvDataSegmentLength", "262144"}}).empty());
        std::uint8_t h[48];
        gone.CommandHeader(h, Read10(0, 8192), 0xC0, 16 << 20, 7);
        gone.SendPdu(h);
        gone.Drop();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      EXPECT_EQ(other.Command(Inquiry(36), 36).status, 0);
    }
    ServerOptions options = TestOptions();
    options.send_timeout_ms = 60000;
    auto served = std::make_unique<ServedDrive>(spec, TargetSettings{}, options);
    const auto stuck = stuck_read(served->port());
    auto stopped = std::async(std::launch::async, [&] { served.reset(); });
    const bool in_time = stopped.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    stuck->Drop();  // lets a server that waited for the client end all the same
    stopped.wait();
    EXPECT_TRUE(in_time);
  }
  unlink(path);
}

}  // namespace
}  // namespace zorvane::vdrive::server::test
