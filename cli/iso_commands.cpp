// The volume dialog's jobs on files alone: measuring sources, listing them, and writing
// an ISO image of them. Each runs the dialog's own logic over controls kept in memory.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>

#include "base/output_file.h"
#include "cli/cli_support.h"
#include "iso/volume_dialog.h"

namespace zorvane {

namespace {

// Lines to a stream, counted.
class CountingStream : public Console {
 public:
  explicit CountingStream(std::FILE* stream) : stream_(stream) {}
  void Append(std::string_view text) override {
    std::lock_guard lock(mutex_);
    if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size()) failed_ = true;
    std::fflush(stream_);
    ++count_;
  }
  void Clear() override {}
  int Count() const {
    std::lock_guard lock(mutex_);
    return count_;
  }
  bool Failed() const {
    std::lock_guard lock(mutex_);
    return failed_ || std::ferror(stream_) != 0;
  }

 private:
  mutable std::mutex mutex_;
  std::FILE* stream_;
  int count_ = 0;
  bool failed_ = false;
};

// The dialog as the terminal runs it.
struct TerminalVolumeDialog {
  MemoryDialog controls;
  VolumeDialog handler;
  ~TerminalVolumeDialog() { handler.OnClose(controls); }
};

int Usage(CommandContext& context, const char* usage) {
  std::fprintf(context.err, "zorvane-cli: usage: zorvane-cli %s\n", usage);
  return kExitUsage;
}

int Finish(CommandContext& context, const CountingStream& out, int status) {
  if (out.Failed()) {
    std::fprintf(context.err, "zorvane-cli: standard output could not be written\n");
    return kExitFailed;
  }
  return status;
}

// Presses OK and waits for the dialog's job. Ctrl-C stops it as the dialog's Cancel does,
// before its next piece (an existing image stays as it was, no temporary file is left).
// True when the job was stopped and did not finish.
bool RunJob(TerminalVolumeDialog& dialog) {
  dialog.handler.OnCommand(dialog.controls, kOkButton);
  bool stopped = false;
  do {
    if (StopRequested() && !stopped) {
      dialog.handler.OnCommand(dialog.controls, kCancelButton);
      stopped = true;
    }
  } while (!dialog.handler.WaitForWorkers(std::chrono::milliseconds(10)));
  return stopped && !dialog.handler.LastJobSucceeded();
}

int RunMeasure(CommandContext& context) {
  if (context.args.empty()) return Usage(context, "measure PATH...");
  auto problems = std::make_shared<CountingStream>(context.err);
  TerminalVolumeDialog dialog;
  dialog.handler.SetLog(problems);
  dialog.handler.OnInit(dialog.controls);
  dialog.handler.Sources().Drop(context.args);
  dialog.handler.Sources().WaitUntilMeasured();
  dialog.handler.ShowTotals(dialog.controls);

  CountingStream out(context.out);
  std::string line;
  for (std::size_t i = 0; i < kSourceColumns.size(); ++i) {
    line += i == 0 ? "" : "\t";
    line += kSourceColumns[i].header;
  }
  out.Append(line + "\n");
  const SourceListView view = dialog.handler.Sources().View();
  int missing = 0;
  for (const SourceRowTexts& row : view.rows) {
    line.clear();
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += i == 0 ? "" : "\t";
      line += row[i];
    }
    out.Append(line + "\n");
    if (row[2].empty()) ++missing;
  }
  out.Append(FormatText(
      kConsoleTextLimit, "共 %s %s 個資料夾 %s 個檔案\n", dialog.controls.Text(kTotalSize).c_str(),
      dialog.controls.Text(kTotalFolders).c_str(), dialog.controls.Text(kTotalFiles).c_str()));
  int status = kExitOk;
  if (missing > 0) {
    std::fprintf(context.err, "zorvane-cli: measure: %d path(s) not found\n", missing);
    status = kExitFailed;
  }
  if (problems->Count() > 0) {
    std::fprintf(context.err, "zorvane-cli: measure: some folders could not be read\n");
    status = kExitFailed;
  }
  return Finish(context, out, status);
}

int RunList(CommandContext& context) {
  if (context.args.empty()) return Usage(context, "list PATH...");
  auto out = std::make_shared<CountingStream>(context.out);
  TerminalVolumeDialog dialog;
  dialog.handler.SetLog(out);
  dialog.handler.OnInit(dialog.controls);
  dialog.handler.Sources().Drop(context.args);
  dialog.handler.Sources().WaitUntilMeasured();
  if (RunJob(dialog)) {
    std::fprintf(context.err, "zorvane-cli: list: stopped; the listing is not whole\n");
    return Finish(context, *out, kExitStopped);
  }
  if (!dialog.handler.LastJobSucceeded()) {
    std::fprintf(context.err, "zorvane-cli: list: the listing ended early (see above)\n");
    return Finish(context, *out, kExitFailed);
  }
  return Finish(context, *out, kExitOk);
}

constexpr const char* kMkisoUsage =
    "mkiso [--volume NAME] [--system NAME] [--publisher NAME] [--preparer NAME] "
    "[--application NAME] OUT PATH...";

int RunMkiso(CommandContext& context) {
  struct Field {
    const char* option;
    int control;
  };
  static const Field kFields[] = {{"--volume", kVolumeName},
                                  {"--system", kSystemName},
                                  {"--publisher", kPublisher},
                                  {"--preparer", kDataPreparer},
                                  {"--application", kApplication}};
  auto out = std::make_shared<CountingStream>(context.out);
  TerminalVolumeDialog dialog;
  dialog.handler.SetLog(out);
  dialog.handler.OnInit(dialog.controls);

  std::vector<std::string> positional;
  const std::vector<std::string>& args = context.args;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const Field* field = nullptr;
    for (const Field& candidate : kFields) {
      if (args[i] == candidate.option) field = &candidate;
    }
    if (field != nullptr) {
      if (i + 1 >= args.size()) return Usage(context, kMkisoUsage);
      dialog.controls.SetText(field->control, args[++i]);
    } else if (args[i].size() > 1 && args[i][0] == '-' && positional.empty()) {
      std::fprintf(context.err, "zorvane-cli: mkiso: unknown option %s\n", args[i].c_str());
      return Usage(context, kMkisoUsage);
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() < 2) return Usage(context, kMkisoUsage);
  if (const std::string too_long = FieldTooLong(ReadVolumeFields(dialog.controls));
      !too_long.empty()) {
    std::fprintf(context.err, "zorvane-cli: mkiso: %s\n", too_long.c_str());
    return Usage(context, kMkisoUsage);
  }
  // Refused before anything is read or written (the job refuses it as well, for the window).
  if (const std::string conflict =
          OutputConflict(positional.front(), {positional.begin() + 1, positional.end()});
      !conflict.empty()) {
    std::fprintf(context.err, "zorvane-cli: mkiso: %s: no image was written\n", conflict.c_str());
    return kExitFailed;
  }
  dialog.controls.SetText(kOutputPath, positional.front());
  dialog.handler.Sources().Drop({positional.begin() + 1, positional.end()});
  dialog.handler.Sources().WaitUntilMeasured();
  if (RunJob(dialog)) {
    std::fprintf(context.err, "zorvane-cli: mkiso: stopped; no image was written\n");
    return Finish(context, *out, kExitStopped);
  }
  if (!dialog.handler.LastJobSucceeded()) {
    std::fprintf(context.err, "zorvane-cli: mkiso: no image was written (see above)\n");
    return Finish(context, *out, kExitFailed);
  }
  return Finish(context, *out, kExitOk);
}

}  // namespace

std::vector<Command> IsoCommands() {
  return {
      {"measure", "measure PATH...", "sizes, counts and disc space of files and folders",
       RunMeasure, false},
      {"list", "list PATH...", "list the folders' entries as the volume dialog logs them", RunList,
       false},
      {"mkiso", "mkiso [OPTIONS] OUT PATH...",
       "write an ISO 9660 image (Joliet, Rock Ridge) of files and folders; options --volume "
       "--system --publisher --preparer --application NAME",
       RunMkiso, false},
  };
}

}  // namespace zorvane
