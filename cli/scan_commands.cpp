// The quality scans on a terminal: `c2scan` runs the C2 button's checks and the C2 dialog
// in memory; `qscan` runs the PIE/PIF or BLER scan, one status line per measurement, and
// can keep the measurements as CSV. Ctrl-C stops either scan before its next command, with
// the figures so far (exit 130).
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "app/main_commands.h"
#include "base/templates.h"
#include "cli/cli_support.h"
#include "info/commands.h"
#include "info/outcome.h"
#include "scan/c2_dialog.h"
#include "scan/quality_scan.h"
#include "scan/scan_record.h"
#include "transport/console.h"
#include "transport/vocabulary.h"

namespace zorvane {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);
constexpr std::int32_t kLbaOutOfRange = 0x052100;

// The C2 button's checks end by asking for the C2 dialog; nothing else opens here.
class C2Jobs : public JobDialogs {
 public:
  bool CanOpen(int template_id) const override { return template_id == kC2ScanDialog; }
  void Open(int template_id) override { opened = opened || template_id == kC2ScanDialog; }
  bool CanStartQualityScan() const override { return false; }
  void StartQualityScan() override {}
  bool opened = false;
};

// A refused command's answer in words: the sense code and its text, or a failed request.
std::string SenseWords(std::int32_t result) {
  if (result == -1) return "the request did not reach the drive";
  std::string text = SenseText(result) != nullptr ? SenseText(result) : "";
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return FormatText(kConsoleTextLimit, "SK/ASC/ASCQ=%06Xh%s%s", static_cast<unsigned>(result),
                    text.empty() ? "" : ", ", text.c_str());
}

std::string Figure(const Dialog& dialog, int id) {
  std::string text = dialog.Text(id);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

int RunC2Scan(CommandContext& context) {
  if (int status = NoArguments(context, "c2scan"); status != kExitOk) return status;
  C2Jobs jobs;
  const Outcome checked = PressC2Scan(*context.window, jobs);
  if (!checked.ok || !jobs.opened) {
    std::fprintf(context.err, "zorvane-cli: c2scan: %s\n",
                 checked.ok ? "the disc cannot be scanned for C2 errors" : checked.reason.c_str());
    return kExitFailed;
  }
  MemoryDialog dialog;
  for (const ControlTemplate& control : C2ScanTemplate().controls) {
    if (control.id != kNoId) dialog.SetText(control.id, control.caption);
  }
  auto handler = std::make_shared<C2Dialog>();
  const std::shared_ptr<C2ScanState>& state = handler->State();
  CliProgress progress(context.err, "C2 scan");
  handler->OnInit(dialog);
  bool stop_asked = false;
  while (!handler->Finished()) {
    std::this_thread::sleep_for(kPollInterval);
    if (StopRequested() && !stop_asked) {
      // As the dialog's 結束(&X) does: the scan stops before its next command.
      stop_asked = true;
      handler->OnCommand(dialog, kC2ExitButton);
    }
    handler->OnTimer(dialog, kC2Timer);
    const std::uint32_t last = state->last.load();
    progress.Update(state->scanned.load(), last == 0 ? 0 : std::uint64_t{last} + 1,
                    FormatText(64, "C2 sectors %u", state->error_sectors.load()));
  }
  handler->Refresh(dialog);
  progress.Finish();
  context.summary.sectors_done = state->scanned.load();
  context.summary.sectors_total = std::uint64_t{state->last.load()} + 1;
  context.summary.fields = [state](JsonWriter& json) {
    json.Key("error_sectors").Unsigned(state->error_sectors.load());
    json.Key("error_flags").Unsigned(state->error_flags.load());
    json.Key("failed_at");
    state->phase.load() == C2Phase::kCommandError ? json.Unsigned(state->failed_at.load())
                                                  : json.Null();
  };
  std::fprintf(context.out, "檢測第%s/%s個碟區\n目前共%s個碟區存在C2失敗共%s個\n",
               Figure(dialog, kC2SectorReached).c_str(), Figure(dialog, kC2LastSector).c_str(),
               Figure(dialog, kC2ErrorSectors).c_str(), Figure(dialog, kC2ErrorFlags).c_str());
  std::fflush(context.out);
  switch (state->phase.load()) {
    case C2Phase::kDone:
      return kExitOk;
    case C2Phase::kNoCapacity:
      std::fprintf(context.err, "zorvane-cli: c2scan: %s\n",
                   CommandFailed(cdb::kReadCapacity, state->failure.load()).reason.c_str());
      return kExitFailed;
    case C2Phase::kCommandError: {
      const std::uint8_t read_cd[1] = {0xBE};
      std::fprintf(context.err, "zorvane-cli: c2scan: READ CD failed at sector %u: %s\n",
                   state->failed_at.load(),
                   CommandFailed(read_cd, state->failure.load()).reason.c_str());
      return kExitFailed;
    }
    case C2Phase::kStopped:
      std::fprintf(context.err, "zorvane-cli: c2scan: stopped after %u of %u sectors\n",
                   state->scanned.load(), state->last.load() + 1);
      return kExitStopped;
    case C2Phase::kStarting:
    case C2Phase::kScanning:
      break;
  }
  std::fprintf(context.err, "zorvane-cli: c2scan: the scan ended without an outcome\n");
  return kExitFailed;
}

struct QualityOptions {
  std::string csv;
  long seconds = 0;  // 0: no limit
};

int ParseQualityOptions(CommandContext& context, QualityOptions* options) {
  const auto& args = context.args;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string value;
    const std::string& arg = args[i];
    auto take = [&](const char* name) {
      const std::string prefix = std::string(name) + "=";
      if (arg == name) {
        if (i + 1 >= args.size()) return false;
        value = args[++i];
        return true;
      }
      if (arg.rfind(prefix, 0) == 0) {
        value = arg.substr(prefix.size());
        return true;
      }
      return false;
    };
    if (arg == "--csv" || arg.rfind("--csv=", 0) == 0) {
      if (!take("--csv") || value.empty()) {
        std::fprintf(context.err, "zorvane-cli: --csv needs a file name\n");
        return kExitUsage;
      }
      options->csv = value;
    } else if (arg == "--seconds" || arg.rfind("--seconds=", 0) == 0) {
      char* end = nullptr;
      const bool given = take("--seconds");
      const long seconds = given ? std::strtol(value.c_str(), &end, 10) : 0;
      if (!given || value.empty() || *end != '\0' || seconds < 1 || seconds > 86400) {
        std::fprintf(context.err, "zorvane-cli: --seconds needs a whole number from 1 to 86400\n");
        return kExitUsage;
      }
      options->seconds = seconds;
    } else {
      std::fprintf(context.err, "zorvane-cli: qscan: unknown argument %s\n", arg.c_str());
      return kExitUsage;
    }
  }
  return kExitOk;
}

void PrintTotals(std::FILE* out, const ScanRecord& record, std::uint32_t measurements) {
  std::string line = "Totals:";
  const std::vector<ScanSeries> series = SeriesOf(record.Kind());
  for (std::size_t i = 0; i < series.size(); ++i) {
    const ScanRecord::Stats stats = record.StatsOf(series[i].value);
    line += FormatText(128, "%s %s=%llu (max %u, average %.2f)", i == 0 ? "" : ",", series[i].name,
                       static_cast<unsigned long long>(stats.total), stats.max, stats.average);
  }
  line += FormatText(64, ", %u measurements\n", measurements);
  std::fputs(line.c_str(), out);
  std::fflush(out);
}

int RunQualityScan(CommandContext& context) {
  QualityOptions options;
  if (int status = ParseQualityOptions(context, &options); status != kExitOk) return status;
  auto csv = std::make_shared<CsvWriter>();
  std::string csv_error;
  if (!options.csv.empty() && !csv->Open(options.csv, &csv_error)) {
    std::fprintf(context.err, "zorvane-cli: qscan: %s\n", csv_error.c_str());
    return kExitFailed;
  }
  auto record = std::make_shared<ScanRecord>();
  // Written on the worker's thread as each measurement comes; a failed write stops the
  // scan.
  auto csv_failed = std::make_shared<std::atomic<bool>>(false);
  auto csv_failure = std::make_shared<std::string>();
  auto position = std::make_shared<std::atomic<std::int64_t>>(0);
  auto on_sample = [csv, csv_failed, csv_failure, position, record](const ScanSample& sample) {
    position->store(sample.position);
    if (!csv->IsOpen() || csv_failed->load()) return;
    std::string error;
    bool ok = true;
    if (record->Size() == 1) ok = csv->Begin(record->Kind(), &error);
    if (ok) ok = csv->Write(sample, &error);
    if (!ok) {
      *csv_failure = error;
      csv_failed->store(true);
    }
  };
  const auto state = StartQualityScan(*context.window, record, on_sample);
  if (!state) {
    std::fprintf(context.err, "zorvane-cli: qscan: a quality scan is already running\n");
    return kExitFailed;
  }
  const auto start = std::chrono::steady_clock::now();
  const auto limit = std::chrono::seconds(options.seconds);
  CliProgress progress(context.err, "quality scan");
  bool stop_asked = false;
  while (!state->finished.load()) {
    std::this_thread::sleep_for(kPollInterval);
    if (options.seconds > 0 && std::chrono::steady_clock::now() - start >= limit) {
      state->run.store(false);
    }
    // Ctrl-C stops the scan as the window's stop button does: before its next command.
    if (StopRequested() && !stop_asked) {
      stop_asked = true;
      state->run.store(false);
    }
    if (csv_failed->load()) state->run.store(false);
    if (record->Size() > 0) {
      progress.Update(static_cast<std::uint64_t>(std::max<std::int64_t>(position->load(), 0)),
                      static_cast<std::uint64_t>(std::max<std::int64_t>(record->Extent(), 0)),
                      FormatText(64, "%u measurements", state->measurements.load()));
    }
  }
  progress.Finish();
  const std::uint32_t measurements = state->measurements.load();
  context.summary.output = options.csv;
  context.summary.fields = [record, measurements](JsonWriter& json) {
    json.Key("measurements").Unsigned(measurements);
    json.Key("series").BeginArray();
    for (const ScanSeries& series : SeriesOf(record->Kind())) {
      const ScanRecord::Stats stats = record->StatsOf(series.value);
      json.BeginObject()
          .Key("name")
          .String(series.name)
          .Key("total")
          .Unsigned(stats.total)
          .Key("max")
          .Unsigned(stats.max)
          .Key("average")
          .Number(stats.average)
          .EndObject();
    }
    json.EndArray();
  };
  if (measurements > 0) PrintTotals(context.out, *record, measurements);
  if (csv_failed->load()) {
    std::fprintf(context.err, "zorvane-cli: qscan: CSV not written: %s\n", csv_failure->c_str());
    return kExitFailed;
  }

  const std::int32_t failure = state->failure.load();
  int status = kExitFailed;
  std::string why;
  switch (state->end.load()) {
    case QualityScanEnd::kStopped:
      // At --seconds the scan ends as asked; Ctrl-C stops it.
      if (stop_asked) {
        status = kExitStopped;
        why = FormatText(64, "stopped after %u measurements", measurements);
      } else {
        status = kExitOk;
      }
      break;
    case QualityScanEnd::kScanError:
    case QualityScanEnd::kCountError:
      // The drive ends the scan by failing the measurement after the end of the disc.
      if (failure == kLbaOutOfRange && measurements > 0) {
        status = kExitOk;
        break;
      }
      why =
          FormatText(kConsoleTextLimit, "the drive failed a measurement after %u measurements (%s)",
                     measurements, SenseWords(failure).c_str());
      break;
    case QualityScanEnd::kResetError:
      why = "the drive refused to move on to the next second (" + SenseWords(failure) + ")";
      break;
    case QualityScanEnd::kStartError:
      why = "the drive does not start a quality scan (" + SenseWords(failure) + ")";
      break;
    case QualityScanEnd::kCapacityError:
      why = CommandFailed(cdb::kReadCapacity, failure).reason;
      break;
    case QualityScanEnd::kNoDisc:
      why = "no disc in the drive";
      break;
    case QualityScanEnd::kNothingToScan:
      why = "the disc has nothing written to scan";
      break;
    case QualityScanEnd::kNoDevice:
    case QualityScanEnd::kRunning:
      why = "the drive could not be reached";
      break;
  }
  if (csv->IsOpen()) {
    // The file takes its name only when the scan succeeded; otherwise the measurements so far
    // are kept beside it and an older file of that name stays as it was.
    std::string error;
    if (status == kExitOk) {
      if (!csv->Commit(&error)) {
        std::fprintf(context.err, "zorvane-cli: qscan: CSV not written: %s\n", error.c_str());
        return kExitFailed;
      }
    } else if (measurements > 0) {
      const std::string kept = csv->KeepPartial(&error);
      if (!kept.empty()) {
        std::fprintf(context.err, "zorvane-cli: qscan: kept %u measurements in %s\n", measurements,
                     kept.c_str());
      } else if (!error.empty()) {
        std::fprintf(context.err, "zorvane-cli: qscan: measurements not kept: %s\n", error.c_str());
      }
    }
  }
  if (!why.empty()) std::fprintf(context.err, "zorvane-cli: qscan: %s\n", why.c_str());
  return status;
}

}  // namespace

std::vector<Command> ScanCommands() {
  return {
      {"c2scan", "c2scan",
       "count the C2 errors of a CD sector by sector; exit 0 when every sector\n"
       "                               was read, 130 when Ctrl-C stopped it",
       RunC2Scan},
      {"qscan", "qscan [--csv FILE] [--seconds N]",
       "PIE/PIF (DVD) or BLER/E22/E32 (CD) scan\n"
       "                               with the drive's vendor commands: a line per measurement, "
       "the totals at\n"
       "                               the end; ends at the end of the disc, after N seconds or\n"
       "                               on Ctrl-C (exit 130); FILE gets the measurements as CSV\n"
       "                               when the scan succeeded, FILE.part otherwise",
       RunQualityScan},
  };
}

}  // namespace zorvane
