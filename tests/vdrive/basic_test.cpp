// Identity, readiness, tray, locking, events and injected faults.
#include <gtest/gtest.h>

#include <cerrno>

#include "tests/vdrive/vdrive_test_support.h"

namespace zorvane::vdrive {
namespace {

using test::Answer;
using test::Be16;
using test::Be24;
using test::Ready;
using test::Send;
using test::Start;

const std::vector<std::uint8_t> kTur = {0x00};
const std::vector<std::uint8_t> kEject = {0x1B, 0, 0, 0, 0x02, 0};
const std::vector<std::uint8_t> kLoad = {0x1B, 0, 0, 0, 0x03, 0};
const std::vector<std::uint8_t> kPrevent = {0x1E, 0, 0, 0, 0x01, 0};
const std::vector<std::uint8_t> kAllow = {0x1E, 0, 0, 0, 0x00, 0};
const std::vector<std::uint8_t> kInquiry = {0x12, 0, 0, 0, 0xFF, 0};

std::string Text(const std::vector<std::uint8_t>& data, std::size_t at, std::size_t size) {
  return std::string(data.begin() + static_cast<long>(at),
                     data.begin() + static_cast<long>(at + size));
}

TEST(DriveBasicsTest, InquiryIdentifiesAPaddedCdDvdDevice) {
  auto drive = Start("nodisc");
  const Answer answer = Send(*drive, kInquiry);
  ASSERT_EQ(answer.sense, kGood);
  ASSERT_EQ(answer.data.size(), 36U);
  EXPECT_EQ(answer.data[0], 0x05);
  EXPECT_EQ(answer.data[1], 0x80);
  EXPECT_EQ(answer.data[4], 31);
  EXPECT_EQ(Text(answer.data, 8, 28), "ZORVANE VIRTUAL DVD-RW  1.00");
  // The allocation length cuts the answer.
  EXPECT_EQ(Send(*drive, {0x12, 0, 0, 0, 5, 0}).data.size(), 5U);
  EXPECT_EQ(Send(*drive, {0x12, 0, 0x80, 0, 0xFF, 0}).sense, kInvalidField);  // page without EVPD
  EXPECT_EQ(Send(*drive, {0x12, 1, 0x81, 0, 0xFF, 0}).sense, kInvalidField);
}

TEST(DriveBasicsTest, IdentityAndSerialKeys) {
  auto drive = Start("cdrom,vendor=PLEXTOR,product=DVDR PX-716A,revision=1.11,serial=ABC123");
  const Answer inquiry = Send(*drive, kInquiry);
  EXPECT_EQ(Text(inquiry.data, 8, 28), "PLEXTOR DVDR PX-716A    1.11");
  const Answer serial = Send(*drive, {0x12, 1, 0x80, 0, 0xFF, 0});
  ASSERT_EQ(serial.sense, kGood);
  EXPECT_EQ(serial.data[1], 0x80);
  EXPECT_EQ(Text(serial.data, 4, serial.data[3]), "ABC123");
  const Answer pages = Send(*drive, {0x12, 1, 0x00, 0, 0xFF, 0});
  EXPECT_EQ(pages.data, (std::vector<std::uint8_t>{0x05, 0x00, 0x00, 0x03, 0x00, 0x80, 0x83}));
  // Device identification: a T10 vendor identification of the logical unit, in ASCII.
  const Answer id = Send(*drive, {0x12, 1, 0x83, 0, 0xFF, 0});
  ASSERT_EQ(id.sense, kGood);
  ASSERT_EQ(id.data.size(), 4U + id.data[3]);
  EXPECT_EQ(id.data[4], 0x02);  // code set ASCII
  EXPECT_EQ(id.data[5], 0x01);  // logical unit, T10 vendor identification
  EXPECT_EQ(Text(id.data, 8, id.data[7]), "PLEXTOR DVDR PX-716A ABC123");
  bool found = false;
  for (const auto& [code, feature] : test::Features(*drive)) {
    if (code != 0x0108) continue;
    found = true;
    EXPECT_EQ(std::string(feature.data.begin(), feature.data.end()), "ABC123  ");
  }
  EXPECT_TRUE(found);
}

TEST(DriveBasicsTest, NoMediumAnswersWithTheTrayState) {
  auto closed = Start("nodisc");
  EXPECT_EQ(Send(*closed, kTur, 0).sense, kNoMediumTrayClosed);
  EXPECT_EQ(Send(*closed, test::Read10(0, 1)).sense, kNoMediumTrayClosed);
  auto open = Start("open");
  EXPECT_EQ(Send(*open, kTur, 0).sense, kNoMediumTrayOpen);
  EXPECT_EQ(Send(*open, test::ReadToc(0, false)).sense, kNoMediumTrayOpen);
  // Closing the empty tray leaves a drive without a disc.
  EXPECT_EQ(Send(*open, kLoad, 0).sense, kGood);
  EXPECT_EQ(Send(*open, kTur, 0).sense, kNoMediumTrayClosed);
  // INQUIRY and GET CONFIGURATION need no medium.
  EXPECT_EQ(Send(*open, kInquiry).sense, kGood);
  EXPECT_EQ(test::CurrentProfile(*open), 0);
}

TEST(DriveBasicsTest, EjectAndReloadKeepTheDisc) {
  auto drive = Ready("cdrom");
  EXPECT_EQ(Send(*drive, kTur, 0).sense, kGood);
  EXPECT_EQ(Send(*drive, kEject, 0).sense, kGood);
  EXPECT_EQ(Send(*drive, kTur, 0).sense, kNoMediumTrayOpen);
  EXPECT_EQ(test::MediumType(*drive), 0x71);
  EXPECT_EQ(Send(*drive, kEject, 0).sense, kGood);  // already open
  EXPECT_EQ(Send(*drive, kLoad, 0).sense, kGood);
  EXPECT_EQ(Send(*drive, kTur, 0).sense, kGood);
  EXPECT_EQ(test::MediumType(*drive), 0x01);
  // Spinning up without a disc is refused; power conditions are accepted.
  auto empty = Start("nodisc");
  EXPECT_EQ(Send(*empty, {0x1B, 0, 0, 0, 0x01, 0}, 0).sense, kNoMediumTrayClosed);
  EXPECT_EQ(Send(*empty, {0x1B, 0, 0, 0, 0x30, 0}, 0).sense, kGood);
}

TEST(DriveBasicsTest, PreventedRemovalRefusesTheEject) {
  auto drive = Ready("dvdrom");
  EXPECT_EQ(Send(*drive, kPrevent, 0).sense, kGood);
  EXPECT_EQ(Send(*drive, kEject, 0).sense, kRemovalPrevented);
  EXPECT_EQ(Send(*drive, kTur, 0).sense, kGood);
  const Answer mode = Send(*drive, test::ModeSense10(0x2A));
  EXPECT_EQ(mode.data[8 + 6] & 0x02, 0x02);  // lock state
  EXPECT_EQ(Send(*drive, kAllow, 0).sense, kGood);
  EXPECT_EQ(Send(*drive, kEject, 0).sense, kGood);
}

// A command from one initiator's I_T nexus of a served drive.
Sense From(Drive& drive, const std::string& nexus, std::vector<std::uint8_t> cdb) {
  cdb.resize(test::CdbLengthOf(cdb[0]));
  const Reply reply =
      drive.Execute(cdb.data(), cdb.size(), Direction::kNone, nullptr, 0, {}, nexus);
  EXPECT_NE(reply.status, Status::kTransportFailure);
  return reply.Code();
}

TEST(DriveBasicsTest, EachNexusHasItsOwnUnitAttentionAndPrevention) {
  auto drive = Ready("cdrom");
  const std::string a = "iqn.test:a,i,0x000000000001";
  const std::string b = "iqn.test:b,i,0x000000000002";
  drive->Nexus(a, NexusEvent::kLogin);
  drive->Nexus(b, NexusEvent::kLogin);
  // Power on for each nexus in turn; the in-process host sees nothing.
  EXPECT_EQ(From(*drive, a, kTur), kPowerOnOccurred);
  EXPECT_EQ(From(*drive, a, kTur), kGood);
  EXPECT_EQ(Send(*drive, kTur, 0).sense, kGood);
  const std::uint8_t request_sense[6] = {0x03, 0, 0, 0, 18, 0};
  std::uint8_t sense[18] = {};
  drive->Execute(request_sense, 6, Direction::kIn, sense, sizeof sense, {}, b);
  EXPECT_EQ((sense[2] << 16 | sense[12] << 8 | sense[13]), kPowerOnOccurred);
  EXPECT_EQ(From(*drive, b, kTur), kGood);  // REQUEST SENSE cleared it
  // A medium change is a unit attention for every nexus of a served drive.
  EXPECT_EQ(From(*drive, a, kEject), kGood);
  EXPECT_EQ(From(*drive, a, kLoad), kGood);
  EXPECT_EQ(From(*drive, b, kTur), kMediumChanged);
  EXPECT_EQ(From(*drive, a, kTur), kMediumChanged);
  EXPECT_EQ(From(*drive, a, kTur), kGood);
  // A prevention belongs to its nexus and ends when the nexus is lost.
  EXPECT_EQ(From(*drive, a, kPrevent), kGood);
  EXPECT_EQ(From(*drive, b, kEject), kRemovalPrevented);
  EXPECT_EQ(From(*drive, b, kAllow), kGood);  // b's allow does not lift a's prevent
  EXPECT_EQ(From(*drive, b, kEject), kRemovalPrevented);
  drive->Nexus(a, NexusEvent::kLoss);
  EXPECT_EQ(From(*drive, b, kEject), kGood);
  EXPECT_EQ(From(*drive, b, kLoad), kGood);
  drive->Nexus(a, NexusEvent::kLogin);  // back after the loss: 29/07, which outranks 28/00
  EXPECT_EQ(From(*drive, a, kTur), kNexusLossOccurred);
  EXPECT_EQ(From(*drive, a, kTur), kGood);
  EXPECT_EQ(From(*drive, b, kTur), kMediumChanged);
  // A session reinstated over one still open: the old connection's end, which comes after
  // the new login, leaves the new session's prevention in place.
  EXPECT_EQ(From(*drive, a, kPrevent), kGood);
  drive->Nexus(a, NexusEvent::kLogin);
  EXPECT_EQ(From(*drive, a, kTur), kNexusLossOccurred);
  EXPECT_EQ(From(*drive, a, kPrevent), kGood);
  drive->Nexus(a, NexusEvent::kLoss);
  EXPECT_EQ(From(*drive, b, kEject), kRemovalPrevented);
  EXPECT_EQ(From(*drive, a, kAllow), kGood);
  // A LUN reset or target reset ends every prevention and reaches every nexus once.
  for (const NexusEvent reset : {NexusEvent::kLunReset, NexusEvent::kTargetReset}) {
    EXPECT_EQ(From(*drive, b, kPrevent), kGood);
    drive->Nexus(a, reset);
    EXPECT_EQ(From(*drive, a, kEject), kDeviceResetOccurred);
    EXPECT_EQ(From(*drive, a, kEject), kGood);
    EXPECT_EQ(From(*drive, a, kLoad), kGood);
    EXPECT_EQ(From(*drive, b, kTur), kDeviceResetOccurred);
    EXPECT_EQ(From(*drive, b, kTur), kGood);
    EXPECT_EQ(From(*drive, a, kTur), kMediumChanged);
  }
  EXPECT_EQ(Send(*drive, kTur, 0).sense, kGood);  // the attention key alone reaches the host
}

TEST(DriveBasicsTest, ReadyKeyAnswersBecomingReadyForNCommandsAfterEachLoad) {
  for (int n : {0, 1, 3}) {
    auto drive = Start("cdrom,ready=" + std::to_string(n));
    // INQUIRY is answered at once and does not count.
    EXPECT_EQ(Send(*drive, kInquiry).sense, kGood);
    for (int i = 0; i < n; ++i) EXPECT_EQ(Send(*drive, kTur, 0).sense, kBecomingReady) << n;
    EXPECT_EQ(Send(*drive, kTur, 0).sense, kGood) << n;
  }
  auto drive = Start("cdrom,ready=2");
  EXPECT_EQ(Send(*drive, test::Read10(0, 1)).sense, kBecomingReady);
  const Answer sense = Send(*drive, {0x03, 0, 0, 0, 18, 0});
  EXPECT_EQ(sense.data[2], 0x02);  // REQUEST SENSE reports the state and counts it down
  EXPECT_EQ(sense.data[12], 0x04);
  EXPECT_EQ(sense.data[13], 0x01);
  EXPECT_EQ(Send(*drive, kTur, 0).sense, kGood);
  Send(*drive, kEject, 0);
  Send(*drive, kLoad, 0);
  EXPECT_EQ(Send(*drive, kTur, 0).sense, kBecomingReady);  // again after the reload
}

TEST(DriveBasicsTest, RequestSenseReportsReadinessBeforeAttentionAsTestUnitReadyDoes) {
  for (const bool by_request_sense : {false, true}) {
    auto drive = Start("cdrom,ready=2,attention");
    std::vector<Sense> seen;
    for (int i = 0; i < 4; ++i) {
      if (by_request_sense) {
        const Answer sense = Send(*drive, {0x03, 0, 0, 0, 18, 0});
        seen.push_back(static_cast<Sense>(sense.data[2]) << 16 | sense.data[12] << 8 |
                       sense.data[13]);
      } else {
        seen.push_back(Send(*drive, kTur, 0).sense);
      }
    }
    EXPECT_EQ(seen, (std::vector<Sense>{kBecomingReady, kBecomingReady, kMediumChanged, kGood}))
        << (by_request_sense ? "REQUEST SENSE" : "TEST UNIT READY");
  }
}

TEST(DriveBasicsTest, NacaInTheControlByteIsRefused) {
  auto drive = Ready("cdrom");
  EXPECT_EQ(Send(*drive, {0x00, 0, 0, 0, 0, 0x04}, 0).sense, kInvalidField);
  EXPECT_EQ(Send(*drive, {0x12, 0, 0, 0, 36, 0x04}).sense, kInvalidField);
  EXPECT_EQ(Send(*drive, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0x04}).sense, kInvalidField);
  EXPECT_EQ(Send(*drive, {0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0x10, 0, 0x04}).sense, kInvalidField);
  // The other vendor-specific and flag bits of the control byte are left alone.
  EXPECT_EQ(Send(*drive, {0x00, 0, 0, 0, 0, 0x01}, 0).sense, kGood);
  EXPECT_EQ(Send(*drive, test::Read10(0, 1)).sense, kGood);
}

TEST(DriveBasicsTest, AttentionKeyReportsOneMediumChangeAfterALoad) {
  auto plain = Start("cdrom");
  EXPECT_EQ(Send(*plain, kTur, 0).sense, kGood);
  auto drive = Start("cdrom,attention,ready=1");
  EXPECT_EQ(Send(*drive, kInquiry).sense, kGood);  // INQUIRY never reports it
  EXPECT_EQ(Send(*drive, kTur, 0).sense, kBecomingReady);
  EXPECT_EQ(Send(*drive, test::Capacity(), 8).sense, kMediumChanged);
  EXPECT_EQ(Send(*drive, test::Capacity(), 8).sense, kGood);
  Send(*drive, kEject, 0);
  Send(*drive, kLoad, 0);
  Send(*drive, kTur, 0);  // becoming ready
  const Answer sense = Send(*drive, {0x03, 0, 0, 0, 18, 0});
  EXPECT_EQ(sense.data[2], 0x06);  // REQUEST SENSE reports and clears it
  EXPECT_EQ(sense.data[12], 0x28);
  EXPECT_EQ(Send(*drive, kTur, 0).sense, kGood);
}

TEST(DriveBasicsTest, EventStatusReportsNewMediaOnceAndTheTray) {
  auto drive = Ready("cdrom");
  const std::vector<std::uint8_t> poll = {0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8, 0};
  Answer event = Send(*drive, poll);
  ASSERT_EQ(event.sense, kGood);
  ASSERT_EQ(event.data.size(), 8U);
  EXPECT_EQ(Be16(event.data, 0), 6U);
  EXPECT_EQ(event.data[2], 0x04);  // media class
  EXPECT_EQ(event.data[3], 0x10);  // supported: media
  EXPECT_EQ(event.data[4], 0x02);  // new media
  EXPECT_EQ(event.data[5], 0x02);  // media present, tray closed
  event = Send(*drive, poll);
  EXPECT_EQ(event.data[4], 0x00);
  Send(*drive, kEject, 0);
  event = Send(*drive, poll);
  EXPECT_EQ(event.data[4], 0x03);  // media removal
  EXPECT_EQ(event.data[5], 0x01);  // tray open, no media present
  EXPECT_EQ(Send(*drive, {0x4A, 0x00, 0, 0, 0x10, 0, 0, 0, 8, 0}).sense, kInvalidField);
  event = Send(*drive, {0x4A, 0x01, 0, 0, 0x02, 0, 0, 0, 8, 0});
  EXPECT_EQ(event.data[2], 0x80);  // no event of the classes asked for
}

TEST(DriveBasicsTest, MechanismStatusAndBufferCapacity) {
  auto drive = Ready("dvdrom");
  Send(*drive, test::Read10(1000, 1));
  Answer status = Send(*drive, {0xBD, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0});
  ASSERT_EQ(status.data.size(), 8U);
  EXPECT_EQ(status.data[1] & 0x10, 0);
  EXPECT_EQ(Be24(status.data, 2), 1000U);
  Send(*drive, kEject, 0);
  status = Send(*drive, {0xBD, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0});
  EXPECT_EQ(status.data[1] & 0x10, 0x10);
  const Answer bytes = Send(*drive, {0x5C, 0, 0, 0, 0, 0, 0, 0, 12, 0});
  EXPECT_EQ(test::Be32(bytes.data, 4), 2U * 1024 * 1024);
  EXPECT_EQ(test::Be32(bytes.data, 8), 2U * 1024 * 1024);
  const Answer blocks = Send(*drive, {0x5C, 1, 0, 0, 0, 0, 0, 0, 12, 0});
  EXPECT_EQ(blocks.data[3] & 1, 1);
  EXPECT_EQ(test::Be32(blocks.data, 8), 1024U);
}

TEST(DriveBasicsTest, UnsupportedOpcodesAndShortCdbs) {
  auto drive = Ready("cdrom");
  for (const std::uint8_t opcode : {0x01, 0x08, 0x0A, 0xA3, 0xFF}) {
    EXPECT_EQ(Send(*drive, {opcode}).sense, kInvalidOpcode) << int(opcode);
  }
  std::uint8_t cdb[6] = {0x28, 0, 0, 0, 0, 0};  // READ(10) cut to six bytes
  EXPECT_EQ(drive->Execute(cdb, 6, Direction::kNone, nullptr, 0).Code(), kInvalidField);
  EXPECT_EQ(drive->Execute(nullptr, 6, Direction::kNone, nullptr, 0).status,
            Status::kTransportFailure);
}

TEST(DriveBasicsTest, FaultKeyAnswersTheSenseForTheOpcodeLbaAndCount) {
  auto drive = Ready("cdrom,fault=28@100:031100x2,fault=25:020401x1,fault=43:052400");
  EXPECT_EQ(Send(*drive, test::Read10(0, 50)).sense, kGood);  // does not touch 100
  Answer answer = Send(*drive, test::Read10(90, 20));
  EXPECT_EQ(answer.sense, 0x031100U);
  EXPECT_EQ(Send(*drive, test::Read10(100, 1)).sense, 0x031100U);
  EXPECT_EQ(Send(*drive, test::Read10(100, 1)).sense, kGood);  // the count is used up
  EXPECT_EQ(Send(*drive, test::Capacity(), 8).sense, kBecomingReady);
  EXPECT_EQ(Send(*drive, test::Capacity(), 8).sense, kGood);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Send(*drive, test::ReadToc(0, false)).sense, kInvalidField);
}

TEST(DriveBasicsTest, FailKeyMakesTheRequestItselfFail) {
  auto drive = Ready("cdrom,fail=28x2,fail=43");
  for (int i = 0; i < 2; ++i) {
    const Answer answer = Send(*drive, test::Read10(0, 1));
    EXPECT_EQ(answer.status, Status::kTransportFailure);
    EXPECT_EQ(answer.reply.system_error, EIO);
  }
  EXPECT_EQ(Send(*drive, test::Read10(0, 1)).status, Status::kGood);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Send(*drive, test::ReadToc(0, false)).status, Status::kTransportFailure);
  }
}

TEST(DriveBasicsTest, RealTimeTakesTheTimeOfTheTransferAtTheReadSpeed) {
  std::vector<std::chrono::microseconds> waits;
  auto real = Ready("dvdrom,time=real");
  real->SetSleeper([&](std::chrono::microseconds d) { waits.push_back(d); });
  Send(*real, test::Read10(0, 16));  // 32 KiB at 16x (22,160 kB/s)
  ASSERT_EQ(waits.size(), 1U);
  EXPECT_EQ(waits[0].count(), 32768LL * 1000 / 22160);
  // Slower after SET CD SPEED: 4x = 5,540 kB/s.
  Send(*real, {0xBB, 0, 0x15, 0xA4, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, 0);
  Send(*real, test::Read10(0, 16));
  ASSERT_EQ(waits.size(), 2U);
  EXPECT_EQ(waits[1].count(), 32768LL * 1000 / 5540);
  auto instant = Ready("dvdrom");
  instant->SetSleeper([&](std::chrono::microseconds d) { waits.push_back(d); });
  Send(*instant, test::Read10(0, 16));
  EXPECT_EQ(waits.size(), 2U);  // instant by default: no wait at all
}

}  // namespace
}  // namespace zorvane::vdrive
