// MODE SENSE and MODE SELECT: the medium-type byte of the header, an optional block
// descriptor, and the pages this drive keeps (01h error recovery, 05h write parameters,
// 0Ah control, 1Ah power conditions, 2Ah capabilities).
#include <algorithm>

#include "vdrive/bytes.h"
#include "vdrive/drive.h"

namespace zorvane::vdrive {

namespace {

// Page control field: 0 current values (the default case below), 1 changeable, 2
// default, 3 saved.
constexpr std::uint8_t kControlChangeable = 1;
constexpr std::uint8_t kControlDefault = 2;
constexpr std::uint8_t kControlSaved = 3;

std::vector<std::uint8_t> ErrorRecoveryPage(std::uint8_t control) {
  std::vector<std::uint8_t> page(12, 0);
  page[0] = 0x01;
  page[1] = 0x0A;
  if (control == kControlChangeable) {
    page[2] = 0xFF;  // error recovery parameter
    page[3] = 0xFF;  // read retry count
  } else {
    page[3] = 0x20;
  }
  return page;
}

// What MODE SELECT may change in page 05h.
std::vector<std::uint8_t> WriteParametersMask() {
  std::vector<std::uint8_t> mask(52, 0xFF);
  mask[0] = 0x05;
  mask[1] = 0x32;
  mask[2] = 0x7F;  // BUFE, LS_V, test write, write type
  mask[4] = 0x0F;  // data block type
  mask[6] = 0x00;
  mask[7] = 0x3F;  // host application code
  mask[9] = 0x00;
  return mask;
}

constexpr std::uint8_t kDataBlockTypes[] = {0x00, 0x01, 0x02, 0x03, 0x08,
                                            0x09, 0x0A, 0x0B, 0x0C, 0x0D};

}  // namespace

std::vector<std::uint8_t> Drive::DefaultWriteParameters() const {
  // Track at once, a Mode 1 data track of 2048-byte blocks, a 150-block audio pause.
  std::vector<std::uint8_t> page(52, 0);
  page[0] = 0x05;
  page[1] = 0x32;
  page[2] = 0x01;  // write type: track at once
  page[3] = 0x04;  // track mode: data, recorded uninterrupted
  page[4] = 0x08;  // data block type: Mode 1, 2048 bytes
  if (spec_.quirks.dao_default) {
    // As a drive that powers on with what suited another medium: session (disc) at once,
    // an audio track of raw blocks. A host that writes without MODE SELECT is refused.
    page[2] = 0x02;
    page[3] = 0x00;
    page[4] = 0x00;
  }
  Put16(&page[14], 150);
  return page;
}

void Drive::CapabilitiesPage(std::uint8_t control, std::vector<std::uint8_t>* out) {
  const std::vector<std::uint32_t> writes = WriteSpeeds();
  std::vector<std::uint8_t> page(32 + 4 * writes.size(), 0);
  page[0] = 0x2A;
  page[1] = static_cast<std::uint8_t>(page.size() - 2);
  if (control == kControlChangeable) {  // nothing in this page can be changed
    out->insert(out->end(), page.begin(), page.end());
    return;
  }
  page[2] = 0x3F;  // reads DVD-RAM, DVD-R, DVD-ROM, Mode 2 Form 1 method 2, CD-RW, CD-R
  page[3] = 0x37;  // writes DVD-RAM, DVD-R, test write, CD-RW, CD-R
  if (spec_.quirks.no_test_write) page[3] &= 0xFB;
  page[4] = 0xF1;  // buffer underrun protection, multi-session, Mode 2 Form 2/1, audio play
  page[5] = spec_.quirks.no_c2 ? 0x63 : 0x73;  // UPC, ISRC, (C2 pointers), accurate CD-DA
  page[6] = 0x29;                              // tray, eject, lock
  if (Prevented()) page[6] |= 0x02;            // lock state
  const std::vector<std::uint32_t> reads = ReadSpeeds();
  const std::uint32_t max_read = reads.empty() ? 22160 : reads.front();
  const std::uint32_t max_write = writes.empty() ? 0 : writes.front();
  const std::uint32_t current_write = control == kControlDefault ? max_write : CurrentWriteSpeed();
  Put16(&page[8], max_read);
  Put16(&page[10], 256);   // volume levels
  Put16(&page[12], 2048);  // buffer size in KB
  Put16(&page[14], control == kControlDefault ? max_read : CurrentReadSpeed());
  Put16(&page[18], max_write);
  Put16(&page[20], current_write);
  Put16(&page[22], 0x0001);  // copy management revision
  page[27] = 0x00;           // rotation control selected: CLV
  Put16(&page[28], current_write);
  Put16(&page[30], static_cast<std::uint32_t>(writes.size()));
  for (std::size_t i = 0; i < writes.size(); ++i) {
    std::uint8_t* descriptor = &page[32 + 4 * i];
    // The fastest speed is reached by constant angular velocity, the others by CLV.
    descriptor[1] = i == 0 && writes.size() > 2 ? 0x01 : 0x00;
    Put16(descriptor + 2, writes[i]);
  }
  out->insert(out->end(), page.begin(), page.end());
}

Sense Drive::ModePages(std::uint8_t control, std::uint8_t page, std::uint8_t subpage,
                       std::vector<std::uint8_t>* out) {
  if (control == kControlSaved) return kSavingNotSupported;
  if (subpage != 0x00 && !(page == 0x3F && subpage == 0xFF)) return kInvalidField;
  const bool all = page == 0x3F;
  bool found = false;
  if (all || page == 0x01) {
    const auto p = ErrorRecoveryPage(control);
    out->insert(out->end(), p.begin(), p.end());
    found = true;
  }
  if (all || page == 0x05) {
    const auto p = control == kControlChangeable ? WriteParametersMask()
                   : control == kControlDefault  ? DefaultWriteParameters()
                                                 : write_parameters_;
    out->insert(out->end(), p.begin(), p.end());
    found = true;
  }
  if (all || page == 0x0A) {
    // Control: fixed-format sense (D_SENSE clear), no log parameters kept (GLTSD),
    // commands in the order they came (queue algorithm 0), no busy time-out limit;
    // nothing in the page can be changed.
    std::vector<std::uint8_t> control_page(12, 0);
    control_page[0] = 0x0A;
    control_page[1] = 0x0A;
    if (control != kControlChangeable) {
      control_page[2] = 0x02;           // GLTSD
      Put16(&control_page[8], 0xFFFF);  // busy time-out period: unlimited
    }
    out->insert(out->end(), control_page.begin(), control_page.end());
    found = true;
  }
  if (all || page == 0x1A) {
    // Power conditions: the standby timer runs (5 minutes), idle is not used; nothing in
    // the page can be changed.
    std::vector<std::uint8_t> power(12, 0);
    power[0] = 0x1A;
    power[1] = 0x0A;
    if (control != kControlChangeable) {
      power[3] = 0x01;         // standby
      Put32(&power[8], 3000);  // in 100 ms units
    }
    out->insert(out->end(), power.begin(), power.end());
    found = true;
  }
  if (all || page == 0x2A) {
    CapabilitiesPage(control, out);
    found = true;
  }
  return found ? kGood : kInvalidField;
}

namespace {

// The medium-type byte: the code table of ATAPI drives, or what the drives answer that
// do not keep it.
std::uint8_t MediumTypeByte(MediumTypeMode mode, bool tray_open, const Medium& medium) {
  switch (mode) {
    case MediumTypeMode::kZero:
      return 0x00;
    case MediumTypeMode::kQemuAtapi:
      return 0x70;
    case MediumTypeMode::kLegacy:
      break;
  }
  return LegacyMediumType(medium, tray_open);
}

}  // namespace

Sense Drive::ModeSense6(Command& c) {
  std::vector<std::uint8_t> pages;
  const Sense sense = ModePages(c.cdb[2] >> 6, c.cdb[2] & 0x3F, c.cdb[3], &pages);
  if (sense != kGood) return sense;
  const bool descriptor = spec_.quirks.block_descriptor && (c.cdb[1] & 0x08) == 0;
  c.answer.assign(4, 0);
  c.answer[1] = MediumTypeByte(spec_.medium_type, tray_open_, medium_);
  if (descriptor) {
    c.answer[3] = 8;
    c.answer.resize(12, 0);
    Put24(&c.answer[5], static_cast<std::uint32_t>(std::min(ReadableBlocks(medium_), 0xFFFFFF)));
    Put24(&c.answer[9], 2048);
  }
  c.answer.insert(c.answer.end(), pages.begin(), pages.end());
  if (c.answer.size() > 255) c.answer.resize(255);
  c.answer[0] = static_cast<std::uint8_t>(c.answer.size() - 1);
  c.allocation = c.cdb[4];
  return kGood;
}

Sense Drive::ModeSense10(Command& c) {
  std::vector<std::uint8_t> pages;
  const Sense sense = ModePages(c.cdb[2] >> 6, c.cdb[2] & 0x3F, c.cdb[3], &pages);
  if (sense != kGood) return sense;
  const bool descriptor = spec_.quirks.block_descriptor && (c.cdb[1] & 0x08) == 0;
  c.answer.assign(8, 0);
  c.answer[2] = MediumTypeByte(spec_.medium_type, tray_open_, medium_);
  if (descriptor) {
    c.answer[7] = 8;
    c.answer.resize(16, 0);
    Put24(&c.answer[9], static_cast<std::uint32_t>(std::min(ReadableBlocks(medium_), 0xFFFFFF)));
    Put24(&c.answer[13], 2048);
  }
  c.answer.insert(c.answer.end(), pages.begin(), pages.end());
  Put16(&c.answer[0], static_cast<std::uint32_t>(c.answer.size() - 2));
  c.allocation = Get16(c.cdb + 7);
  return kGood;
}

Sense Drive::ModeSelect10(Command& c) {
  if ((c.cdb[1] & 0x10) == 0) return kInvalidField;  // page format is required
  if (c.cdb[1] & 0x01) return kInvalidField;         // parameters cannot be saved
  const std::size_t length = Get16(c.cdb + 7);
  if (length > c.data_out_length) return kHostOverrun;
  c.data_out_taken = length;
  if (length == 0) return kGood;
  const std::uint8_t* list = c.data_out;
  if (length < 8) return kParameterLengthError;
  const std::size_t descriptor_length = Get16(list + 6);
  if (descriptor_length != 0 && descriptor_length != 8) return kInvalidFieldInParameters;
  std::size_t at = 8 + descriptor_length;
  if (at > length) return kParameterLengthError;
  std::vector<std::uint8_t> accepted = write_parameters_;
  while (at < length) {
    if (length - at < 2) return kParameterLengthError;
    const std::uint8_t code = list[at] & 0x3F;
    const std::size_t page_length = list[at + 1];
    if (at + 2 + page_length > length) return kParameterLengthError;
    const std::uint8_t* page = list + at;
    if (code == 0x0A || code == 0x1A) {
      // Control and power conditions: nothing in them can be changed, so a page sent back
      // as the drive reported it is taken (and changes nothing), any other value refused.
      std::vector<std::uint8_t> current;
      if (ModePages(0, code, 0, &current) != kGood || page_length != current[1] ||
          !std::equal(page + 2, page + 2 + page_length, current.begin() + 2)) {
        return kInvalidFieldInParameters;
      }
      at += 2 + page_length;
      continue;
    }
    if (code != 0x05 || page_length < 0x32) return kInvalidFieldInParameters;
    const std::vector<std::uint8_t> mask = WriteParametersMask();
    for (std::size_t i = 2; i < 52; ++i) {
      if ((page[i] & ~mask[i]) != 0) return kInvalidFieldInParameters;  // reserved bits
    }
    const std::uint8_t write_type = page[2] & 0x0F;
    const std::uint8_t block_type = page[4] & 0x0F;
    const bool dvd = medium_.present && medium_.family != Family::kCd;
    const bool cd = medium_.present && medium_.IsCd();
    // Raw recording (03h) is not offered: without it the drive takes no sub-channel blocks.
    if (write_type > 4 || write_type == 3) return kInvalidFieldInParameters;
    if (dvd && (write_type == 1 || write_type == 3)) return kInvalidFieldInParameters;
    if (write_type == 4 && (cd || (dvd && medium_.profile != 0x15))) {
      return kInvalidFieldInParameters;  // layer jump recording is for DVD-R DL only
    }
    if (std::find(std::begin(kDataBlockTypes), std::end(kDataBlockTypes), block_type) ==
        std::end(kDataBlockTypes)) {
      return kInvalidFieldInParameters;
    }
    if (dvd && block_type != 0x08) return kInvalidFieldInParameters;
    if ((page[3] >> 6) == 0x02) return kInvalidFieldInParameters;  // multi-session 10b
    if (!dvd) {
      // On CD the track mode and the blocks go together: raw 2352-byte blocks are audio,
      // the data block types a data track; sub-channel blocks (raw recording) never. In
      // session at once the cue sheet describes the blocks, so the track mode and block
      // type need not agree and a sub-channel block type changes nothing (hosts that send
      // CD-TEXT in the lead-in ask for 03h, raw P-W, there).
      const bool data_track = (page[3] & 0x04) != 0;
      const bool cue_sheet = write_type == 2;
      if (!cue_sheet && block_type == 0x00 && data_track) return kInvalidFieldInParameters;
      if (!cue_sheet && block_type >= 0x08 && !data_track) return kInvalidFieldInParameters;
      if (!cue_sheet && block_type >= 0x01 && block_type <= 0x03) {
        return kInvalidFieldInParameters;
      }
    }
    if (page[8] != 0x00 && page[8] != 0x10 && page[8] != 0x20) return kInvalidFieldInParameters;
    const bool fixed_packet = (page[3] & 0x20) != 0;
    if (write_type == 0 && fixed_packet && Get32(page + 10) == 0) return kInvalidFieldInParameters;
    const bool test_write = (page[2] & 0x10) != 0;
    const bool plus = medium_.profile == 0x1A || medium_.profile == 0x1B || medium_.profile == 0x2B;
    if (test_write && ((medium_.present && plus) || spec_.quirks.no_test_write)) {
      return kInvalidFieldInParameters;
    }
    std::copy(page + 2, page + 52, accepted.begin() + 2);
    at += 2 + page_length;
  }
  write_parameters_ = accepted;
  return kGood;
}

}  // namespace zorvane::vdrive
