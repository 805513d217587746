#include "cli/cli.h"

#include "cli/cli_support.h"
#include "cli/json_output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "app/main_commands.h"
#include "app/manual_command.h"
#include "base/dialog.h"
#include "base/options.h"
#include "base/templates.h"
#include "info/capacity.h"
#include "info/media.h"
#include "info/outcome.h"
#include "info/toc.h"
#include "info/write_speeds.h"
#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/exclusive_use.h"
#include "transport/transport.h"
#include "transport/virtual_backend.h"

namespace zorvane {

namespace {

// A console on a terminal stream; flushed after each text so that traces and reports
// interleave as they happen.
class StreamConsole : public Console {
 public:
  explicit StreamConsole(std::FILE* stream) : stream_(stream) {}
  void Append(std::string_view text) override {
    std::lock_guard lock(mutex_);
    std::fwrite(text.data(), 1, text.size(), stream_);
    std::fflush(stream_);
    if (!text.empty()) at_line_start_ = text.back() == '\n';
  }
  void Clear() override {}  // a terminal keeps what it has shown

  // Ends a line the console left open (a sense code without a text leaves its trace line
  // open), so that what follows on the same stream starts a line of its own.
  void EndLine() {
    std::lock_guard lock(mutex_);
    if (at_line_start_) return;
    std::fputc('\n', stream_);
    std::fflush(stream_);
    at_line_start_ = true;
  }

 private:
  std::mutex mutex_;
  std::FILE* stream_;
  bool at_line_start_ = true;
};

// The information console of a run with --json: its lines are not the document.
class DiscardConsole : public Console {
 public:
  void Append(std::string_view) override {}
  void Clear() override {}
};

// The command trace of the run under way (standard error).
StreamConsole* Trace = nullptr;

// Message boxes become "CAPTION: TEXT" lines.
class StreamMessageSink : public MessageSink {
 public:
  explicit StreamMessageSink(std::FILE* stream) : stream_(stream) {}
  void Show(std::string_view caption, std::string_view text) override {
    std::lock_guard lock(mutex_);
    std::fprintf(stream_, "%.*s: %.*s", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
    if (text.empty() || text.back() != '\n') std::fputc('\n', stream_);
    std::fflush(stream_);
  }

 private:
  std::mutex mutex_;
  std::FILE* stream_;
};

// A failed command's reason on standard error; the exit status that goes with it.
int ReportFailure(CommandContext& context, const char* name, const Outcome& outcome) {
  if (Trace != nullptr) Trace->EndLine();
  std::fprintf(context.err, "zorvane-cli: %s: %s\n", name, outcome.reason.c_str());
  std::fflush(context.err);
  return kExitFailed;
}

int UsageFailure(CommandContext& context, const std::string& message) {
  std::fprintf(context.err, "zorvane-cli: %s\n", message.c_str());
  return kExitUsage;
}

// The optical drives the system has, found by sysfs whatever the drive map says: each
// node with its identification and its drive letter, or why it cannot be opened.
void PrintSystemDrives(std::FILE* out) {
  const std::vector<OpticalDrive> drives = FindOpticalDrives();
  if (drives.empty()) return;
  std::fprintf(out, "optical drives of the system:\n");
  for (const OpticalDrive& drive : drives) {
    std::string letter;
    for (std::uint8_t slot = 0; slot < kSlotCount; ++slot) {
      if (DeviceSpec(slot) == drive.node) letter = DriveName(slot);
    }
    std::string state = drive.accessible ? (letter.empty() ? "no drive letter" : letter)
                                         : "not accessible: " + drive.reason;
    std::fprintf(out, "  %s: %s %s %s (%s)\n", drive.node.c_str(), drive.vendor.c_str(),
                 drive.model.c_str(), drive.revision.c_str(), state.c_str());
  }
}

int RunDevices(CommandContext& context) {
  if (int status = NoArguments(context, "devices"); status != kExitOk) return status;
  for (int i = 0; i < DeviceCount; ++i) {
    std::fprintf(context.out, "%s %s\n", DriveName(DeviceTable[i].slot),
                 DeviceTable[i].description);
  }
  PrintSystemDrives(context.out);
  std::fflush(context.out);
  return kExitOk;
}

int RunProbe(CommandContext& context) {
  if (int status = NoArguments(context, "probe"); status != kExitOk) return status;
  // Printed exactly as the information console holds it: a code without a description
  // has no line end.
  const std::uint8_t code = ProbeMediumType(1);
  if (code == kMediumNoDevice) return ReportFailure(context, "probe", ProbeFailed(code));
  return kExitOk;
}

// Quoted for a message.
std::string Quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted.push_back('"');
  quoted.append(text);
  quoted.push_back('"');
  return quoted;
}

}  // namespace

bool ParseStrictHex(std::string_view text, std::vector<std::uint8_t>* bytes, std::string* error) {
  bytes->clear();
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ' || text[i] == ',') {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && text[end] != ' ' && text[end] != ',') ++end;
    const std::string_view token = text.substr(i, end - i);
    for (char c : token) {
      if (!IsHexDigit(c)) {
        *error = "not hexadecimal: " + Quoted(token) +
                 " (write bytes as hexadecimal digits, such as 12 00 FF, without 0x)";
        return false;
      }
    }
    // A digit standing alone is a byte only before a blank or at the end: the window's
    // parser joins "1,2" into 12h, so such text is refused rather than read two ways.
    const bool lone = token.size() == 1 && (end == text.size() || text[end] == ' ');
    if (token.size() % 2 != 0 && !lone) {
      *error = "odd number of hexadecimal digits: " + Quoted(token) +
               " (write each byte as two digits, such as 01 02)";
      return false;
    }
    if (lone) {
      bytes->push_back(HexDigitValue(token[0]));
    } else {
      for (std::size_t k = 0; k < token.size(); k += 2) {
        bytes->push_back(
            static_cast<std::uint8_t>(HexDigitValue(token[k]) * 16 + HexDigitValue(token[k + 1])));
      }
    }
    i = end;
  }
  if (bytes->empty()) {
    *error = "no bytes in " + Quoted(text);
    return false;
  }
  return true;
}

namespace {

int RunExec(CommandContext& context) {
  std::string cdb_text;
  std::string data_text;
  bool have_cdb = false;
  bool have_data = false;
  for (std::size_t i = 0; i < context.args.size(); ++i) {
    const std::string& arg = context.args[i];
    if (arg == "--data") {
      if (i + 1 >= context.args.size()) return UsageFailure(context, "--data needs HEX");
      data_text = context.args[++i];
      have_data = true;
    } else if (arg.rfind("--data=", 0) == 0) {
      data_text = arg.substr(7);
      have_data = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageFailure(context, "exec: unknown option " + arg);
    } else if (!have_cdb) {
      cdb_text = arg;
      have_cdb = true;
    } else {
      return UsageFailure(context, "exec takes one CDB (quote it)");
    }
  }
  if (!have_cdb) return UsageFailure(context, "exec needs a CDB in hexadecimal");

  // What is typed is sent as it is, or not at all.
  std::string error;
  std::vector<std::uint8_t> cdb;
  if (cdb_text.size() > kCdbTextLimit) {
    return UsageFailure(context, "exec: a CDB takes at most " + std::to_string(kCdbTextLimit) +
                                     " characters, got " + std::to_string(cdb_text.size()));
  }
  if (!ParseStrictHex(cdb_text, &cdb, &error)) return UsageFailure(context, "exec: CDB: " + error);
  const std::uint8_t opcode = cdb[0];
  char opcode_text[8];
  std::snprintf(opcode_text, sizeof opcode_text, "%02Xh", opcode);
  if (cdb.size() > CdbLength(opcode)) {
    return UsageFailure(context, std::string("exec: a CDB of opcode ") + opcode_text + " has " +
                                     std::to_string(CdbLength(opcode)) + " bytes, got " +
                                     std::to_string(cdb.size()));
  }
  const std::size_t data_limit = DataTextLimit(opcode);
  if (have_data) {
    if (data_limit == 0) {
      return UsageFailure(context, std::string("exec: opcode ") + opcode_text +
                                       " sends no data; --data is only for the opcodes that do "
                                       "(see zorvane-cli --help)");
    }
    if (data_text.size() > data_limit) {
      return UsageFailure(context, std::string("exec: --data takes at most ") +
                                       std::to_string(data_limit) + " characters for opcode " +
                                       opcode_text + ", got " + std::to_string(data_text.size()));
    }
    std::vector<std::uint8_t> data;
    if (!ParseStrictHex(data_text, &data, &error)) {
      return UsageFailure(context, "exec: --data: " + error);
    }
  }
  std::uint8_t full_cdb[kCdbBufferSize] = {};
  std::copy(cdb.begin(), cdb.end(), full_cdb);
  if (ManualReadBlocks(full_cdb) * kManualReadBlockSize > 65535) {
    return UsageFailure(context,
                        "exec: one data phase holds at most 31 blocks of 2,048 bytes; "
                        "got " +
                            std::to_string(ManualReadBlocks(full_cdb)) + " blocks");
  }

  context.window->SetText(kCdbInput, cdb_text);
  context.window->SetText(kDataInput, data_text);
  const std::int32_t result = ExecuteManualCommand(*context.window);
  if (result != 0) return ReportFailure(context, "exec", CommandFailed(full_cdb, result));
  return kExitOk;
}

// Runs one of the window's short jobs on the in-memory window; a job that failed says why
// on standard error.
template <Outcome (*Job)(Dialog&)>
int RunWindowJob(CommandContext& context, const char* name) {
  if (int status = NoArguments(context, name); status != kExitOk) return status;
  const Outcome outcome = Job(*context.window);
  return outcome.ok ? kExitOk : ReportFailure(context, name, outcome);
}

template <Outcome (*Job)(Dialog&)>
std::function<int(CommandContext&)> WindowJob(const char* name) {
  return [name](CommandContext& context) { return RunWindowJob<Job>(context, name); };
}

int RunSpeeds(CommandContext& context) {
  if (int status = NoArguments(context, "speeds"); status != kExitOk) return status;
  const std::uint8_t code = ProbeMediumType(0);
  if (code == kMediumNoDevice) return ReportFailure(context, "speeds", ProbeFailed(code));
  // The window's list, from a query whose failure is known.
  std::vector<WriteSpeedEntry> entries;
  if (!QueryWriteSpeeds(IsDvdMedium(code), &entries)) {
    return ReportFailure(context, "speeds",
                         Failed("the drive gave no write speeds (GET PERFORMANCE failed)"));
  }
  PrintWriteSpeeds(InfoConsole.load(), entries);
  return kExitOk;
}

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"devices", "devices", "list the drives found, as the window lists them at start",
       RunDevices},
      {"probe", "probe", "wait for the current drive and report its medium-type code", RunProbe},
      {"exec", "exec \"CDB HEX\" [--data \"HEX\"]",
       "send a CDB typed in hexadecimal (and data for commands that send data); the trace\n"
       "                               goes to standard error, the hex dump to standard output",
       RunExec},
      {"caps", "caps", "drive capabilities: serial, abilities, speeds, profiles",
       WindowJob<PressCapabilities>("caps")},
      {"capacity", "capacity", "size and use of the loaded disc",
       WindowJob<ShowCapacity>("capacity")},
      {"toc", "toc", "table of contents (and, on recordable CDs, the PMA)",
       WindowJob<ShowTableOfContents>("toc")},
      {"maker", "maker", "who made the medium, its recording parameters and write speeds",
       WindowJob<PressManufacturer>("maker")},
      {"speeds", "speeds", "write speeds offered for the loaded medium", RunSpeeds},
      {"open-tray", "open-tray", "open the tray (unless it is open)",
       WindowJob<OpenTray>("open-tray")},
      {"close-tray", "close-tray", "close the tray and wait for the drive",
       WindowJob<CloseTray>("close-tray")},
      {"close-session", "close-session", "close the open session (CLOSE TRACK/SESSION)",
       WindowJob<CloseSession>("close-session"), true, true},
  };
  static const std::vector<Command> all = [] {
    std::vector<Command> list = commands;
    for (const auto& group : JobCommandGroups()) {
      const std::vector<Command> more = group();
      list.insert(list.end(), more.begin(), more.end());
    }
    // The commands that answer --json (cli/json_output.h).
    for (Command& command : list) {
      const std::string_view name = command.name;
      for (const char* report :
           {"devices", "probe", "caps", "capacity", "toc", "maker", "speeds"}) {
        if (name == report) command.json = Command::Json::kReport;
      }
      for (const char* job : {"c2scan", "qscan", "read", "write", "write-at", "erase", "format"}) {
        if (name == job) command.json = Command::Json::kJob;
      }
    }
    return list;
  }();
  return all;
}

void PrintUsage(std::FILE* stream) {
  std::fprintf(stream,
               "usage: zorvane-cli [--demo] [--drive L=SPEC]... [--device L] COMMAND [ARGS]\n"
               "\n"
               "Options:\n"
               "%s"
               "  --json          one JSON document on standard output instead of the report\n"
               "                  (devices probe caps capacity toc maker speeds c2scan qscan\n"
               "                  read write write-at erase format; docs/json.md)\n"
               "  --help          show this text\n"
               "\n"
               "Commands:\n",
               FrontEndOptionsHelp());
  for (const Command& command : Commands()) {
    std::fprintf(stream, "  %-28s %s\n", command.usage, command.help);
  }
  std::fprintf(stream,
               "\n"
               "exec: the CDB and --data are hexadecimal bytes (two digits each, or one digit\n"
               "standing alone), separated by blanks or commas, such as \"12 00 00 00 24 00\";\n"
               "a CDB of at most %zu characters, as many bytes as its opcode group has (6, 10\n"
               "or 12) or fewer (the rest are sent as 00). Only the opcodes that send data take\n"
               "--data:\n"
               "  04 3B 54 5D A3 AA B6 BF F9   the bytes given, at most %zu characters of text\n"
               "  15 2A 2E 55                  a 65,535-byte buffer that begins with the bytes\n"
               "                               given, at most %zu characters of text\n"
               "Longer text is refused, never cut. READ(10) (28) and READ(12) (A8) ask for\n"
               "2,048 bytes per block, the CD and DVD data block (at most 31 blocks in one\n"
               "phase); the 512 bytes per block the console once asked for end in an overrun\n"
               "on every drive. Other commands that read ask for 65,535 bytes. The dump\n"
               "shows 16-byte rows: 129 for 28, A8 and AD (the console is emptied first), 19\n"
               "for BE with byte 9 = 02 or 04 and 148 for other BE, 16 x byte 7 + (byte 8 + 1)\n"
               "/ 16 for 46 (up to 4,096 rows, the whole 64 KB reply buffer), 16 for the rest.\n"
               "\n"
               "Options of zorvane-cli (--demo, --drive, --device) go before the command.\n"
               "\n"
               "The information console goes to standard output, the command trace and\n"
               "message boxes to standard error. Exit status: 0 when what the command asked of\n"
               "the drive succeeded, 1 when it did not (no drive, no disc, a refused or failed\n"
               "command; standard error says why), 2 usage error, 130 stopped by Ctrl-C or\n"
               "SIGTERM (a second signal leaves at once).\n",
               kCdbTextLimit, kCountedDataTextLimit, kFullDataTextLimit);
}

// Restores the process-wide output ports when the run ends, so nothing points at this
// run's consoles afterwards.
struct PortsGuard {
  PortsGuard(Console* command, Console* info, MessageSink* sink) {
    CommandConsole.store(command);
    InfoConsole.store(info);
    MessageBoxSink.store(sink);
  }
  ~PortsGuard() {
    CommandConsole.store(nullptr);
    InfoConsole.store(nullptr);
    MessageBoxSink.store(nullptr);
  }
  PortsGuard(const PortsGuard&) = delete;
  PortsGuard& operator=(const PortsGuard&) = delete;
};

}  // namespace

int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  RegisterVirtualBackend();
  FrontEndOptions options;
  bool json = false;
  auto usage_error = [&](const std::string& message) {
    std::fprintf(err, "zorvane-cli: %s\n", message.c_str());
    std::fprintf(err, "Try 'zorvane-cli --help'.\n");
    return kExitUsage;
  };
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      PrintUsage(out);
      return kExitOk;
    }
    if (arg == "--json") {
      json = true;
      continue;
    }
    std::string error;
    const OptionResult taken = TakeFrontEndOption(args, &i, &options, &error);
    if (taken == OptionResult::kError) return usage_error(error);
    if (taken == OptionResult::kTaken) continue;
    if (arg.size() > 1 && arg[0] == '-') return usage_error("unknown option " + arg);
    break;
  }
  if (i >= args.size()) return usage_error("no command given");
  const Command* command = nullptr;
  for (const Command& candidate : Commands()) {
    if (args[i] == candidate.name) command = &candidate;
  }
  if (command == nullptr) return usage_error("unknown command " + args[i]);
  // After the command: its own help, --json, or an option of the program in the wrong place.
  std::vector<std::string> command_args;
  for (std::size_t k = i + 1; k < args.size(); ++k) {
    if (args[k] == "--json") {
      json = true;
      continue;
    }
    command_args.push_back(args[k]);
    if (args[k] == "--help" || args[k] == "-h") {
      std::fprintf(out, "usage: zorvane-cli [OPTIONS] %s\n  %s\n", command->usage, command->help);
      return kExitOk;
    }
    FrontEndOptions ignored;
    std::string ignored_error;
    std::size_t at = k;
    if (TakeFrontEndOption(args, &at, &ignored, &ignored_error) != OptionResult::kNotAnOption) {
      const std::string option = args[k].substr(0, args[k].find('='));
      const char* value = option == "--drive" ? " L=SPEC" : option == "--device" ? " L" : "";
      std::string message = option;
      message += " is an option of zorvane-cli and goes before the command, as in: zorvane-cli ";
      message.append(option).append(value).append(" ").append(command->name);
      return usage_error(message);
    }
  }
  if (json && command->json == Command::Json::kNone) {
    return usage_error(std::string(command->name) + " has no --json document");
  }

  // With --json the information console and the commands' own lines on standard output
  // are dropped: the document is all that standard output carries.
  struct FileCloser {
    void operator()(std::FILE* file) const {
      if (file != nullptr) std::fclose(file);
    }
  };
  std::unique_ptr<std::FILE, FileCloser> discard(json ? std::fopen("/dev/null", "w") : nullptr);
  if (json && discard == nullptr) {
    std::fprintf(err, "zorvane-cli: cannot open /dev/null: %s\n", std::strerror(errno));
    return kExitFailed;
  }
  std::optional<ReasonCapture> capture;
  if (json) capture.emplace(err, command->name);
  StreamConsole info(out);
  DiscardConsole no_info;
  StreamConsole trace(err);
  StreamMessageSink sink(err);
  PortsGuard ports(&trace, json ? static_cast<Console*>(&no_info) : &info, &sink);
  Trace = &trace;
  struct TraceGuard {
    ~TraceGuard() { Trace = nullptr; }
  } trace_guard;
  MemoryDialog window;
  CommandContext context{command_args, json ? discard.get() : out, json ? capture->Stream() : err,
                         &window,      json ? out : nullptr,       JobSummary{}};
  // The command's run, or with --json its document: a report's decoded fields, or a job's
  // summary after the job.
  auto run = [&]() {
    if (!json) return command->run(context);
    if (command->json == Command::Json::kReport) return RunReportJson(context, command->name);
    const int status = command->run(context);
    PrintJobSummary(context, command->name, status, capture->Reason());
    return status;
  };
  auto fail_before_run = [&](int status, const std::string& reason) {
    if (json) PrintFailureDocument(context, command->name, status, reason);
    return status;
  };
  ClearStopRequest();
  StopSignals stop_signals;
  if (!command->needs_drive) return run();

  ApplyDriveMappings(RequestedMappings(options));

  DiscoverDevices();
  if (DeviceCount == 0) {
    // The drives that are there but cannot be used are still listed.
    if (std::string_view(command->name) == "devices") PrintSystemDrives(out);
    ShowMessage("Zorvane", "未發現任何光碟設備!");
    for (const std::string& line : ExplainMissingDrives()) {
      std::fprintf(err, "zorvane-cli: %s\n", line.c_str());
    }
    std::fprintf(err, "zorvane-cli: %s\n", kNoDriveHint);
    return fail_before_run(kExitFailed, "no drive answered");
  }
  std::string error;
  if (!SelectStartDevice(options, &error)) {
    std::fprintf(err, "zorvane-cli: %s\n", error.c_str());
    return fail_before_run(kExitFailed, error);
  }
  std::shared_ptr<ExclusiveUse> claim;
  if (command->changes_disc) {
    std::string refusal;
    claim = ExclusiveUse::Claim(CurrentDevice.slot.load(), &refusal);
    if (!claim) {
      std::fprintf(err, "zorvane-cli: %s: %s\n", command->name, refusal.c_str());
      return kExitFailed;
    }
  }
  // The window's controls as a terminal has them: no clear-before-run (a terminal keeps
  // what it has shown).
  return run();
}

}  // namespace zorvane
