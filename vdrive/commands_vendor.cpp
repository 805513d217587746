// The quality scans of the target drives' firmware.
//
// DVD: SEEK(10) to sector 0 starts the scan; each F3h 0Eh call then answers the next
// interval of eight ECC blocks (128 sectors): bytes 1-3 its first sector, 4-5 the PI
// errors and 6-7 the PI failures counted in it. After the last recorded interval the call
// answers LOGICAL BLOCK ADDRESS OUT OF RANGE and the scan is over.
//
// CD: DFh A3h starts the scan at 00:02:00, DFh A0h sets it up; then for each second of
// the program area 82h 09h answers the disc time (BCD minute, second, frame), 82h 05h the
// BLER, E22 and E32 counts of that second, and 97h resets the counters and moves on one
// second. Past the end of the program area 82h answers LOGICAL BLOCK ADDRESS OUT OF RANGE.
#include <algorithm>

#include "vdrive/bytes.h"
#include "vdrive/drive.h"

namespace zorvane::vdrive {

namespace {

constexpr std::int32_t kDvdScanInterval = 8 * 16;  // eight ECC blocks

}  // namespace

Sense Drive::VendorDvdScan(Command& c) {
  if (c.cdb[1] != 0x0E || medium_.family != Family::kDvd) return kInvalidField;
  if (!dvd_scan_started_) return kCommandSequenceError;
  const std::int32_t end = RecordedEnd(medium_);
  if (dvd_scan_next_ >= end) {
    dvd_scan_started_ = false;
    return kLbaOutOfRange;
  }
  const std::int32_t first = dvd_scan_next_;
  const std::int32_t span = std::min(kDvdScanInterval, end - first);
  const PiErrors errors = quality_.DvdErrors(first, span);
  c.answer.assign(16, 0);
  Put24(&c.answer[1], static_cast<std::uint32_t>(first));
  Put16(&c.answer[4], errors.pie);
  Put16(&c.answer[6], errors.pif);
  c.allocation = Get16(c.cdb + 7);
  c.transfer_bytes = static_cast<std::uint64_t>(span) * 2048;
  dvd_scan_next_ = first + kDvdScanInterval;
  head_ = first;
  return kGood;
}

Sense Drive::VendorCdScan(Command& c) {
  if (!medium_.IsCd()) return kInvalidField;
  const std::uint8_t sub = c.cdb[1];
  if (sub == 0xA3) {
    cd_scan_started_ = true;
    cd_scan_position_ = 0;
    return kGood;
  }
  if (sub != 0xA0 && sub != 0x82 && sub != 0x97) return kInvalidField;
  if (!cd_scan_started_) return kCommandSequenceError;
  if (sub == 0xA0) {
    const std::uint8_t parameter = c.cdb[4];
    return parameter == 0x00 || parameter == 0x02 || parameter == 0x04 ? kGood : kInvalidField;
  }
  if (sub == 0x97) {
    cd_scan_position_ += kFramesPerSecond;
    c.transfer_bytes = kFramesPerSecond * kRawSectorSize;
    return kGood;
  }
  const std::uint8_t what = c.cdb[2];
  if (what != 0x09 && what != 0x05) return kInvalidField;
  if (cd_scan_position_ >= RecordedEnd(medium_)) {
    cd_scan_started_ = false;
    return kLbaOutOfRange;
  }
  head_ = cd_scan_position_;
  if (what == 0x09) {
    const Msf time = LbaToMsf(cd_scan_position_);
    c.answer = {ToBcd(time.minute), ToBcd(time.second), ToBcd(time.frame)};
  } else {
    const CdErrors errors = quality_.CdSecondErrors(cd_scan_position_);
    c.answer.assign(6, 0);
    Put16(&c.answer[0], errors.bler);
    Put16(&c.answer[2], errors.e22);
    Put16(&c.answer[4], errors.e32);
  }
  c.allocation = c.answer.size();
  return kGood;
}

}  // namespace zorvane::vdrive
