#include "cli/cli.h"

#include "cli/cli_support.h"

#include <cstring>
#include <functional>
#include <mutex>
#include <string_view>

#include "app/main_commands.h"
#include "app/manual_command.h"
#include "base/dialog.h"
#include "base/options.h"
#include "base/templates.h"
#include "info/capacity.h"
#include "info/media.h"
#include "info/toc.h"
#include "info/write_speeds.h"
#include "transport/console.h"
#include "transport/discovery.h"
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
  }
  void Clear() override {}  // a terminal keeps what it has shown

 private:
  std::mutex mutex_;
  std::FILE* stream_;
};

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

int RunDevices(CommandContext& context) {
  if (int status = NoArguments(context, "devices"); status != kExitOk) return status;
  for (int i = 0; i < DeviceCount; ++i) {
    std::fprintf(context.out, "%s %s\n", DriveName(DeviceTable[i].slot),
                 DeviceTable[i].description);
  }
  std::fflush(context.out);
  return kExitOk;
}

int RunProbe(CommandContext& context) {
  if (int status = NoArguments(context, "probe"); status != kExitOk) return status;
  // Printed exactly as the information console holds it: a code without a description
  // has no line end.
  return ProbeMediumType(1) == kMediumNoDevice ? kExitFailed : kExitOk;
}

int RunExec(CommandContext& context) {
  std::string cdb;
  std::string data;
  bool have_cdb = false;
  for (std::size_t i = 0; i < context.args.size(); ++i) {
    const std::string& arg = context.args[i];
    if (arg == "--data") {
      if (i + 1 >= context.args.size()) {
        std::fprintf(context.err, "zorvane-cli: --data needs HEX\n");
        return kExitUsage;
      }
      data = context.args[++i];
    } else if (arg.rfind("--data=", 0) == 0) {
      data = arg.substr(7);
    } else if (!have_cdb) {
      cdb = arg;
      have_cdb = true;
    } else {
      std::fprintf(context.err, "zorvane-cli: exec takes one CDB (quote it)\n");
      return kExitUsage;
    }
  }
  if (!have_cdb) {
    std::fprintf(context.err, "zorvane-cli: exec needs a CDB in hexadecimal\n");
    return kExitUsage;
  }
  context.window->SetText(kCdbInput, cdb);
  context.window->SetText(kDataInput, data);
  ExecuteManualCommand(*context.window);
  return kExitOk;
}

// Runs one of the window's short jobs on the in-memory window.
template <void (*Job)(Dialog&)>
int RunWindowJob(CommandContext& context) {
  if (!context.args.empty()) {
    std::fprintf(context.err, "zorvane-cli: this command takes no arguments\n");
    return kExitUsage;
  }
  Job(*context.window);
  return kExitOk;
}

int RunSpeeds(CommandContext& context) {
  if (int status = NoArguments(context, "speeds"); status != kExitOk) return status;
  const std::uint8_t code = ProbeMediumType(0);
  if (code == kMediumNoDevice) return kExitFailed;
  ListWriteSpeeds(IsDvdMedium(code) ? 1 : 0);
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
       RunWindowJob<PressCapabilities>},
      {"capacity", "capacity", "size and use of the loaded disc", RunWindowJob<ShowCapacity>},
      {"toc", "toc", "table of contents (and, on recordable CDs, the PMA)",
       RunWindowJob<ShowTableOfContents>},
      {"maker", "maker", "who made the medium, its recording parameters and write speeds",
       RunWindowJob<PressManufacturer>},
      {"speeds", "speeds", "write speeds offered for the loaded medium", RunSpeeds},
      {"open-tray", "open-tray", "open the tray (unless it is open)", RunWindowJob<OpenTray>},
      {"close-tray", "close-tray", "close the tray and wait for the drive",
       RunWindowJob<CloseTray>},
      {"close-session", "close-session", "close the open session (CLOSE TRACK/SESSION)",
       RunWindowJob<CloseSession>},
  };
  static const std::vector<Command> all = [] {
    std::vector<Command> list = commands;
    for (const auto& group : JobCommandGroups()) {
      const std::vector<Command> more = group();
      list.insert(list.end(), more.begin(), more.end());
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
               "  --help          show this text\n"
               "\n"
               "Commands:\n",
               FrontEndOptionsHelp());
  for (const Command& command : Commands()) {
    std::fprintf(stream, "  %-28s %s\n", command.usage, command.help);
  }
  std::fprintf(stream,
               "\nThe information console goes to standard output, the command trace and\n"
               "message boxes to standard error. Exit status: 0 done, 1 no drive or the\n"
               "drive could not be used, 2 usage error.\n");
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

  StreamConsole info(out);
  StreamConsole trace(err);
  StreamMessageSink sink(err);
  PortsGuard ports(&trace, &info, &sink);
  MemoryDialog window;
  CommandContext context{
      std::vector<std::string>(args.begin() + static_cast<long>(i) + 1, args.end()), out, err,
      &window};
  if (!command->needs_drive) return command->run(context);

  ApplyDriveMappings(RequestedMappings(options));

  DiscoverDevices();
  if (DeviceCount == 0) {
    ShowMessage("Zorvane", "未發現任何光碟設備!");
    return kExitFailed;
  }
  std::string error;
  if (!SelectStartDevice(options, &error)) {
    std::fprintf(err, "zorvane-cli: %s\n", error.c_str());
    return kExitFailed;
  }
  // The window's controls as a terminal has them: no clear-before-run (a terminal keeps
  // what it has shown).
  return command->run(context);
}

}  // namespace zorvane
