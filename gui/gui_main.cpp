// The window program: finds the drives, shows the main window, runs the message loop.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/options.h"
#include "base/templates.h"
#include "gui/main_window.h"
#include "transport/discovery.h"
#include "transport/virtual_backend.h"

namespace {

using zorvane::MainWindowForm;

void PrintUsage(std::FILE* stream) {
  std::fprintf(stream,
               "usage: zorvane [--demo] [--drive L=SPEC]... [--device L] [--screenshots DIR]\n"
               "\n"
               "%s"
               "  --screenshots DIR  save pictures of the window (after start, after a\n"
               "                  manual INQUIRY, after a device switch) and quit\n"
               "  --help          show this text\n"
               "\n"
               "The window needs a display; zorvane-cli runs the same commands without one.\n",
               zorvane::FrontEndOptionsHelp());
}

struct GuiOptions {
  zorvane::FrontEndOptions front_end;
  std::string screenshots;
  bool help = false;
};

// Reads the program's own options from the command line before Qt starts, so that
// --help and mistakes are answered without a display. Options of Qt itself (a single
// dash: -platform offscreen, -style fusion, ...) and the value after one are left to Qt.
// Returns false with a message for a usage error.
bool ParseArguments(const std::vector<std::string>& args, GuiOptions* options, std::string* error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options->help = true;
      return true;
    }
    if (arg == "--screenshots") {
      if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1].rfind("--", 0) == 0) {
        *error = "--screenshots needs a directory (--screenshots DIR)";
        return false;
      }
      options->screenshots = args[++i];
      continue;
    }
    if (arg.rfind("--screenshots=", 0) == 0) {
      options->screenshots = arg.substr(14);
      if (options->screenshots.empty()) {
        *error = "--screenshots needs a directory (--screenshots DIR)";
        return false;
      }
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-' && arg[1] != '-') {
      if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-') ++i;
      continue;
    }
    const zorvane::OptionResult taken =
        zorvane::TakeFrontEndOption(args, &i, &options->front_end, error);
    if (taken == zorvane::OptionResult::kTaken) continue;
    if (taken == zorvane::OptionResult::kNotAnOption) *error = "unknown argument " + arg;
    return false;
  }
  return true;
}

// Whether Qt will find a screen: a display server, or a platform named for Qt.
bool HaveDisplay(const std::vector<std::string>& args) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  for (const std::string& arg : args) {
    if (arg == "-platform" || arg.rfind("-platform=", 0) == 0) return true;
  }
  return false;
}

// Saves the window as it looks now; false when the picture could not be written.
bool Snap(MainWindowForm& window, const QString& path) {
  window.CommandPane()->Flush();
  window.InfoPane()->Flush();
  QApplication::processEvents();
  if (window.grab().save(path)) return true;
  std::fprintf(stderr, "zorvane: --screenshots: cannot write %s\n", path.toLocal8Bit().constData());
  return false;
}

bool TakeScreenshots(MainWindowForm& window, const QString& directory) {
  bool saved = Snap(window, directory + "/01-start.png");
  window.Controls().SetText(zorvane::kCdbInput, "12 00 00 00 24 00");
  window.OnCommand(zorvane::kExecuteButton);
  saved = Snap(window, directory + "/02-inquiry.png") && saved;
  if (zorvane::DeviceCount > 1) {
    window.Controls().SelectItem(zorvane::kDeviceList, 1);
    zorvane::SwitchDevice(window.Controls(), 1);
    saved = Snap(window, directory + "/03-device-switch.png") && saved;
  }
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  GuiOptions options;
  std::string error;
  if (!ParseArguments(args, &options, &error)) {
    std::fprintf(stderr, "zorvane: %s\n", error.c_str());
    PrintUsage(stderr);
    return 2;
  }
  if (options.help) {
    PrintUsage(stdout);
    return 0;
  }
  if (!HaveDisplay(args)) {
    std::fprintf(stderr,
                 "zorvane: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); zorvane-cli "
                 "runs the same commands without one (zorvane-cli --help)\n");
    return 1;
  }
  const QString screenshots = QString::fromStdString(options.screenshots);
  if (!screenshots.isEmpty() &&
      (!QDir().mkpath(screenshots) || !QFileInfo(screenshots).isWritable())) {
    std::fprintf(stderr, "zorvane: --screenshots: cannot write to the directory %s\n",
                 options.screenshots.c_str());
    return 1;
  }

  QApplication app(argc, argv);
  zorvane::RegisterVirtualBackend();
  zorvane::ApplyDriveMappings(zorvane::RequestedMappings(options.front_end));
  zorvane::DiscoverDevices();
  if (zorvane::DeviceCount == 0) {
    for (const std::string& line : zorvane::ExplainMissingDrives()) {
      std::fprintf(stderr, "zorvane: %s\n", line.c_str());
    }
    std::fprintf(stderr, "zorvane: %s\n", zorvane::kNoDriveHint);
    QMessageBox::critical(nullptr, QStringLiteral("Zorvane"),
                          QString::fromUtf8("未發現任何光碟設備!"));
    return 1;
  }
  // A drive asked for that is not there is an error, as on the command line, not a
  // silent start on another drive.
  if (!zorvane::SelectStartDevice(options.front_end, &error)) {
    std::fprintf(stderr, "zorvane: %s\n", error.c_str());
    return 1;
  }

  MainWindowForm window;
  zorvane::QtMessageSink messages(&window);
  zorvane::MessageBoxSink.store(&messages);
  window.show();
  if (options.front_end.device_slot >= 0) {
    for (int row = 0; row < zorvane::DeviceCount; ++row) {
      if (zorvane::DeviceTable[row].slot == options.front_end.device_slot) {
        window.Controls().SelectItem(zorvane::kDeviceList, row);
        zorvane::SelectDevice(zorvane::DeviceTable[row]);
      }
    }
  }
  bool screenshots_saved = true;
  if (!screenshots.isEmpty()) {
    QTimer::singleShot(200, &window, [&window, &screenshots_saved, screenshots] {
      screenshots_saved = TakeScreenshots(window, screenshots);
      QApplication::quit();
    });
  }
  const int status = QApplication::exec();
  zorvane::MessageBoxSink.store(nullptr);
  if (!screenshots_saved) return 1;
  return status;
}
