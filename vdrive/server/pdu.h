// iSCSI protocol data units (RFC 7143): the 48-byte basic header segment, its fields, the
// checks every received header passes before its data is read, and the text keys of login
// and text requests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zorvane::vdrive::server {

inline constexpr std::size_t kHeaderLength = 48;

// Opcodes (byte 0, bits 0-5).
enum Opcode : std::uint8_t {
  kNopOut = 0x00,
  kScsiCommand = 0x01,
  kTaskRequest = 0x02,
  kLoginRequest = 0x03,
  kTextRequest = 0x04,
  kDataOut = 0x05,
  kLogoutRequest = 0x06,
  kSnack = 0x10,
  kNopIn = 0x20,
  kScsiResponse = 0x21,
  kTaskResponse = 0x22,
  kLoginResponse = 0x23,
  kTextResponse = 0x24,
  kDataIn = 0x25,
  kLogoutResponse = 0x26,
  kR2t = 0x31,
  kAsyncMessage = 0x32,
  kReject = 0x3F,
};

inline constexpr std::uint8_t kImmediateBit = 0x40;  // byte 0
inline constexpr std::uint8_t kFinalBit = 0x80;      // byte 1
inline constexpr std::uint32_t kNoTag = 0xFFFFFFFF;  // reserved tag value

// Reject reasons.
enum RejectReason : std::uint8_t {
  kRejectProtocolError = 0x04,
  kRejectNotSupported = 0x05,
  kRejectInvalidField = 0x09,
};

// A PDU as received or to be sent: header, additional header segments and data segment
// (without padding; the wire adds and strips it).
struct Pdu {
  std::uint8_t header[kHeaderLength] = {};
  std::vector<std::uint8_t> ahs;
  std::vector<std::uint8_t> data;

  std::uint8_t opcode() const { return header[0] & 0x3F; }
  bool immediate() const { return (header[0] & kImmediateBit) != 0; }
  bool final() const { return (header[1] & kFinalBit) != 0; }
  std::uint32_t tag() const;  // initiator task tag, bytes 16-19
  std::uint32_t Field32(std::size_t at) const;
  void SetField32(std::size_t at, std::uint32_t value);
};

// The lengths a header announces, once its checks pass.
struct HeaderLayout {
  std::size_t ahs_length = 0;   // bytes of additional header segments
  std::size_t data_length = 0;  // data segment bytes, without padding
  std::size_t padded_data_length() const { return (data_length + 3) & ~std::size_t{3}; }
};

// Checks a received header: an opcode an initiator may send and a data segment no longer
// than `max_data` bytes. On failure returns false with the reason.
bool ParseHeader(const std::uint8_t* header, std::size_t max_data, HeaderLayout* layout,
                 std::string* error);

// Text keys: "key=value" entries, each ended by a zero byte.
using TextKeys = std::vector<std::pair<std::string, std::string>>;

// Splits a data segment into keys. False on an entry without '=', an empty or over-long
// key (63 bytes), an over-long value (8,192 bytes), or a last entry without its zero
// byte.
bool ParseTextKeys(const std::vector<std::uint8_t>& data, TextKeys* keys, std::string* error);

// Appends "key=value\0".
void AppendTextKey(std::vector<std::uint8_t>& out, std::string_view key, std::string_view value);

// A numeric key value: decimal or 0x hexadecimal, no sign, up to 2^32-1. False otherwise.
bool ParseNumber(std::string_view text, std::uint32_t* value);

}  // namespace zorvane::vdrive::server
