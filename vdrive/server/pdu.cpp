#include "vdrive/server/pdu.h"

#include "vdrive/bytes.h"

namespace zorvane::vdrive::server {

namespace {

constexpr std::size_t kMaxKeyLength = 63;
constexpr std::size_t kMaxValueLength = 8192;

}  // namespace

std::uint32_t Pdu::tag() const {
  return Get32(header + 16);
}
std::uint32_t Pdu::Field32(std::size_t at) const {
  return Get32(header + at);
}
void Pdu::SetField32(std::size_t at, std::uint32_t value) {
  Put32(header + at, value);
}

bool ParseHeader(const std::uint8_t* header, std::size_t max_data, HeaderLayout* layout,
                 std::string* error) {
  const std::uint8_t opcode = header[0] & 0x3F;
  if ((header[0] & 0x80) != 0) {
    *error = "reserved bit 7 of byte 0 is set";
    return false;
  }
  switch (opcode) {
    case kNopOut:
    case kScsiCommand:
    case kTaskRequest:
    case kLoginRequest:
    case kTextRequest:
    case kDataOut:
    case kLogoutRequest:
    case kSnack:
      break;
    default:
      *error = "opcode " + std::to_string(opcode) + " is not an initiator opcode";
      return false;
  }
  layout->ahs_length = std::size_t{header[4]} * 4;
  layout->data_length = Get24(header + 5);
  if (layout->data_length > max_data) {
    *error = "data segment of " + std::to_string(layout->data_length) + " bytes exceeds " +
             std::to_string(max_data);
    return false;
  }
  return true;
}

bool ParseTextKeys(const std::vector<std::uint8_t>& data, TextKeys* keys, std::string* error) {
  keys->clear();
  if (!data.empty() && data.back() != 0) {  // every entry, the last one too, ends with one
    *error = "text without its closing zero byte";
    return false;
  }
  std::size_t at = 0;
  while (at < data.size()) {
    std::size_t end = at;
    while (end < data.size() && data[end] != 0) ++end;
    if (end == at) {  // padding zeros or an empty entry
      ++at;
      continue;
    }
    const std::string_view entry(reinterpret_cast<const char*>(data.data()) + at, end - at);
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos || equals == 0 || equals > kMaxKeyLength) {
      *error = "malformed text key";
      return false;
    }
    if (entry.size() - equals - 1 > kMaxValueLength) {
      *error = "text value too long";
      return false;
    }
    keys->emplace_back(std::string(entry.substr(0, equals)), std::string(entry.substr(equals + 1)));
    at = end + 1;
  }
  return true;
}

void AppendTextKey(std::vector<std::uint8_t>& out, std::string_view key, std::string_view value) {
  out.insert(out.end(), key.begin(), key.end());
  out.push_back('=');
  out.insert(out.end(), value.begin(), value.end());
  out.push_back(0);
}

bool ParseNumber(std::string_view text, std::uint32_t* value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t result = 0;
  for (const char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return false;
    result = result * base + digit;
    if (result > 0xFFFFFFFFu) return false;
  }
  *value = static_cast<std::uint32_t>(result);
  return true;
}

}  // namespace zorvane::vdrive::server
