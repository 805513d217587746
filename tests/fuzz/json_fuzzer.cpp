// The JSON writer with drive-supplied strings: whatever bytes a drive returns as its vendor,
// product, maker id or free text, and whatever numbers, the document must always parse as
// strict JSON (RFC 8259) with valid UTF-8.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "base/json_writer.h"

namespace {

// A strict recursive-descent check of one JSON text.
class Check {
 public:
  explicit Check(std::string_view text) : text_(text) {}

  bool Document() {
    Space();
    if (!Value(0)) return false;
    Space();
    return at_ == text_.size();
  }

 private:
  bool Value(int depth) {
    if (depth > 64 || at_ >= text_.size()) return false;
    switch (text_[at_]) {
      case '{': return Container(depth, '}', true);
      case '[': return Container(depth, ']', false);
      case '"': return String();
      case 't': return Word("true");
      case 'f': return Word("false");
      case 'n': return Word("null");
      default: return Number();
    }
  }

  bool Container(int depth, char close, bool object) {
    ++at_;
    Space();
    if (Peek() == close) return ++at_, true;
    for (;;) {
      if (object) {
        if (!String()) return false;
        Space();
        if (Peek() != ':') return false;
        ++at_;
        Space();
      }
      if (!Value(depth + 1)) return false;
      Space();
      if (Peek() == close) return ++at_, true;
      if (Peek() != ',') return false;
      ++at_;
      Space();
    }
  }

  bool String() {
    if (Peek() != '"') return false;
    ++at_;
    while (at_ < text_.size()) {
      const unsigned char c = static_cast<unsigned char>(text_[at_]);
      if (c == '"') return ++at_, true;
      if (c < 0x20) return false;
      if (c == '\\') {
        ++at_;
        const char e = Peek();
        if (e == 'u') {
          for (int k = 1; k <= 4; ++k) {
            if (at_ + k >= text_.size() || !std::isxdigit(static_cast<unsigned char>(text_[at_ + k])))
              return false;
          }
          at_ += 5;
        } else if (e != '\0' && std::strchr("\"\\/bfnrt", e) != nullptr) {
          ++at_;
        } else {
          return false;
        }
      } else if (c >= 0x80) {
        if (!Utf8()) return false;
      } else {
        ++at_;
      }
    }
    return false;
  }

  bool Utf8() {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text_[k]); };
    const unsigned char lead = byte(at_);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || at_ + length > text_.size()) return false;
    std::uint32_t value = lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
      if ((byte(at_ + k) & 0xC0u) != 0x80u) return false;
      value = value << 6 | (byte(at_ + k) & 0x3Fu);
    }
    if ((length == 3 && value < 0x800) || (length == 4 && value < 0x10000) ||
        value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      return false;
    }
    at_ += length;
    return true;
  }

  bool Number() {
    const std::size_t start = at_;
    if (Peek() == '-') ++at_;
    if (Peek() == '0') {
      ++at_;
    } else if (!Digits()) {
      return false;
    }
    if (Peek() == '.') {
      ++at_;
      if (!Digits()) return false;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++at_;
      if (Peek() == '+' || Peek() == '-') ++at_;
      if (!Digits()) return false;
    }
    return at_ > start;
  }

  bool Digits() {
    const std::size_t start = at_;
    while (Peek() >= '0' && Peek() <= '9') ++at_;
    return at_ > start;
  }

  bool Word(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  void Space() {
    while (Peek() == ' ' || Peek() == '\n' || Peek() == '\t' || Peek() == '\r') ++at_;
  }

  char Peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using zorvane::JsonWriter;
  // The first byte picks the layout; the rest is cut at 00 bytes into the strings a drive
  // would supply, each also read as a number.
  const int indent = size > 0 ? data[0] % 3 : 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + (size > 0 ? 1 : 0),
                              size > 0 ? size - 1 : 0);
  JsonWriter json(indent);
  json.BeginObject();
  std::size_t start = 0;
  int field = 0;
  while (start <= rest.size()) {
    std::size_t end = rest.find('\0', start);
    if (end == std::string_view::npos) end = rest.size();
    const std::string_view piece = rest.substr(start, end - start);
    json.Key(piece);
    switch (field++ % 4) {
      case 0: json.String(piece); break;
      case 1: {
        double value = 0;
        std::memcpy(&value, piece.data(), std::min(piece.size(), sizeof value));
        json.Number(value);
        break;
      }
      case 2:
        json.BeginArray()
            .Hex(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size())
            .Number(static_cast<std::int64_t>(piece.size()))
            .EndArray();
        break;
      default: json.BeginObject().Key("text").String(piece).EndObject(); break;
    }
    start = end + 1;
  }
  json.EndObject();
  if (!json.Complete() || !Check(json.Text()).Document()) std::abort();
  return 0;
}
