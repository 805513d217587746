#include "gui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <algorithm>

#include "app/manual_command.h"
#include "base/templates.h"
#include "gui/command_set_dialog.h"
#include "gui/template_builder.h"
#include "info/capacity.h"
#include "info/toc.h"
#include "write/format.h"

namespace zorvane {

void GuiJobDialogs::Register(int template_id, Opener opener) {
  openers_[template_id] = std::move(opener);
}

void GuiJobDialogs::RegisterQualityScan(Opener starter) {
  quality_scan_ = std::move(starter);
}

bool GuiJobDialogs::CanOpen(int template_id) const {
  return openers_.count(template_id) != 0;
}

void GuiJobDialogs::Open(int template_id) {
  const auto it = openers_.find(template_id);
  if (it != openers_.end()) it->second();
}

bool GuiJobDialogs::CanStartQualityScan() const {
  return static_cast<bool>(quality_scan_);
}

void GuiJobDialogs::StartQualityScan() {
  if (quality_scan_) quality_scan_();
}

MainWindowForm::MainWindowForm() : controls_(this) {
  const DialogTemplate& form = MainWindowTemplate();
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  // The program's name alone: there is no project web address to follow it.
  setWindowTitle(QStringLiteral("Zorvane"));
  BuildDialog(form, this);

  command_console_ = new QtConsole(static_cast<QPlainTextEdit*>(ControlWidget(this, kCommandPane)));
  info_console_ = new QtConsole(static_cast<QPlainTextEdit*>(ControlWidget(this, kInfoPane)));
  command_console_->SetInitialText(QStringLiteral("Zorvane"));

  for (QPushButton* button : findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly)) {
    bool numbered = false;
    const int id = button->objectName().toInt(&numbered);
    if (!numbered) continue;
    connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
  }
  auto* devices = static_cast<QComboBox*>(ControlWidget(this, kDeviceList));
  // A pick from the list, even of the item already shown, switches the device.
  connect(devices, qOverload<int>(&QComboBox::activated), this,
          [this](int index) { SwitchDevice(controls_, index); });
  // The data field takes no more text than the typed command's group reads, so the
  // limit shows while typing rather than as a cut when the command is sent.
  auto* cdb = static_cast<QComboBox*>(ControlWidget(this, kCdbInput));
  auto* data = static_cast<QLineEdit*>(ControlWidget(this, kDataInput));
  connect(cdb, &QComboBox::currentTextChanged, this, [this] { UpdateDataLimit(); });
  connect(data, &QLineEdit::textChanged, this, [this] { UpdateDataLimit(); });
  UpdateDataLimit();
  RegisterJobDialogs(jobs_);
  UpdateJobButtons();
}

void MainWindowForm::UpdateDataLimit() {
  auto* cdb = static_cast<QComboBox*>(ControlWidget(this, kCdbInput));
  auto* data = static_cast<QLineEdit*>(ControlWidget(this, kDataInput));
  std::uint8_t opcode = 0;
  ParseHexBytes(cdb->currentText().toStdString(), &opcode, 1);
  int limit = static_cast<int>(DataTextLimit(opcode));
  if (limit == 0) limit = static_cast<int>(kCountedDataTextLimit);  // no data: the widest
  // Text already longer (typed for another command) is kept as it is, never cut here;
  // sending it is refused with a line that gives the limit.
  data->setMaxLength(std::max(limit, static_cast<int>(data->text().size())));
}

MainWindowForm::~MainWindowForm() {
  StopFollowingFormat();  // its polls end with the window; the drive goes on formatting
  if (MainWindow.load() == &controls_) MainWindow.store(nullptr);
  if (CommandConsole.load() == command_console_) CommandConsole.store(nullptr);
  if (InfoConsole.load() == info_console_) InfoConsole.store(nullptr);
}

void MainWindowForm::UpdateJobButtons() {
  controls_.Enable(kReadButton, jobs_.CanOpen(kCdReadDialog) || jobs_.CanOpen(kDvdReadDialog));
  controls_.Enable(kWriteButton, jobs_.CanOpen(kCdWriteDialog) || jobs_.CanOpen(kDvdWriteDialog));
  controls_.Enable(kAddressWriteButton,
                   jobs_.CanOpen(kMrwAddressWriteDialog) || jobs_.CanOpen(kDvdAddressWriteDialog));
  controls_.Enable(kEraseButton, jobs_.CanOpen(kEraseDialog));
  controls_.Enable(kIsoImageButton, jobs_.CanOpen(kIsoImageDialog));
  // The C2 button is hidden in the template until the scan exists.
  controls_.Show(kC2Button, jobs_.CanOpen(kC2ScanDialog));
  controls_.Enable(kC2Button, jobs_.CanOpen(kC2ScanDialog));
  controls_.Enable(kQualityScanCommand, jobs_.CanStartQualityScan());
  controls_.Enable(kFormatButton, true);
}

void MainWindowForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (started_) return;
  started_ = true;
  CommandConsole.store(command_console_);
  InfoConsole.store(info_console_);
  MainWindow.store(&controls_);
  StartMainWindow(controls_);
}

void MainWindowForm::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  QApplication::quit();
}

void MainWindowForm::OpenCommandSet() {
  auto* dialog = new CommandSetDialog(this, controls_);
  dialog->show();
}

void MainWindowForm::OnCommand(int id) {
  switch (id) {
    case kClearCommandArea:
      controls_.ClearItems(kCdbInput);
      controls_.SetText(kDataInput, "");
      return;
    case kExecuteButton:
      ExecuteManualCommand(controls_);
      return;
    case kCommandListButton:
      OpenCommandSet();
      return;
    case kOpenTrayButton:
      OpenTray(controls_);
      return;
    case kCloseTrayButton:
      CloseTray(controls_);
      return;
    case kExitButton:
      QApplication::quit();
      return;
    case kQualityScanCommand:
      jobs_.StartQualityScan();
      return;
    case kCapabilitiesButton:
      PressCapabilities(controls_);
      return;
    case kManufacturerButton:
      PressManufacturer(controls_);
      return;
    case kCapacityButton:
      ShowCapacity(controls_);
      return;
    case kTableOfContentsButton:
      ShowTableOfContents(controls_);
      return;
    case kReadButton:
      PressRead(controls_, jobs_);
      return;
    case kWriteButton:
      PressWrite(controls_, jobs_);
      return;
    case kAddressWriteButton:
      PressAddressWrite(controls_, jobs_);
      return;
    case kEraseButton:
      PressErase(controls_, jobs_);
      return;
    case kC2Button:
      PressC2Scan(controls_, jobs_);
      return;
    case kCloseSessionButton:
      CloseSession(controls_);
      return;
    case kFormatButton:
      if (FormatMedium(controls_)) FollowFormat();
      return;
    case kIsoImageButton:
      jobs_.Open(kIsoImageDialog);
      return;
    default:
      return;
  }
}

}  // namespace zorvane
