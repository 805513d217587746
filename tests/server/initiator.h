// A small iSCSI initiator for the tests: it builds PDUs byte by byte from RFC 7143's
// layouts (independently of the target's code), sends them on a loopback socket and reads
// the answers.
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "vdrive/server/server.h"

namespace zorvane::vdrive::server::test {

using Bytes = std::vector<std::uint8_t>;
using Keys = std::vector<std::pair<std::string, std::string>>;

inline constexpr const char* kTestInitiator = "iqn.1999-06.invalid.zorvane:tests";

std::uint32_t Be32(const std::uint8_t* at);
void SetBe32(std::uint8_t* at, std::uint32_t value);
void SetBe24(std::uint8_t* at, std::uint32_t value);

struct Received {
  std::uint8_t header[48] = {};
  Bytes data;
  std::uint8_t opcode() const { return header[0] & 0x3F; }
  std::uint8_t flags() const { return header[1]; }
  std::uint32_t Field(std::size_t at) const { return Be32(header + at); }
  std::map<std::string, std::string> Keys() const;  // a login or text answer's keys
};

// The outcome of a SCSI command sent with Initiator::Command.
struct Outcome {
  bool answered = false;
  std::uint8_t response = 0;  // iSCSI response (0: completed at the target)
  std::uint8_t status = 0xFF;
  Bytes data;   // data-in, in order
  Bytes sense;  // without its length field
  std::uint8_t residual_flags = 0;
  std::uint32_t residual = 0;
  std::vector<Received> r2ts;
  int data_in_pdus = 0;
  std::uint32_t SenseCode() const {  // key/ASC/ASCQ
    return sense.size() < 14 ? 0 : (sense[2] & 0x0Fu) << 16 | sense[12] << 8 | sense[13];
  }
};

class Initiator {
 public:
  // `receive_buffer`: a receive buffer this small (bytes), set before connecting.
  explicit Initiator(std::uint16_t port, int receive_buffer = 0);
  ~Initiator();
  Initiator(const Initiator&) = delete;
  Initiator& operator=(const Initiator&) = delete;

  bool connected() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void SendPdu(const std::uint8_t* header, const Bytes& data = {}, const Bytes& ahs = {});
  void SendRaw(const Bytes& bytes);
  // One PDU, or false on the end of the stream or when none comes within the time.
  bool Read(Received* pdu, int timeout_ms = 5000);
  // True when the target closes the connection within the time (PDUs before it are let go).
  bool ClosedWithin(int timeout_ms, std::vector<Received>* before = nullptr);
  void Drop();  // closes the socket at once

  // A login request of one stage; `keys` in order.
  void SendLogin(std::uint8_t flags, const Keys& keys, std::uint16_t tsih = 0);
  // A whole normal login (security then operational) with the given operational keys; the
  // answers' keys merged, or empty when refused.
  std::map<std::string, std::string> Login(const Keys& operational = {},
                                           const std::string& target = kDefaultTargetName);
  bool LoginDiscovery();

  // A SCSI command with the usual behaviour of an initiator: unsolicited data as
  // negotiated, Data-Out for every R2T, Data-In collected until the status.
  Outcome Command(const Bytes& cdb, std::uint32_t expected_in, const Bytes& data_out = {},
                  std::uint64_t lun = 0);
  // The header of a SCSI command (not sent): flags byte 1, the CmdSN taken.
  void CommandHeader(std::uint8_t* h, const Bytes& cdb, std::uint8_t flags, std::uint32_t expected,
                     std::uint32_t tag);
  void DataOutHeader(std::uint8_t* h, std::uint32_t tag, std::uint32_t ttt, std::uint32_t data_sn,
                     std::uint32_t offset, bool final);

  std::uint32_t cmd_sn = 1;
  std::uint32_t exp_stat_sn = 0;
  std::uint32_t next_tag = 0x100;
  std::uint32_t max_cmd_sn = 0;
  std::uint32_t first_burst = 65536;
  std::uint32_t max_burst = 262144;
  std::uint32_t target_max_data = 8192;
  bool initial_r2t = true;
  bool immediate_data = true;

 private:
  int fd_ = -1;
};

// The server options of the tests: a free port, a 2 s login time-out.
ServerOptions TestOptions();

// A target serving one drive on a free loopback port, on its own thread.
class ServedDrive {
 public:
  explicit ServedDrive(const std::string& spec, TargetSettings settings = {},
                       const ServerOptions& options = TestOptions());
  ~ServedDrive();
  std::uint16_t port() const { return server_->port(); }
  Target& target() { return *target_; }

 private:
  std::unique_ptr<Target> target_;
  std::unique_ptr<Server> server_;
  std::thread runner_;
};

// The zorvane-vdrive program serving on a free port (read from its first line), with
// `options` before the drive preset and its keys. Killed when it goes.
class Program {
 public:
  explicit Program(const std::string& spec, const std::vector<std::string>& options = {});
  ~Program() { Kill(); }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  std::uint16_t port() const { return port_; }
  void Kill();
  // Sends SIGTERM; true when the program exited, with status 0, within `timeout_ms`.
  bool TerminatedWithin(int timeout_ms);
  // Its resident and peak resident memory in KiB, from /proc (0 when unknown).
  long ResidentKiB() const { return Status("VmRSS:"); }
  long PeakResidentKiB() const { return Status("VmHWM:"); }

 private:
  long Status(const char* field) const;
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
};

// CDBs.
Bytes Inquiry(std::uint16_t allocation = 96);
Bytes Read10(std::uint32_t lba, std::uint16_t blocks);
Bytes Write10(std::uint32_t lba, std::uint16_t blocks);
Bytes TestUnitReady();
Bytes SynchronizeCache();

// The content of block `lba` of a pressed disc: bytes 0..3 the LBA, byte k (k >= 4)
// (k + 3 x LBA) mod 256.
Bytes PressedBlock(std::uint32_t lba);

}  // namespace zorvane::vdrive::server::test
