#include "vdrive/spec.h"

#include <algorithm>
#include <charconv>

namespace zorvane::vdrive {

namespace {

bool ParseDecimal(std::string_view text, std::int64_t max, std::int64_t* value) {
  if (text.empty() || text.size() > 12) return false;
  std::int64_t result = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), result);
  if (ec != std::errc() || end != text.data() + text.size() || result < 0 || result > max) {
    return false;
  }
  *value = result;
  return true;
}

bool ParseHex(std::string_view text, std::size_t digits, std::uint32_t* value) {
  if (text.size() != digits) return false;
  std::uint32_t result = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), result, 16);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  *value = result;
  return true;
}

bool ParseMsf(std::string_view text, Msf* msf) {
  if (text.size() != 8 || text[2] != ':' || text[5] != ':') return false;
  std::int64_t m = 0;
  std::int64_t s = 0;
  std::int64_t f = 0;
  if (!ParseDecimal(text.substr(0, 2), 99, &m) || !ParseDecimal(text.substr(3, 2), 59, &s) ||
      !ParseDecimal(text.substr(6, 2), 74, &f)) {
    return false;
  }
  *msf = Msf{static_cast<int>(m), static_cast<int>(s), static_cast<int>(f)};
  return true;
}

bool ParseText(std::string_view text, std::size_t max, std::string* value) {
  if (text.empty() || text.size() > max) return false;
  const bool printable =
      std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
  if (!printable) return false;
  *value = std::string(text);
  return true;
}

// "OPCODE[xCOUNT]": two hex digits, then an optional decimal count.
bool ParseOpcodeCount(std::string_view text, std::uint8_t* opcode, int* count) {
  std::uint32_t code = 0;
  if (text.size() < 2 || !ParseHex(text.substr(0, 2), 2, &code)) return false;
  *opcode = static_cast<std::uint8_t>(code);
  *count = 0;
  if (text.size() == 2) return true;
  std::int64_t n = 0;
  if (text[2] != 'x' || !ParseDecimal(text.substr(3), 1000000, &n) || n == 0) return false;
  *count = static_cast<int>(n);
  return true;
}

// "OPCODE[@LBA]:SENSE[xCOUNT]".
bool ParseFault(std::string_view text, FaultRule* rule) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view head = text.substr(0, colon);
  std::string_view tail = text.substr(colon + 1);
  std::uint32_t code = 0;
  if (head.size() < 2 || !ParseHex(head.substr(0, 2), 2, &code)) return false;
  rule->opcode = static_cast<std::uint8_t>(code);
  if (head.size() > 2) {
    std::int64_t lba = 0;
    if (head[2] != '@' || !ParseDecimal(head.substr(3), 0x7FFFFFFF, &lba)) return false;
    rule->lba = static_cast<std::int32_t>(lba);
  }
  std::uint32_t sense = 0;
  if (tail.size() < 6 || !ParseHex(tail.substr(0, 6), 6, &sense)) return false;
  if ((sense >> 16) == 0 || (sense >> 16) > 0x0F) return false;  // a sense key 1..F
  rule->sense = sense;
  rule->count = 0;
  if (tail.size() > 6) {
    std::int64_t n = 0;
    if (tail[6] != 'x' || !ParseDecimal(tail.substr(7), 1000000, &n) || n == 0) return false;
    rule->count = static_cast<int>(n);
  }
  return true;
}

bool ParseRange(std::string_view text, BlockRange* range) {
  const std::size_t dash = text.find('-');
  if (dash == std::string_view::npos) return false;
  std::int64_t first = 0;
  std::int64_t last = 0;
  if (!ParseDecimal(text.substr(0, dash), 0x7FFFFFFF, &first) ||
      !ParseDecimal(text.substr(dash + 1), 0x7FFFFFFF, &last) || last < first) {
    return false;
  }
  *range = BlockRange{static_cast<std::int32_t>(first), static_cast<std::int32_t>(last)};
  return true;
}

bool ParseQuirk(std::string_view name, Quirks* quirks) {
  if (name == "noatip") {
    quirks->no_atip = true;
  } else if (name == "blockdesc") {
    quirks->block_descriptor = true;
  } else if (name == "noc2") {
    quirks->no_c2 = true;
  } else if (name == "novendor") {
    quirks->no_vendor = true;
  } else if (name == "noperf") {
    quirks->no_performance = true;
  } else if (name == "rawtocmsf") {
    quirks->raw_toc_msf = true;
  } else if (name == "ignorestart") {
    quirks->ignore_start = true;
  } else if (name == "daodefault") {
    quirks->dao_default = true;
  } else if (name == "notestwrite") {
    quirks->no_test_write = true;
  } else {
    return false;
  }
  return true;
}

// Applies one KEY=VALUE (or a bare KEY). Returns "" or the error.
std::string ApplyKey(std::string_view key, std::optional<std::string_view> value, DriveSpec* spec) {
  auto bad = [&](const char* expected) {
    return "bad value for " + std::string(key) + "=: \"" + std::string(value.value_or("")) +
           "\" (expected " + expected + ")";
  };
  if (key == "attention") {
    if (value) return "attention takes no value";
    spec->attention = true;
    return "";
  }
  if (!value) return "key " + std::string(key) + " needs a value (" + std::string(key) + "=...)";
  const std::string_view v = *value;
  std::string text;
  if (key == "image") {
    if (v.empty()) return bad("a file name");
    spec->image = std::string(v);
  } else if (key == "state") {
    if (v.empty()) return bad("a file name");
    spec->state = std::string(v);
  } else if (key == "cdtext") {
    if (v.empty()) return bad("a file name");
    spec->cdtext = std::string(v);
  } else if (key == "atip" || key == "leadout") {
    Msf msf;
    if (!ParseMsf(v, &msf)) return bad("MM:SS:FF with SS below 60 and FF below 75");
    (key == "atip" ? spec->atip : spec->leadout) = msf;
  } else if (key == "maker") {
    if (!ParseText(v, 12, &text)) return bad("1 to 12 printable characters");
    spec->maker = text;
  } else if (key == "serial") {
    if (!ParseText(v, 32, &text)) return bad("1 to 32 printable characters");
    spec->serial = text;
  } else if (key == "vendor") {
    if (!ParseText(v, 8, &text)) return bad("1 to 8 printable characters");
    spec->vendor = text;
  } else if (key == "product") {
    if (!ParseText(v, 16, &text)) return bad("1 to 16 printable characters");
    spec->product = text;
  } else if (key == "revision") {
    if (!ParseText(v, 4, &text)) return bad("1 to 4 printable characters");
    spec->revision = text;
  } else if (key == "blocks") {
    std::int64_t n = 0;
    if (!ParseDecimal(v, 16000000, &n) || n < 16) return bad("a block count from 16 to 16000000");
    spec->blocks = static_cast<std::int32_t>(n);
  } else if (key == "quirk") {
    if (!ParseQuirk(v, &spec->quirks))
      return bad(
          "noatip, blockdesc, noc2, novendor, noperf, rawtocmsf, ignorestart, daodefault or "
          "notestwrite");
  } else if (key == "quality") {
    if (v == "good") {
      spec->quality = Quality::kGood;
    } else if (v == "poor") {
      spec->quality = Quality::kPoor;
    } else {
      return bad("good or poor");
    }
  } else if (key == "damage") {
    BlockRange range;
    if (!ParseRange(v, &range)) return bad("FIRST-LAST block numbers, FIRST <= LAST");
    spec->damage.push_back(range);
  } else if (key == "alter") {
    std::int64_t lba = 0;
    if (!ParseDecimal(v, 0x7FFFFFFF, &lba)) return bad("a block number");
    spec->altered.push_back(static_cast<std::int32_t>(lba));
  } else if (key == "ready") {
    std::int64_t n = 0;
    if (!ParseDecimal(v, 1000, &n)) return bad("a count from 0 to 1000");
    spec->ready = static_cast<int>(n);
  } else if (key == "fault") {
    FaultRule rule;
    if (!ParseFault(v, &rule)) return bad("OPCODE[@LBA]:SENSE[xCOUNT], e.g. 28@100:031100x2");
    spec->faults.push_back(rule);
  } else if (key == "fail") {
    FailRule rule;
    if (!ParseOpcodeCount(v, &rule.opcode, &rule.count)) return bad("OPCODE[xCOUNT], e.g. 28x1");
    spec->fails.push_back(rule);
  } else if (key == "mediumtype") {
    if (v == "legacy") {
      spec->medium_type = MediumTypeMode::kLegacy;
    } else if (v == "zero") {
      spec->medium_type = MediumTypeMode::kZero;
    } else if (v == "qemu-atapi") {
      spec->medium_type = MediumTypeMode::kQemuAtapi;
    } else {
      return bad("legacy, zero or qemu-atapi");
    }
  } else if (key == "time") {
    if (v == "instant") {
      spec->real_time = false;
    } else if (v == "real") {
      spec->real_time = true;
    } else {
      return bad("instant or real");
    }
  } else {
    return "unknown key \"" + std::string(key) + "\"";
  }
  return "";
}

}  // namespace

const std::vector<std::string>& PresetNames() {
  static const std::vector<std::string> names = {
      "nodisc",   "open",       "cdrom",        "cdda",       "cdmixed",  "cdr-blank",
      "cdr-open", "cdr-closed", "cdr-multi",    "cdrw-blank", "cdrw-mrw", "dvdrom",
      "dvd-r",    "dvd-r-dl",   "dvd-rw-seq",   "dvd-rw-ro",  "dvd-ram",  "dvd+r",
      "dvd+r-dl", "dvd+rw",     "dvd+rw-blank", "bdrom",      "hddvdrom"};
  return names;
}

bool ParseSpec(std::string_view text, DriveSpec* spec, std::string* error) {
  *spec = DriveSpec{};
  std::vector<std::string_view> parts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = text.find(',', from);
    parts.push_back(text.substr(from, comma == std::string_view::npos ? comma : comma - from));
    if (comma == std::string_view::npos) break;
    from = comma + 1;
  }
  const std::string_view preset = parts.front();
  const auto& names = PresetNames();
  if (std::find(names.begin(), names.end(), preset) == names.end()) {
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
    *error = preset.empty()
                 ? "no preset given (one of: " + list + ")"
                 : "unknown preset \"" + std::string(preset) + "\" (one of: " + list + ")";
    return false;
  }
  spec->preset = std::string(preset);
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string_view part = parts[i];
    if (part.empty()) {
      *error = "empty key in \"" + std::string(text) + "\"";
      return false;
    }
    const std::size_t equals = part.find('=');
    const std::string_view key = part.substr(0, equals);
    std::optional<std::string_view> value;
    if (equals != std::string_view::npos) value = part.substr(equals + 1);
    std::string message = ApplyKey(key, value, spec);
    if (!message.empty()) {
      *error = std::move(message);
      return false;
    }
  }
  return true;
}

}  // namespace zorvane::vdrive
