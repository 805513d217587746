// The quality scans on a terminal: `c2scan` runs the C2 button's checks and the C2 dialog
// in memory; `qscan` runs the PIE/PIF or BLER scan, one status line per measurement, and
// can keep the measurements as CSV. Ctrl-C ends either scan with the figures so far.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "app/main_commands.h"
#include "base/templates.h"
#include "cli/cli_support.h"
#include "scan/c2_dialog.h"
#include "scan/quality_scan.h"
#include "scan/scan_record.h"
#include "transport/console.h"

namespace zorvane {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);
constexpr std::int32_t kLbaOutOfRange = 0x052100;

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
  interrupted.store(true);
}

// Ctrl-C sets a flag while a scan runs; the previous handling comes back afterwards.
class InterruptGuard {
 public:
  InterruptGuard() {
    interrupted.store(false);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    installed_ = sigaction(SIGINT, &action, &previous_) == 0;
  }
  ~InterruptGuard() {
    if (installed_) sigaction(SIGINT, &previous_, nullptr);
  }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
  bool Raised() const { return interrupted.load(); }

 private:
  struct sigaction previous_ {};
  bool installed_ = false;
};

// The C2 button's checks end by asking for the C2 dialog; nothing else opens here.
class C2Jobs : public JobDialogs {
 public:
  bool CanOpen(int template_id) const override { return template_id == kC2ScanDialog; }
  void Open(int template_id) override { opened = opened || template_id == kC2ScanDialog; }
  bool CanStartQualityScan() const override { return false; }
  void StartQualityScan() override {}
  bool opened = false;
};

std::string Figure(const Dialog& dialog, int id) {
  std::string text = dialog.Text(id);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

int RunC2Scan(CommandContext& context) {
  if (int status = NoArguments(context, "c2scan"); status != kExitOk) return status;
  C2Jobs jobs;
  PressC2Scan(*context.window, jobs);
  if (!jobs.opened) {
    std::fprintf(context.err, "zorvane-cli: c2scan: the disc cannot be scanned for C2 errors\n");
    return kExitFailed;
  }
  MemoryDialog dialog;
  for (const ControlTemplate& control : C2ScanTemplate().controls) {
    if (control.id != kNoId) dialog.SetText(control.id, control.caption);
  }
  auto handler = std::make_shared<C2Dialog>();
  const std::shared_ptr<C2ScanState>& state = handler->State();
  InterruptGuard interrupt;
  CliProgress progress(context.err, "C2 scan");
  handler->OnInit(dialog);
  while (!handler->Finished()) {
    std::this_thread::sleep_for(kPollInterval);
    if (interrupt.Raised()) state->run.store(false);
    handler->OnTimer(dialog, kC2Timer);
    const std::uint32_t last = state->last.load();
    progress.Update(state->scanned.load(), last == 0 ? 0 : std::uint64_t{last} + 1,
                    FormatText(64, "C2 sectors %u", state->error_sectors.load()));
  }
  handler->Refresh(dialog);
  progress.Finish();
  std::fprintf(context.out, "檢測第%s/%s個碟區\n目前共%s個碟區存在C2失敗共%s個\n",
               Figure(dialog, kC2SectorReached).c_str(), Figure(dialog, kC2LastSector).c_str(),
               Figure(dialog, kC2ErrorSectors).c_str(), Figure(dialog, kC2ErrorFlags).c_str());
  std::fflush(context.out);
  switch (state->phase.load()) {
    case C2Phase::kDone:
      return kExitOk;
    case C2Phase::kNoCapacity:
      std::fprintf(context.err, "zorvane-cli: c2scan: READ CAPACITY failed\n");
      break;
    case C2Phase::kCommandError:
      std::fprintf(context.err, "zorvane-cli: c2scan: READ CD failed at sector %u\n",
                   state->scanned.load());
      break;
    default:
      std::fprintf(context.err, "zorvane-cli: c2scan: stopped after %u of %u sectors\n",
                   state->scanned.load(), state->last.load() + 1);
      break;
  }
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
  InterruptGuard interrupt;
  const auto state = StartQualityScan(*context.window, record, on_sample);
  if (!state) {
    std::fprintf(context.err, "zorvane-cli: qscan: a quality scan is already running\n");
    return kExitFailed;
  }
  const auto start = std::chrono::steady_clock::now();
  const auto limit = std::chrono::seconds(options.seconds);
  CliProgress progress(context.err, "quality scan");
  while (!state->finished.load()) {
    std::this_thread::sleep_for(kPollInterval);
    if (options.seconds > 0 && std::chrono::steady_clock::now() - start >= limit) {
      state->run.store(false);
    }
    if (interrupt.Raised() || csv_failed->load()) state->run.store(false);
    if (record->Size() > 0) {
      progress.Update(static_cast<std::uint64_t>(std::max<std::int64_t>(position->load(), 0)),
                      static_cast<std::uint64_t>(std::max<std::int64_t>(record->Extent(), 0)),
                      FormatText(64, "%u measurements", state->measurements.load()));
    }
  }
  progress.Finish();
  const std::uint32_t measurements = state->measurements.load();
  if (measurements > 0) PrintTotals(context.out, *record, measurements);
  if (csv->IsOpen() && !csv->Close(&csv_error) && !csv_failed->load()) {
    *csv_failure = csv_error;
    csv_failed->store(true);
  }
  if (csv_failed->load()) {
    std::fprintf(context.err, "zorvane-cli: qscan: CSV not written: %s\n", csv_failure->c_str());
    return kExitFailed;
  }
  const std::int32_t failure = state->failure.load();
  switch (state->end.load()) {
    case QualityScanEnd::kStopped:
      // Ended here: at --seconds or by Ctrl-C, with the figures so far.
      return kExitOk;
    case QualityScanEnd::kScanError:
    case QualityScanEnd::kCountError:
      // The drive ends the scan by failing the measurement after the end of the disc.
      if (failure == kLbaOutOfRange && measurements > 0) return kExitOk;
      std::fprintf(context.err,
                   "zorvane-cli: qscan: the drive failed a measurement (result %06X) after %u "
                   "measurements\n",
                   static_cast<unsigned>(failure), measurements);
      return kExitFailed;
    case QualityScanEnd::kResetError:
      std::fprintf(context.err, "zorvane-cli: qscan: the drive refused to move on (result %06X)\n",
                   static_cast<unsigned>(failure));
      return kExitFailed;
    case QualityScanEnd::kStartError:
      std::fprintf(context.err,
                   "zorvane-cli: qscan: the drive does not start a quality scan (result %06X)\n",
                   static_cast<unsigned>(failure));
      return kExitFailed;
    case QualityScanEnd::kCapacityError:
      std::fprintf(context.err, "zorvane-cli: qscan: READ CAPACITY failed\n");
      return kExitFailed;
    case QualityScanEnd::kNoDisc:
      std::fprintf(context.err, "zorvane-cli: qscan: no disc in the drive\n");
      return kExitFailed;
    case QualityScanEnd::kNoDevice:
    case QualityScanEnd::kRunning:
      break;
  }
  std::fprintf(context.err, "zorvane-cli: qscan: the drive could not be reached\n");
  return kExitFailed;
}

}  // namespace

std::vector<Command> ScanCommands() {
  return {
      {"c2scan", "c2scan",
       "count the C2 errors of a CD sector by sector; exit 0 when every sector\n"
       "                               was read",
       RunC2Scan},
      {"qscan", "qscan [--csv FILE] [--seconds N]",
       "PIE/PIF (DVD) or BLER/E22/E32 (CD) scan\n"
       "                               with the drive's vendor commands: a line per measurement, "
       "the totals at\n"
       "                               the end; ends at the end of the disc, after N seconds or\n"
       "                               on Ctrl-C; FILE gets the measurements as CSV",
       RunQualityScan},
  };
}

}  // namespace zorvane
