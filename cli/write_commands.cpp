// Writing an image from the command line: the write dialog's own logic and writer, driven
// through controls kept in memory.
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/main_commands.h"
#include "base/templates.h"
#include "base/utilities.h"
#include "cli/cli_support.h"
#include "info/write_speeds.h"
#include "transport/console.h"
#include "write/erase_dialog.h"
#include "write/format.h"
#include "write/sao_writer.h"
#include "write/write_dialog.h"

namespace zorvane {

namespace {

// Remembers which write dialog the main window's checks would open.
class DialogPicker : public JobDialogs {
 public:
  bool CanOpen(int) const override { return true; }
  void Open(int template_id) override { opened = template_id; }
  bool CanStartQualityScan() const override { return false; }
  void StartQualityScan() override {}
  int opened = 0;
};

struct WriteOptions {
  double speed = 0;   // a speed factor as burners write it; 0: the device default
  std::string close;  // empty: the dialog's presets stand
  bool single_session = false;
  bool verify = false;  // read back and compare after the write
  bool dummy = false;   // a test write: the drive simulates it
  std::string image;
  // An audio CD from WAVE files, session at once.
  bool audio = false;
  std::vector<std::string> waves;
  double gap = 2;  // seconds of silence ahead of each track after the first
  bool gap_given = false;
  std::string title, performer, cdtext_file;
  bool no_cdtext = false;
};

int Usage(CommandContext& context, const std::string& message) {
  std::fprintf(context.err, "zorvane-cli: write: %s\n", message.c_str());
  std::fprintf(
      context.err,
      "usage: zorvane-cli write [--speed SPEED] [--close none|track|session|disc] "
      "[--single-session] [--verify|--dummy] [--no-cdtext] IMAGE|IMAGE.cue\n"
      "       zorvane-cli write --audio [--gap SECONDS] [--title T] [--performer P] "
      "[--cdtext FILE] [--speed SPEED] [--close ...] [--verify|--dummy] A.wav B.wav ...\n");
  return kExitUsage;
}

// A speed as burners write it: "4", "4x", "8.0x", "2.4X"; 0 is the device default.
bool ParseSpeed(const std::string& text, double* speed) {
  std::string number = text;
  if (!number.empty() && (number.back() == 'x' || number.back() == 'X')) number.pop_back();
  if (number.empty() || number.size() > 8 ||
      number.find_first_not_of("0123456789.") != std::string::npos ||
      number.find_first_of("0123456789") == std::string::npos ||
      number.find('.') != number.rfind('.')) {
    return false;
  }
  *speed = std::strtod(number.c_str(), nullptr);
  return *speed >= 0 && *speed < 1000;
}

// The item of the speed combo for a speed asked for: the fastest offered speed not above
// it (factors compared as the list shows them, to a tenth); -1 when all are above it.
int SpeedItem(const WriteDialog& handler, bool dvd, double asked) {
  int best = -1;
  double best_factor = 0;
  const auto& table = handler.WriteSpeedTable();
  for (std::size_t i = 0; i < table.size(); ++i) {
    const double factor =
        std::round(WriteSpeedFactor(ReadBe32(table[i].data()), dvd) * 10.0) / 10.0;
    if (factor <= asked + 1e-9 && (best < 0 || factor > best_factor)) {
      best = static_cast<int>(i) + 1;
      best_factor = factor;
    }
  }
  return best;
}

bool ParseWriteOptions(CommandContext& context, WriteOptions* options, int* status) {
  const std::vector<std::string>& args = context.args;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](const char* name, std::string* out) {
      const std::string prefix = std::string(name) + "=";
      if (arg.rfind(prefix, 0) == 0) {
        *out = arg.substr(prefix.size());
        return true;
      }
      if (arg == name && i + 1 < args.size()) {
        *out = args[++i];
        return true;
      }
      return false;
    };
    std::string text;
    if (arg.rfind("--speed", 0) == 0) {
      if (!value("--speed", &text) || !ParseSpeed(text, &options->speed)) {
        *status = Usage(
            context, "--speed takes a write speed such as 4, 4x or 8.0x (0: the device default)");
        return false;
      }
    } else if (arg.rfind("--close", 0) == 0) {
      if (!value("--close", &text) ||
          (text != "none" && text != "track" && text != "session" && text != "disc")) {
        *status = Usage(context, "--close takes none, track, session or disc");
        return false;
      }
      options->close = text;
    } else if (arg == "--single-session") {
      options->single_session = true;
    } else if (arg == "--verify") {
      options->verify = true;
    } else if (arg == "--dummy") {
      options->dummy = true;
    } else if (arg == "--audio") {
      options->audio = true;
    } else if (arg == "--no-cdtext") {
      options->no_cdtext = true;
    } else if (arg.rfind("--gap", 0) == 0) {
      char* end = nullptr;
      if (!value("--gap", &text) || text.empty() ||
          text.find_first_not_of("0123456789.") != std::string::npos ||
          (options->gap = std::strtod(text.c_str(), &end), *end != '\0') || options->gap > 60) {
        *status = Usage(context, "--gap takes the seconds of silence between tracks, 0 to 60");
        return false;
      }
      options->gap_given = true;
    } else if (arg.rfind("--title", 0) == 0 || arg.rfind("--performer", 0) == 0 ||
               arg.rfind("--cdtext", 0) == 0) {
      const bool title = arg.rfind("--title", 0) == 0;
      const bool performer = arg.rfind("--performer", 0) == 0;
      const char* name = title ? "--title" : performer ? "--performer" : "--cdtext";
      if (!value(name, &text) || text.empty()) {
        *status = Usage(context, std::string(name) + " takes a value");
        return false;
      }
      (title ? options->title : performer ? options->performer : options->cdtext_file) = text;
    } else if (arg.size() > 1 && arg[0] == '-') {
      *status = Usage(context, "unknown option " + arg);
      return false;
    } else {
      options->waves.push_back(arg);
    }
  }
  const bool album_options = options->gap_given || !options->title.empty() ||
                             !options->performer.empty() || !options->cdtext_file.empty();
  if (!options->audio && album_options) {
    *status = Usage(context, "--gap, --title, --performer and --cdtext go with --audio");
    return false;
  }
  if (options->verify && options->dummy) {
    *status = Usage(context,
                    "--verify reads back what was recorded, and a --dummy write records "
                    "nothing: use one of them");
    return false;
  }
  if (options->waves.empty()) {
    *status = Usage(context, options->audio ? "no WAVE file given" : "no image file given");
    return false;
  }
  if (!options->audio && options->waves.size() > 1) {
    *status = Usage(context, "one image at a time (--audio takes several WAVE files)");
    return false;
  }
  if (options->audio && options->waves.size() > 99) {
    *status = Usage(context, "a CD holds 99 tracks at most");
    return false;
  }
  options->image = options->waves.front();
  if (!options->audio) options->waves.clear();
  return true;
}

// The close options of the CD dialog: the track is always closed; "session" closes the
// session for a next one, "disc" closes it without.
int ApplyCdClose(CommandContext& context, WriteDialog& handler, MemoryDialog& dialog,
                 const WriteOptions& options) {
  if (options.close == "none") {
    return Usage(context, "--close none is not offered for a CD; it allows track, session, disc");
  }
  if (options.close == "track") handler.OnCommand(dialog, kKeepSessionOpen);
  if (options.close == "session" || options.close == "disc") {
    handler.OnCommand(dialog, kCloseSessionOption);
  }
  if (options.close == "disc" || options.single_session) {
    if (!dialog.IsEnabled(kMultiSession)) {
      return Usage(context, "this write cannot leave the disc open for a next session");
    }
    dialog.SetChecked(kMultiSession, false);
  }
  return kExitOk;
}

int ApplyDvdClose(CommandContext& context, WriteDialog& handler, MemoryDialog& dialog,
                  const WriteOptions& options) {
  struct Choice {
    const char* name;
    int id;
  };
  static constexpr Choice kChoices[] = {{"track", kCloseTrackOption},
                                        {"session", kCloseSessionDvdOption},
                                        {"disc", kCloseDiscOption}};
  std::string allowed;
  bool any = false;
  for (const Choice& choice : kChoices) {
    if (!dialog.IsEnabled(choice.id)) continue;
    allowed += allowed.empty() ? choice.name : std::string(", ") + choice.name;
    any = true;
  }
  if (!any) allowed = "none";
  if (options.single_session) {
    return Usage(context,
                 "--single-session is for CDs; on this medium use --close (" + allowed + ")");
  }
  if (options.close.empty()) return kExitOk;
  if (options.close == "none") {
    if (any)
      return Usage(context, "--close none is not offered for this medium; it allows " + allowed);
    return kExitOk;
  }
  for (const Choice& choice : kChoices) {
    if (options.close != choice.name) continue;
    if (!dialog.IsEnabled(choice.id)) {
      return Usage(context, "--close " + options.close +
                                " is not offered for this medium; it allows " + allowed);
    }
    handler.OnCommand(dialog, choice.id);
  }
  return kExitOk;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// Presses OK and runs the dialog's timers until its worker ends: the worker's updates every
// few tens of milliseconds, the one-second timer while it runs. A stop request (SIGINT,
// SIGTERM) presses Cancel, so the worker stops before its next WRITE and synchronises the
// drive's cache; then the sectors written are told and the status is kExitStopped.
// kExitOk only for a finished write.
int RunDialogJob(CommandContext& context, WriteDialog& handler, MemoryDialog& dialog,
                 const char* name) {
  const std::shared_ptr<WriteJob> job = handler.Job();
  if (StopRequested()) {
    std::fprintf(context.err, "zorvane-cli: %s: stopped before writing\n", name);
    return kExitStopped;
  }
  handler.OnCommand(dialog, kOkButton);
  CliProgress progress(context.err, name);
  std::optional<CliProgress> verify_progress;  // from the first sector read back
  using Clock = std::chrono::steady_clock;
  auto next_tick = Clock::now() + std::chrono::seconds(1);
  bool stopping = false;
  for (;;) {
    const bool running = job->Running();
    handler.OnTimer(dialog, kUpdateTimer);
    if (!running) break;
    if (StopRequested() && !stopping) {
      stopping = true;
      handler.OnCommand(dialog, kCancelButton);
    }
    // The figures are drawn every update period, but the end of the job and a stop are
    // seen within a few milliseconds: a short job is not held up to a whole period.
    const auto update_at = Clock::now() + std::chrono::milliseconds(kUpdatePeriodMs);
    do {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (!stopping && job->Running() && !StopRequested() && Clock::now() < update_at);
    if (Clock::now() >= next_tick) {
      next_tick += std::chrono::seconds(1);
      if (dialog.TimerRunning(kProgressTimer)) handler.OnTimer(dialog, kProgressTimer);
    }
    if (job->verifying.load() && !verify_progress) {
      progress.Update(job->sectors_written.load(), job->total_sectors.load());
      progress.Finish();
      verify_progress.emplace(context.err, "verify");
    }
    if (verify_progress) {
      verify_progress->Update(job->sectors_verified.load(), job->total_sectors.load());
    } else {
      progress.Update(job->sectors_written.load(), job->total_sectors.load(),
                      Trimmed(dialog.Text(kCurrentSpeed)) + "x");
    }
  }
  // The worker's last steps (its end lines, the drive let go) are over before the process
  // can end.
  job->worker.Wait();
  if (verify_progress) {
    verify_progress->Update(job->sectors_verified.load(), job->total_sectors.load());
    verify_progress->Finish();
  } else {
    progress.Update(job->sectors_written.load(), job->total_sectors.load());
    progress.Finish();
  }
  const WriteState state = job->state.load();
  const std::string failure = job->Failure();
  context.summary.sectors_done = job->sectors_written.load();
  context.summary.sectors_total = job->total_sectors.load();
  context.summary.reason = failure;
  if (state == WriteState::kCancelled) {
    std::fprintf(context.err, "zorvane-cli: %s: stopped after %u sectors\n", name,
                 static_cast<unsigned>(job->sectors_written.load()));
    if (!failure.empty()) std::fprintf(context.err, "zorvane-cli: %s: %s\n", name, failure.c_str());
    return kExitStopped;
  }
  if (state != WriteState::kFinished) {
    // The dialog's own message line, then the cause in words.
    const std::string message = Trimmed(dialog.Text(kFileMessage));
    if (!message.empty() && message != failure) {
      std::fprintf(context.err, "zorvane-cli: %s: %s\n", name, message.c_str());
    }
    std::fprintf(context.err, "zorvane-cli: %s: %s\n", name,
                 failure.empty() ? "the image was not written completely" : failure.c_str());
    return kExitFailed;
  }
  return kExitOk;
}

// The image as the browse button takes it: a file that cannot be written is refused
// with the path and the reason before the drive is asked to write anything.
int ChooseImageFile(CommandContext& context, WriteDialog& handler, MemoryDialog& dialog,
                    const std::string& path, const char* name) {
  dialog.SetText(kImagePath, path);
  handler.OnCommand(dialog, kBrowseImage);
  if (!handler.FileProblem().empty()) {
    std::fprintf(context.err, "zorvane-cli: %s: %s\n", name, handler.FileProblem().c_str());
    return kExitFailed;
  }
  const std::string file_message = Trimmed(dialog.Text(kFileMessage));
  if (!file_message.empty()) {
    std::fprintf(context.err, "zorvane-cli: %s: %s: %s\n", name, path.c_str(),
                 file_message.c_str());
    return kExitFailed;
  }
  return kExitOk;
}

int RunWrite(CommandContext& context) {
  WriteOptions options;
  int status = kExitOk;
  if (!ParseWriteOptions(context, &options, &status)) return status;

  DialogPicker picker;
  PressWrite(*context.window, picker);
  if (picker.opened != kCdWriteDialog && picker.opened != kDvdWriteDialog) {
    std::fprintf(context.err, "zorvane-cli: write: the loaded medium cannot be written here\n");
    return kExitFailed;
  }
  const bool cd = picker.opened == kCdWriteDialog;
  const bool session_at_once = options.audio || IsCueSheetPath(options.image);
  if (session_at_once && !cd) {
    std::fprintf(context.err, "zorvane-cli: write: %s is written to a CD-R or CD-RW\n",
                 options.audio ? "an audio CD" : "a cue sheet");
    return kExitFailed;
  }
  if (options.no_cdtext && !session_at_once) {
    return Usage(context, "--no-cdtext goes with a cue sheet or --audio");
  }
  auto handler = std::make_shared<WriteDialog>(picker.opened);
  if (session_at_once) {
    auto sao = std::make_shared<SaoRequest>();
    if (options.audio) {
      sao->waves = options.waves;
      sao->gap = static_cast<std::uint32_t>(std::lround(options.gap * 75));
      sao->title = options.title;
      sao->performer = options.performer;
      sao->cdtext_file = options.cdtext_file;
    } else {
      sao->cue_path = options.image;
    }
    sao->drop_text = options.no_cdtext;
    handler->SetSessionAtOnce(sao);
  }
  MemoryDialog dialog;
  LoadTemplate(dialog, cd ? CdWriteTemplate() : DvdWriteTemplate());
  handler->OnInit(dialog);
  if (dialog.EndResult() != -1) {
    std::fprintf(context.err, "zorvane-cli: write: the write dialog could not start\n");
    return kExitFailed;
  }
  if (options.speed != 0) {
    const int item = SpeedItem(*handler, !cd, options.speed);
    if (item < 0) {
      std::string offered;
      for (int i = 1; i < dialog.ItemCount(kSpeedCombo); ++i) {
        offered += (offered.empty() ? "" : ", ") + Trimmed(dialog.ItemText(kSpeedCombo, i));
      }
      return Usage(context, FormatText(64, "--speed %gx", options.speed) +
                                ": every speed offered is above it (" + offered + ")");
    }
    dialog.SelectItem(kSpeedCombo, item);
    handler->OnCommand(dialog, kSpeedCombo);
    if (dialog.EndResult() != -1) {
      std::fprintf(context.err, "zorvane-cli: write: the drive refused the write speed\n");
      return kExitFailed;
    }
    std::fprintf(context.out, "write speed %s, the fastest offered not above %gx\n",
                 Trimmed(dialog.ItemText(kSpeedCombo, item)).c_str(), options.speed);
    std::fflush(context.out);
  }

  if (status = ChooseImageFile(context, *handler, dialog, options.image, "write");
      status != kExitOk) {
    return status;
  }
  status = cd ? ApplyCdClose(context, *handler, dialog, options)
              : ApplyDvdClose(context, *handler, dialog, options);
  if (status != kExitOk) return status;
  if (options.dummy) {
    dialog.SetChecked(kTestWrite, true);
    handler->OnCommand(dialog, kTestWrite);
  }
  dialog.SetChecked(kVerifyAfterWrite, options.verify);

  return RunDialogJob(context, *handler, dialog, "write");
}

int RunWriteAt(CommandContext& context) {
  std::vector<std::string> args;
  bool verify = false;
  for (const std::string& arg : context.args) {
    if (arg == "--verify") {
      verify = true;
    } else {
      args.push_back(arg);
    }
  }
  if (args.size() != 2 || args[0].empty() ||
      args[0].find_first_not_of("0123456789") != std::string::npos || args[0].size() > 10 ||
      std::stoull(args[0]) > 0xFFFFFFFFULL) {
    std::fprintf(context.err,
                 "zorvane-cli: write-at: usage: zorvane-cli write-at [--verify] LBA IMAGE\n");
    return kExitUsage;
  }
  DialogPicker picker;
  PressAddressWrite(*context.window, picker);
  if (picker.opened != kMrwAddressWriteDialog && picker.opened != kDvdAddressWriteDialog) {
    std::fprintf(context.err,
                 "zorvane-cli: write-at: the loaded medium is not written at addresses\n");
    return kExitFailed;
  }
  auto handler = std::make_shared<WriteDialog>(picker.opened);
  MemoryDialog dialog;
  LoadTemplate(dialog, WriteTemplate(picker.opened));
  handler->OnInit(dialog);
  if (dialog.EndResult() != -1) {
    std::fprintf(context.err, "zorvane-cli: write-at: the write dialog could not start\n");
    return kExitFailed;
  }
  dialog.SetText(kStartSector, args[0]);
  dialog.SetChecked(kVerifyAfterWrite, verify);
  if (const int status = ChooseImageFile(context, *handler, dialog, args[1], "write-at");
      status != kExitOk) {
    return status;
  }
  return RunDialogJob(context, *handler, dialog, "write-at");
}

// Lines on standard error while a job follows a long operation of the drive: one each time
// the drive's whole percentage changes, and one at least every 4 s otherwise, with the time
// since the start, so that a blank or a format of many minutes is never silent.
class FollowLines {
 public:
  FollowLines(std::FILE* stream, const char* name)
      : stream_(stream), name_(name), start_(Clock::now()), last_(start_) {}

  void Report(int percent) {
    const Clock::time_point now = Clock::now();
    if (drawn_ && percent == shown_ && now - last_ < std::chrono::seconds(4)) return;
    drawn_ = true;
    shown_ = percent;
    last_ = now;
    const long seconds =
        static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(now - start_).count());
    if (percent >= 0) {
      std::fprintf(stream_, "%s: %d%% (the drive's progress), %ld:%02ld\n", name_, percent,
                   seconds / 60, seconds % 60);
    } else {
      std::fprintf(stream_, "%s: running, the drive gives no progress figure, %ld:%02ld\n", name_,
                   seconds / 60, seconds % 60);
    }
    std::fflush(stream_);
  }

 private:
  using Clock = std::chrono::steady_clock;
  std::FILE* stream_;
  const char* name_;
  Clock::time_point start_;
  Clock::time_point last_;
  int shown_ = -1;
  bool drawn_ = false;
};

// "at 37%" when the drive gave a figure.
std::string AtPercent(int percent) {
  return percent >= 0 ? " at " + std::to_string(percent) + "%" : std::string();
}

int RunErase(CommandContext& context) {
  int option = kMinimalBlank;
  const std::vector<std::string>& args = context.args;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string type;
    if (args[i].rfind("--type=", 0) == 0) {
      type = args[i].substr(7);
    } else if (args[i] == "--type" && i + 1 < args.size()) {
      type = args[++i];
    } else {
      type = "?";
    }
    if (type == "full") {
      option = kFullBlank;
    } else if (type == "minimal") {
      option = kMinimalBlank;
    } else if (type == "unclose") {
      option = kUncloseSession;
    } else if (type == "session") {
      option = kEraseSession;
    } else {
      std::fprintf(context.err,
                   "zorvane-cli: erase: usage: zorvane-cli erase "
                   "[--type full|minimal|unclose|session]\n");
      return kExitUsage;
    }
  }
  DialogPicker picker;
  PressErase(*context.window, picker);
  if (picker.opened != kEraseDialog) {
    std::fprintf(context.err, "zorvane-cli: erase: no drive to erase in\n");
    return kExitFailed;
  }
  EraseDialog handler;
  MemoryDialog dialog;
  LoadTemplate(dialog, EraseTemplate());
  handler.OnInit(dialog);
  handler.OnCommand(dialog, option);
  if (StopRequested()) {
    std::fprintf(context.err, "zorvane-cli: erase: stopped before the blank was sent\n");
    return kExitStopped;
  }
  const std::shared_ptr<EraseJob>& job = handler.Job();
  FollowLines lines(context.err, "erase");
  job->on_progress = [&lines](int percent) { lines.Report(percent); };
  handler.OnCommand(dialog, kOkButton);
  for (;;) {
    const bool running = job->Running();
    handler.OnTimer(dialog, kUpdateTimer);
    if (!running) break;
    // Ctrl-C stops following the drive; the drive goes on with the blank it has taken.
    if (StopRequested()) job->run.store(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(kUpdatePeriodMs));
  }
  job->worker.Wait();
  const std::string medium = Trimmed(dialog.Text(kEraseMedium));
  const std::string status = Trimmed(dialog.Text(kEraseStatus));
  if (job->state.load() == WriteState::kCancelled) {
    std::fprintf(context.err,
                 "zorvane-cli: erase: stopped following the drive%s; the drive goes on blanking "
                 "the disc\n",
                 AtPercent(job->percent.load()).c_str());
    return kExitStopped;
  }
  if (job->state.load() != WriteState::kFinished) {
    std::string line;
    for (const std::string& part : {medium, status, job->Failure()}) {
      if (part.empty()) continue;
      line += line.empty() ? part : ": " + part;
    }
    if (line.empty()) line = "the erase did not start";
    std::fprintf(context.err, "zorvane-cli: erase: %s\n", line.c_str());
    return kExitFailed;
  }
  std::fprintf(context.out, "%s: %s\n", medium.c_str(), status.c_str());
  std::fflush(context.out);
  return kExitOk;
}

int RunFormat(CommandContext& context) {
  bool wait = false;
  for (const std::string& arg : context.args) {
    if (arg != "--wait") {
      std::fprintf(context.err, "zorvane-cli: format: usage: zorvane-cli format [--wait]\n");
      return kExitUsage;
    }
    wait = true;
  }
  if (StopRequested()) {
    std::fprintf(context.err, "zorvane-cli: format: stopped before the format was started\n");
    return kExitStopped;
  }
  std::string failure;
  if (!FormatMedium(*context.window, &failure)) {
    std::fprintf(context.err, "zorvane-cli: format: the drive did not start a format: %s\n",
                 failure.c_str());
    return kExitFailed;
  }
  std::fflush(context.out);
  if (!wait) return kExitOk;
  FollowLines lines(context.err, "format");
  const FollowResult result = FollowDrive(
      CurrentDriveAddress(), FollowedOperation::kFormat,
      [&lines](int percent) { lines.Report(percent); }, [] { return StopRequested(); },
      [&context](const std::string& failure) {
        std::fprintf(context.err, "format: the drive did not answer a poll: %s\n", failure.c_str());
      });
  if (result.end == FollowEnd::kStopped) {
    std::fprintf(context.err,
                 "zorvane-cli: format: stopped following the drive%s; the drive goes on "
                 "formatting the disc\n",
                 AtPercent(result.percent).c_str());
    return kExitStopped;
  }
  if (result.end != FollowEnd::kDone) {
    std::fprintf(context.err, "zorvane-cli: format: %s\n", result.cause.c_str());
    return kExitFailed;
  }
  std::fprintf(context.out, "%s", kFormatDoneMessage);
  std::fflush(context.out);
  return kExitOk;
}

}  // namespace

std::vector<Command> WriteCommands() {
  return {
      {"write", "write [OPTIONS] IMAGE...",
       "write an image to the loaded CD or DVD: --speed SPEED (4, 4x or 8.0x: the fastest\n"
       "                               offered speed not above it), --close "
       "none|track|session|disc\n"
       "                               and --single-session as the medium allows; a .cue image is\n"
       "                               written session at once (--no-cdtext: without its "
       "CD-TEXT);\n"
       "                               --verify: read back and compare; --dummy: a test write;\n"
       "                               --audio writes the WAVE files given as an audio CD, with\n"
       "                               --gap SECONDS (2), --title T, --performer P, --cdtext FILE",
       RunWrite, true, true},
      {"write-at", "write-at [--verify] LBA IMAGE",
       "write an image from sector LBA on MRW CD-RW, DVD-RAM, DVD+RW or DVD-RW restricted\n"
       "                               overwrite",
       RunWriteAt, true, true},
      {"erase", "erase [--type full|minimal|unclose|session]",
       "blank a CD-RW or DVD-RW (minimal unless told otherwise)", RunErase, true, true},
      {"format", "format [--wait]",
       "format the loaded rewritable disc in the background (--wait: until it is done)", RunFormat,
       true, true},
  };
}

}  // namespace zorvane
