#include "cli/cli.h"

#include <cstring>
#include <functional>
#include <mutex>
#include <string_view>

#include "info/media.h"
#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/virtual_backend.h"

namespace zorvane {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

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

struct CommandContext {
  std::vector<std::string> args;  // the command's own arguments
  std::FILE* out;
  std::FILE* err;
};

struct Command {
  const char* name;
  const char* usage;
  const char* help;
  std::function<int(CommandContext&)> run;
};

int NoArguments(CommandContext& context, const char* name) {
  if (context.args.empty()) return kExitOk;
  std::fprintf(context.err, "zorvane-cli: %s takes no arguments\n", name);
  return kExitUsage;
}

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

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"devices", "devices", "list the drives found, as the window lists them at start",
       RunDevices},
      {"probe", "probe", "wait for the current drive and report its medium-type code", RunProbe},
  };
  return commands;
}

void PrintUsage(std::FILE* stream) {
  std::fprintf(stream,
               "usage: zorvane-cli [--demo] [--drive L=SPEC]... [--device L] COMMAND [ARGS]\n"
               "\n"
               "Options:\n"
               "  --drive L=SPEC  attach drive letter L (d..j) to SPEC: a device node such as\n"
               "                  /dev/sr0 or /dev/sg3, or a virtual drive\n"
               "                  virtual:PRESET[,KEY=VALUE]... (see vdrive/README.md);\n"
               "                  repeatable; any --drive replaces the default map\n"
               "                  (d: to j: = /dev/sr0 to /dev/sr6)\n"
               "  --demo          attach the demo drives: d: blank CD-R, e: DVD+RW,\n"
               "                  f: audio CD, g: DVD-ROM (a --drive for the same letter wins)\n"
               "  --device L      make drive L the current device (default: the first found)\n"
               "  --help          show this text\n"
               "\n"
               "Commands:\n");
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

// The demo set, with the --drive options laid over it letter by letter.
std::vector<DriveMapping> WithDemo(const std::vector<DriveMapping>& options) {
  std::vector<DriveMapping> mappings = DemoDriveMappings();
  for (const DriveMapping& option : options) {
    bool replaced = false;
    for (DriveMapping& mapping : mappings) {
      if (mapping.slot == option.slot) {
        mapping = option;
        replaced = true;
      }
    }
    if (!replaced) mappings.push_back(option);
  }
  return mappings;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  RegisterVirtualBackend();
  std::vector<DriveMapping> mappings;
  bool demo = false;
  int device_slot = -1;
  std::size_t i = 0;
  auto usage_error = [&](const std::string& message) {
    std::fprintf(err, "zorvane-cli: %s\n", message.c_str());
    std::fprintf(err, "Try 'zorvane-cli --help'.\n");
    return kExitUsage;
  };
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      PrintUsage(out);
      return kExitOk;
    }
    std::string value;
    auto take_value = [&](std::string_view option) -> bool {
      if (arg == option) {
        if (i + 1 >= args.size()) return false;
        value = args[++i];
        return true;
      }
      if (arg.size() > option.size() && arg.compare(0, option.size(), option) == 0 &&
          arg[option.size()] == '=') {
        value = arg.substr(option.size() + 1);
        return true;
      }
      return false;
    };
    if (arg.rfind("--drive", 0) == 0) {
      if (!take_value("--drive")) return usage_error("--drive needs L=SPEC");
      DriveMapping mapping;
      std::string error;
      if (!ParseDriveOption(value, &mapping, &error)) return usage_error(error);
      if (!ValidateDeviceSpec(mapping.spec, &error)) return usage_error(error);
      mappings.push_back(mapping);
      continue;
    }
    if (arg == "--demo") {
      demo = true;
      continue;
    }
    if (arg.rfind("--device", 0) == 0) {
      if (!take_value("--device")) return usage_error("--device needs a drive letter");
      std::string_view letter = value;
      if (letter.size() == 2 && letter[1] == ':') letter.remove_suffix(1);
      device_slot = letter.size() == 1 ? SlotOfLetter(letter[0]) : -1;
      if (device_slot < 0) return usage_error("--device needs a drive letter d..j");
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') return usage_error("unknown option " + arg);
    break;
  }
  if (i >= args.size()) return usage_error("no command given");
  const Command* command = nullptr;
  for (const Command& candidate : Commands()) {
    if (args[i] == candidate.name) command = &candidate;
  }
  if (command == nullptr) return usage_error("unknown command " + args[i]);

  ApplyDriveMappings(demo ? WithDemo(mappings) : mappings);
  StreamConsole info(out);
  StreamConsole trace(err);
  StreamMessageSink sink(err);
  PortsGuard ports(&trace, &info, &sink);

  DiscoverDevices();
  if (DeviceCount == 0) {
    ShowMessage("Zorvane", "未發現任何光碟設備!");
    return kExitFailed;
  }
  SelectDevice(DeviceTable[0]);
  if (device_slot >= 0) {
    bool found = false;
    for (int row = 0; row < DeviceCount; ++row) {
      if (DeviceTable[row].slot == device_slot) {
        SelectDevice(DeviceTable[row]);
        found = true;
      }
    }
    if (!found) {
      std::fprintf(err, "zorvane-cli: no drive at %s\n",
                   DriveName(static_cast<std::uint8_t>(device_slot)));
      return kExitFailed;
    }
  }
  CommandContext context{
      std::vector<std::string>(args.begin() + static_cast<long>(i) + 1, args.end()), out, err};
  return command->run(context);
}

}  // namespace zorvane
