// One iSCSI connection of the target, as a state machine over PDUs: login (security and
// operational negotiation), then the full feature phase (SCSI commands with their data,
// NOP, task management, text and logout). It knows nothing of sockets: the caller reads
// each PDU (checking its header with ParseHeader against MaxDataSegment()), hands it to
// Receive() and sends what comes out through a PduSink.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "vdrive/drive.h"
#include "vdrive/server/pdu.h"

namespace zorvane::vdrive::server {

// The target's name: under the reserved "invalid" domain, which nobody can own.
inline constexpr const char* kDefaultTargetName = "iqn.1999-06.invalid.zorvane:vdrive";

struct TargetSettings {
  std::string name = kDefaultTargetName;
  std::uint32_t max_recv_data_segment = 262144;   // what this target takes in one PDU
  std::uint32_t max_burst = 1048576;              // offered; the smaller value wins
  std::uint32_t first_burst = 262144;             // offered; the smaller value wins
  std::uint32_t max_transfer = 16 * 1024 * 1024;  // data of one command, either way
  // Commands queued per session, immediate ones included: the bound of a connection's
  // tasks. A queued write holds at most first_burst bytes it was not asked for; the one
  // at the head may gather max_transfer.
  std::uint32_t command_window = 16;
  // Data in the command PDU itself. Off by default: the initiator sends the same data
  // unasked in Data-Out PDUs when InitialR2T is No, each checked for its sequence number
  // and offset, and data of either kind costs no round trip.
  bool immediate_data = false;
};

// The served drive and what the sessions share. Commands reach the drive one at a time
// under one lock, whichever session sends them.
class Target {
 public:
  Target(std::unique_ptr<Drive> drive, TargetSettings settings);
  const TargetSettings& settings() const { return settings_; }
  Reply Execute(const std::uint8_t* cdb, std::size_t cdb_length, Direction direction,
                std::uint8_t* data, std::size_t length, std::string_view nexus = {},
                ImageRange* file = nullptr);
  void Nexus(std::string_view nexus, NexusEvent event);  // tells the drive
  std::uint16_t NewSessionHandle();

 private:
  TargetSettings settings_;
  std::mutex drive_lock_;
  std::unique_ptr<Drive> drive_;
  std::atomic<std::uint32_t> next_handle_{0};
};

// Where a connection's answers go. `data` (may be null when `length` is 0) follows the
// header; the sink adds the padding. False when the peer cannot be reached any more.
class PduSink {
 public:
  virtual ~PduSink() = default;
  virtual bool Send(const std::uint8_t* header, const std::uint8_t* data, std::size_t length) = 0;
  // A PDU whose data is `length` bytes of the open file `fd` from `offset`. This one reads
  // them and sends them as Send does; a socket sends them from the file itself.
  virtual bool SendFile(const std::uint8_t* header, int fd, std::int64_t offset,
                        std::size_t length);
};

class Connection {
 public:
  // `portal`: the address the initiator reached this target at, "ADDRESS:PORT", for
  // discovery answers.
  Connection(Target& target, std::string portal);
  ~Connection();  // the drive loses the session's I_T nexus
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The longest data segment the next PDU may carry: 8,192 bytes during login, then what
  // this target declared.
  std::size_t MaxDataSegment() const;

  // Handles one received PDU. False when the connection is to be closed (after a logout,
  // a failed login, or a PDU that breaks the protocol, which is answered with a reject
  // first); what was to be sent has been sent.
  bool Receive(const Pdu& pdu, PduSink& sink);

  // A header that failed ParseHeader: answers a reject (in the full feature phase).
  void RejectHeader(const std::uint8_t* header, PduSink& sink);

  // Asks an idle initiator to show it is there: a NOP-In it must answer with a NOP-Out
  // carrying its transfer tag. False when the peer cannot be reached.
  bool Ping(PduSink& sink);
  bool ping_outstanding() const { return ping_tag_ != kNoTag; }

  bool full_feature() const { return stage_ == kFullFeature; }
  bool discovery() const { return discovery_; }
  const std::string& initiator_name() const { return initiator_name_; }
  const std::string& last_error() const { return error_; }

 private:
  enum Stage : std::uint8_t { kSecurity = 0, kOperational = 1, kFullFeature = 3 };
  struct Task {
    std::uint32_t tag = 0;
    bool lun_zero = true;
    std::uint8_t cdb[16] = {};
    Direction direction = Direction::kNone;
    std::uint32_t expected = 0;  // expected data transfer length
    bool refused = false;        // answered without the drive (an oversized transfer)
    std::vector<std::uint8_t> data;
    std::uint32_t unsolicited_limit = 0;  // bytes the initiator may send unasked
    bool unsolicited_done = true;
    std::uint32_t unsolicited_datasn = 0;
    bool r2t_open = false;  // an R2T whose data has not all come
    std::uint32_t r2t_tag = 0;
    std::uint32_t r2t_offset = 0;
    std::uint32_t r2t_length = 0;
    std::uint32_t burst_received = 0;
    std::uint32_t burst_datasn = 0;
    std::uint32_t r2t_sn = 0;
  };

  // Login.
  bool Login(const Pdu& pdu, PduSink& sink);
  bool Negotiate(const TextKeys& keys, bool leading, std::vector<std::uint8_t>* answer,
                 std::uint16_t* status);
  bool LoginAnswer(const Pdu& request, std::uint8_t flags, std::uint16_t status,
                   const std::vector<std::uint8_t>& text, PduSink& sink);

  // Full feature phase.
  bool CheckCommandNumber(const Pdu& pdu, bool* drop);
  bool ScsiCommand(const Pdu& pdu, PduSink& sink);
  bool DataOut(const Pdu& pdu, PduSink& sink);
  bool Nop(const Pdu& pdu, PduSink& sink);
  bool TaskManagement(const Pdu& pdu, PduSink& sink);
  bool Text(const Pdu& pdu, PduSink& sink);
  bool Logout(const Pdu& pdu, PduSink& sink);
  bool Pump(PduSink& sink);  // runs the queued commands that have their data
  bool Execute(Task& task, PduSink& sink);
  // A data-in command on the drive: `produced` is what it returns, which may be more than
  // the buffer holds when a read is longer than one command's data. A read of a pressed
  // disc may answer with `file`, the range of its image, instead of bytes in the buffer.
  Reply ExecuteIn(const Task& task, std::unique_ptr<std::uint8_t[]>* buffer,
                  std::uint64_t* produced, ImageRange* file);
  bool SendResponse(const Task& task, std::uint8_t status, const std::uint8_t* sense,
                    std::uint8_t response, std::uint8_t residual_flags, std::uint32_t residual,
                    PduSink& sink);
  bool Reject(const std::uint8_t* header, std::uint8_t reason, PduSink& sink);
  bool Fail(const std::uint8_t* header, std::uint8_t reason, std::string error, PduSink& sink);
  void FillNumbers(std::uint8_t* header, bool advance_status);  // StatSN, ExpCmdSN, MaxCmdSN
  Task* FindTask(std::uint32_t tag);
  void AddTask(Task task);
  void EndTask(std::list<Task>::iterator task);  // aborted: its data may still come
  void EndAllTasks();
  bool RecentlyEnded(std::uint32_t tag) const;
  void RememberEnded(std::uint32_t tag);
  std::uint32_t NewTransferTag();

  Target& target_;
  std::string portal_;
  std::string error_;

  Stage stage_ = kSecurity;
  bool login_started_ = false;
  std::uint8_t isid_[6] = {};
  std::uint16_t session_handle_ = 0;
  std::vector<std::uint8_t> login_text_;  // a request's text spread over several PDUs
  bool declared_ = false;                 // our MaxRecvDataSegmentLength sent
  bool discovery_ = false;
  bool name_checked_ = false;
  std::string initiator_name_;
  std::vector<std::string> login_keys_;  // keys the initiator has sent in this login
  std::string nexus_;                    // the I_T nexus of a normal session, once logged in

  // Negotiated values (defaults until negotiated).
  bool initial_r2t_ = true;
  bool immediate_data_ = true;
  std::uint32_t max_burst_ = 262144;
  std::uint32_t first_burst_ = 65536;
  std::uint32_t peer_max_data_ = 8192;  // the initiator's MaxRecvDataSegmentLength

  std::uint32_t stat_sn_ = 0;
  std::uint32_t exp_cmd_sn_ = 0;
  std::uint32_t next_transfer_tag_ = 1;
  std::list<Task> tasks_;  // commands in the order they are carried out
  std::unordered_map<std::uint32_t, std::list<Task>::iterator> task_index_;  // by ITT
  // Tags of tasks ended before all their data came (aborted, refused): Data-Out already on
  // its way for them is let go. The last few only.
  std::deque<std::uint32_t> ended_tags_;
  std::uint32_t ping_tag_ = kNoTag;        // the transfer tag of an unanswered NOP-In
  std::vector<std::uint8_t> text_buffer_;  // a text request spread over several PDUs
};

}  // namespace zorvane::vdrive::server
