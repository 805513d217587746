#include "cli/json_output.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/main_commands.h"
#include "cli/cli_support.h"
#include "info/capabilities.h"
#include "info/capacity.h"
#include "info/checks.h"
#include "info/manufacturer.h"
#include "info/media.h"
#include "info/outcome.h"
#include "info/toc.h"
#include "info/write_speeds.h"
#include "transport/discovery.h"

namespace zorvane {

namespace {

const char* StatusName(int exit_status) {
  switch (exit_status) {
    case kExitOk:
      return "ok";
    case kExitStopped:
      return "stopped";
    case kExitUsage:
      return "usage";
    default:
      return "failed";
  }
}

// The members every document begins with.
void BeginDocument(JsonWriter& json, const char* name, int exit_status, const std::string& error) {
  json.BeginObject();
  json.Key("command").String(name);
  json.Key("status").String(StatusName(exit_status));
  json.Key("exit_status").Number(std::int64_t{exit_status});
  json.Key("error");
  if (exit_status == kExitOk || error.empty()) {
    json.Null();
  } else {
    json.String(error);
  }
  json.Key("sense");
  const std::optional<std::uint32_t> sense =
      exit_status == kExitOk ? std::nullopt : SenseInReason(error);
  if (sense) {
    json.BeginObject()
        .Key("code")
        .Unsigned(*sense)
        .Key("key")
        .Unsigned(*sense >> 16 & 0x0F)
        .Key("asc")
        .Unsigned(*sense >> 8 & 0xFF)
        .Key("ascq")
        .Unsigned(*sense & 0xFF)
        .EndObject();
  } else {
    json.Null();
  }
}

void EndDocument(CommandContext& context, JsonWriter& json) {
  json.EndObject();
  std::fputs(json.Text().c_str(), context.json_out);
  std::fputc('\n', context.json_out);
  std::fflush(context.json_out);
}

// The reason on standard error, as the text report gives it, and the exit status.
int Failure(CommandContext& context, const char* name, const Outcome& outcome) {
  std::fprintf(context.err, "zorvane-cli: %s: %s\n", name, outcome.reason.c_str());
  std::fflush(context.err);
  return kExitFailed;
}

int Document(CommandContext& context, const char* name, const Outcome& outcome,
             const std::function<void(JsonWriter&)>& fields) {
  const int status = outcome.ok ? kExitOk : Failure(context, name, outcome);
  JsonWriter json;
  BeginDocument(json, name, status, outcome.reason);
  if (fields) fields(json);
  EndDocument(context, json);
  return status;
}

std::string Trimmed(const char* text, std::size_t size) {
  std::string value(text, ::strnlen(text, size));
  while (!value.empty() && value.back() == ' ') value.pop_back();
  return value;
}

int DevicesJson(CommandContext& context) {
  return Document(context, "devices", Succeeded(), [](JsonWriter& json) {
    json.Key("devices").BeginArray();
    for (int i = 0; i < DeviceCount; ++i) {
      const DeviceEntry& entry = DeviceTable[static_cast<std::size_t>(i)];
      // INQUIRY's vendor (8 bytes), product (16) and revision (4), as the table keeps them.
      const char* d = entry.description;
      json.BeginObject()
          .Key("drive")
          .String(DriveName(entry.slot))
          .Key("vendor")
          .String(Trimmed(d, 8))
          .Key("product")
          .String(::strnlen(d, 8) == 8 ? Trimmed(d + 8, 16) : "")
          .Key("revision")
          .String(::strnlen(d, 24) == 24 ? Trimmed(d + 24, 4) : "")
          .Key("description")
          .String(Trimmed(d, sizeof entry.description))
          .EndObject();
    }
    json.EndArray();
    // The optical drives the system has (sysfs), also those that cannot be opened.
    json.Key("system_drives").BeginArray();
    for (const OpticalDrive& drive : FindOpticalDrives()) {
      json.BeginObject()
          .Key("node")
          .String(drive.node)
          .Key("vendor")
          .String(drive.vendor)
          .Key("model")
          .String(drive.model)
          .Key("revision")
          .String(drive.revision)
          .Key("accessible")
          .Bool(drive.accessible)
          .Key("reason")
          .String(drive.reason)
          .EndObject();
    }
    json.EndArray();
  });
}

}  // namespace

std::optional<std::uint32_t> SenseInReason(const std::string& reason) {
  static constexpr const char kPrefix[] = "SK/ASC/ASCQ=";
  const std::size_t at = reason.find(kPrefix);
  if (at == std::string::npos) return std::nullopt;
  const char* digits = reason.c_str() + at + sizeof kPrefix - 1;
  char* end = nullptr;
  const unsigned long value = std::strtoul(digits, &end, 16);
  if (end == digits || *end != 'h' || value > 0xFFFFFF) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

int RunReportJson(CommandContext& context, const char* name) {
  if (int status = NoArguments(context, name); status != kExitOk) return status;
  const std::string command = name;
  if (command == "devices") return DevicesJson(context);
  if (command == "probe") {
    const std::uint8_t code = ProbeMediumType(0);
    return Document(context, name, code == kMediumNoDevice ? ProbeFailed(code) : Succeeded(),
                    [code](JsonWriter& json) { MediumTypeJson(json, code); });
  }
  if (command == "caps") {
    // As the window's button: the probe, then the report.
    ApplyClearRule(*context.window);
    const std::uint8_t code = ProbeMediumType(0);
    if (code == kMediumNoDevice) return Document(context, name, ProbeFailed(code), nullptr);
    CapabilitiesReport report;
    const Outcome outcome = DecodeCapabilities(&report);
    return Document(context, name, outcome,
                    [&report](JsonWriter& json) { CapabilitiesJson(json, report); });
  }
  if (command == "capacity" || command == "toc") {
    std::uint8_t code = 0;
    if (!ClearAndProbe(*context.window, &code)) {
      return Document(context, name, ProbeFailed(code),
                      [code](JsonWriter& json) { json.Key("medium_code").Unsigned(code); });
    }
    if (command == "toc") {
      TrackList.ClearFirstRow();
      TocReport report;
      DecodeTableOfContents(code, &report);
      return Document(context, name, Succeeded(),
                      [&report](JsonWriter& json) { TableOfContentsJson(json, report); });
    }
    CapacityReport report;
    const Outcome outcome = DecodeCapacity(code, &report);
    return Document(context, name, outcome,
                    [&report](JsonWriter& json) { CapacityJson(json, report); });
  }
  if (command == "maker") {
    ApplyClearRule(*context.window);
    ManufacturerReport report;
    const Outcome outcome = DecodeManufacturer(&report);
    return Document(context, name, outcome,
                    [&report](JsonWriter& json) { ManufacturerJson(json, report); });
  }
  if (command == "speeds") {
    const std::uint8_t code = ProbeMediumType(0);
    if (code == kMediumNoDevice) return Document(context, name, ProbeFailed(code), nullptr);
    std::vector<WriteSpeedEntry> entries;
    const bool dvd = IsDvdMedium(code);
    const Outcome outcome = QueryWriteSpeeds(dvd, &entries)
                                ? Succeeded()
                                : Failed("the drive gave no write speeds (GET PERFORMANCE failed)");
    return Document(context, name, outcome, [&](JsonWriter& json) {
      json.Key("medium_code").Unsigned(code);
      json.Key("disc").String(dvd ? "dvd" : "cd");
      WriteSpeedsJson(json, dvd, entries);
    });
  }
  return Failure(context, name, Failed("no JSON document for this command"));
}

void PrintFailureDocument(CommandContext& context, const char* name, int exit_status,
                          const std::string& error) {
  JsonWriter json;
  BeginDocument(json, name, exit_status, error);
  EndDocument(context, json);
}

ReasonCapture::ReasonCapture(std::FILE* err, const std::string& name)
    : err_(err), prefix_("zorvane-cli: " + name + ": ") {
  cookie_io_functions_t functions{};
  functions.write = [](void* cookie, const char* data, std::size_t size) -> ssize_t {
    return Write(cookie, data, size);
  };
  stream_ = fopencookie(this, "w", functions);
  // Line-buffered, as a terminal's standard error is written: each line reaches `err` whole.
  if (stream_ != nullptr) std::setvbuf(stream_, nullptr, _IOLBF, 0);
}

ReasonCapture::~ReasonCapture() {
  if (stream_ != nullptr) std::fclose(stream_);
}

std::string ReasonCapture::Reason() const {
  if (stream_ != nullptr) std::fflush(stream_);
  return reason_;
}

long ReasonCapture::Write(void* cookie, const char* data, std::size_t size) {
  auto* self = static_cast<ReasonCapture*>(cookie);
  std::fwrite(data, 1, size, self->err_);
  std::fflush(self->err_);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] != '\n') {
      self->line_.push_back(data[i]);
      continue;
    }
    if (self->line_.rfind(self->prefix_, 0) == 0) {
      if (!self->reason_.empty()) self->reason_ += "; ";
      self->reason_ += self->line_.substr(self->prefix_.size());
    }
    self->line_.clear();
  }
  return static_cast<long>(size);
}

void PrintJobSummary(CommandContext& context, const char* name, int exit_status,
                     const std::string& error) {
  const JobSummary& summary = context.summary;
  const std::string& reason = summary.reason.empty() ? error : summary.reason;
  JsonWriter json;
  BeginDocument(json, name, exit_status, reason);
  auto optional_number = [&json](const char* key, const std::optional<std::uint64_t>& value) {
    json.Key(key);
    value ? json.Unsigned(*value) : json.Null();
  };
  optional_number("sectors_done", summary.sectors_done);
  optional_number("sectors_total", summary.sectors_total);
  json.Key("output");
  summary.output.empty() ? json.Null() : json.String(summary.output);
  json.Key("kept");
  summary.kept.empty() ? json.Null() : json.String(summary.kept);
  if (summary.fields) summary.fields(json);
  EndDocument(context, json);
}

}  // namespace zorvane
