#include "tests/vdrive/vdrive_test_support.h"

#include <algorithm>

namespace zorvane::vdrive::test {

std::size_t CdbLengthOf(std::uint8_t opcode) {
  if (opcode < 0x20) return 6;
  if ((opcode >= 0xA0 && opcode <= 0xBF) || (opcode >= 0xD0 && opcode <= 0xDF)) return 12;
  return 10;
}

Answer Send(Drive& drive, std::vector<std::uint8_t> cdb, std::size_t length) {
  const std::size_t cdb_length = CdbLengthOf(cdb[0]);
  cdb.resize(16, 0);
  std::vector<std::uint8_t> buffer(length, 0xEE);
  Answer answer;
  answer.reply =
      drive.Execute(cdb.data(), cdb_length, length > 0 ? Direction::kIn : Direction::kNone,
                    length > 0 ? buffer.data() : nullptr, length);
  answer.status = answer.reply.status;
  answer.sense = answer.reply.Code();
  buffer.resize(answer.reply.transferred);
  answer.data = std::move(buffer);
  return answer;
}

Answer SendOut(Drive& drive, std::vector<std::uint8_t> cdb, std::vector<std::uint8_t> data) {
  const std::size_t cdb_length = CdbLengthOf(cdb[0]);
  cdb.resize(16, 0);
  Answer answer;
  answer.reply = drive.Execute(cdb.data(), cdb_length, Direction::kOut, data.data(), data.size());
  answer.status = answer.reply.status;
  answer.sense = answer.reply.Code();
  return answer;
}

std::unique_ptr<Drive> Start(const std::string& spec) {
  std::string error;
  std::unique_ptr<Drive> drive = Drive::Create(spec, &error);
  EXPECT_NE(drive, nullptr) << spec << ": " << error;
  return drive;
}

std::unique_ptr<Drive> Ready(const std::string& spec) {
  std::unique_ptr<Drive> drive = Start(spec);
  if (!drive) return drive;
  for (int i = 0; i < 2000; ++i) {
    const Sense sense = Send(*drive, {0x00}, 0).sense;
    if (sense != kBecomingReady && sense != kMediumChanged) break;
  }
  return drive;
}

std::uint32_t Be16(const std::vector<std::uint8_t>& d, std::size_t at) {
  return at + 2 <= d.size() ? static_cast<std::uint32_t>(d[at] << 8 | d[at + 1]) : 0xDEADBEEF;
}
std::uint32_t Be24(const std::vector<std::uint8_t>& d, std::size_t at) {
  return at + 3 <= d.size() ? static_cast<std::uint32_t>(d[at] << 16 | d[at + 1] << 8 | d[at + 2])
                            : 0xDEADBEEF;
}
std::uint32_t Be32(const std::vector<std::uint8_t>& d, std::size_t at) {
  return at + 4 <= d.size() ? (static_cast<std::uint32_t>(d[at]) << 24 | Be24(d, at + 1))
                            : 0xDEADBEEF;
}

namespace {
void PutBe(std::vector<std::uint8_t>& cdb, std::size_t at, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    cdb[at + static_cast<std::size_t>(i)] =
        static_cast<std::uint8_t>(value >> (8 * (bytes - 1 - i)));
  }
}
}  // namespace

std::vector<std::uint8_t> Read10(std::uint32_t lba, std::uint16_t count) {
  std::vector<std::uint8_t> cdb(10, 0);
  cdb[0] = 0x28;
  PutBe(cdb, 2, lba, 4);
  PutBe(cdb, 7, count, 2);
  return cdb;
}

std::vector<std::uint8_t> Read12(std::uint32_t lba, std::uint32_t count) {
  std::vector<std::uint8_t> cdb(12, 0);
  cdb[0] = 0xA8;
  PutBe(cdb, 2, lba, 4);
  PutBe(cdb, 6, count, 4);
  return cdb;
}

std::vector<std::uint8_t> ReadCd(std::uint32_t lba, std::uint32_t count, std::uint8_t type,
                                 std::uint8_t fields, std::uint8_t subchannel) {
  std::vector<std::uint8_t> cdb(12, 0);
  cdb[0] = 0xBE;
  cdb[1] = static_cast<std::uint8_t>(type << 2);
  PutBe(cdb, 2, lba, 4);
  PutBe(cdb, 6, count, 3);
  cdb[9] = fields;
  cdb[10] = subchannel;
  return cdb;
}

bool QCrcHolds(const std::uint8_t* q) {
  // Bit by bit over all 96 bits with the stored remainder inverted back: nothing remains.
  std::uint32_t crc = 0;
  for (int bit = 0; bit < 96; ++bit) {
    int value = (q[bit / 8] >> (7 - bit % 8)) & 1;
    if (bit >= 80) value ^= 1;
    const bool top = ((crc >> 15) & 1) != static_cast<std::uint32_t>(value);
    crc = ((crc << 1) & 0xFFFF) ^ (top ? 0x1021 : 0);
  }
  return crc == 0;
}

std::vector<std::uint8_t> Write10(std::uint32_t lba, std::uint16_t count) {
  std::vector<std::uint8_t> cdb = Read10(lba, count);
  cdb[0] = 0x2A;
  return cdb;
}

std::vector<std::uint8_t> Close(std::uint8_t function, std::uint16_t number, bool immed) {
  std::vector<std::uint8_t> cdb(10, 0);
  cdb[0] = 0x5B;
  cdb[1] = immed ? 0x01 : 0x00;
  cdb[2] = function;
  PutBe(cdb, 4, number, 2);
  return cdb;
}

std::vector<std::uint8_t> Reserve(std::uint32_t blocks) {
  std::vector<std::uint8_t> cdb(10, 0);
  cdb[0] = 0x53;
  PutBe(cdb, 5, blocks, 4);
  return cdb;
}

std::vector<std::uint8_t> Blank(std::uint8_t type, bool immed) {
  std::vector<std::uint8_t> cdb(12, 0);
  cdb[0] = 0xA1;
  cdb[1] = static_cast<std::uint8_t>((immed ? 0x10 : 0x00) | type);
  return cdb;
}

Answer SelectWrite(Drive& drive, const WriteSetup& setup) {
  std::vector<std::uint8_t> list(8 + 52, 0);
  std::uint8_t* page = &list[8];
  page[0] = 0x05;
  page[1] = 0x32;
  page[2] = static_cast<std::uint8_t>((setup.test_write ? 0x10 : 0x00) | setup.write_type);
  page[3] = static_cast<std::uint8_t>(setup.multi_session << 6 | setup.track_mode);
  page[4] = setup.block_type;
  page[8] = setup.session_format;
  page[15] = 150;  // audio pause
  return SendOut(drive, {0x55, 0x10, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(list.size()), 0},
                 list);
}

Sense WriteAll(Drive& drive, std::uint32_t lba, const std::vector<std::uint8_t>& data,
               std::size_t block_size, std::uint16_t per_command) {
  const std::size_t blocks = data.size() / block_size;
  for (std::size_t done = 0; done < blocks;) {
    const auto n = static_cast<std::uint16_t>(std::min<std::size_t>(per_command, blocks - done));
    const auto* from = data.data() + done * block_size;
    const Answer answer =
        SendOut(drive, Write10(lba + static_cast<std::uint32_t>(done), n),
                std::vector<std::uint8_t>(from, from + static_cast<std::size_t>(n) * block_size));
    if (answer.sense != kGood) return answer.sense;
    done += n;
  }
  return kGood;
}

Answer Format(Drive& drive, std::uint8_t type, std::uint32_t blocks, bool immed,
              std::uint32_t parameter) {
  std::vector<std::uint8_t> list(12, 0);
  list[1] = immed ? 0x02 : 0x00;
  list[3] = 8;
  PutBe(list, 4, blocks, 4);
  list[8] = static_cast<std::uint8_t>(type << 2);
  PutBe(list, 9, parameter, 3);
  return SendOut(drive, {0x04, 0x11, 0, 0, 0, 0}, list);
}

std::vector<std::uint8_t> Pattern(std::size_t blocks, std::size_t block_size, std::uint32_t seed) {
  std::vector<std::uint8_t> data(blocks * block_size);
  std::uint32_t x = seed * 2654435761U + 1;
  for (std::uint8_t& byte : data) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<std::uint8_t>(x);
  }
  return data;
}

Writable Invisible(Drive& drive) {
  const Answer answer = Send(drive, TrackInfo(1, 0xFF));
  Writable w;
  w.sense = answer.sense;
  if (answer.sense != kGood || answer.data.size() < 28) return w;
  w.track = answer.data[2];
  w.session = answer.data[3];
  w.blank = (answer.data[6] & 0x40) != 0;
  w.next = (answer.data[7] & 0x01) != 0 ? Be32(answer.data, 12) : 0xFFFFFFFF;
  w.free = Be32(answer.data, 16);
  return w;
}

DiscState Disc(Drive& drive) {
  const Answer answer = Send(drive, DiscInfo());
  DiscState state;
  if (answer.sense != kGood || answer.data.size() < 34) return state;
  state.status = answer.data[2] & 0x03;
  state.session_state = (answer.data[2] >> 2) & 0x03;
  state.sessions = answer.data[4] | answer.data[9] << 8;
  state.background = answer.data[7] & 0x03;
  return state;
}

std::vector<Sense> WaitReady(Drive& drive, int limit) {
  std::vector<Sense> seen;
  for (int i = 0; i < limit; ++i) {
    const Sense sense = Send(drive, {0x00}, 0).sense;
    if (sense == kGood) break;
    seen.push_back(sense);
  }
  return seen;
}

std::vector<std::uint8_t> ReadToc(std::uint8_t format, bool msf, std::uint8_t number) {
  return {0x43, static_cast<std::uint8_t>(msf ? 0x02 : 0x00), format, 0, 0, 0, number, 0xFF, 0xFF,
          0};
}

std::vector<std::uint8_t> TrackInfo(std::uint8_t type, std::uint32_t value) {
  std::vector<std::uint8_t> cdb(10, 0);
  cdb[0] = 0x52;
  cdb[1] = type;
  PutBe(cdb, 2, value, 4);
  PutBe(cdb, 7, 0xFFFF, 2);
  return cdb;
}

std::vector<std::uint8_t> DiscInfo() {
  return {0x51, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0};
}

std::vector<std::uint8_t> Capacity() {
  return {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
}

std::vector<std::uint8_t> FormatCapacities() {
  return {0x23, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0};
}

std::vector<std::uint8_t> ModeSense10(std::uint8_t page, std::uint8_t control, bool dbd) {
  return {0x5A,
          static_cast<std::uint8_t>(dbd ? 0x08 : 0x00),
          static_cast<std::uint8_t>(control << 6 | page),
          0,
          0,
          0,
          0,
          0xFF,
          0xFF,
          0};
}

std::vector<std::uint8_t> Configuration(std::uint8_t rt, std::uint16_t first) {
  return {0x46,
          rt,
          static_cast<std::uint8_t>(first >> 8),
          static_cast<std::uint8_t>(first),
          0,
          0,
          0,
          0xFF,
          0xFF,
          0};
}

std::vector<std::uint8_t> DiscStructure(std::uint8_t format, std::uint8_t layer,
                                        std::uint8_t media) {
  return {0xAD, media, 0, 0, 0, 0, layer, format, 0xFF, 0xFF, 0, 0};
}

std::uint32_t BitwiseEdc(const std::uint8_t* data, std::size_t size) {
  // x^32 + x^31 + x^16 + x^15 + x^4 + x^3 + x + 1, shifted in least significant bit first.
  constexpr std::uint32_t kReflected = 0xD8018001;
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < size; ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      const std::uint32_t in = (data[i] >> bit) & 1U;
      const std::uint32_t out = crc & 1U;
      crc >>= 1;
      if ((in ^ out) != 0) crc ^= kReflected;
    }
  }
  return crc;
}

std::uint8_t MediumType(Drive& drive) {
  const Answer answer = Send(drive, ModeSense10(0x2A));
  EXPECT_EQ(answer.sense, kGood);
  return answer.data.size() > 2 ? answer.data[2] : 0xEE;
}

std::uint16_t CurrentProfile(Drive& drive) {
  const Answer answer = Send(drive, Configuration(1));
  EXPECT_EQ(answer.sense, kGood);
  return static_cast<std::uint16_t>(Be16(answer.data, 6));
}

std::vector<std::pair<std::uint16_t, FeatureView>> Features(Drive& drive, std::uint8_t rt) {
  const Answer answer = Send(drive, Configuration(rt));
  std::vector<std::pair<std::uint16_t, FeatureView>> features;
  const std::size_t end = std::min<std::size_t>(answer.data.size(), 4 + Be32(answer.data, 0));
  std::size_t at = 8;
  while (at + 4 <= end) {
    FeatureView view;
    view.current = (answer.data[at + 2] & 0x01) != 0;
    view.version = static_cast<std::uint8_t>(answer.data[at + 2] >> 2);
    const std::size_t length = answer.data[at + 3];
    if (at + 4 + length > end) break;
    view.data.assign(answer.data.begin() + static_cast<long>(at + 4),
                     answer.data.begin() + static_cast<long>(at + 4 + length));
    features.emplace_back(static_cast<std::uint16_t>(Be16(answer.data, at)), view);
    at += 4 + length;
  }
  return features;
}

}  // namespace zorvane::vdrive::test
