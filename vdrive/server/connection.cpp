#include "vdrive/server/connection.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "vdrive/bytes.h"

namespace zorvane::vdrive::server {

namespace {

constexpr std::size_t kLoginDataSegment = 8192;  // before anything is declared
constexpr std::size_t kMaxTextBytes = 65536;     // a login or text request over several PDUs
constexpr std::uint32_t kMinBurst = 512;
constexpr std::uint32_t kMaxBurst = 16777215;

// Login status (class << 8 | detail).
constexpr std::uint16_t kLoginInitiatorError = 0x0200;
constexpr std::uint16_t kLoginAuthFailure = 0x0201;
constexpr std::uint16_t kLoginNotFound = 0x0203;
constexpr std::uint16_t kLoginUnsupportedVersion = 0x0205;
constexpr std::uint16_t kLoginMissingParameter = 0x0207;
constexpr std::uint16_t kLoginSessionTypeUnsupported = 0x0209;
constexpr std::uint16_t kLoginNoSession = 0x020A;
constexpr std::uint16_t kLoginOutOfResources = 0x0302;

constexpr std::uint8_t kRejectImmediateCommand = 0x06;  // too many immediate commands
constexpr std::uint8_t kRejectTaskInProgress = 0x07;
constexpr std::size_t kEndedTagsKept = 64;

// Task management responses.
constexpr std::uint8_t kTmfComplete = 0;
constexpr std::uint8_t kTmfNoTask = 1;
constexpr std::uint8_t kTmfNoLun = 2;
constexpr std::uint8_t kTmfNoReassignment = 4;
constexpr std::uint8_t kTmfNotSupported = 5;
constexpr std::uint8_t kTmfRejected = 255;

// Residual flags of a SCSI Response (Data-In: the same bits).
constexpr std::uint8_t kOverflow = 0x04;
constexpr std::uint8_t kUnderflow = 0x02;

constexpr std::uint8_t kStatusGood = 0x00;
constexpr std::uint8_t kStatusCheckCondition = 0x02;
constexpr std::uint8_t kResponseTargetFailure = 0x01;

bool HasValue(std::string_view list, std::string_view value) {
  std::size_t at = 0;
  while (at <= list.size()) {
    const std::size_t comma = std::min(list.find(',', at), list.size());
    if (list.substr(at, comma - at) == value) return true;
    at = comma + 1;
  }
  return false;
}

bool ParseBool(std::string_view text, bool* value) {
  if (text == "Yes") {
    *value = true;
  } else if (text == "No") {
    *value = false;
  } else {
    return false;
  }
  return true;
}

std::vector<std::uint8_t> FixedSense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  std::vector<std::uint8_t> sense(kFixedSenseLength, 0);
  sense[0] = 0x70;
  sense[2] = key;
  sense[7] = 10;
  sense[12] = asc;
  sense[13] = ascq;
  return sense;
}

bool ReadOpcode(std::uint8_t opcode) {
  return opcode == 0x28 || opcode == 0xA8 || opcode == 0xBE || opcode == 0xB9;
}

// The first block and the block count of a read command.
void ReadRange(const std::uint8_t* cdb, std::int64_t* first, std::uint64_t* count) {
  switch (cdb[0]) {
    case 0x28:
      *first = Get32(cdb + 2);
      *count = Get16(cdb + 7);
      return;
    case 0xA8:
      *first = Get32(cdb + 2);
      *count = Get32(cdb + 6);
      return;
    case 0xBE:
      *first = Get32(cdb + 2);
      *count = Get24(cdb + 6);
      return;
    default: {  // READ CD MSF: from the start time up to the end time
      *first = MsfToLba(Msf{cdb[3], cdb[4], cdb[5]});
      const std::int64_t end = MsfToLba(Msf{cdb[6], cdb[7], cdb[8]});
      *count = end > *first ? static_cast<std::uint64_t>(end - *first) : 0;
      return;
    }
  }
}

// The same read command for `count` blocks from `first` (both within the original range).
void SetReadRange(std::uint8_t* cdb, std::int64_t first, std::uint64_t count) {
  switch (cdb[0]) {
    case 0x28:
      Put32(cdb + 2, static_cast<std::uint32_t>(first));
      Put16(cdb + 7, static_cast<std::uint16_t>(count));
      return;
    case 0xA8:
      Put32(cdb + 2, static_cast<std::uint32_t>(first));
      Put32(cdb + 6, static_cast<std::uint32_t>(count));
      return;
    case 0xBE:
      Put32(cdb + 2, static_cast<std::uint32_t>(first));
      Put24(cdb + 6, static_cast<std::uint32_t>(count));
      return;
    default: {
      const Msf start = LbaToMsf(static_cast<std::int32_t>(first));
      const Msf end = LbaToMsf(static_cast<std::int32_t>(first + static_cast<std::int64_t>(count)));
      cdb[3] = static_cast<std::uint8_t>(start.minute);
      cdb[4] = static_cast<std::uint8_t>(start.second);
      cdb[5] = static_cast<std::uint8_t>(start.frame);
      cdb[6] = static_cast<std::uint8_t>(end.minute);
      cdb[7] = static_cast<std::uint8_t>(end.second);
      cdb[8] = static_cast<std::uint8_t>(end.frame);
      return;
    }
  }
}

// The most a data-in command can return: the blocks of a read (a raw CD sector with its
// C2 pointers and block error byte at most), 64 KiB otherwise, which every allocation
// length of the drive's other commands fits. What the initiator expects does not count:
// an initiator expecting less hears of the overflow, one expecting more of the underflow.
std::uint64_t AnswerBound(const std::uint8_t* cdb) {
  if (!ReadOpcode(cdb[0])) return 65535;
  std::int64_t first = 0;
  std::uint64_t count = 0;
  ReadRange(cdb, &first, &count);
  return count * (cdb[0] == 0x28 || cdb[0] == 0xA8 ? 2048 : 2352 + 296);
}

}  // namespace

Target::Target(std::unique_ptr<Drive> drive, TargetSettings settings)
    : settings_(std::move(settings)), drive_(std::move(drive)) {}

Reply Target::Execute(const std::uint8_t* cdb, std::size_t cdb_length, Direction direction,
                      std::uint8_t* data, std::size_t length, std::string_view nexus,
                      ImageRange* file) {
  std::lock_guard lock(drive_lock_);
  return drive_->Execute(cdb, cdb_length, direction, data, length, {}, nexus, file);
}

bool PduSink::SendFile(const std::uint8_t* header, int fd, std::int64_t offset,
                       std::size_t length) {
  std::vector<std::uint8_t> data(length);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd, data.data() + done, length - done,
                              static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // the file no longer holds the range: the connection ends
    done += static_cast<std::size_t>(n);
  }
  return Send(header, data.data(), length);
}

void Target::Nexus(std::string_view nexus, NexusEvent event) {
  std::lock_guard lock(drive_lock_);
  drive_->Nexus(nexus, event);
}

std::uint16_t Target::NewSessionHandle() {
  // Never 0, which stands for "a new session".
  for (;;) {
    const auto handle = static_cast<std::uint16_t>(++next_handle_);
    if (handle != 0) return handle;
  }
}

Connection::Connection(Target& target, std::string portal)
    : target_(target), portal_(std::move(portal)) {}

Connection::~Connection() {
  if (!nexus_.empty()) target_.Nexus(nexus_, NexusEvent::kLoss);
}

std::size_t Connection::MaxDataSegment() const {
  return declared_ && stage_ == kFullFeature ? target_.settings().max_recv_data_segment
                                             : kLoginDataSegment;
}

bool Connection::Receive(const Pdu& pdu, PduSink& sink) {
  if (stage_ != kFullFeature) {
    if (pdu.opcode() != kLoginRequest) {
      error_ = "a PDU other than a login request before the login completed";
      return false;
    }
    return Login(pdu, sink);
  }
  if (!pdu.ahs.empty() && pdu.opcode() != kScsiCommand) {
    return Fail(pdu.header, kRejectProtocolError, "additional header segment on a non-command PDU",
                sink);
  }
  switch (pdu.opcode()) {
    case kNopOut:
      return Nop(pdu, sink);
    case kScsiCommand:
      return ScsiCommand(pdu, sink);
    case kTaskRequest:
      return TaskManagement(pdu, sink);
    case kTextRequest:
      return Text(pdu, sink);
    case kDataOut:
      return DataOut(pdu, sink);
    case kLogoutRequest:
      return Logout(pdu, sink);
    case kSnack:  // no recovery at error recovery level 0
      return Reject(pdu.header, kRejectProtocolError, sink);
    default:
      return Fail(pdu.header, kRejectProtocolError, "login request in the full feature phase",
                  sink);
  }
}

void Connection::RejectHeader(const std::uint8_t* header, PduSink& sink) {
  if (stage_ == kFullFeature) Reject(header, kRejectProtocolError, sink);
}

bool Connection::Ping(PduSink& sink) {
  std::uint8_t h[kHeaderLength] = {};
  h[0] = kNopIn;
  h[1] = 0x80;
  Put32(h + 16, kNoTag);
  ping_tag_ = NewTransferTag();
  Put32(h + 20, ping_tag_);
  FillNumbers(h, false);
  return sink.Send(h, nullptr, 0);
}

// Login ------------------------------------------------------------------------------------

bool Connection::Login(const Pdu& pdu, PduSink& sink) {
  const std::uint8_t* h = pdu.header;
  const bool transit = (h[1] & 0x80) != 0;
  const bool more = (h[1] & 0x40) != 0;
  const int current = (h[1] >> 2) & 3;
  const int next = h[1] & 3;
  const std::uint8_t stage_bits = static_cast<std::uint8_t>(current << 2);
  if (!login_started_) {
    std::memcpy(isid_, h + 8, sizeof isid_);
    exp_cmd_sn_ = Get32(h + 24);
    stat_sn_ = Get32(h + 28);
    login_started_ = true;
    if (Get16(h + 14) != 0) {
      // Adding a connection to a session: this target has one connection a session.
      return LoginAnswer(pdu, stage_bits, kLoginNoSession, {}, sink);
    }
    if (current == kOperational) stage_ = kOperational;
  } else if (std::memcmp(isid_, h + 8, sizeof isid_) != 0 || Get16(h + 14) != 0) {
    return LoginAnswer(pdu, stage_bits, kLoginInitiatorError, {}, sink);
  }
  if (h[3] != 0) return LoginAnswer(pdu, stage_bits, kLoginUnsupportedVersion, {}, sink);
  if (current != stage_ || (transit && more) || (transit && (next <= current || next == 2))) {
    return LoginAnswer(pdu, stage_bits, kLoginInitiatorError, {}, sink);
  }
  if (login_text_.size() + pdu.data.size() > kMaxTextBytes) {
    return LoginAnswer(pdu, stage_bits, kLoginOutOfResources, {}, sink);
  }
  login_text_.insert(login_text_.end(), pdu.data.begin(), pdu.data.end());
  if (more) return LoginAnswer(pdu, stage_bits, 0, {}, sink);  // the rest of the text follows

  TextKeys keys;
  std::string error;
  const bool parsed = ParseTextKeys(login_text_, &keys, &error);
  login_text_.clear();
  if (!parsed) {
    error_ = error;
    return LoginAnswer(pdu, stage_bits, kLoginInitiatorError, {}, sink);
  }
  std::vector<std::uint8_t> answer;
  std::uint16_t status = 0;
  const bool leading = !name_checked_;
  if (!Negotiate(keys, leading, &answer, &status)) {
    return LoginAnswer(pdu, stage_bits, status, {}, sink);
  }
  name_checked_ = true;
  if (!declared_ && (current == kOperational || (transit && next == kFullFeature))) {
    AppendTextKey(answer, "MaxRecvDataSegmentLength",
                  std::to_string(target_.settings().max_recv_data_segment));
    declared_ = true;
  }
  std::uint8_t flags = stage_bits;
  if (transit) {
    flags |= static_cast<std::uint8_t>(0x80 | next);
    if (next == kFullFeature) session_handle_ = target_.NewSessionHandle();
  }
  const bool sent = LoginAnswer(pdu, flags, 0, answer, sink);
  if (transit) stage_ = static_cast<Stage>(next);
  if (stage_ == kFullFeature && !discovery_ && nexus_.empty()) {
    // The initiator port: its name and ISID.
    char isid[16];
    std::snprintf(isid, sizeof isid, "%02x%02x%02x%02x%02x%02x", isid_[0], isid_[1], isid_[2],
                  isid_[3], isid_[4], isid_[5]);
    nexus_ = initiator_name_ + ",i,0x" + isid;
    target_.Nexus(nexus_, NexusEvent::kLogin);
  }
  return sent;
}

bool Connection::Negotiate(const TextKeys& keys, bool leading, std::vector<std::uint8_t>* answer,
                           std::uint16_t* status) {
  const TargetSettings& ours = target_.settings();
  // FirstBurstLength may not exceed MaxBurstLength: find the latter first.
  std::uint32_t max_burst = max_burst_;
  for (const auto& [key, value] : keys) {
    std::uint32_t n = 0;
    if (key == "MaxBurstLength" && ParseNumber(value, &n) && n >= kMinBurst && n <= kMaxBurst) {
      max_burst = std::min(n, ours.max_burst);
    }
  }
  bool target_named = false;
  for (const auto& [key, value] : keys) {
    // A key is negotiated once a login; sent again, it is the initiator's error.
    if (std::find(login_keys_.begin(), login_keys_.end(), key) != login_keys_.end()) {
      error_ = "key " + key + " sent twice in one login";
      *status = kLoginInitiatorError;
      return false;
    }
    login_keys_.push_back(key);
  }
  for (const auto& [key, value] : keys) {
    std::uint32_t n = 0;
    bool flag = false;
    if (value == "NotUnderstood" || value == "Irrelevant" || value == "Reject") continue;
    if (key == "InitiatorName") {
      initiator_name_ = value;
    } else if (key == "InitiatorAlias" || key == "TargetAlias" || key == "TargetPortalGroupTag" ||
               key == "TargetAddress" || key == "SendTargets") {
      // Names for people, or keys only a target declares: nothing to answer.
    } else if (key == "SessionType") {
      if (value == "Discovery") {
        discovery_ = true;
      } else if (value != "Normal") {
        *status = kLoginSessionTypeUnsupported;
        return false;
      }
    } else if (key == "TargetName") {
      if (leading) {
        if (value != ours.name) {
          *status = kLoginNotFound;
          return false;
        }
        target_named = true;
      }
    } else if (key == "AuthMethod") {
      if (!HasValue(value, "None")) {
        *status = kLoginAuthFailure;
        return false;
      }
      AppendTextKey(*answer, key, "None");
    } else if (key == "HeaderDigest" || key == "DataDigest") {
      AppendTextKey(*answer, key, HasValue(value, "None") ? "None" : "Reject");
    } else if (key == "MaxConnections" || key == "MaxOutstandingR2T") {
      // One connection a session, one R2T at a time: the smaller value wins.
      AppendTextKey(*answer, key, ParseNumber(value, &n) && n >= 1 ? "1" : "Reject");
    } else if (key == "InitialR2T") {
      // Yes wins; this target takes unsolicited data, so the initiator's choice stands.
      if (ParseBool(value, &flag)) initial_r2t_ = flag;
      AppendTextKey(*answer, key, ParseBool(value, &flag) ? value : "Reject");
    } else if (key == "ImmediateData") {
      if (ParseBool(value, &flag)) {
        immediate_data_ = flag && ours.immediate_data;
        AppendTextKey(*answer, key, immediate_data_ ? "Yes" : "No");
      } else {
        AppendTextKey(*answer, key, "Reject");
      }
    } else if (key == "MaxRecvDataSegmentLength") {
      if (ParseNumber(value, &n) && n >= kMinBurst && n <= kMaxBurst) {
        peer_max_data_ = n;
      } else {
        AppendTextKey(*answer, key, "Reject");
      }
    } else if (key == "MaxBurstLength") {
      if (ParseNumber(value, &n) && n >= kMinBurst && n <= kMaxBurst) {
        max_burst_ = max_burst;
        AppendTextKey(*answer, key, std::to_string(max_burst_));
      } else {
        AppendTextKey(*answer, key, "Reject");
      }
    } else if (key == "FirstBurstLength") {
      if (ParseNumber(value, &n) && n >= kMinBurst && n <= kMaxBurst) {
        first_burst_ = std::min({n, ours.first_burst, max_burst});
        AppendTextKey(*answer, key, std::to_string(first_burst_));
      } else {
        AppendTextKey(*answer, key, "Reject");
      }
    } else if (key == "DefaultTime2Wait") {
      AppendTextKey(*answer, key,
                    ParseNumber(value, &n) && n <= 3600 ? std::to_string(n) : "Reject");
    } else if (key == "DefaultTime2Retain") {
      AppendTextKey(*answer, key, ParseNumber(value, &n) && n <= 3600 ? "0" : "Reject");
    } else if (key == "DataPDUInOrder" || key == "DataSequenceInOrder") {
      AppendTextKey(*answer, key, ParseBool(value, &flag) ? "Yes" : "Reject");
    } else if (key == "ErrorRecoveryLevel") {
      AppendTextKey(*answer, key, ParseNumber(value, &n) ? "0" : "Reject");
    } else if (key == "IFMarker" || key == "OFMarker") {
      AppendTextKey(*answer, key, ParseBool(value, &flag) ? "No" : "Reject");
    } else if (key == "IFMarkInt" || key == "OFMarkInt") {
      AppendTextKey(*answer, key, "Irrelevant");
    } else if (key == "iSCSIProtocolLevel") {
      AppendTextKey(*answer, key, ParseNumber(value, &n) ? (n >= 1 ? "1" : "0") : "Reject");
    } else if (key == "TaskReporting") {
      AppendTextKey(*answer, key, "RFC3720");
    } else {
      AppendTextKey(*answer, key, "NotUnderstood");
    }
  }
  first_burst_ = std::min(first_burst_, max_burst_);
  if (leading) {
    if (initiator_name_.empty() || (!discovery_ && !target_named)) {
      *status = kLoginMissingParameter;
      return false;
    }
    if (!discovery_) AppendTextKey(*answer, "TargetPortalGroupTag", "1");
  }
  return true;
}

bool Connection::LoginAnswer(const Pdu& request, std::uint8_t flags, std::uint16_t status,
                             const std::vector<std::uint8_t>& text, PduSink& sink) {
  std::uint8_t h[kHeaderLength] = {};
  h[0] = kLoginResponse;
  h[1] = flags;
  Put24(h + 5, static_cast<std::uint32_t>(text.size()));
  std::memcpy(h + 8, request.header + 8, 6);
  if ((flags & 0x83) == 0x83) Put16(h + 14, session_handle_);
  std::memcpy(h + 16, request.header + 16, 4);
  FillNumbers(h, true);
  Put16(h + 36, status);
  const bool sent = sink.Send(h, text.data(), text.size());
  if (status != 0) {
    if (error_.empty()) error_ = "login refused with status " + std::to_string(status);
    return false;
  }
  return sent;
}

// Full feature phase -------------------------------------------------------------------------

void Connection::FillNumbers(std::uint8_t* h, bool advance_status) {
  Put32(h + 24, stat_sn_);
  if (advance_status) ++stat_sn_;
  const std::uint32_t window = target_.settings().command_window;
  const auto queued = static_cast<std::uint32_t>(std::min<std::size_t>(tasks_.size(), window));
  Put32(h + 28, exp_cmd_sn_);
  Put32(h + 32, exp_cmd_sn_ + (window - queued) - 1);
}

bool Connection::CheckCommandNumber(const Pdu& pdu, bool* drop) {
  *drop = false;
  if (pdu.immediate()) return true;
  const std::uint32_t number = pdu.Field32(24);
  // Outside the window, or a number skipped: ignored, as the initiator went wrong.
  if (number != exp_cmd_sn_ || tasks_.size() >= target_.settings().command_window) {
    *drop = true;
    return true;
  }
  ++exp_cmd_sn_;
  return true;
}

Connection::Task* Connection::FindTask(std::uint32_t tag) {
  const auto it = task_index_.find(tag);
  return it == task_index_.end() ? nullptr : &*it->second;
}

void Connection::AddTask(Task task) {
  const std::uint32_t tag = task.tag;
  tasks_.push_back(std::move(task));
  task_index_[tag] = std::prev(tasks_.end());
}

void Connection::EndTask(std::list<Task>::iterator task) {
  RememberEnded(task->tag);
  task_index_.erase(task->tag);
  tasks_.erase(task);
}

void Connection::EndAllTasks() {
  while (!tasks_.empty()) EndTask(tasks_.begin());
}

bool Connection::RecentlyEnded(std::uint32_t tag) const {
  return std::find(ended_tags_.begin(), ended_tags_.end(), tag) != ended_tags_.end();
}

void Connection::RememberEnded(std::uint32_t tag) {
  if (ended_tags_.size() == kEndedTagsKept) ended_tags_.pop_front();
  ended_tags_.push_back(tag);
}

std::uint32_t Connection::NewTransferTag() {
  if (next_transfer_tag_ == kNoTag) next_transfer_tag_ = 1;
  return next_transfer_tag_++;
}

bool Connection::ScsiCommand(const Pdu& pdu, PduSink& sink) {
  const std::uint8_t* h = pdu.header;
  if (discovery_) {
    return Fail(h, kRejectNotSupported, "SCSI command in a discovery session", sink);
  }
  if (pdu.tag() == kNoTag) {  // reserved: no task may carry it
    return Fail(h, kRejectInvalidField, "SCSI command with the reserved task tag", sink);
  }
  // Additional header segments: each a length, a type and its bytes, filling the whole.
  for (std::size_t at = 0; at < pdu.ahs.size();) {
    if (pdu.ahs.size() - at < 4) return Fail(h, kRejectInvalidField, "short AHS", sink);
    const std::size_t length = Get16(pdu.ahs.data() + at);  // after its length and type
    const std::size_t total = (3 + length + 3) & ~std::size_t{3};
    if (length == 0 || total > pdu.ahs.size() - at) {
      return Fail(h, kRejectInvalidField, "AHS length beyond the header", sink);
    }
    at += total;
  }
  const bool final = (h[1] & 0x80) != 0;
  const bool read = (h[1] & 0x40) != 0;
  const bool write = (h[1] & 0x20) != 0;
  const std::uint32_t expected = pdu.Field32(20);
  const auto immediate_bytes = static_cast<std::uint32_t>(pdu.data.size());
  const std::uint32_t unsolicited =
      write && (immediate_data_ || !initial_r2t_) ? std::min(first_burst_, expected) : 0;
  if ((!write && immediate_bytes > 0) || (!read && !write && expected > 0) ||
      (immediate_bytes > 0 && !immediate_data_) || immediate_bytes > unsolicited ||
      (!final && (!write || initial_r2t_ || immediate_bytes >= unsolicited))) {
    return Fail(h, kRejectProtocolError, "SCSI command flags, lengths or immediate data", sink);
  }
  bool drop = false;
  CheckCommandNumber(pdu, &drop);
  if (drop) {
    RememberEnded(pdu.tag());  // unsolicited data of it may follow
    return true;
  }
  if (FindTask(pdu.tag()) != nullptr) return Reject(h, kRejectTaskInProgress, sink);
  // Immediate commands count against the window as well: one beyond it is rejected.
  if (tasks_.size() >= target_.settings().command_window) {
    RememberEnded(pdu.tag());
    return Reject(h, kRejectImmediateCommand, sink);
  }

  Task task;
  task.tag = pdu.tag();
  task.lun_zero = std::all_of(h + 8, h + 16, [](std::uint8_t b) { return b == 0; });
  std::memcpy(task.cdb, h + 32, sizeof task.cdb);
  task.expected = expected;
  task.direction = write ? Direction::kOut : read ? Direction::kIn : Direction::kNone;
  task.refused = (read && write) || expected > target_.settings().max_transfer;
  if (write) {
    task.unsolicited_limit = unsolicited;
    task.unsolicited_done = final;
    task.data = pdu.data;
  }
  if (task.refused) {  // its data is let go
    task.direction = Direction::kNone;
    task.data.clear();
  }
  AddTask(std::move(task));
  return Pump(sink);
}

bool Connection::DataOut(const Pdu& pdu, PduSink& sink) {
  const std::uint8_t* h = pdu.header;
  Task* task = FindTask(pdu.tag());
  if (task == nullptr || task->direction != Direction::kOut) {
    // Data of a command refused, dropped or aborted while its data was on its way is let
    // go; data for a task that never was, or takes none, breaks the protocol.
    if (task != nullptr ? task->refused : RecentlyEnded(pdu.tag())) return true;
    return Fail(h, kRejectInvalidField, "Data-Out for no task that takes data", sink);
  }
  const std::uint32_t transfer_tag = pdu.Field32(20);
  const std::uint32_t data_sn = pdu.Field32(36);
  const std::uint32_t offset = pdu.Field32(40);
  const auto length = static_cast<std::uint32_t>(pdu.data.size());
  const auto received = static_cast<std::uint32_t>(task->data.size());
  if (transfer_tag == kNoTag) {
    if (task->unsolicited_done || data_sn != task->unsolicited_datasn || offset != received ||
        length > task->unsolicited_limit - received) {
      return Fail(h, kRejectProtocolError, "unsolicited data out of sequence or beyond the burst",
                  sink);
    }
    ++task->unsolicited_datasn;
    // The first burst ends with its F bit, or where it reaches its limit.
    if (pdu.final() || received + length == task->unsolicited_limit) {
      task->unsolicited_done = true;
    }
  } else {
    if (!task->r2t_open || transfer_tag != task->r2t_tag || data_sn != task->burst_datasn ||
        offset != task->r2t_offset + task->burst_received ||
        length > task->r2t_length - task->burst_received ||
        (pdu.final() && task->burst_received + length != task->r2t_length)) {
      return Fail(h, kRejectProtocolError, "solicited data out of sequence or beyond the R2T",
                  sink);
    }
    ++task->burst_datasn;
    task->burst_received += length;
    if (pdu.final()) task->r2t_open = false;
  }
  task->data.insert(task->data.end(), pdu.data.begin(), pdu.data.end());
  return Pump(sink);
}

bool Connection::Pump(PduSink& sink) {
  while (!tasks_.empty()) {
    Task& head = tasks_.front();
    if (head.direction == Direction::kOut && head.data.size() < head.expected) {
      if (!head.unsolicited_done || head.r2t_open) return true;
      std::uint8_t h[kHeaderLength] = {};
      h[0] = kR2t;
      h[1] = 0x80;
      Put32(h + 16, head.tag);
      head.r2t_tag = NewTransferTag();
      head.r2t_offset = static_cast<std::uint32_t>(head.data.size());
      head.r2t_length = std::min(max_burst_, head.expected - head.r2t_offset);
      head.r2t_open = true;
      head.burst_received = 0;
      head.burst_datasn = 0;
      Put32(h + 20, head.r2t_tag);
      FillNumbers(h, false);
      Put32(h + 36, head.r2t_sn++);
      Put32(h + 40, head.r2t_offset);
      Put32(h + 44, head.r2t_length);
      return sink.Send(h, nullptr, 0);
    }
    Task task = std::move(head);
    task_index_.erase(task.tag);
    tasks_.pop_front();
    if (task.refused) RememberEnded(task.tag);  // answered before its data came
    if (!Execute(task, sink)) return false;
  }
  return true;
}

bool Connection::Execute(Task& task, PduSink& sink) {
  const std::uint32_t expected = task.expected;
  // REPORT LUNS is the target's to answer, for any LUN: one logical unit, LUN 0.
  std::vector<std::uint8_t> answer;        // an answer of the target's own
  std::unique_ptr<std::uint8_t[]> buffer;  // the drive's answer
  const std::uint8_t* payload = nullptr;
  std::uint64_t produced = 0;  // what the command returns, moved or not
  ImageRange file;             // the answer as a range of a pressed disc's image
  Reply reply;
  if (task.cdb[0] == 0xA0 && !task.refused) {
    answer.assign(16, 0);
    answer[3] = 8;
    reply.transferred = std::min<std::size_t>(answer.size(), Get32(task.cdb + 6));
  } else if (!task.lun_zero) {
    if (task.cdb[0] == 0x12 && (task.cdb[1] & 1) == 0) {  // no logical unit here
      answer.assign(36, 0);
      answer[0] = 0x7F;
      answer[4] = 31;
      reply.transferred = std::min<std::size_t>(answer.size(), Get16(task.cdb + 3));
    } else {
      const std::vector<std::uint8_t> sense = FixedSense(0x05, 0x25, 0x00);
      return SendResponse(task, kStatusCheckCondition, sense.data(), 0, expected ? kUnderflow : 0,
                          expected, sink);
    }
  } else if (task.refused) {
    const std::vector<std::uint8_t> sense = FixedSense(0x05, 0x24, 0x00);
    return SendResponse(task, kStatusCheckCondition, sense.data(), 0, expected ? kUnderflow : 0,
                        expected, sink);
  } else if (task.direction == Direction::kOut) {
    reply = target_.Execute(task.cdb, sizeof task.cdb, Direction::kOut, task.data.data(),
                            task.data.size(), nexus_);
  } else if (task.direction == Direction::kIn || ReadOpcode(task.cdb[0])) {
    reply = ExecuteIn(task, &buffer, &produced, &file);
    payload = buffer.get();
  } else {
    reply = target_.Execute(task.cdb, sizeof task.cdb, Direction::kNone, nullptr, 0, nexus_);
  }
  if (payload == nullptr) {
    payload = answer.data();
    produced = reply.transferred;
  }

  if (reply.status == Status::kTransportFailure) {
    return SendResponse(task, 0, nullptr, kResponseTargetFailure, 0, 0, sink);
  }
  if (reply.status == Status::kCheckCondition) {
    return SendResponse(task, kStatusCheckCondition, reply.sense, 0, expected ? kUnderflow : 0,
                        expected, sink);
  }
  if (task.direction == Direction::kOut) {
    // Data beyond what the command takes (an expected length above the CDB's) is an
    // underflow: the bytes the drive did not take.
    const std::size_t taken = std::min<std::size_t>(reply.transferred, expected);
    return SendResponse(task, kStatusGood, nullptr, 0, taken < expected ? kUnderflow : 0,
                        static_cast<std::uint32_t>(expected - taken), sink);
  }

  const auto sent = static_cast<std::uint32_t>(std::min<std::size_t>(reply.transferred, expected));
  std::uint8_t residual_flags = 0;
  std::uint32_t residual = 0;
  if (produced > expected) {
    residual_flags = kOverflow;
    residual = static_cast<std::uint32_t>(std::min<std::uint64_t>(produced - expected, 0xFFFFFFFF));
  } else if (produced < expected) {
    residual_flags = kUnderflow;
    residual = expected - static_cast<std::uint32_t>(produced);
  }
  if (sent == 0) return SendResponse(task, kStatusGood, nullptr, 0, residual_flags, residual, sink);

  // Data-In PDUs, no longer than the initiator takes, sequences no longer than a burst;
  // the last one carries the status.
  std::uint32_t offset = 0;
  std::uint32_t data_sn = 0;
  std::uint32_t in_burst = 0;
  while (offset < sent) {
    const std::uint32_t length = std::min({peer_max_data_, sent - offset, max_burst_ - in_burst});
    const bool last = offset + length == sent;
    in_burst += length;
    std::uint8_t h[kHeaderLength] = {};
    h[0] = kDataIn;
    if (last) {
      h[1] = static_cast<std::uint8_t>(0x80 | 0x01 | residual_flags);
      h[3] = kStatusGood;
    } else if (in_burst == max_burst_) {
      h[1] = 0x80;
    }
    if (in_burst == max_burst_) in_burst = 0;
    Put24(h + 5, length);
    Put32(h + 16, task.tag);
    Put32(h + 20, kNoTag);
    FillNumbers(h, last);
    if (!last) Put32(h + 24, 0);
    Put32(h + 36, data_sn++);
    Put32(h + 40, offset);
    if (last) Put32(h + 44, residual);
    const bool sent_pdu = file.fd ? sink.SendFile(h, *file.fd, file.offset + offset, length)
                                  : sink.Send(h, payload + offset, length);
    if (!sent_pdu) return false;
    offset += length;
  }
  return true;
}

Reply Connection::ExecuteIn(const Task& task, std::unique_ptr<std::uint8_t[]>* buffer,
                            std::uint64_t* produced, ImageRange* file) {
  const std::uint64_t bound = AnswerBound(task.cdb);
  if (bound <= target_.settings().max_transfer) {
    // Room for all the command can return, so that an overflow is seen.
    *buffer = std::make_unique_for_overwrite<std::uint8_t[]>(bound);
    Reply reply = target_.Execute(task.cdb, sizeof task.cdb, Direction::kIn, buffer->get(), bound,
                                  nexus_, file);
    if (reply.status != Status::kGood) file->fd.reset();
    *produced = reply.transferred;
    return reply;
  }
  // A read beyond what this target moves in one command. Its last block tells whether the
  // whole range can be read and how long a block is; then the blocks the initiator takes
  // are read, and the rest is the overflow.
  std::int64_t first = 0;
  std::uint64_t count = 0;
  ReadRange(task.cdb, &first, &count);
  std::uint8_t cdb[sizeof task.cdb];
  std::memcpy(cdb, task.cdb, sizeof cdb);
  SetReadRange(cdb, first + static_cast<std::int64_t>(count) - 1, 1);
  constexpr std::size_t kLongestBlock = 2352 + 296;
  *buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kLongestBlock);
  Reply reply =
      target_.Execute(cdb, sizeof cdb, Direction::kIn, buffer->get(), kLongestBlock, nexus_);
  const std::uint64_t block = reply.transferred;
  *produced = block * count;
  if (reply.status != Status::kGood || block == 0) return reply;
  const std::uint64_t blocks =
      std::clamp<std::uint64_t>((task.expected + block - 1) / block, 1, count);
  std::memcpy(cdb, task.cdb, sizeof cdb);
  SetReadRange(cdb, first, blocks);
  *buffer = std::make_unique_for_overwrite<std::uint8_t[]>(blocks * block);
  return target_.Execute(cdb, sizeof cdb, Direction::kIn, buffer->get(), blocks * block, nexus_);
}

bool Connection::SendResponse(const Task& task, std::uint8_t status, const std::uint8_t* sense,
                              std::uint8_t response, std::uint8_t residual_flags,
                              std::uint32_t residual, PduSink& sink) {
  std::uint8_t h[kHeaderLength] = {};
  std::vector<std::uint8_t> data;
  if (sense != nullptr) {
    Append16(data, kFixedSenseLength);
    data.insert(data.end(), sense, sense + kFixedSenseLength);
  }
  h[0] = kScsiResponse;
  h[1] = static_cast<std::uint8_t>(0x80 | residual_flags);
  h[2] = response;
  h[3] = status;
  Put24(h + 5, static_cast<std::uint32_t>(data.size()));
  Put32(h + 16, task.tag);
  FillNumbers(h, true);
  Put32(h + 44, residual);
  return sink.Send(h, data.data(), data.size());
}

bool Connection::Nop(const Pdu& pdu, PduSink& sink) {
  const std::uint8_t* h = pdu.header;
  const std::uint32_t transfer_tag = pdu.Field32(20);
  if (transfer_tag != kNoTag && (pdu.tag() != kNoTag || transfer_tag != ping_tag_)) {
    return Fail(h, kRejectProtocolError, "NOP-Out answering a ping never sent", sink);
  }
  if (pdu.tag() == kNoTag) {  // the answer to this target's ping, or a ping wanting none
    if (transfer_tag != kNoTag) ping_tag_ = kNoTag;
    return true;
  }
  bool drop = false;
  CheckCommandNumber(pdu, &drop);
  if (drop) return true;
  std::uint8_t answer[kHeaderLength] = {};
  const std::size_t length = std::min<std::size_t>(pdu.data.size(), peer_max_data_);
  answer[0] = kNopIn;
  answer[1] = 0x80;
  Put24(answer + 5, static_cast<std::uint32_t>(length));
  std::memcpy(answer + 8, h + 8, 8);
  Put32(answer + 16, pdu.tag());
  Put32(answer + 20, kNoTag);
  FillNumbers(answer, true);
  return sink.Send(answer, pdu.data.data(), length);
}

bool Connection::TaskManagement(const Pdu& pdu, PduSink& sink) {
  const std::uint8_t* h = pdu.header;
  bool drop = false;
  CheckCommandNumber(pdu, &drop);
  if (drop) return true;
  const std::uint8_t function = h[1] & 0x7F;
  const bool lun_zero = std::all_of(h + 8, h + 16, [](std::uint8_t b) { return b == 0; });
  std::uint8_t response = kTmfComplete;
  bool close = false;
  switch (function) {
    case 1: {  // ABORT TASK
      const auto it = task_index_.find(pdu.Field32(20));
      if (!lun_zero) {
        response = kTmfNoLun;
      } else if (it == task_index_.end()) {
        response = kTmfNoTask;
      } else {
        EndTask(it->second);
      }
      break;
    }
    case 2:  // ABORT TASK SET
    case 4:  // CLEAR TASK SET
    case 5:  // LOGICAL UNIT RESET
      if (lun_zero) {
        EndAllTasks();
        if (function == 5) target_.Nexus(nexus_, NexusEvent::kLunReset);
      } else {
        response = kTmfNoLun;
      }
      break;
    case 6:  // TARGET WARM RESET
      EndAllTasks();
      target_.Nexus(nexus_, NexusEvent::kTargetReset);
      break;
    case 7:  // TARGET COLD RESET: the connection ends after the answer
      EndAllTasks();
      target_.Nexus(nexus_, NexusEvent::kTargetReset);
      close = true;
      break;
    case 3:  // CLEAR ACA: no ACA here
      response = kTmfNotSupported;
      break;
    case 8:  // TASK REASSIGN: one connection, no recovery
      response = kTmfNoReassignment;
      break;
    default:
      response = kTmfRejected;
      break;
  }
  std::uint8_t answer[kHeaderLength] = {};
  answer[0] = kTaskResponse;
  answer[1] = 0x80;
  answer[2] = response;
  Put32(answer + 16, pdu.tag());
  FillNumbers(answer, true);
  if (!sink.Send(answer, nullptr, 0)) return false;
  if (close) {
    error_ = "target cold reset";
    return false;
  }
  return Pump(sink);
}

bool Connection::Text(const Pdu& pdu, PduSink& sink) {
  const std::uint8_t* h = pdu.header;
  bool drop = false;
  CheckCommandNumber(pdu, &drop);
  if (drop) return true;
  if (text_buffer_.size() + pdu.data.size() > kMaxTextBytes) {
    return Fail(h, kRejectProtocolError, "text request too long", sink);
  }
  text_buffer_.insert(text_buffer_.end(), pdu.data.begin(), pdu.data.end());
  std::uint8_t answer[kHeaderLength] = {};
  answer[0] = kTextResponse;
  std::memcpy(answer + 8, h + 8, 8);
  Put32(answer + 16, pdu.tag());
  std::vector<std::uint8_t> text;
  if ((h[1] & 0x40) != 0) {  // more of the request follows: an empty answer asks for it
    Put32(answer + 20, NewTransferTag());
  } else {
    TextKeys keys;
    std::string error;
    const bool parsed = ParseTextKeys(text_buffer_, &keys, &error);
    text_buffer_.clear();
    if (!parsed) return Fail(h, kRejectProtocolError, error, sink);
    const std::string& name = target_.settings().name;
    for (const auto& [key, value] : keys) {
      if (key == "SendTargets") {
        if (value == "All" || value == name || (value.empty() && !discovery_)) {
          AppendTextKey(text, "TargetName", name);
          AppendTextKey(text, "TargetAddress", portal_ + ",1");
        }
      } else {
        AppendTextKey(text, key, "NotUnderstood");
      }
    }
    if (text.size() > peer_max_data_) text.resize(peer_max_data_);
    answer[1] = 0x80;
    Put32(answer + 20, kNoTag);
  }
  Put24(answer + 5, static_cast<std::uint32_t>(text.size()));
  FillNumbers(answer, true);
  return sink.Send(answer, text.data(), text.size());
}

bool Connection::Logout(const Pdu& pdu, PduSink& sink) {
  const std::uint8_t* h = pdu.header;
  bool drop = false;
  CheckCommandNumber(pdu, &drop);
  if (drop) return true;
  const std::uint8_t reason = h[1] & 0x7F;
  std::uint8_t answer[kHeaderLength] = {};
  answer[0] = kLogoutResponse;
  answer[1] = 0x80;
  answer[2] = reason <= 1 ? 0 : 2;  // closing is done; recovery is not offered
  Put32(answer + 16, pdu.tag());
  if (reason <= 1) EndAllTasks();
  FillNumbers(answer, true);
  const bool sent = sink.Send(answer, nullptr, 0);
  if (reason <= 1) {
    error_.clear();
    return false;
  }
  return sent;
}

bool Connection::Reject(const std::uint8_t* header, std::uint8_t reason, PduSink& sink) {
  std::uint8_t h[kHeaderLength] = {};
  h[0] = kReject;
  h[1] = 0x80;
  h[2] = reason;
  Put24(h + 5, kHeaderLength);
  Put32(h + 16, kNoTag);
  FillNumbers(h, true);
  return sink.Send(h, header, kHeaderLength);
}

bool Connection::Fail(const std::uint8_t* header, std::uint8_t reason, std::string error,
                      PduSink& sink) {
  Reject(header, reason, sink);
  error_ = std::move(error);
  return false;
}

}  // namespace zorvane::vdrive::server
