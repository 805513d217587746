// A drive that answers from a script: CDB in, canned data, sense or failure out. Tests and
// fuzz targets attach it to a slot with the device spec "script:NAME".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transport/backend.h"

namespace zorvane {

class ScriptedDrive {
 public:
  struct Reply {
    std::vector<std::uint8_t> data;  // copied to the caller's buffer on a data-in command
    std::int32_t sense = 0;          // 24-bit code: sense byte 2, ASC, ASCQ
    int error = 0;                   // non-zero: the request itself fails with this code
  };

  struct Record {
    std::vector<std::uint8_t> cdb;  // cdb_length bytes
    std::uint8_t direction = 0;
    std::uint16_t transfer_length = 0;
    std::uint32_t timeout_seconds = 0;
    std::uint8_t lun = 0;
    std::uint8_t path_id = 0;
    std::vector<std::uint8_t> data_out;  // what a data-out command sent
  };

  using Responder = std::function<Reply(const PassThroughRequest&)>;

  // Answers commands whose CDB begins with `prefix`; `times` answers, 0 for every one.
  // The newest matching rule answers first.
  void On(std::vector<std::uint8_t> prefix, Reply reply, int times = 0);
  void OnCall(std::vector<std::uint8_t> prefix, Responder responder, int times = 0);
  // Answer for commands no rule matches (default: 05/20/00 INVALID COMMAND OPERATION CODE).
  void SetDefault(Reply reply);
  // The next `count` opens fail with `error`.
  void FailOpens(int count, int error);

  std::vector<Record> Requests() const;
  std::vector<std::uint8_t> Opcodes() const;
  int OpenCount() const;
  int CloseCount() const;
  void ClearRecords();

  // Called with the request inside Execute, after the reply is chosen (tests use it to
  // observe concurrency).
  std::function<void(const PassThroughRequest&)> on_execute;

  // Internal: used by the handle and the opener.
  bool TryOpen(int* error);
  int Execute(PassThroughRequest& request);
  void NoteClose();

 private:
  struct Rule {
    std::vector<std::uint8_t> prefix;
    Responder responder;
    int remaining;  // 0 = unlimited
  };
  mutable std::mutex mutex_;
  std::vector<Rule> rules_;
  Reply default_reply_{{}, 0x052000, 0};
  int failing_opens_ = 0;
  int open_error_ = 0;
  int opens_ = 0;
  int closes_ = 0;
  std::vector<Record> records_;
};

// Attaches the drive to the device spec "script:NAME" (replacing an earlier one).
void AttachScriptedDrive(const std::string& name, std::shared_ptr<ScriptedDrive> drive);
void DetachScriptedDrives();

// Builds the fixed-format sense of a 24-bit code.
void FillFixedSense(std::int32_t code, std::uint8_t sense[kSenseLength]);

}  // namespace zorvane
