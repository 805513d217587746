// The window program: finds the drives, shows the main window, runs the message loop.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
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
               "  --help          show this text\n",
               zorvane::FrontEndOptionsHelp());
}

// Saves the window as it looks now.
void Snap(MainWindowForm& window, const QString& path) {
  window.CommandPane()->Flush();
  window.InfoPane()->Flush();
  QApplication::processEvents();
  window.grab().save(path);
}

void TakeScreenshots(MainWindowForm& window, const QString& directory) {
  QDir().mkpath(directory);
  Snap(window, directory + "/01-start.png");
  window.Controls().SetText(zorvane::kCdbInput, "12 00 00 00 24 00");
  window.OnCommand(zorvane::kExecuteButton);
  Snap(window, directory + "/02-inquiry.png");
  if (zorvane::DeviceCount > 1) {
    window.Controls().SelectItem(zorvane::kDeviceList, 1);
    zorvane::SwitchDevice(window.Controls(), 1);
    Snap(window, directory + "/03-device-switch.png");
  }
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  zorvane::RegisterVirtualBackend();
  // Qt has taken its own options (-platform ...); the rest are ours.
  const QStringList arguments = QApplication::arguments();
  std::vector<std::string> args;
  for (qsizetype i = 1; i < arguments.size(); ++i) args.push_back(arguments[i].toStdString());

  zorvane::FrontEndOptions options;
  QString screenshots;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      PrintUsage(stdout);
      return 0;
    }
    if (args[i] == "--screenshots" && i + 1 < args.size()) {
      screenshots = QString::fromStdString(args[++i]);
      continue;
    }
    std::string error;
    const zorvane::OptionResult taken = zorvane::TakeFrontEndOption(args, &i, &options, &error);
    if (taken == zorvane::OptionResult::kTaken) continue;
    if (taken == zorvane::OptionResult::kNotAnOption) error = "unknown argument " + args[i];
    std::fprintf(stderr, "zorvane: %s\n", error.c_str());
    PrintUsage(stderr);
    return 2;
  }

  zorvane::ApplyDriveMappings(zorvane::RequestedMappings(options));
  zorvane::DiscoverDevices();
  if (zorvane::DeviceCount == 0) {
    QMessageBox::critical(nullptr, QStringLiteral("Zorvane"),
                          QString::fromUtf8("未發現任何光碟設備!"));
    return 1;
  }

  MainWindowForm window;
  zorvane::QtMessageSink messages(&window);
  zorvane::MessageBoxSink.store(&messages);
  window.show();
  if (options.device_slot >= 0) {
    for (int row = 0; row < zorvane::DeviceCount; ++row) {
      if (zorvane::DeviceTable[row].slot == options.device_slot) {
        window.Controls().SelectItem(zorvane::kDeviceList, row);
        zorvane::SelectDevice(zorvane::DeviceTable[row]);
      }
    }
  }
  if (!screenshots.isEmpty()) {
    QTimer::singleShot(200, &window, [&window, screenshots] {
      TakeScreenshots(window, screenshots);
      QApplication::quit();
    });
  }
  const int status = QApplication::exec();
  zorvane::MessageBoxSink.store(nullptr);
  return status;
}
