#include "transport/scripted_backend.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace zorvane {

namespace {

std::mutex registry_mutex;
std::map<std::string, std::shared_ptr<ScriptedDrive>, std::less<>> registry;

class ScriptedHandle : public DeviceHandle {
 public:
  explicit ScriptedHandle(std::shared_ptr<ScriptedDrive> drive) : drive_(std::move(drive)) {}
  ~ScriptedHandle() override { drive_->NoteClose(); }
  ScriptedHandle(const ScriptedHandle&) = delete;
  ScriptedHandle& operator=(const ScriptedHandle&) = delete;
  int Execute(PassThroughRequest& request) override { return drive_->Execute(request); }

 private:
  std::shared_ptr<ScriptedDrive> drive_;
};

std::unique_ptr<DeviceHandle> OpenScripted(std::string_view name, std::uint8_t /*slot*/,
                                           int* error) {
  std::shared_ptr<ScriptedDrive> drive;
  {
    std::lock_guard lock(registry_mutex);
    const auto it = registry.find(name);
    if (it != registry.end()) drive = it->second;
  }
  if (!drive) {
    *error = 2;  // ENOENT: no such drive
    return nullptr;
  }
  if (!drive->TryOpen(error)) return nullptr;
  return std::make_unique<ScriptedHandle>(drive);
}

}  // namespace

void FillFixedSense(std::int32_t code, std::uint8_t sense[kSenseLength]) {
  std::memset(sense, 0, kSenseLength);
  if (code == 0) return;
  sense[0] = 0x70;
  sense[2] = static_cast<std::uint8_t>(code >> 16);
  sense[7] = 10;
  sense[12] = static_cast<std::uint8_t>(code >> 8);
  sense[13] = static_cast<std::uint8_t>(code);
}

void ScriptedDrive::On(std::vector<std::uint8_t> prefix, Reply reply, int times) {
  OnCall(
      std::move(prefix), [reply = std::move(reply)](const PassThroughRequest&) { return reply; },
      times);
}

void ScriptedDrive::OnCall(std::vector<std::uint8_t> prefix, Responder responder, int times) {
  std::lock_guard lock(mutex_);
  rules_.push_back(Rule{std::move(prefix), std::move(responder), times});
}

void ScriptedDrive::SetDefault(Reply reply) {
  std::lock_guard lock(mutex_);
  default_reply_ = std::move(reply);
}

void ScriptedDrive::FailOpens(int count, int error) {
  std::lock_guard lock(mutex_);
  failing_opens_ = count;
  open_error_ = error;
}

std::vector<ScriptedDrive::Record> ScriptedDrive::Requests() const {
  std::lock_guard lock(mutex_);
  return records_;
}

std::vector<std::uint8_t> ScriptedDrive::Opcodes() const {
  std::lock_guard lock(mutex_);
  std::vector<std::uint8_t> opcodes;
  for (const Record& record : records_) opcodes.push_back(record.cdb.empty() ? 0 : record.cdb[0]);
  return opcodes;
}

int ScriptedDrive::OpenCount() const {
  std::lock_guard lock(mutex_);
  return opens_;
}

int ScriptedDrive::CloseCount() const {
  std::lock_guard lock(mutex_);
  return closes_;
}

void ScriptedDrive::ClearRecords() {
  std::lock_guard lock(mutex_);
  records_.clear();
}

bool ScriptedDrive::TryOpen(int* error) {
  std::lock_guard lock(mutex_);
  if (failing_opens_ > 0) {
    --failing_opens_;
    *error = open_error_;
    return false;
  }
  ++opens_;
  return true;
}

void ScriptedDrive::NoteClose() {
  std::lock_guard lock(mutex_);
  ++closes_;
}

int ScriptedDrive::Execute(PassThroughRequest& request) {
  Responder responder;
  {
    std::lock_guard lock(mutex_);
    Record record;
    record.cdb.assign(request.cdb, request.cdb + request.cdb_length);
    record.direction = request.direction;
    record.transfer_length = request.transfer_length;
    record.timeout_seconds = request.timeout_seconds;
    record.lun = request.lun;
    record.path_id = request.path_id;
    if (request.direction == kDataOut && request.buffer != nullptr) {
      const auto* bytes = static_cast<const std::uint8_t*>(request.buffer);
      record.data_out.assign(bytes, bytes + request.transfer_length);
    }
    records_.push_back(std::move(record));
    for (auto it = rules_.rbegin(); it != rules_.rend(); ++it) {
      if (it->prefix.size() > request.cdb_length ||
          !std::equal(it->prefix.begin(), it->prefix.end(), request.cdb)) {
        continue;
      }
      responder = it->responder;
      if (it->remaining > 0 && --it->remaining == 0) rules_.erase(std::next(it).base());
      break;
    }
    if (!responder) {
      responder = [fallback = default_reply_](const PassThroughRequest&) { return fallback; };
    }
  }
  const Reply reply = responder(request);
  if (on_execute) on_execute(request);
  if (reply.error != 0) return reply.error;
  if (request.direction == kDataIn && request.buffer != nullptr) {
    const std::size_t n = std::min<std::size_t>(reply.data.size(), request.transfer_length);
    if (n > 0) std::memcpy(request.buffer, reply.data.data(), n);
  }
  FillFixedSense(reply.sense, request.sense);
  return 0;
}

void AttachScriptedDrive(const std::string& name, std::shared_ptr<ScriptedDrive> drive) {
  static std::once_flag registered;
  std::call_once(registered, [] { RegisterDeviceScheme("script", OpenScripted); });
  std::lock_guard lock(registry_mutex);
  registry[name] = std::move(drive);
}

void DetachScriptedDrives() {
  std::lock_guard lock(registry_mutex);
  registry.clear();
}

}  // namespace zorvane
