// JSON documents for scripts: written as they go, always well-formed, with the strings a
// drive supplies (identity, maker ids, free text) escaped so that any byte sequence gives a
// valid document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zorvane {

class JsonWriter {
 public:
  // `indent` spaces a level, or 0 for one line.
  explicit JsonWriter(int indent = 2) : indent_(indent) {}

  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // The name of the next member of the object being written.
  JsonWriter& Key(std::string_view name);

  JsonWriter& String(std::string_view text);
  JsonWriter& Number(std::int64_t value);
  JsonWriter& Unsigned(std::uint64_t value);
  // A finite value with the digits it needs; NaN and infinities, which JSON cannot hold,
  // become null.
  JsonWriter& Number(double value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();
  // Bytes as a string of two hexadecimal digits each, for the raw reply beside a decoding.
  JsonWriter& Hex(const std::uint8_t* bytes, std::size_t size);

  // The document so far (complete once every object and array is ended).
  const std::string& Text() const { return text_; }
  bool Complete() const { return depth_ == 0 && has_value_; }

 private:
  void BeforeValue();
  void NewLine();
  JsonWriter& End(char close);

  std::string text_;
  int indent_;
  int depth_ = 0;
  bool first_in_container_ = true;
  bool after_key_ = false;
  bool has_value_ = false;
};

// `text` as a JSON string with its quotes. Valid UTF-8 passes through; a byte that does not
// belong to a valid UTF-8 sequence stands for the Latin-1 character of its value (drives'
// strings are ASCII and ISO 8859-1), so nothing is lost or dropped; control characters,
// the quote, the backslash and DEL are escaped.
std::string JsonQuote(std::string_view text);

}  // namespace zorvane
