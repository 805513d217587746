// The iSCSI target's PDU parser, login negotiation and full feature phase, fed a stream of
// untrusted bytes as a connection would deliver them. The first byte chooses whether a
// well-formed login comes first (so that the rest reaches the full feature phase) and
// whether the target takes immediate data. Everything the target sends is checked: a
// target opcode, the data length in the header, and data within the lengths negotiated.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vdrive/drive.h"
#include "vdrive/server/connection.h"
#include "vdrive/server/pdu.h"

namespace {

using namespace zorvane::vdrive;
using namespace zorvane::vdrive::server;

class CheckingSink : public PduSink {
 public:
  bool Send(const std::uint8_t* header, const std::uint8_t* data, std::size_t length) override {
    const std::uint8_t opcode = header[0] & 0x3F;
    const std::size_t announced =
        static_cast<std::size_t>(header[5]) << 16 | header[6] << 8 | header[7];
    if (opcode < 0x20 || announced != length || (length > 0 && data == nullptr)) std::abort();
    // Nothing longer than the initiator's declared segment (8,192 bytes unless it said more,
    // at most 2^24-1) and than the test's own limit.
    if (length > 16777215) std::abort();
    if (length > 0) checksum_ += data[0] + data[length - 1];  // the bytes are readable
    return true;
  }
  unsigned checksum_ = 0;
};

void Feed(Connection& connection, CheckingSink& sink, const std::uint8_t* data, std::size_t size) {
  std::size_t at = 0;
  while (size - at >= kHeaderLength) {
    const std::uint8_t* header = data + at;
    HeaderLayout layout;
    std::string error;
    if (!ParseHeader(header, connection.MaxDataSegment(), &layout, &error)) {
      connection.RejectHeader(header, sink);
      return;
    }
    at += kHeaderLength;
    if (size - at < layout.ahs_length + layout.padded_data_length()) return;  // stream ends
    Pdu pdu;
    std::memcpy(pdu.header, header, kHeaderLength);
    pdu.ahs.assign(data + at, data + at + layout.ahs_length);
    at += layout.ahs_length;
    pdu.data.assign(data + at, data + at + layout.data_length);
    at += layout.padded_data_length();
    if (!connection.Receive(pdu, sink)) return;
  }
}

std::vector<std::uint8_t> LoginPdu() {
  std::vector<std::uint8_t> pdu(kHeaderLength, 0);
  pdu[0] = 0x43;
  pdu[1] = 0x87;  // transit from operational negotiation to the full feature phase
  pdu[8] = 0x80;
  pdu[19] = 1;
  pdu[27] = 1;  // CmdSN 1
  std::string keys;
  for (const char* key :
       {"InitiatorName=iqn.1999-06.invalid.zorvane:fuzz",
        "TargetName=iqn.1999-06.invalid.zorvane:vdrive", "InitialR2T=No", "ImmediateData=Yes",
        "MaxRecvDataSegmentLength=4096", "FirstBurstLength=8192", "MaxBurstLength=16384"}) {
    keys += key;
    keys += '\0';
  }
  pdu[7] = static_cast<std::uint8_t>(keys.size());
  pdu[6] = static_cast<std::uint8_t>(keys.size() >> 8);
  pdu.insert(pdu.end(), keys.begin(), keys.end());
  pdu.resize((pdu.size() + 3) & ~std::size_t{3}, 0);
  return pdu;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  ++data;
  --size;
  std::string error;
  std::unique_ptr<Drive> drive = Drive::Create((mode & 4) != 0 ? "cdr-blank" : "dvd+rw", &error);
  if (!drive) std::abort();
  TargetSettings settings;
  settings.immediate_data = (mode & 2) != 0;
  settings.max_transfer = 1 << 20;  // keeps each input's memory small
  settings.max_recv_data_segment = 65536;
  Target target(std::move(drive), settings);
  Connection connection(target, "127.0.0.1:3260");
  CheckingSink sink;
  if ((mode & 1) != 0) {
    const std::vector<std::uint8_t> login = LoginPdu();
    Feed(connection, sink, login.data(), login.size());
    if (!connection.full_feature()) std::abort();  // the canned login must succeed
  }
  Feed(connection, sink, data, size);
  return 0;
}
