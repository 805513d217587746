// Reading the disc to a file from the command line: the read button's checks, then the read
// dialog with the track and sectors given, run on an in-memory dialog.
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/main_commands.h"
#include "base/templates.h"
#include "cli/cli_support.h"
#include "info/toc.h"
#include "read/disc_read.h"
#include "read/read_dialog.h"
#include "transport/console.h"

namespace zorvane {

namespace {

// Which read dialog the read button's checks chose.
class ChosenDialog : public JobDialogs {
 public:
  bool CanOpen(int) const override { return true; }
  void Open(int template_id) override { opened = template_id; }
  bool CanStartQualityScan() const override { return false; }
  void StartQualityScan() override {}
  int opened = 0;
};

bool ParseNumber(const std::string& text, long long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtoll(text.c_str(), &end, 10);
  return *end == '\0' && *value >= INT32_MIN && *value <= INT32_MAX;
}

struct ReadArguments {
  long long track = -1;
  long long first = -1;  // -1: as the track gives it
  long long last = -1;
  std::string out;
  bool disc = false;  // the whole CD to OUT (a .cue) and its .bin
  bool subchannel = false;
};

int Usage(CommandContext& context, const std::string& message) {
  std::fprintf(context.err, "zorvane-cli: read: %s\n", message.c_str());
  std::fprintf(context.err,
               "usage: zorvane-cli read [--track N] [--first LBA] [--last LBA] OUT\n"
               "       zorvane-cli read --disc [--subchannel] OUT.cue\n");
  return kExitUsage;
}

// Parses the arguments; kExitOk or the usage status (already reported).
int ParseReadArguments(CommandContext& context, ReadArguments* arguments) {
  const std::vector<std::string>& args = context.args;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool has_value = false;
    if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
      value = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
      has_value = true;
    }
    if ((arg == "--disc" || arg == "--subchannel") && !has_value) {
      (arg == "--disc" ? arguments->disc : arguments->subchannel) = true;
    } else if (arg == "--track" || arg == "--first" || arg == "--last") {
      if (!has_value) {
        if (i + 1 >= args.size()) return Usage(context, arg + " needs a number");
        value = args[++i];
      }
      long long number = 0;
      if (!ParseNumber(value, &number))
        return Usage(context, arg + " takes a number, not " += value);
      if (arg == "--track") {
        if (number < 1 || number > 99) return Usage(context, "--track takes 1 to 99");
        arguments->track = number;
      } else {
        if (number < 0) return Usage(context, arg + " takes a sector from 0, not " += value);
        (arg == "--first" ? arguments->first : arguments->last) = number;
      }
    } else if (arg.size() > 1 && arg[0] == '-' && !has_value) {
      return Usage(context, "unknown option " + arg);
    } else if (arguments->out.empty() && !has_value) {
      arguments->out = args[i];
    } else {
      return Usage(context, "one output file only");
    }
  }
  if (arguments->out.empty()) return Usage(context, "no output file given");
  if (arguments->subchannel && !arguments->disc) return Usage(context, "--subchannel needs --disc");
  if (arguments->disc) {
    if (arguments->track > 0 || arguments->first >= 0 || arguments->last >= 0) {
      return Usage(context, "--disc reads every track: no --track, --first or --last");
    }
    DiscFiles files;
    if (!DiscFilesOf(arguments->out, &files)) {
      return Usage(context,
                   "--disc takes the cue sheet's name, ending in .cue, not " + arguments->out);
    }
  }
  if (arguments->first >= 0 && arguments->last >= 0 && arguments->first > arguments->last) {
    return Usage(context, "--first " + std::to_string(arguments->first) + " lies after --last " +
                              std::to_string(arguments->last));
  }
  return kExitOk;
}

// The range to read: the track's own, narrowed by --first and --last, which are disc
// addresses and must lie within the track when --track is given. kExitOk or the usage
// status (already reported).
int CheckRange(CommandContext& context, const ReadArguments& arguments, const TrackEntry& entry) {
  const long long first = arguments.first >= 0 ? arguments.first : entry.first_block;
  const long long last = arguments.last >= 0 ? arguments.last : entry.last_block;
  if (arguments.track > 0) {
    for (const auto& [name, value] :
         {std::pair{"--first", arguments.first}, std::pair{"--last", arguments.last}}) {
      if (value >= 0 && (value < entry.first_block || value > entry.last_block)) {
        return Usage(context,
                     FormatText(kConsoleTextLimit,
                                "%s %lld lies outside track %d (sectors %d to %d); "
                                "--first and --last are disc addresses",
                                name, value, entry.track, entry.first_block, entry.last_block));
      }
    }
  }
  if (first > last) {
    return Usage(
        context,
        arguments.first >= 0
            ? FormatText(kConsoleTextLimit, "--first %lld lies after the track's last sector %lld",
                         first, last)
            : FormatText(kConsoleTextLimit, "--last %lld lies before the track's first sector %lld",
                         last, first));
  }
  return kExitOk;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  const std::size_t start = text.find_first_not_of(' ');
  return start == std::string::npos ? std::string() : text.substr(start);
}

// The exit status of a read, with the stop or the reason and what was kept on stderr.
int ReportReadEnd(CommandContext& context, ReadOutcome outcome, long long done,
                  const std::string& kept, std::string reason) {
  if (outcome == ReadOutcome::kFinished) return kExitOk;
  if (outcome == ReadOutcome::kCancelled) {
    std::fprintf(context.err, "zorvane-cli: read: stopped after %lld sectors\n", done);
    if (!kept.empty()) std::fprintf(context.err, "zorvane-cli: read: %s\n", kept.c_str());
    return kExitStopped;
  }
  if (reason.empty()) reason = "the read did not finish";
  std::fprintf(context.err, "zorvane-cli: read: %s\n", reason.c_str());
  if (!kept.empty()) std::fprintf(context.err, "zorvane-cli: read: %s\n", kept.c_str());
  return kExitFailed;
}

// The whole CD to a BIN/CUE pair (and the raw sub-channel), on a worker this waits for.
int RunDiscRead(CommandContext& context, const ReadArguments& arguments) {
  auto job = std::make_shared<DiscReadJob>(DiscReadRequest{arguments.out, arguments.subchannel});
  std::thread worker([job] { DiscReadWorker(job); });
  CliProgress progress(context.err, "read");
  bool stopped = false;
  while (job->outcome.load() == ReadOutcome::kRunning) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kRefreshMilliseconds / 2));
    if (StopRequested() && !stopped) {
      stopped = true;
      job->run.store(false);
    }
    if (job->started.load() && !stopped) {
      progress.Update(static_cast<std::uint64_t>(job->done.load()),
                      static_cast<std::uint64_t>(job->total.load()),
                      "sector " + std::to_string(job->current.load()));
    }
  }
  worker.join();
  const ReadOutcome outcome = job->outcome.load();
  if (job->started.load()) {
    const std::int64_t total = job->total.load();
    const std::int64_t done = outcome == ReadOutcome::kFinished ? total : job->done.load();
    progress.Update(static_cast<std::uint64_t>(done), static_cast<std::uint64_t>(total),
                    "sector " + std::to_string(job->current.load()));
  }
  progress.Finish();
  const std::string kept = job->Kept();
  return ReportReadEnd(context, outcome, job->done.load(), kept, job->Reason());
}

int RunRead(CommandContext& context) {
  ReadArguments arguments;
  if (int status = ParseReadArguments(context, &arguments); status != kExitOk) return status;
  if (arguments.disc) return RunDiscRead(context, arguments);

  TrackList.Clear();
  ChosenDialog chosen;
  PressRead(*context.window, chosen);
  if (chosen.opened == 0) {
    std::fprintf(context.err,
                 "zorvane-cli: read: nothing to read (no disc, or no track in the table of "
                 "contents)\n");
    return kExitFailed;
  }

  MemoryDialog dialog;
  const bool dvd = chosen.opened == kDvdReadDialog;
  SetTemplateCaptions(dialog, dvd ? DvdReadTemplate() : CdReadTemplate());
  ReadDialog handler(dvd ? ReadDialog::Kind::kDvd : ReadDialog::Kind::kCd);
  handler.OnInit(dialog);
  int index = 0;
  if (arguments.track > 0) {
    index = -1;
    for (int row = 0; row < kTrackRows; ++row) {
      const TrackEntry entry = TrackList.Get(row);
      if (entry.track == 0) break;
      if (entry.track == arguments.track) index = row;
    }
    if (index < 0) {
      std::fprintf(context.err, "zorvane-cli: read: the disc has no track %lld\n", arguments.track);
      return kExitFailed;
    }
    dialog.SelectItem(kTrackChoice, index);
    handler.OnCommand(dialog, kTrackChoice);
  }
  if (int status = CheckRange(context, arguments, TrackList.Get(index)); status != kExitOk) {
    return status;
  }
  if (arguments.first >= 0) dialog.SetText(kReadFirstSector, std::to_string(arguments.first));
  if (arguments.last >= 0) dialog.SetText(kReadLastSector, std::to_string(arguments.last));
  dialog.SetText(kReadPath, arguments.out);

  handler.OnCommand(dialog, kOkButton);
  if (handler.Job() == nullptr) {  // the dialog refused the range (and said why)
    return kExitUsage;
  }
  CliProgress progress(context.err, "read");
  using Clock = std::chrono::steady_clock;
  auto next_second = Clock::now() + std::chrono::seconds(1);
  bool stopped = false;
  while (!handler.Ended()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kRefreshMilliseconds / 2));
    if (StopRequested() && !stopped) {
      // As the window's Cancel: the worker stops before its next command and keeps what it
      // read; the dialog shows no more, so the worker's end is waited for here.
      stopped = true;
      handler.OnCommand(dialog, kCancelButton);
    }
    if (stopped) {
      if (handler.Job()->outcome.load() != ReadOutcome::kRunning) break;
      continue;
    }
    if (dialog.TimerRunning(kRefreshTimer)) handler.OnTimer(dialog, kRefreshTimer);
    if (Clock::now() >= next_second) {
      next_second += std::chrono::seconds(1);
      if (dialog.TimerRunning(kClockTimer)) handler.OnTimer(dialog, kClockTimer);
    }
    if (handler.Ended()) break;
    const std::shared_ptr<const ReadJob> job = handler.Job();
    if (job->started.load()) {
      std::string detail = "sector " + Trimmed(dialog.Text(kSectorReached));
      const std::string speed = Trimmed(dialog.Text(kCurrentSpeed));
      if (speed != "0") detail += ", " + speed + "x";
      progress.Update(static_cast<std::uint64_t>(job->done.load()),
                      static_cast<std::uint64_t>(job->total.load()), detail);
    }
  }
  // The last figures: what the worker published at its end (a finished read counts its
  // whole range, as the window's bar shows it). Nothing of the worker runs on while the
  // process ends.
  const std::shared_ptr<const ReadJob> job = handler.Job();
  job->worker.Wait();
  const ReadOutcome outcome = job->outcome.load();
  if (job->started.load()) {
    const std::int64_t total = job->total.load();
    const std::int64_t done = outcome == ReadOutcome::kFinished ? total : job->done.load();
    progress.Update(static_cast<std::uint64_t>(done), static_cast<std::uint64_t>(total),
                    "sector " + std::to_string(job->current.load()));
  }
  progress.Finish();

  const std::string kept = job->Kept();
  context.summary.sectors_done = static_cast<std::uint64_t>(job->done.load());
  context.summary.sectors_total = static_cast<std::uint64_t>(job->total.load());
  context.summary.output = arguments.out;
  context.summary.kept = kept;
  context.summary.reason = job->Reason();
  return ReportReadEnd(context, outcome, job->done.load(), kept, job->Reason());
}

}  // namespace

std::vector<Command> ReadCommands() {
  return {
      {"read", "read [--track N] [--first LBA] [--last LBA] | --disc [--subchannel] OUT",
       "read a track (by default the first) or a sector range to OUT: 2048-byte sectors,\n"
       "                               2336-byte sectors for a name ending in .md2, a WAVE "
       "file for audio;\n"
       "                               --first/--last are disc addresses (within the track "
       "given); OUT is\n"
       "                               replaced only by a whole read, a failed or stopped one "
       "keeps OUT.part;\n"
       "                               --disc reads every track of the CD to OUT (a .cue) and "
       "its .bin,\n"
       "                               --subchannel adds the raw P-W sub-channel as its .sub",
       RunRead},
  };
}

}  // namespace zorvane
