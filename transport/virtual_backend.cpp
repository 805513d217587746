#include "transport/virtual_backend.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>

#include "transport/backend.h"
#include "transport/transport.h"
#include "vdrive/drive.h"

namespace zorvane {

namespace {

constexpr std::string_view kScheme = "virtual:";

struct SlotDrive {
  std::string spec;
  std::shared_ptr<vdrive::Drive> drive;
};

std::mutex registry_mutex;
std::array<SlotDrive, kSlotCount> drives;

vdrive::Direction ToDirection(std::uint8_t direction) {
  switch (direction) {
    case kDataIn:
      return vdrive::Direction::kIn;
    case kDataOut:
      return vdrive::Direction::kOut;
    default:
      return vdrive::Direction::kNone;
  }
}

class VirtualHandle : public DeviceHandle {
 public:
  explicit VirtualHandle(std::shared_ptr<vdrive::Drive> drive) : drive_(std::move(drive)) {}

  int Execute(PassThroughRequest& request) override {
    const vdrive::Direction direction = ToDirection(request.direction);
    const std::size_t length = direction == vdrive::Direction::kNone || request.buffer == nullptr
                                   ? 0
                                   : request.transfer_length;
    // The drive holds the caller no longer than the request's time-out, as SG_IO does.
    const vdrive::Reply reply = drive_->Execute(
        request.cdb, request.cdb_length, direction, static_cast<std::uint8_t*>(request.buffer),
        length, std::chrono::milliseconds(std::uint64_t{request.timeout_seconds} * 1000));
    if (reply.status == vdrive::Status::kTransportFailure) {
      return reply.system_error != 0 ? reply.system_error : EIO;
    }
    std::memset(request.sense, 0, kSenseLength);
    if (reply.status == vdrive::Status::kCheckCondition) {
      std::memcpy(request.sense, reply.sense, vdrive::kFixedSenseLength);
    }
    return 0;
  }

 private:
  std::shared_ptr<vdrive::Drive> drive_;
};

std::unique_ptr<DeviceHandle> OpenVirtual(std::string_view spec, std::uint8_t slot,
                                          int* system_error) {
  if (slot >= kSlotCount) {
    *system_error = ENODEV;
    return nullptr;
  }
  std::shared_ptr<vdrive::Drive> drive;
  {
    std::lock_guard lock(registry_mutex);
    SlotDrive& entry = drives[slot];
    if (!entry.drive || entry.spec != spec) {
      std::string error;
      std::unique_ptr<vdrive::Drive> created = vdrive::Drive::Create(spec, &error);
      if (!created) {
        *system_error = EINVAL;
        return nullptr;
      }
      entry.spec = std::string(spec);
      entry.drive = std::move(created);
    }
    drive = entry.drive;
  }
  return std::make_unique<VirtualHandle>(std::move(drive));
}

}  // namespace

void RegisterVirtualBackend() {
  static std::once_flag once;
  std::call_once(once, [] { RegisterDeviceScheme("virtual", OpenVirtual); });
}

bool ValidateDeviceSpec(std::string_view spec, std::string* error) {
  if (spec.substr(0, kScheme.size()) != kScheme) return true;
  std::string reason;
  if (vdrive::ValidateSpec(spec.substr(kScheme.size()), &reason)) return true;
  *error = "virtual drive \"" + std::string(spec.substr(kScheme.size())) + "\": " + reason;
  return false;
}

void ResetVirtualDrives() {
  std::lock_guard lock(registry_mutex);
  for (SlotDrive& entry : drives) entry = SlotDrive{};
}

std::vector<DriveMapping> DemoDriveMappings() {
  return {
      {0, "virtual:cdr-blank"},
      {1, "virtual:dvd+rw"},
      {2, "virtual:cdda"},
      {3, "virtual:dvdrom"},
  };
}

}  // namespace zorvane
