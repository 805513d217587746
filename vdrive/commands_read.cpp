// Reading: READ(10), READ(12), READ CD with its field selection and C2 pointers, SEEK.
#include <algorithm>
#include <cstring>

#include "vdrive/bytes.h"
#include "vdrive/drive.h"

namespace zorvane::vdrive {

namespace {

constexpr std::size_t kBlockSize = 2048;

struct Field {
  std::size_t offset;
  std::size_t size;
  bool selected;
};

// The main-channel bytes READ CD returns for one sector, or false for a selection that
// is not a contiguous run of the sector's fields (MMC's illegal combinations).
bool SelectFields(SectorType type, std::uint8_t flags, const std::uint8_t* raw,
                  std::vector<std::uint8_t>* out) {
  const bool sync = (flags & 0x80) != 0;
  const std::uint8_t headers = (flags >> 5) & 0x03;
  const bool user = (flags & 0x10) != 0;
  const bool edc = (flags & 0x08) != 0;
  if (type == SectorType::kAudio) {
    // Every main-channel selection of an audio sector is its 2352 bytes.
    if (sync || headers != 0 || user || edc) out->insert(out->end(), raw, raw + kRawSectorSize);
    return true;
  }
  const SectorLayout layout = LayoutOf(type);
  const Field fields[] = {
      {0, layout.sync, sync},
      {12, layout.header, (headers & 0x01) != 0},
      {16, layout.subheader, (headers & 0x02) != 0},
      {16 + layout.subheader, layout.user, user},
      {16 + layout.subheader + layout.user, layout.edc_ecc, edc},
  };
  if (sync && (headers & 0x01) == 0) return false;  // the sync field never comes alone
  int runs = 0;
  bool in_run = false;
  for (const Field& field : fields) {
    if (field.size == 0) continue;  // a field this sector type does not have
    if (field.selected && !in_run) ++runs;
    in_run = field.selected;
  }
  if (runs > 1) return false;
  for (const Field& field : fields) {
    if (field.size != 0 && field.selected) {
      out->insert(out->end(), raw + field.offset, raw + field.offset + field.size);
    }
  }
  return true;
}

// Where an altered block's user data differs from what was recorded, and how.
constexpr std::size_t kAlteredOffset = 100;
constexpr std::size_t kAlteredBytes = 4;

void Alter(std::uint8_t* user_data) {
  for (std::size_t i = kAlteredOffset; i < kAlteredOffset + kAlteredBytes; ++i)
    user_data[i] ^= 0xFF;
}

// Q in mode 2 (the media catalogue number) and mode 3 (the track's ISRC) take the place of
// the position in one block of every hundred each, as a recorder interleaves them.
constexpr std::int32_t kQModeCycle = 100;
constexpr std::int32_t kCatalogueSlot = 20;
constexpr std::int32_t kIsrcSlot = 70;

void PutBcdTime(std::int32_t frames, std::uint8_t* out) {
  out[0] = ToBcd(frames / (60 * kFramesPerSecond));
  out[1] = ToBcd(frames / kFramesPerSecond % 60);
  out[2] = ToBcd(frames % kFramesPerSecond);
}

// The 6-bit code of an ISRC's country and owner characters.
std::uint8_t IsrcCode(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'A' && c <= 'Z') return static_cast<std::uint8_t>(c - 'A' + 0x11);
  return 0;
}

// The Q channel of a readable block and whether P is set (in a pre-gap). Mode 1 carries
// the track, the index (0 in a pre-gap a session at once recorded, with the relative time
// counting down to the track's start), the relative and the absolute time.
bool QChannelOf(const Medium& medium, const Track& track, std::int32_t lba,
                std::uint8_t q[kQSize]) {
  std::memset(q, 0, kQSize);
  const std::int32_t relative = lba - track.start;
  const std::int32_t absolute = lba + kPregapFrames;
  const std::int32_t slot = absolute % kQModeCycle;
  const std::uint8_t control = static_cast<std::uint8_t>(track.control << 4);
  if (slot == kCatalogueSlot && medium.catalogue.size() == 13) {
    q[0] = control | 0x02;
    for (std::size_t i = 0; i < 13; ++i) {
      const auto digit = static_cast<std::uint8_t>((medium.catalogue[i] - '0') & 0x0F);
      q[1 + i / 2] |= static_cast<std::uint8_t>(i % 2 == 0 ? digit << 4 : digit);
    }
    q[9] = ToBcd(absolute % kFramesPerSecond);
  } else if (slot == kIsrcSlot && track.isrc.size() == 12 && relative >= 0) {
    q[0] = control | 0x03;
    std::uint32_t letters = 0;  // five 6-bit codes, then two zero bits
    for (std::size_t i = 0; i < 5; ++i) letters = (letters << 6) | IsrcCode(track.isrc[i]);
    letters <<= 2;
    for (int i = 0; i < 4; ++i) q[1 + i] = static_cast<std::uint8_t>(letters >> (24 - 8 * i));
    for (std::size_t i = 0; i < 7; ++i) {
      const auto digit = static_cast<std::uint8_t>((track.isrc[5 + i] - '0') & 0x0F);
      q[5 + i / 2] |= static_cast<std::uint8_t>(i % 2 == 0 ? digit << 4 : digit);
    }
    q[9] = ToBcd(absolute % kFramesPerSecond);
  } else {
    q[0] = control | 0x01;
    q[1] = ToBcd(track.number);
    q[2] = relative < 0 ? 0 : 1;
    PutBcdTime(relative < 0 ? -relative : relative, q + 3);
    PutBcdTime(absolute, q + 7);
  }
  PutQCrc(q);
  return relative < 0;
}

}  // namespace

Sense Drive::ReadSector(std::int32_t block, std::uint8_t* out, SectorType* type) const {
  const Sense sense = ReadUserData(medium_, block, out, type);
  if (sense != kGood) return sense;
  // A drive that returns wrong data without a word: four bytes of the user data inverted
  // (every sector type holds at least 2048 bytes of it), before any EDC or ECC is built.
  if (std::find(spec_.altered.begin(), spec_.altered.end(), block) != spec_.altered.end()) {
    Alter(out);
  }
  return kGood;
}

Sense Drive::Read10(Command& c) {
  return ReadBlocks(c, Get32(c.cdb + 2), Get16(c.cdb + 7));
}

Sense Drive::Read12(Command& c) {
  return ReadBlocks(c, Get32(c.cdb + 2), Get32(c.cdb + 6));
}

Sense Drive::ReadBlocks(Command& c, std::uint32_t lba, std::uint32_t count) {
  const std::uint64_t end = static_cast<std::uint64_t>(lba) + count;
  if (count == 0)
    return lba > static_cast<std::uint32_t>(ReadableBlocks(medium_)) ? kLbaOutOfRange : kGood;
  if (end > static_cast<std::uint64_t>(ReadableBlocks(medium_))) {
    c.information = lba;
    c.information_valid = true;
    return kLbaOutOfRange;
  }
  // The data phase carries every block: a host buffer that cannot take them fails the
  // request at the host adapter.
  if (static_cast<std::uint64_t>(count) * kBlockSize > c.in_length) return kHostOverrun;
  // A pressed disc from an image file: the range of the file itself for a host that sends
  // it on from there (unless a block in it is altered), or the whole range in one read of
  // the file, straight into the host's buffer.
  const std::size_t bytes = std::size_t{count} * kBlockSize;
  const bool altered =
      std::any_of(spec_.altered.begin(), spec_.altered.end(), [&](std::int32_t block) {
        return block >= static_cast<std::int64_t>(lba) && block < static_cast<std::int64_t>(end);
      });
  if (c.in_file != nullptr && !altered &&
      ImageRangeOf(medium_, static_cast<std::int32_t>(lba), count, c.in_file)) {
    c.in_place = bytes;
    c.allocation = bytes;
    c.transfer_bytes = bytes;
    return kGood;
  }
  if (ReadImageBlocks(medium_, static_cast<std::int32_t>(lba), count, c.in_data)) {
    for (const std::int32_t block : spec_.altered) {
      if (block >= static_cast<std::int64_t>(lba) && block < static_cast<std::int64_t>(end)) {
        Alter(c.in_data + std::size_t(block - static_cast<std::int64_t>(lba)) * kBlockSize);
      }
    }
    c.in_place = bytes;
    c.allocation = bytes;
    c.transfer_bytes = bytes;
    return kGood;
  }
  std::vector<std::uint8_t> sector(kRawSectorSize);
  c.answer.reserve(std::size_t{count} * kBlockSize);
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto block = static_cast<std::int32_t>(lba + i);
    SectorType type = SectorType::kMode1;
    Sense sense = ReadSector(block, sector.data(), &type);
    if (sense == kGood && (type == SectorType::kAudio || type == SectorType::kMode2Form2 ||
                           type == SectorType::kMode2Formless)) {
      sense = kIllegalModeForTrack;  // not 2048-byte blocks
    }
    if (sense != kGood) {
      c.answer.clear();
      c.information = static_cast<std::uint32_t>(block);
      c.information_valid = true;
      return sense;
    }
    c.answer.insert(c.answer.end(), sector.begin(), sector.begin() + kBlockSize);
  }
  c.allocation = c.answer.size();
  c.transfer_bytes = static_cast<std::uint64_t>(count) * kBlockSize;
  return kGood;
}

// VERIFY(10): the drive reads the blocks and checks them with their own error correction,
// moving no data; recorded blocks of any sector type verify. With BYTCHK the host sends
// the blocks as well and the drive compares them byte for byte with the 2048-byte user
// data: the first difference answers 0E/1D/00 with its offset in the data sent. Blocks
// past the recorded area or never recorded answer as READ does.
Sense Drive::Verify10(Command& c) {
  const bool compare = (c.cdb[1] & 0x02) != 0;
  const std::uint32_t lba = Get32(c.cdb + 2);
  const std::uint32_t count = Get16(c.cdb + 7);
  const auto readable = static_cast<std::uint32_t>(ReadableBlocks(medium_));
  if (static_cast<std::uint64_t>(lba) + count > readable || (count == 0 && lba > readable)) {
    c.information = lba;
    c.information_valid = true;
    return kLbaOutOfRange;
  }
  if (compare) return CompareBlocks(c, lba, count);
  if (medium_.random_writable) return kGood;  // the formatted area, written or not
  // Track by track: blocks never recorded, and the run-out blocks that close a
  // track-at-once track (no user data), stop the verification.
  for (std::uint32_t i = 0; i < count;) {
    const auto block = static_cast<std::int32_t>(lba + i);
    const Track* track = TrackAt(medium_, block);
    Sense sense = kGood;
    if (track == nullptr || block - track->start >= track->recorded) {
      sense = kLbaOutOfRange;
    } else if (block - track->start >= track->readable) {
      sense = kIllegalModeForTrack;
    }
    if (sense != kGood) {
      c.information = static_cast<std::uint32_t>(block);
      c.information_valid = true;
      return sense;
    }
    i += static_cast<std::uint32_t>(track->start + track->readable - block);
  }
  return kGood;
}

Sense Drive::CompareBlocks(Command& c, std::uint32_t lba, std::uint32_t count) {
  const std::uint64_t bytes = static_cast<std::uint64_t>(count) * kBlockSize;
  if (c.data_out_length < bytes) return kHostOverrun;
  c.data_out_taken = bytes;
  std::vector<std::uint8_t> sector(kRawSectorSize);
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto block = static_cast<std::int32_t>(lba + i);
    SectorType type = SectorType::kMode1;
    Sense sense = ReadSector(block, sector.data(), &type);
    if (sense == kGood && (type == SectorType::kAudio || type == SectorType::kMode2Form2 ||
                           type == SectorType::kMode2Formless)) {
      sense = kIllegalModeForTrack;  // not 2048-byte blocks
    }
    if (sense != kGood) {
      c.information = static_cast<std::uint32_t>(block);
      c.information_valid = true;
      return sense;
    }
    const std::uint8_t* sent = c.data_out + std::size_t{i} * kBlockSize;
    for (std::size_t k = 0; k < kBlockSize; ++k) {
      if (sent[k] == sector[k]) continue;
      c.information = static_cast<std::uint32_t>(std::size_t{i} * kBlockSize + k);
      c.information_valid = true;
      return kMiscompare;
    }
  }
  return kGood;
}

Sense Drive::ReadCd(Command& c) {
  return ReadCdBlocks(c, Get32(c.cdb + 2), Get24(c.cdb + 6));
}

Sense Drive::ReadCdMsf(Command& c) {
  const Msf start{c.cdb[3], c.cdb[4], c.cdb[5]};
  const Msf end{c.cdb[6], c.cdb[7], c.cdb[8]};
  for (const Msf& time : {start, end}) {
    if (time.second >= 60 || time.frame >= kFramesPerSecond) return kInvalidField;
  }
  const std::int32_t first = MsfToLba(start);
  const std::int32_t stop = MsfToLba(end);
  if (stop < first) return kInvalidField;  // the end time is before the start
  // The blocks from the start time up to (not including) the end time.
  return ReadCdBlocks(c, static_cast<std::uint32_t>(first),
                      static_cast<std::uint32_t>(stop - first));
}

Sense Drive::ReadCdBlocks(Command& c, std::uint32_t lba, std::uint32_t count) {
  const std::uint8_t expected = (c.cdb[1] >> 2) & 0x07;
  const std::uint8_t flags = c.cdb[9];
  const std::uint8_t c2 = (flags >> 1) & 0x03;
  // Sub-channel: 000b none, 001b raw P-W (96 bytes), 010b formatted Q (16 bytes).
  const std::uint8_t subchannel = c.cdb[10] & 0x07;
  if (expected > 5 || c2 == 3 || subchannel > 2) return kInvalidField;
  if (c2 != 0 && spec_.quirks.no_c2) return kInvalidField;
  if (!medium_.IsCd()) return kIllegalModeForTrack;  // no CD sectors on this medium
  if (count == 0) return kGood;
  std::vector<std::uint8_t> user(kRawSectorSize);
  std::uint8_t raw[kRawSectorSize];
  std::uint8_t subheader[4];
  std::uint8_t pointers[kC2Size];
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto block = static_cast<std::int32_t>(lba + i);
    SectorType type = SectorType::kMode1;
    Sense sense = ReadSector(block, user.data(), &type);
    if (sense == kGood && expected != 0 && expected != static_cast<std::uint8_t>(type)) {
      sense = kIllegalModeForTrack;
    }
    if (sense != kGood) {
      c.answer.clear();
      c.information = static_cast<std::uint32_t>(block);
      c.information_valid = true;
      return sense;
    }
    // The raw sector (sync, headers, EDC and ECC) is built only when a main-channel field
    // is asked for; a C2-only read (as error scans send) needs none of it.
    if ((flags & 0xF8) != 0) {
      SubheaderOf(type, subheader);
      BuildRawSector(type, block, user.data(), subheader, raw);
      if (!SelectFields(type, flags, raw, &c.answer)) return kInvalidField;
    }
    if (c2 != 0) {
      quality_.C2Pointers(block, pointers);
      c.answer.insert(c.answer.end(), pointers, pointers + kC2Size);
      if (c2 == 2) {
        std::uint8_t any = 0;
        for (const std::uint8_t byte : pointers) any |= byte;
        c.answer.push_back(any);  // block error byte
        c.answer.push_back(0);    // pad
      }
    }
    if (subchannel != 0) {
      std::uint8_t q[kQSize];
      const bool p = QChannelOf(medium_, *TrackAt(medium_, block), block, q);
      if (subchannel == 1) {
        std::uint8_t pw[kRawSubchannelSize];
        InterleaveSubchannel(p, q, pw);
        c.answer.insert(c.answer.end(), pw, pw + kRawSubchannelSize);
      } else {
        c.answer.insert(c.answer.end(), q, q + kQSize);  // with its CRC
        c.answer.insert(c.answer.end(), 4, 0);
      }
    }
    // A data phase longer than the host's buffer fails at the host adapter.
    if (c.answer.size() > c.in_length) return kHostOverrun;
  }
  c.allocation = c.answer.size();
  c.transfer_bytes = static_cast<std::uint64_t>(count) * kRawSectorSize;
  return kGood;
}

Sense Drive::Seek10(Command& c) {
  const std::uint32_t lba = Get32(c.cdb + 2);
  const std::int32_t limit = std::max(ReadableBlocks(medium_), medium_.capacity);
  if (lba >= static_cast<std::uint32_t>(std::max(limit, 1))) return kLbaOutOfRange;
  if (lba == 0 && !medium_.IsCd()) {
    // The target drives start their DVD quality scan with a seek to the first sector.
    dvd_scan_started_ = true;
    dvd_scan_next_ = 0;
  }
  return kGood;
}

}  // namespace zorvane::vdrive
