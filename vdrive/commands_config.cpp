// GET CONFIGURATION (profiles and features following the loaded medium), GET PERFORMANCE,
// SET CD SPEED and SET STREAMING.
#include <algorithm>

#include "vdrive/bytes.h"
#include "vdrive/drive.h"

namespace zorvane::vdrive {

namespace {

struct Feature {
  std::uint16_t code;
  std::uint8_t version;
  bool persistent;
  bool current;
  std::vector<std::uint8_t> data;
};

// The profiles this drive knows, highest number first.
constexpr std::uint16_t kProfiles[] = {0x50, 0x40, 0x2B, 0x1B, 0x1A, 0x15, 0x14,
                                       0x13, 0x12, 0x11, 0x10, 0x0A, 0x09, 0x08};

// Data block types 0-3, 8 and 10-13 as the bit mask of the write features.
constexpr std::uint16_t kDataTypeMask = 0x3D0F;

bool In(std::uint16_t profile, std::initializer_list<std::uint16_t> set) {
  return std::find(set.begin(), set.end(), profile) != set.end();
}

}  // namespace

Sense Drive::GetConfiguration(Command& c) {
  const std::uint8_t request = c.cdb[1] & 0x03;
  if (request == 3) return kInvalidField;
  // QEMU's drive takes no starting feature: its answer always begins with the profile list.
  const std::uint16_t first =
      spec_.quirks.ignore_start ? 0 : static_cast<std::uint16_t>(Get16(c.cdb + 2));
  c.allocation = Get16(c.cdb + 7);

  // Until the disc is identified (while TEST UNIT READY answers 02/04/01) no profile is
  // current and nothing of the medium is.
  const bool identified = Loaded() && becoming_ready_ == 0;
  const std::uint16_t p = identified ? medium_.profile : 0;
  const bool cd = In(p, {0x08, 0x09, 0x0A});
  const bool dvd = p >= 0x10 && p <= 0x2B;
  const bool mrw = identified && medium_.mrw;
  const bool readable = identified && ReadableBlocks(medium_) > 0;
  const std::uint8_t blocking = cd ? 1 : dvd ? 16 : p != 0 ? 32 : 16;

  std::vector<Feature> features;
  std::vector<std::uint8_t> profiles;
  for (const std::uint16_t profile : kProfiles) {
    Append16(profiles, profile);
    Append8(profiles, profile == p ? 0x01 : 0x00);
    Append8(profiles, 0);
  }
  features.push_back({0x0000, 0, true, true, profiles});
  features.push_back({0x0001, 2, true, true, {0x00, 0x00, 0x00, 0x02, 0x03, 0x00, 0x00, 0x00}});
  features.push_back({0x0002, 1, true, true, {0x02, 0x00, 0x00, 0x00}});
  features.push_back({0x0003, 0, true, true, {0x29, 0x00, 0x00, 0x00}});
  std::vector<std::uint8_t> random_read = {0x00, 0x00, 0x08, 0x00, 0x00, blocking, 0x01, 0x00};
  features.push_back({0x0010, 0, false, readable, random_read});
  features.push_back({0x001D, 0, false, cd, {}});
  features.push_back({0x001E,
                      2,
                      false,
                      cd,
                      {static_cast<std::uint8_t>(spec_.quirks.no_c2 ? 0x00 : 0x02), 0, 0, 0}});
  features.push_back({0x001F, 1, false, dvd, {0x01, 0x00, 0x01, 0x00}});
  const bool random_write = p == 0x12 || mrw;
  std::vector<std::uint8_t> random_writable(12, 0);
  if (random_write) Put32(&random_writable[0], static_cast<std::uint32_t>(medium_.capacity - 1));
  Put32(&random_writable[4], 2048);
  Put16(&random_writable[8], blocking);
  random_writable[10] = 0x01;
  features.push_back({0x0020, 1, false, random_write, random_writable});
  std::vector<std::uint8_t> incremental = {
      0, 0, 0x01, 0x01, dvd ? std::uint8_t{16} : std::uint8_t{7}, 0, 0, 0};
  Put16(&incremental[0], kDataTypeMask);
  // Packet writing is DVD-R/-RW only here: on CD the drive takes no packets.
  features.push_back({0x0021, 1, false, In(p, {0x11, 0x14, 0x15}), incremental});
  features.push_back({0x0023, 1, false, In(p, {0x0A, 0x12, 0x13, 0x14, 0x1A}), {0, 0, 0, 0}});
  features.push_back({0x0026, 0, false, p == 0x13, {}});
  features.push_back({0x0028, 1, false, mrw, {0x07, 0x00, 0x00, 0x00}});
  features.push_back({0x002A, 1, false, p == 0x1A, {0x01, 0x00, 0x00, 0x00}});
  features.push_back({0x002B, 0, false, p == 0x1B, {0x01, 0x00, 0x00, 0x00}});
  std::vector<std::uint8_t> track_at_once = {0x46, 0x00, 0x00, 0x00};
  Put16(&track_at_once[2], kDataTypeMask);
  const bool cd_write = In(p, {0x09, 0x0A}) && !mrw;
  // The test-write bit (byte 4 bit 2) of features 002Dh, 002Eh and 002Fh.
  const std::uint8_t test_write = spec_.quirks.no_test_write ? 0x00 : 0x04;
  track_at_once[0] = static_cast<std::uint8_t>(0x42 | test_write);
  features.push_back({0x002D, 2, false, cd_write, track_at_once});
  // CD Mastering: session at once from a cue sheet (BUF, SAO, test write, CD-RW, R-W: the
  // lead-in's R-W sub-channel from the host, i.e. CD-TEXT) with the longest sheet the drive
  // takes; no raw recording.
  std::vector<std::uint8_t> mastering = {static_cast<std::uint8_t>(0x63 | test_write), 0x00, 0x00,
                                         0x00};
  Put24(&mastering[1], kCueSheetBytes);
  features.push_back({0x002E, 0, false, cd_write, mastering});
  features.push_back({0x002F,
                      1,
                      false,
                      In(p, {0x11, 0x13, 0x14, 0x15}),
                      {static_cast<std::uint8_t>(0x4A | test_write), 0, 0, 0}});
  features.push_back({0x003B, 0, false, p == 0x2B, {0x01, 0x00, 0x00, 0x00}});
  std::vector<std::uint8_t> bd_read(28, 0);
  Put16(&bd_read[20], 0x0002);  // BD-ROM class 0, version 1
  features.push_back({0x0040, 1, false, p == 0x40, bd_read});
  features.push_back({0x0050, 0, false, p == 0x50, {0x00, 0x00, 0x00, 0x00}});
  features.push_back({0x0100, 0, true, true, {}});
  const std::uint8_t streaming = spec_.quirks.no_performance ? 0x09 : 0x0B;
  features.push_back({0x0107, 3, false, true, {streaming, 0x00, 0x00, 0x00}});
  std::string serial = spec_.serial.value_or("ZVD0000001");
  while (serial.size() % 4 != 0) serial.push_back(' ');
  features.push_back(
      {0x0108, 0, true, true, std::vector<std::uint8_t>(serial.begin(), serial.end())});

  c.answer.assign(8, 0);
  Put16(&c.answer[6], p);
  for (const Feature& feature : features) {
    if (request == 2 && feature.code != first) continue;
    if (request != 2 && feature.code < first) continue;
    if (request == 1 && !feature.current) continue;
    Append16(c.answer, feature.code);
    Append8(c.answer,
            static_cast<std::uint32_t>(feature.version << 2 | (feature.persistent ? 0x02 : 0) |
                                       (feature.current ? 0x01 : 0)));
    Append8(c.answer, static_cast<std::uint32_t>(feature.data.size()));
    c.answer.insert(c.answer.end(), feature.data.begin(), feature.data.end());
  }
  Put32(&c.answer[0], static_cast<std::uint32_t>(c.answer.size() - 4));
  return kGood;
}

Sense Drive::GetPerformance(Command& c) {
  const std::uint8_t data_type = c.cdb[1] & 0x1F;
  const std::uint32_t maximum = Get16(c.cdb + 8);
  const std::uint8_t type = c.cdb[10];
  std::vector<std::vector<std::uint8_t>> descriptors;
  bool write = false;
  bool exceptions = false;
  if (type == 0x00) {
    const std::uint8_t tolerance = (data_type >> 3) & 0x03;
    const std::uint8_t except = data_type & 0x03;
    write = (data_type & 0x04) != 0;
    // 10b asks for nominal performance within 10 %; real drives also take 00b, which
    // recording software commonly sends, as the same request.
    if (tolerance == 0x01 || tolerance == 0x03 || except == 0x03) return kInvalidField;
    const std::uint32_t speed = write ? CurrentWriteSpeed() : CurrentReadSpeed();
    const std::int32_t blocks = write ? medium_.capacity : ReadableBlocks(medium_);
    // Except 00b asks for the nominal performance, 01b for the whole list (the nominal
    // descriptor and the exceptions), 10b for the exceptions alone: there are no exception
    // areas on these discs. Reading is CAV, from 40 % of the speed at the inner radius to
    // the full speed at the outer.
    exceptions = except == 2;
    if (except != 2 && speed > 0 && blocks > 0) {
      std::vector<std::uint8_t> d(16, 0);
      Put32(&d[0], 0);
      Put32(&d[4], write ? speed : speed * 2 / 5);
      Put32(&d[8], static_cast<std::uint32_t>(blocks - 1));
      Put32(&d[12], speed);
      descriptors.push_back(d);
    }
  } else if (type == 0x03) {
    const std::vector<std::uint32_t> speeds = WriteSpeeds();
    for (std::size_t i = 0; i < speeds.size(); ++i) {
      std::vector<std::uint8_t> d(16, 0);
      d[0] = static_cast<std::uint8_t>((i == 0 && speeds.size() > 2 ? 0x08 : 0x00) |
                                       (medium_.mrw ? 0x01 : 0x00));
      const std::int32_t end = medium_.capacity > 0 ? medium_.capacity - 1 : 0;
      Put32(&d[4], static_cast<std::uint32_t>(end));
      Put32(&d[8], CurrentReadSpeed());
      Put32(&d[12], speeds[i]);
      descriptors.push_back(d);
    }
  } else {
    return kInvalidField;
  }
  if (descriptors.size() > maximum) descriptors.resize(maximum);
  c.answer.assign(8, 0);
  c.answer[4] = static_cast<std::uint8_t>((write ? 0x02 : 0x00) | (exceptions ? 0x01 : 0x00));
  for (const auto& d : descriptors) c.answer.insert(c.answer.end(), d.begin(), d.end());
  Put32(&c.answer[0], static_cast<std::uint32_t>(c.answer.size() - 4));
  c.allocation = 8 + 16 * static_cast<std::size_t>(maximum);
  return kGood;
}

Sense Drive::SetCdSpeed(Command& c) {
  if ((c.cdb[1] & 0x03) > 1) return kInvalidField;  // CLV or CAV only
  requested_read_speed_ = Get16(c.cdb + 2);
  requested_write_speed_ = Get16(c.cdb + 4);
  return kGood;
}

Sense Drive::SetStreaming(Command& c) {
  if (c.cdb[8] != 0x00) return kInvalidField;  // only the performance descriptor
  const std::size_t length = Get16(c.cdb + 9);
  if (length > c.data_out_length) return kHostOverrun;
  c.data_out_taken = length;
  if (length == 0) return kGood;
  if (length < 28) return kParameterLengthError;
  const std::uint8_t* d = c.data_out;
  if (d[0] & 0x04) {  // restore the drive's defaults
    requested_read_speed_ = 0xFFFF;
    requested_write_speed_ = 0xFFFF;
    return kGood;
  }
  const std::uint32_t start = Get32(d + 4);
  const std::uint32_t end = Get32(d + 8);
  const std::uint64_t read_size = Get32(d + 12);
  const std::uint64_t read_time = Get32(d + 16);
  const std::uint64_t write_size = Get32(d + 20);
  const std::uint64_t write_time = Get32(d + 24);
  if (end < start || read_time == 0 || write_time == 0) return kInvalidFieldInParameters;
  // Sizes in kilobytes over times in milliseconds give kilobytes a second.
  requested_read_speed_ =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(read_size * 1000 / read_time, 0xFFFF));
  requested_write_speed_ =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(write_size * 1000 / write_time, 0xFFFF));
  return kGood;
}

}  // namespace zorvane::vdrive
