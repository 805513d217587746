// The pass-through request and the devices that carry it out.
//
// A device carries out one CDB of 6, 10 or 12 bytes with at most one data phase of up
// to 65,535 bytes in one direction, within a time-out in seconds, and hands back the
// first 24 bytes of fixed-format sense. Linux SG_IO, the virtual drive and the scripted
// test drive all implement it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace zorvane {

// Direction of the data phase, numbered as the pass-through service numbers it.
enum DataDirection : std::uint8_t {
  kDataOut = 0,   // data to the drive
  kDataIn = 1,    // data from the drive
  kDataNone = 2,  // no data phase
};

inline constexpr std::size_t kSenseLength = 24;

struct PassThroughRequest {
  std::uint8_t cdb[16] = {};
  std::uint8_t cdb_length = 0;
  std::uint8_t path_id = 0;  // the slot
  std::uint8_t target_id = 1;
  std::uint8_t lun = 0;
  std::uint8_t direction = kDataNone;
  std::uint16_t transfer_length = 0;
  void* buffer = nullptr;
  std::uint32_t timeout_seconds = 10;
  // Filled in by the device: fixed-format sense (zero when the drive reported nothing).
  std::uint8_t sense[kSenseLength] = {};
};

// An open device. Execute returns 0 when the request was carried out (sense filled in,
// possibly all zero) or a system error code (errno style, never 0) when it could not be.
class DeviceHandle {
 public:
  virtual ~DeviceHandle() = default;
  virtual int Execute(PassThroughRequest& request) = 0;
};

// Opens a device from its spec (the part after "SCHEME:") for a slot. On failure returns
// null and stores a system error code. A device that keeps state between opens (a virtual
// drive and its disc) keys it by the slot.
using DeviceOpener = std::function<std::unique_ptr<DeviceHandle>(
    std::string_view spec, std::uint8_t slot, int* system_error)>;

// Device specs of the form "SCHEME:REST" go to the opener registered for SCHEME
// ("virtual", "script", ...); any other spec is a device node opened with SG_IO.
void RegisterDeviceScheme(const std::string& scheme, DeviceOpener opener);
std::unique_ptr<DeviceHandle> OpenDevice(std::string_view spec, std::uint8_t slot,
                                         int* system_error);
// True when the drive's mapping text names a device node (no registered "SCHEME:" in front).
bool IsDeviceNode(std::string_view spec);

// Copies sense data in fixed (70h/71h) or descriptor (72h/73h) format into the 24-byte
// fixed form: response code, sense key with the filemark/EOM/ILI bits in byte 2,
// information, command-specific information, ASC, ASCQ, FRU code, sense-key specific.
void ToFixedSense(const std::uint8_t* sense, std::size_t length, std::uint8_t fixed[kSenseLength]);

}  // namespace zorvane
