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
#include "read/read_dialog.h"

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
  std::string first;
  std::string last;
  std::string out;
};

int Usage(CommandContext& context, const std::string& message) {
  std::fprintf(context.err, "zorvane-cli: read: %s\n", message.c_str());
  std::fprintf(context.err, "usage: zorvane-cli read [--track N] [--first LBA] [--last LBA] OUT\n");
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
    if (arg == "--track" || arg == "--first" || arg == "--last") {
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
        (arg == "--first" ? arguments->first : arguments->last) = std::to_string(number);
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
  return kExitOk;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  const std::size_t start = text.find_first_not_of(' ');
  return start == std::string::npos ? std::string() : text.substr(start);
}

int RunRead(CommandContext& context) {
  ReadArguments arguments;
  if (int status = ParseReadArguments(context, &arguments); status != kExitOk) return status;

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
  if (arguments.track > 0) {
    int index = -1;
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
  if (!arguments.first.empty()) dialog.SetText(kReadFirstSector, arguments.first);
  if (!arguments.last.empty()) dialog.SetText(kReadLastSector, arguments.last);
  dialog.SetText(kReadPath, arguments.out);

  handler.OnCommand(dialog, kOkButton);
  CliProgress progress(context.err, "read");
  using Clock = std::chrono::steady_clock;
  auto next_second = Clock::now() + std::chrono::seconds(1);
  while (!handler.Ended()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kRefreshMilliseconds / 2));
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
  const std::shared_ptr<const ReadJob> job = handler.Job();
  if (job->started.load()) {
    progress.Update(static_cast<std::uint64_t>(job->done.load()),
                    static_cast<std::uint64_t>(job->total.load()),
                    "sector " + Trimmed(dialog.Text(kSectorReached)));
  }
  progress.Finish();

  if (job->outcome.load() == ReadOutcome::kFinished) return kExitOk;
  std::string reason = job->Reason();
  if (reason.empty()) reason = "the read did not finish";
  std::fprintf(context.err, "zorvane-cli: read: %s\n", reason.c_str());
  return kExitFailed;
}

}  // namespace

std::vector<Command> ReadCommands() {
  return {
      {"read", "read [--track N] [--first LBA] [--last LBA] OUT",
       "read a track (by default the first) or a sector range to OUT: 2048-byte sectors,\n"
       "                               2336-byte sectors for a name ending in .md2, a WAVE "
       "file for audio",
       RunRead},
  };
}

}  // namespace zorvane
