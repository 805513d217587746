// What the commands of the headless front end share: their context, their table entry,
// the exit statuses, and progress on standard error for the long jobs.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/dialog.h"
#include "cli/json_output.h"

namespace zorvane {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// Stopped by SIGINT or SIGTERM (128 + SIGINT, as shells report an interrupted command).
inline constexpr int kExitStopped = 130;

// SIGINT and SIGTERM while a command runs. The first asks the running job to stop:
// StopRequested() turns true, and the job stops before its next command, with the end steps
// that leave the disc consistent, as the window's Cancel stops it. A second signal leaves at
// once with kExitStopped. The previous handlers come back when the guard goes.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
};
bool StopRequested();
// What a signal does, for tests and for a job that stops itself; cleared when a command starts.
void RequestStop();
void ClearStopRequest();

struct CommandContext {
  std::vector<std::string> args;  // the command's own arguments
  std::FILE* out;
  std::FILE* err;
  MemoryDialog* window;  // the main window's controls, in memory
  // --json: the one document goes here (standard output), and `out` is discarded.
  std::FILE* json_out = nullptr;
  // What a job's command fills at its end for the JSON summary.
  JobSummary summary;
};

struct Command {
  const char* name;
  const char* usage;
  const char* help;
  std::function<int(CommandContext&)> run;
  // False for commands that work on files alone (no drive is looked for).
  bool needs_drive = true;
  // True for commands that change the disc: the drive is claimed for the whole command
  // (exclusive open, tray locked while it changes the disc) before the command's first
  // drive command, and a drive that cannot be had is refused with the reason.
  bool changes_disc = false;
  // How the command answers --json: not at all, with a report's document, or with a
  // job's summary.
  enum class Json { kNone, kReport, kJob } json = Json::kNone;
};

// The commands of each job, added to the built-in ones (cli/job_commands.cpp lists them).
const std::vector<std::function<std::vector<Command>()>>& JobCommandGroups();

// Reading the disc to a file (cli/read_commands.cpp).
std::vector<Command> ReadCommands();
// c2scan and qscan (cli/scan_commands.cpp).
std::vector<Command> ScanCommands();
// write, write-at, erase, format (cli/write_commands.cpp).
std::vector<Command> WriteCommands();
// The volume dialog's jobs: measure, list, mkiso (cli/iso_commands.cpp).
std::vector<Command> IsoCommands();

// kExitOk when the command got no arguments; else says so and gives kExitUsage.
int NoArguments(CommandContext& context, const char* name);

// Progress of a long job on standard error: a bar redrawn in place when the stream is a
// terminal, otherwise a plain line every few seconds.
class CliProgress {
 public:
  CliProgress(std::FILE* stream, std::string label);
  // `done` of `total` units (total 0: unknown); `detail` follows the figures (a speed, an
  // address). Redraws at most a few times a second.
  void Update(std::uint64_t done, std::uint64_t total, std::string_view detail = {});
  // Ends the progress display with the last figures given (never a throttled-away count),
  // closing the bar's line.
  void Finish();

 private:
  void Draw(std::uint64_t done, std::uint64_t total, std::string_view detail);

  struct Figures {
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    std::string detail;
  };
  Figures last_given_;
  bool pending_ = false;  // the last figures given are not on screen yet

  std::FILE* stream_;
  std::string label_;
  bool terminal_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace zorvane
