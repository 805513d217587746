#include "vdrive/drive.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>

#include "vdrive/bytes.h"
#include "vdrive/presets.h"
#include "vdrive/state_file.h"

namespace zorvane::vdrive {

namespace {

// The LBA range a command addresses, for faults injected "at an LBA".
bool AddressedRange(const std::uint8_t* cdb, std::int64_t* first, std::int64_t* count) {
  switch (cdb[0]) {
    case 0x28:  // READ(10)
    case 0x2A:  // WRITE(10)
    case 0x2F:  // VERIFY(10)
      *first = Get32(cdb + 2);
      *count = Get16(cdb + 7);
      return true;
    case 0xA8:  // READ(12)
    case 0xAA:  // WRITE(12)
      *first = Get32(cdb + 2);
      *count = Get32(cdb + 6);
      return true;
    case 0xBE:  // READ CD
      *first = Get32(cdb + 2);
      *count = Get24(cdb + 6);
      return true;
    case 0xB9:  // READ CD MSF: from the start time up to the end time
      *first = MsfToLba(Msf{cdb[3], cdb[4], cdb[5]});
      *count = MsfToLba(Msf{cdb[6], cdb[7], cdb[8]}) - *first;
      return true;
    case 0x2B:  // SEEK(10)
      *first = Get32(cdb + 2);
      *count = 1;
      return true;
    default:
      return false;
  }
}

void FillSense(Sense code, std::uint32_t information, bool information_valid,
               std::optional<std::uint16_t> progress, std::uint8_t sense[kFixedSenseLength]) {
  std::memset(sense, 0, kFixedSenseLength);
  sense[0] = information_valid ? 0xF0 : 0x70;
  sense[2] = static_cast<std::uint8_t>(code >> 16);
  if (information_valid) Put32(sense + 3, information);
  sense[7] = 10;
  sense[12] = static_cast<std::uint8_t>(code >> 8);
  sense[13] = static_cast<std::uint8_t>(code);
  if (progress) {
    sense[15] = 0x80;  // sense-key specific bytes valid: the progress indication
    Put16(sense + 16, *progress);
  }
}

std::uint32_t Pick(const std::vector<std::uint32_t>& speeds, std::uint32_t requested) {
  if (speeds.empty()) return 0;
  for (const std::uint32_t speed : speeds) {  // fastest first
    if (speed <= requested) return speed;
  }
  return speeds.back();
}

bool LoadSpecMedium(const DriveSpec& spec, Medium* medium, bool* tray_open, bool* from_state,
                    std::string* error) {
  if (!BuildMedium(spec, medium, tray_open, error)) return false;
  *from_state = false;
  if (spec.state && !StateFileExists(*spec.state)) return CheckStateFolder(*spec.state, error);
  if (spec.state) {
    Medium stored;
    if (!LoadMedium(*spec.state, &stored, error)) return false;
    if (stored.content.image_path == medium->content.image_path) {
      stored.content.image_fd = medium->content.image_fd;
      stored.content.image_size = medium->content.image_size;
    } else if (!stored.content.image_path.empty() &&
               !OpenImage(stored.content.image_path, &stored.content, error)) {
      return false;  // the stored disc reads from an image that is gone
    }
    *medium = std::move(stored);
    *tray_open = false;
    *from_state = true;
  }
  return true;
}

}  // namespace

bool ValidateSpec(std::string_view text, std::string* error) {
  DriveSpec spec;
  if (!ParseSpec(text, &spec, error)) return false;
  Medium medium;
  bool tray_open = false;
  bool from_state = false;
  return LoadSpecMedium(spec, &medium, &tray_open, &from_state, error);
}

std::unique_ptr<Drive> Drive::Create(std::string_view text, std::string* error) {
  DriveSpec spec;
  if (!ParseSpec(text, &spec, error)) return nullptr;
  Medium medium;
  bool tray_open = false;
  bool from_state = false;
  if (!LoadSpecMedium(spec, &medium, &tray_open, &from_state, error)) return nullptr;
  if (spec.state && !from_state && !SaveMedium(medium, *spec.state, error)) return nullptr;
  return std::unique_ptr<Drive>(new Drive(std::move(spec), std::move(medium), tray_open));
}

Drive::Drive(DriveSpec spec, Medium medium, bool tray_open)
    : spec_(std::move(spec)),
      medium_(std::move(medium)),
      quality_(medium_.preset, spec_.quality, spec_.damage),
      sleeper_([](std::chrono::microseconds duration) { std::this_thread::sleep_for(duration); }),
      tray_open_(tray_open),
      faults_(spec_.faults),
      fails_(spec_.fails),
      write_parameters_(DefaultWriteParameters()),
      clock_([] { return Clock::now(); }) {
  Load();
}

Drive::~Drive() = default;

void Drive::SetSleeper(std::function<void(std::chrono::microseconds)> sleeper) {
  std::lock_guard lock(mutex_);
  sleeper_ = std::move(sleeper);
}

void Drive::SetClock(std::function<Clock::time_point()> clock) {
  std::lock_guard lock(mutex_);
  clock_ = std::move(clock);
  buffer_time_ = clock_();
}

Drive::Clock::time_point Drive::Now() const {
  return clock_();
}

std::chrono::microseconds Drive::Spend(std::chrono::microseconds duration) {
  if (!spec_.real_time || duration.count() <= 0) return std::chrono::microseconds::zero();
  if (duration > time_left_) {
    // The host gives up at its time-out: the caller is held that long, no longer.
    if (time_left_.count() > 0) sleeper_(time_left_);
    const std::chrono::microseconds rest = duration - time_left_;
    time_left_ = std::chrono::microseconds::zero();
    timed_out_ = true;
    return rest;
  }
  sleeper_(duration);
  time_left_ -= duration;
  return std::chrono::microseconds::zero();
}

std::chrono::microseconds Drive::WriteDuration(std::uint64_t bytes) const {
  const std::uint64_t speed = std::max<std::uint32_t>(CurrentWriteSpeed(), 1);  // kB/s
  return std::chrono::microseconds(bytes * 1000 / speed);
}

void Drive::Begin(Operation& operation, Sense sense, std::chrono::microseconds duration) {
  operation.active = true;
  operation.sense = sense;
  operation.start = Now();
  operation.duration = duration;
  operation.polls = 0;
}

bool Drive::Advance(Operation& operation) {
  if (!operation.active) return true;
  const bool done = spec_.real_time ? Now() - operation.start >= operation.duration
                                    : operation.polls >= kInstantPolls;
  if (done) {
    operation.active = false;
  } else {
    ++operation.polls;
  }
  return done;
}

std::uint16_t Drive::Progress(const Operation& operation) const {
  double fraction = 0;
  if (spec_.real_time) {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(Now() - operation.start);
    fraction = operation.duration.count() > 0 ? static_cast<double>(elapsed.count()) /
                                                    static_cast<double>(operation.duration.count())
                                              : 1.0;
  } else {
    fraction = static_cast<double>(std::max(operation.polls - 1, 0)) / kInstantPolls;
  }
  return static_cast<std::uint16_t>(std::clamp(fraction * 65536.0, 0.0, 65535.0));
}

Sense Drive::Busy(bool needs_medium, Command& command) {
  if (!operation_.active) return kGood;
  if (Advance(operation_)) {
    Persist();  // the operation has ended: the disc it left is the one on disk
    return kGood;
  }
  if (!needs_medium) return kGood;
  command.progress = Progress(operation_);
  return operation_.sense;
}

void Drive::FinishBackgroundFormat() {
  if (medium_.background_format == BackgroundFormat::kRunning) {
    medium_.background_format = BackgroundFormat::kDone;
    media_event_ = 5;  // background format completed
  }
  Persist();
}

void Drive::DrainBuffer() {
  const Clock::time_point now = Now();
  if (!spec_.real_time) {
    buffer_fill_ = 0;  // time=instant: the medium takes the data as it arrives
  } else if (buffer_fill_ > 0) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - buffer_time_);
    const std::uint64_t drained =
        static_cast<std::uint64_t>(std::max<std::int64_t>(elapsed.count(), 0)) *
        CurrentWriteSpeed() / 1000;
    buffer_fill_ -= std::min(buffer_fill_, drained);
  }
  buffer_time_ = now;
}

Sense Drive::FillBuffer(std::uint64_t bytes) {
  DrainBuffer();
  if (!spec_.real_time) return kGood;
  if (bytes <= kBufferBytes - buffer_fill_) {
    buffer_fill_ += bytes;
    return kGood;
  }
  // No room: the host is to wait until the buffer has drained. Into an empty buffer a
  // write longer than the buffer streams, the drive recording as the data arrives.
  if (buffer_fill_ > 0) return kLongWriteInProgress;
  Spend(WriteDuration(bytes - kBufferBytes));
  buffer_fill_ = kBufferBytes;
  buffer_time_ = Now();
  return kGood;
}

void Drive::Load() {
  dvd_scan_started_ = false;
  cd_scan_started_ = false;
  head_ = 0;
  play_ = AudioPlay{};
  cue_ = CueSheet{};
  if (!Loaded()) return;
  becoming_ready_ = spec_.ready;
  // A medium change is a unit attention for every nexus of a served drive; an in-process
  // host sees it when the `attention` key asks for it.
  for (auto& [name, initiator] : initiators_) {
    if (served_ && !name.empty()) Establish(initiator, kMediumChanged);
  }
  if (spec_.attention) Establish(InitiatorOf({}), kMediumChanged);
  media_event_ = 2;  // new media
  // Track at once and raw recording exist only on CD: with a DVD in the drive the write
  // parameters fall back to incremental recording, as real drives switch them.
  const std::uint8_t write_type = write_parameters_[2] & 0x0F;
  if (!medium_.IsCd() && (write_type == 1 || write_type == 3)) {
    write_parameters_[2] = static_cast<std::uint8_t>(write_parameters_[2] & 0xF0);
    write_parameters_[3] = static_cast<std::uint8_t>((write_parameters_[3] & 0xF0) | 0x05);
    write_parameters_[4] = 0x08;
  }
}

void Drive::Persist() {
  Confirm();  // no command waits for this save: the disc in memory stays authoritative
}

std::shared_ptr<SectorStore> Drive::NewSectorStore(std::string* error) const {
  if (!spec_.state) return SectorStore::CreateTemporary(error);
  return SectorStore::Create(NewSectorFileName(*spec_.state), error);
}

Sense Drive::Confirm() {
  if (!spec_.state) return kGood;
  std::string error;
  return SaveMedium(medium_, *spec_.state, &error) ? kGood : kWriteError;
}

Reply Drive::TimedOut() {
  Reply reply;
  reply.status = Status::kTransportFailure;
  reply.system_error = ETIMEDOUT;
  return reply;
}

const std::vector<Drive::Entry>& Drive::Table() {
  static const std::vector<Entry> table = {
      {0x00, 6, &Drive::TestUnitReady, true, false},
      {0x03, 6, &Drive::RequestSense, false, true},
      {0x04, 6, &Drive::FormatUnit, true, false},
      {0x12, 6, &Drive::Inquiry, false, true},
      {0x1A, 6, &Drive::ModeSense6, false, false},
      {0x1B, 6, &Drive::StartStopUnit, false, false},
      {0x1E, 6, &Drive::PreventAllow, false, false},
      {0x23, 10, &Drive::ReadFormatCapacities, false, false},
      {0x25, 10, &Drive::ReadCapacity, true, false},
      {0x28, 10, &Drive::Read10, true, false},
      {0x2A, 10, &Drive::Write10, true, false},
      {0x2B, 10, &Drive::Seek10, true, false},
      {0x2F, 10, &Drive::Verify10, true, false},
      {0x35, 10, &Drive::SynchronizeCache, true, false},
      {0x42, 10, &Drive::ReadSubChannel, true, false},
      {0x43, 10, &Drive::ReadToc, true, false},
      {0x45, 10, &Drive::PlayAudio10, true, false},
      {0x47, 10, &Drive::PlayAudioMsf, true, false},
      {0x4B, 10, &Drive::PauseResume, true, false},
      {0x4E, 10, &Drive::StopPlay, true, false},
      {0x46, 10, &Drive::GetConfiguration, false, true},
      {0x4A, 10, &Drive::EventStatus, false, true},
      {0x51, 10, &Drive::ReadDiscInformation, true, false},
      {0x52, 10, &Drive::ReadTrackInformation, true, false},
      {0x53, 10, &Drive::ReserveTrack, true, false},
      {0x55, 10, &Drive::ModeSelect10, false, false},
      {0x5A, 10, &Drive::ModeSense10, false, false},
      {0x5B, 10, &Drive::CloseTrackSession, true, false},
      {0x5C, 10, &Drive::ReadBufferCapacity, false, false},
      {0x5D, 10, &Drive::SendCueSheet, true, false},
      {0xA1, 12, &Drive::Blank, true, false},
      {0xA5, 12, &Drive::PlayAudio12, true, false},
      {0xA8, 12, &Drive::Read12, true, false},
      {0xAA, 12, &Drive::Write12, true, false},
      {0xAC, 12, &Drive::GetPerformance, true, false},
      {0xAD, 12, &Drive::ReadDiscStructure, true, false},
      {0xB6, 12, &Drive::SetStreaming, true, false},
      {0xBB, 12, &Drive::SetCdSpeed, false, false},
      {0xBD, 12, &Drive::MechanismStatus, false, true},
      {0xB9, 12, &Drive::ReadCdMsf, true, false},
      {0xBE, 12, &Drive::ReadCd, true, false},
      {0xDF, 12, &Drive::VendorCdScan, true, false},
      {0xF3, 10, &Drive::VendorDvdScan, true, false},
  };
  return table;
}

const Drive::Entry* Drive::Find(std::uint8_t opcode) const {
  if (spec_.quirks.no_vendor && (opcode == 0xDF || opcode == 0xF3)) return nullptr;
  if (spec_.quirks.no_performance && opcode == 0xAC) return nullptr;
  for (const Entry& entry : Table()) {
    if (entry.opcode == opcode) return &entry;
  }
  return nullptr;
}

Sense Drive::NotReadySense() const {
  return tray_open_ ? kNoMediumTrayOpen : kNoMediumTrayClosed;
}

Drive::Initiator& Drive::InitiatorOf(std::string_view nexus) {
  auto it = initiators_.find(nexus);
  if (it != initiators_.end()) return it->second;
  // Names come from peers: forget nexuses that are gone before the table grows large.
  constexpr std::size_t kMostRemembered = 256;
  if (initiators_.size() >= kMostRemembered) {
    std::erase_if(initiators_, [this](const auto& entry) {
      return entry.second.sessions == 0 && &entry.second != current_ && !entry.first.empty();
    });
  }
  return initiators_.emplace(std::string(nexus), Initiator{}).first->second;
}

void Drive::Establish(Initiator& initiator, Sense sense) {
  // One condition a nexus: a reset or power on (29h) goes before a medium change.
  const bool pending_reset = (initiator.attention & 0xFF00) == 0x2900;
  if (sense == kMediumChanged && pending_reset) return;
  initiator.attention = sense;
}

bool Drive::Prevented() const {
  return std::any_of(initiators_.begin(), initiators_.end(),
                     [](const auto& entry) { return entry.second.prevents; });
}

void Drive::Nexus(std::string_view nexus, NexusEvent event) {
  std::lock_guard lock(mutex_);
  switch (event) {
    case NexusEvent::kLogin: {
      served_ = true;
      const bool known = initiators_.find(nexus) != initiators_.end();
      Initiator& initiator = InitiatorOf(nexus);
      // A login that reinstates the nexus of a session still open ends that session: the
      // nexus is lost and made again.
      if (initiator.sessions > 0) initiator.prevents = false;
      ++initiator.sessions;
      Establish(initiator, known ? kNexusLossOccurred : kPowerOnOccurred);
      break;
    }
    case NexusEvent::kLoss: {
      // The connection of a reinstated session goes after its successor has logged in: the
      // successor keeps what it has set.
      Initiator& initiator = InitiatorOf(nexus);
      if (initiator.sessions > 0 && --initiator.sessions == 0) initiator.prevents = false;
      break;
    }
    case NexusEvent::kLunReset:
    case NexusEvent::kTargetReset:
      for (auto& [name, initiator] : initiators_) {
        initiator.prevents = false;
        if (initiator.sessions > 0) Establish(initiator, kDeviceResetOccurred);
      }
      break;
  }
}

Sense Drive::Gate(const Entry& entry, Command& command) {
  if (background_.active && Advance(background_)) FinishBackgroundFormat();
  if (!entry.skips_attention) {
    if (becoming_ready_ > 0 && Loaded()) {
      --becoming_ready_;
      return kBecomingReady;
    }
    if (current_->attention != kGood) {
      return std::exchange(current_->attention, kGood);
    }
  }
  if (entry.needs_medium && !Loaded()) return NotReadySense();
  // While a long operation runs, commands that reach for the disc (or the tray) wait.
  if (entry.opcode == 0x03) return kGood;  // REQUEST SENSE reports the operation itself
  return Busy(entry.needs_medium || entry.opcode == 0x1B, command);
}

Sense Drive::InjectedFault(const Command& command) {
  const std::uint8_t opcode = command.cdb[0];
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->opcode != opcode) continue;
    if (it->lba) {
      std::int64_t first = 0;
      std::int64_t count = 0;
      if (!AddressedRange(command.cdb, &first, &count)) continue;
      if (*it->lba < first || *it->lba >= first + std::max<std::int64_t>(count, 1)) continue;
    }
    const Sense sense = it->sense;
    if (it->count > 0 && --it->count == 0) faults_.erase(it);
    return sense;
  }
  return kGood;
}

Reply Drive::Execute(const std::uint8_t* cdb_bytes, std::size_t cdb_length, Direction direction,
                     std::uint8_t* data, std::size_t length, std::chrono::milliseconds timeout,
                     std::string_view nexus, ImageRange* file) {
  std::lock_guard lock(mutex_);
  current_ = &InitiatorOf(nexus);
  Reply reply;
  time_left_ =
      timeout.count() > 0 ? std::chrono::microseconds(timeout) : std::chrono::microseconds::max();
  timed_out_ = false;
  if (cdb_bytes == nullptr || cdb_length < 6 || cdb_length > 16 ||
      (data == nullptr && length > 0)) {
    reply.status = Status::kTransportFailure;
    reply.system_error = EINVAL;
    return reply;
  }
  std::uint8_t cdb[16] = {};
  std::memcpy(cdb, cdb_bytes, cdb_length);
  for (auto it = fails_.begin(); it != fails_.end(); ++it) {
    if (it->opcode != cdb[0]) continue;
    if (it->count > 0 && --it->count == 0) fails_.erase(it);
    reply.status = Status::kTransportFailure;
    reply.system_error = EIO;
    return reply;
  }
  Command command;
  command.cdb = cdb;
  if (direction == Direction::kOut) {
    command.data_out = data;
    command.data_out_length = length;
  } else if (direction == Direction::kIn) {
    command.in_length = length;
    command.in_data = data;
    command.in_file = file;
  }
  Sense sense = kInvalidOpcode;
  const Entry* entry = Find(cdb[0]);
  if (entry != nullptr) {
    // A CDB shorter than its group, or NACA set in its control byte (no ACA here).
    const bool naca = cdb_length >= entry->length && (cdb[entry->length - 1] & 0x04) != 0;
    sense = cdb_length < entry->length || naca ? kInvalidField : Gate(*entry, command);
    if (sense == kGood) sense = InjectedFault(command);
    if (sense == kGood) {
      sense = (this->*(entry->handler))(command);
      if (entry->needs_medium) {
        std::int64_t first = 0;
        std::int64_t count = 0;
        if (AddressedRange(cdb, &first, &count)) head_ = static_cast<std::int32_t>(first);
      }
    }
  }
  if (timed_out_) return TimedOut();
  if (sense == kHostOverrun ||
      (sense == kGood && std::min(command.answer.size(), command.allocation) >
                             (direction == Direction::kIn ? length : 0))) {
    // The drive had more to send than the host's buffer holds (or needed more than the
    // host sent): the host adapter fails the request, as SG_IO reports a host error.
    reply.status = Status::kTransportFailure;
    reply.system_error = EIO;
    return reply;
  }
  if (sense != kGood) {
    reply.status = Status::kCheckCondition;
    FillSense(sense, command.information, command.information_valid, command.progress, reply.sense);
    return reply;
  }
  // What the drive really moved: a reply shorter than the buffer leaves a residual.
  if (direction == Direction::kIn) {
    if (command.in_place > 0) {
      reply.transferred = command.in_place;
    } else {
      const std::size_t n = std::min(command.answer.size(), command.allocation);
      if (n > 0) std::memcpy(data, command.answer.data(), n);
      reply.transferred = n;
    }
  } else if (direction == Direction::kOut) {
    reply.transferred = command.data_out_taken;
  }
  if (command.transfer_bytes > 0) {
    const std::uint64_t speed = std::max<std::uint32_t>(CurrentReadSpeed(), 1);
    Spend(std::chrono::microseconds(command.transfer_bytes * 1000 / speed));
  }
  if (timed_out_) return TimedOut();
  return reply;
}

std::vector<std::uint32_t> Drive::ReadSpeeds() const {
  if (!medium_.present) return {};
  switch (medium_.family) {
    case Family::kCd:
      return {8467, 7056, 5645, 4234, 2822, 1411, 706};
    case Family::kDvd:
      if (medium_.profile == 0x12) return {16620, 8310, 5540, 2770};
      if (medium_.layers == 2) return {16620, 11080, 8310, 5540, 2770};
      return {22160, 16620, 11080, 8310, 5540, 2770};
    case Family::kBd:
      return {17980, 8990, 4495};
    case Family::kHdDvd:
      return {13500, 9000, 4500};
    case Family::kNone:
      break;
  }
  return {};
}

std::vector<std::uint32_t> Drive::WriteSpeeds() const {
  if (!medium_.present) return {};
  switch (medium_.profile) {
    case 0x09:
      return {8467, 7056, 5645, 4234, 2822};
    case 0x0A:
      return {5645, 4234, 2822, 1764, 706};
    case 0x11:
      return {22160, 11080, 5540};
    case 0x1B:
      return {22160, 16620, 11080, 8310, 5540};
    case 0x15:
    case 0x2B:
      return {11080, 8310, 5540, 3324};
    case 0x13:
    case 0x14:
      return {8310, 5540, 2770};
    case 0x12:
      return {16620, 6925, 4155};
    case 0x1A:
      return {11080, 5540};
    default:
      return {};
  }
}

std::uint32_t Drive::CurrentReadSpeed() const {
  const std::vector<std::uint32_t> speeds = ReadSpeeds();
  return speeds.empty() ? 22160 : Pick(speeds, requested_read_speed_);
}

std::uint32_t Drive::CurrentWriteSpeed() const {
  return Pick(WriteSpeeds(), requested_write_speed_);
}

}  // namespace zorvane::vdrive
