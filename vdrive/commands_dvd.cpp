// READ DISC STRUCTURE: the DVD's physical format information, copyright and manufacturing
// information, the pre-pit data and the lead-in's control data of DVD-R/-RW and the ADIP
// of DVD+R/+RW.
#include <algorithm>

#include "vdrive/bytes.h"
#include "vdrive/drive.h"

namespace zorvane::vdrive {

namespace {

constexpr std::uint32_t kDataZoneStart = 0x030000;  // first physical sector of the data zone

bool IsPlus(const Medium& m) {
  return m.profile == 0x1A || m.profile == 0x1B || m.profile == 0x2B;
}

bool IsMinus(const Medium& m) {
  return m.profile == 0x11 || m.profile == 0x13 || m.profile == 0x14 || m.profile == 0x15;
}

// The first 32 bytes of the physical format information, as the control data zone (or
// the ADIP of a DVD+R/+RW) records them.
std::vector<std::uint8_t> PhysicalFormat(const Medium& m) {
  std::vector<std::uint8_t> d(2048, 0);
  d[0] = m.dvd.book;
  d[1] = m.dvd.max_rate;
  d[2] = static_cast<std::uint8_t>((m.layers - 1) << 5 | (m.dvd.opposite_track_path ? 0x10 : 0) |
                                   (m.dvd.layer_type & 0x0F));
  // Linear density 0.267 um a bit (0000b) on one layer, 0.293 um (0001b) on two; track
  // pitch 0.74 um (0000b).
  d[3] = m.layers == 2 ? 0x10 : 0x00;
  Put32(&d[4], kDataZoneStart);
  const auto blocks = static_cast<std::uint32_t>(m.capacity);
  if (m.layers == 2 && m.dvd.opposite_track_path) {
    // Layer 1 counts back out with the complements of the layer 0 sector numbers.
    const std::uint32_t layer0_end = kDataZoneStart + blocks / 2 - 1;
    Put32(&d[8], ~kDataZoneStart & 0xFFFFFF);
    Put32(&d[12], layer0_end);
  } else {
    Put32(&d[8], kDataZoneStart + blocks - 1);
  }
  if (IsPlus(m)) {
    for (std::size_t i = 0; i < 8 && i < m.dvd.maker.size(); ++i) {
      d[19 + i] = static_cast<std::uint8_t>(m.dvd.maker[i]);
    }
    for (std::size_t i = 0; i < 3 && i < m.dvd.type_id.size(); ++i) {
      d[27 + i] = static_cast<std::uint8_t>(m.dvd.type_id[i]);
    }
    d[30] = m.dvd.revision;
  }
  return d;
}

// The pre-pit information of DVD-R/-RW: five 8-byte fields, each led by its number.
std::vector<std::uint8_t> PrePitInformation(const Medium& m) {
  std::vector<std::uint8_t> d(40, 0);
  d[0] = 1;
  d[1] = 0x00;  // application code: general use
  d[2] = 0x0C;  // disc physical code: 120 mm, 0.74 um track pitch
  Put24(&d[3], kDataZoneStart + static_cast<std::uint32_t>(m.capacity) - 1);
  d[6] = m.dvd.book & 0x0F;  // part version
  d[8] = 2;
  d[9] = 0x01;   // OPC suggested code
  d[10] = 0x01;  // wavelength code: 650 nm
  d[16] = 3;
  d[24] = 4;
  for (std::size_t i = 0; i < 12 && i < m.dvd.maker.size(); ++i) {
    d[(i < 6 ? 17 : 19) + i] = static_cast<std::uint8_t>(m.dvd.maker[i]);  // 17..22, 25..30
  }
  d[32] = 5;
  return d;
}

}  // namespace

Sense Drive::ReadDiscStructure(Command& c) {
  const std::uint8_t media_type = c.cdb[1] & 0x0F;
  const std::uint8_t layer = c.cdb[6];
  const std::uint8_t format = c.cdb[7];
  c.allocation = Get16(c.cdb + 8);
  const Medium& m = medium_;
  const bool dvd_like = m.family == Family::kDvd || m.family == Family::kHdDvd;
  if (media_type > 1) return kInvalidField;
  if ((media_type == 1) != (m.family == Family::kBd)) return kIncompatibleFormat;
  if (media_type == 0 && !dvd_like) return kIncompatibleFormat;

  auto answer = [&](const std::vector<std::uint8_t>& body) {
    c.answer.assign(4, 0);
    Put16(&c.answer[0], static_cast<std::uint32_t>(body.size() + 2));
    c.answer.insert(c.answer.end(), body.begin(), body.end());
    return kGood;
  };

  std::vector<std::uint8_t> formats;
  if (media_type == 0) {
    formats = {0x00, 0x01, 0x04};
    if (IsMinus(m)) {
      formats.push_back(0x0E);
      formats.push_back(0x10);
    }
    if (IsPlus(m)) formats.push_back(0x11);
  }
  formats.push_back(0xFF);

  switch (format) {
    case 0xFF: {
      std::vector<std::uint8_t> list;
      for (const std::uint8_t f : formats) {
        const std::uint32_t size = f == 0x01   ? 4
                                   : f == 0x0E ? 40
                                   : f == 0x11 ? 256
                                   : f == 0xFF ? 4 * formats.size()
                                               : 2048;
        list.push_back(f);
        list.push_back(0x40);  // readable with READ DISC STRUCTURE
        Append16(list, size + 2);
      }
      return answer(list);
    }
    case 0x00:
      if (media_type != 0) return kInvalidField;
      if (layer >= m.layers) return kInvalidField;
      return answer(PhysicalFormat(m));
    case 0x01:
      if (media_type != 0) return kInvalidField;
      return answer({0x00, 0x00, 0x00, 0x00});  // no copy protection, all regions
    case 0x04:
      if (media_type != 0) return kInvalidField;
      return answer(std::vector<std::uint8_t>(2048, 0));
    case 0x0E:
      if (media_type != 0 || !IsMinus(m)) return kInvalidField;
      return answer(PrePitInformation(m));
    case 0x10:
      // DVD-R/-RW: the physical format information of the control data zone in the
      // lead-in, pre-recorded on the disc (the layer 0 end of a DVD-R DL among it), which
      // burners read before the disc is written.
      if (media_type != 0 || !IsMinus(m) || layer >= m.layers) return kInvalidField;
      return answer(PhysicalFormat(m));
    case 0x11: {
      if (media_type != 0 || !IsPlus(m)) return kInvalidField;
      std::vector<std::uint8_t> adip = PhysicalFormat(m);
      adip.resize(256);
      return answer(adip);
    }
    default:
      return kInvalidField;
  }
}

}  // namespace zorvane::vdrive
