// The drive's housekeeping commands: readiness, sense, identity, tray, locking, mechanism,
// events and buffer.
#include <cstring>
#include <optional>
#include <utility>

#include "vdrive/bytes.h"
#include "vdrive/drive.h"

namespace zorvane::vdrive {

namespace {

void PutPadded(std::vector<std::uint8_t>& out, std::size_t at, const std::string& text,
               std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) {
    out[at + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
  }
}

}  // namespace

Sense Drive::TestUnitReady(Command& /*c*/) {
  return kGood;  // the gate has answered every not-ready condition already
}

Sense Drive::RequestSense(Command& c) {
  if (c.cdb[1] & 0x01) return kInvalidField;  // descriptor format sense is not supported
  Sense current = kGood;
  std::optional<std::uint16_t> progress;
  if (operation_.active) {
    if (Advance(operation_)) {
      Persist();  // the operation ended with this poll
    } else {
      current = operation_.sense;
      progress = Progress(operation_);
    }
  }
  // In the order TEST UNIT READY reports them, counting readiness down as it does.
  if (current != kGood) {
    // a long operation runs: reported below with its progress
  } else if (becoming_ready_ > 0 && Loaded()) {
    current = kBecomingReady;
    --becoming_ready_;
  } else if (current_->attention != kGood) {
    current = std::exchange(current_->attention, kGood);
  } else if (!Loaded()) {
    current = NotReadySense();
  }
  c.answer.assign(18, 0);
  c.answer[0] = 0x70;
  c.answer[2] = static_cast<std::uint8_t>(current >> 16);
  c.answer[7] = 10;
  c.answer[12] = static_cast<std::uint8_t>(current >> 8);
  c.answer[13] = static_cast<std::uint8_t>(current);
  if (progress) {
    c.answer[15] = 0x80;
    Put16(&c.answer[16], *progress);
  }
  c.allocation = c.cdb[4];
  return kGood;
}

Sense Drive::Inquiry(Command& c) {
  const bool vital = (c.cdb[1] & 0x01) != 0;
  const std::uint8_t page = c.cdb[2];
  if ((c.cdb[1] & 0x02) != 0) return kInvalidField;  // CmdDt is obsolete
  if (!vital && page != 0) return kInvalidField;
  c.allocation = Get16(c.cdb + 3);
  const std::string serial = spec_.serial.value_or("ZVD0000001");
  if (vital) {
    if (page == 0x00) {
      c.answer = {0x05, 0x00, 0x00, 0x03, 0x00, 0x80, 0x83};
    } else if (page == 0x80) {
      c.answer = {0x05, 0x80, 0x00, static_cast<std::uint8_t>(serial.size())};
      c.answer.insert(c.answer.end(), serial.begin(), serial.end());
    } else if (page == 0x83) {
      // Device identification: one T10 vendor identification of the logical unit, ASCII,
      // the vendor, then the product and the serial number.
      std::vector<std::uint8_t> id(8, 0);
      PutPadded(id, 0, spec_.vendor.value_or("ZORVANE"), 8);
      const std::string product = spec_.product.value_or("VIRTUAL DVD-RW");
      id.insert(id.end(), product.begin(), product.end());
      id.push_back(' ');
      id.insert(id.end(), serial.begin(), serial.end());
      if (id.size() > 251) id.resize(251);
      const auto length = static_cast<std::uint8_t>(id.size());
      c.answer = {0x05, 0x83, 0x00, static_cast<std::uint8_t>(4 + length),
                  0x02, 0x01, 0x00, length};
      c.answer.insert(c.answer.end(), id.begin(), id.end());
    } else {
      return kInvalidField;
    }
    return kGood;
  }
  c.answer.assign(36, 0);
  c.answer[0] = 0x05;  // CD/DVD device
  c.answer[1] = 0x80;  // removable medium
  c.answer[2] = 0x05;  // SPC-3
  c.answer[3] = 0x02;  // response data format
  c.answer[4] = 31;    // additional length
  PutPadded(c.answer, 8, spec_.vendor.value_or("ZORVANE"), 8);
  PutPadded(c.answer, 16, spec_.product.value_or("VIRTUAL DVD-RW"), 16);
  PutPadded(c.answer, 32, spec_.revision.value_or("1.00"), 4);
  return kGood;
}

Sense Drive::StartStopUnit(Command& c) {
  const std::uint8_t power = c.cdb[4] >> 4;
  const bool load_eject = (c.cdb[4] & 0x02) != 0;
  const bool start = (c.cdb[4] & 0x01) != 0;
  if (power != 0) return kGood;  // a power condition: nothing mechanical happens
  if (!load_eject) {
    if (start && !Loaded()) return NotReadySense();
    return kGood;
  }
  if (!start) {
    if (Prevented()) return kRemovalPrevented;
    if (!tray_open_) {
      if (const Sense saved = Confirm(); saved != kGood) return saved;
      tray_open_ = true;
      becoming_ready_ = 0;
      for (auto& [name, initiator] : initiators_) {
        if (initiator.attention == kMediumChanged) initiator.attention = kGood;
      }
      dvd_scan_started_ = false;
      cd_scan_started_ = false;
      if (medium_.present) media_event_ = 3;  // media removal
    }
    return kGood;
  }
  if (tray_open_) {
    tray_open_ = false;
    Load();
  }
  return kGood;
}

Sense Drive::PreventAllow(Command& c) {
  current_->prevents = (c.cdb[4] & 0x01) != 0;
  return kGood;
}

Sense Drive::MechanismStatus(Command& c) {
  c.allocation = Get16(c.cdb + 8);
  c.answer.assign(8, 0);
  c.answer[1] = tray_open_ ? 0x10 : 0x00;  // door open
  Put24(&c.answer[2], static_cast<std::uint32_t>(head_) & 0xFFFFFF);
  return kGood;
}

Sense Drive::EventStatus(Command& c) {
  if ((c.cdb[1] & 0x01) == 0) return kInvalidField;  // only polled operation
  c.allocation = Get16(c.cdb + 7);
  constexpr std::uint8_t kMediaClass = 0x10;
  if ((c.cdb[4] & kMediaClass) == 0) {
    c.answer = {0x00, 0x02, 0x80, kMediaClass};  // no event available of the classes asked
    return kGood;
  }
  c.answer = {0x00, 0x06, 0x04, kMediaClass, media_event_, 0x00, 0x00, 0x00};
  if (Loaded()) c.answer[5] |= 0x02;  // media present
  if (tray_open_) c.answer[5] |= 0x01;
  if (c.allocation >= c.answer.size()) media_event_ = 0;  // reported: the event is consumed
  return kGood;
}

Sense Drive::ReadBufferCapacity(Command& c) {
  c.allocation = Get16(c.cdb + 7);
  DrainBuffer();
  const auto free = static_cast<std::uint32_t>(kBufferBytes - buffer_fill_);
  c.answer.assign(12, 0);
  Put16(&c.answer[0], 10);
  if (c.cdb[1] & 0x01) {
    c.answer[3] = 0x01;  // block mode: the free space in blocks
    Put32(&c.answer[8], free / 2048);
  } else {
    Put32(&c.answer[4], kBufferBytes);
    Put32(&c.answer[8], free);
  }
  return kGood;
}

}  // namespace zorvane::vdrive
