#include "base/json_writer.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zorvane {

namespace {

// The length of the valid UTF-8 sequence at `at`, or 0 (overlong forms, surrogates and
// values past U+10FFFF are not valid).
std::size_t Utf8Length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  std::uint32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07u;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(at + k) & 0xC0u) != 0x80u) return 0;
    value = value << 6 | (byte(at + k) & 0x3Fu);
  }
  if ((length == 3 && value < 0x800) || (length == 4 && value < 0x10000) || value > 0x10FFFF ||
      (value >= 0xD800 && value <= 0xDFFF)) {
    return 0;
  }
  return length;
}

}  // namespace

std::string JsonQuote(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t length = Utf8Length(text, i);
      if (length > 0) {
        out.append(text.substr(i, length));
        i += length;
        continue;
      }
      // A stray byte: the Latin-1 character of its value, as UTF-8.
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
      ++i;
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
  return out;
}

void JsonWriter::NewLine() {
  if (indent_ <= 0) return;
  text_ += '\n';
  text_.append(static_cast<std::size_t>(depth_) * static_cast<std::size_t>(indent_), ' ');
}

void JsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (depth_ > 0) {
    if (!first_in_container_) text_ += ',';
    NewLine();
  }
  first_in_container_ = false;
  has_value_ = true;
}

JsonWriter& JsonWriter::BeginObject() {
  BeforeValue();
  text_ += '{';
  ++depth_;
  first_in_container_ = true;
  return *this;
}

JsonWriter& JsonWriter::End(char close) {
  --depth_;
  if (!first_in_container_) NewLine();
  text_ += close;
  first_in_container_ = false;
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  return End('}');
}

JsonWriter& JsonWriter::BeginArray() {
  BeforeValue();
  text_ += '[';
  ++depth_;
  first_in_container_ = true;
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  return End(']');
}

JsonWriter& JsonWriter::Key(std::string_view name) {
  BeforeValue();
  text_ += JsonQuote(name);
  text_ += indent_ > 0 ? ": " : ":";
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
  BeforeValue();
  text_ += JsonQuote(text);
  return *this;
}

JsonWriter& JsonWriter::Number(std::int64_t value) {
  BeforeValue();
  text_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Unsigned(std::uint64_t value) {
  BeforeValue();
  text_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Number(double value) {
  if (!std::isfinite(value)) return Null();
  BeforeValue();
  // A whole number below 2^53 as its digits ("%g" would give 40 as "4e+01"); otherwise the
  // shortest form that reads back as the same value (17 digits always do).
  char digits[32];
  if (std::fabs(value) < 9007199254740992.0 && std::trunc(value) == value) {
    std::snprintf(digits, sizeof digits, "%.0f", value);
    text_ += digits;
    return *this;
  }
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(digits, sizeof digits, "%.*g", precision, value);
    if (std::strtod(digits, nullptr) == value) break;
  }
  text_ += digits;
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  BeforeValue();
  text_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  text_ += "null";
  return *this;
}

JsonWriter& JsonWriter::Hex(const std::uint8_t* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0x0F];
  }
  return String(hex);
}

}  // namespace zorvane
