// The window as a user meets it: controls found by identifier, clicked, and the panes read.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <atomic>
#include <memory>
#include <thread>

#include "app/command_set_dialog.h"
#include "app/file_dialogs.h"
#include "app/main_commands.h"
#include "app/main_window.h"
#include "app/template_builder.h"
#include "app/templates.h"
#include "transport/discovery.h"
#include "transport/polling.h"
#include "transport/scripted_backend.h"

using namespace zorvane;

namespace {

std::vector<std::uint8_t> Inquiry(const char* vendor, const char* product, const char* rev) {
  std::vector<std::uint8_t> data(96, 0);
  data[0] = 0x05;
  auto put = [&](std::size_t at, const char* text, std::size_t width) {
    const std::size_t n = std::strlen(text);
    for (std::size_t i = 0; i < width; ++i) data[at + i] = i < n ? text[i] : ' ';
  };
  put(8, vendor, 8);
  put(16, product, 16);
  put(32, rev, 4);
  return data;
}

std::vector<std::uint8_t> ModeSense(std::uint8_t medium) {
  std::vector<std::uint8_t> data(40, 0);
  data[1] = 38;
  data[2] = medium;
  data[8] = 0x2A;
  return data;
}

std::shared_ptr<ScriptedDrive> Drive(int slot, const char* vendor, const char* product,
                                     std::uint8_t medium) {
  auto drive = std::make_shared<ScriptedDrive>();
  drive->On({0x12}, {Inquiry(vendor, product, "1.00")});
  drive->On({0x00}, {});
  drive->On({0x5A}, {ModeSense(medium)});
  const std::string name = "gui" + std::to_string(slot);
  AttachScriptedDrive(name, drive);
  DevicePaths[slot] = "script:" + name;
  return drive;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<MainWindowForm> window_;
  StringMessageSink messages_;
  std::shared_ptr<ScriptedDrive> f_;
  std::shared_ptr<ScriptedDrive> h_;

  template <typename T>
  T* Control(int id) {
    auto* widget = qobject_cast<T*>(ControlWidget(window_.get(), id));
    if (widget == nullptr) qFatal("control %d missing or of another kind", id);
    return widget;
  }
  QString CommandText() { return window_->CommandPane()->Text(); }
  QString InfoText() { return window_->InfoPane()->Text(); }

 private slots:
  void init() {
    CloseAllDevices();
    DetachScriptedDrives();
    for (std::string& path : DevicePaths) path.clear();
    SetReadyPolling(PollPolicy{std::chrono::milliseconds(0), std::chrono::milliseconds(2000)});
    f_ = Drive(2, "ZORVANE", "VIRTUAL DVD-RW", 0x01);
    h_ = Drive(4, "HL-DT-ST", "DVDRAM GH24NSD1", 0x41);
    DiscoverDevices();
    window_ = std::make_unique<MainWindowForm>();
    window_->show();
    MessageBoxSink = &messages_;
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  void cleanup() {
    window_.reset();
    MessageBoxSink = nullptr;
    CloseAllDevices();
    DetachScriptedDrives();
  }

  void templateControlsAreBuiltWithTheirIdentifiersAndCaptions() {
    QCOMPARE(window_->windowTitle(), QString::fromUtf8("Zorvane  -   ") + kProjectAddress);
    QCOMPARE(Control<QPushButton>(kExecuteButton)->text(), QString::fromUtf8("執行(&G)"));
    QCOMPARE(Control<QPushButton>(kExitButton)->text(), QString::fromUtf8("結束(&X)"));
    QCOMPARE(Control<QCheckBox>(kClearCommandPane)->text(), QString::fromUtf8("執行前清除"));
    QCOMPARE(Control<QGroupBox>(kInfoFrame)->title(), QString::fromUtf8("設備資訊"));
    QCOMPARE(Control<QLabel>(kDeviceLabel)->text(), QString::fromUtf8("選擇光碟設備"));
    QVERIFY(Control<QComboBox>(kCdbInput)->isEditable());
    QVERIFY(!Control<QComboBox>(kDeviceList)->isEditable());
    QVERIFY(Control<QPlainTextEdit>(kCommandPane)->isReadOnly());
    QVERIFY(Control<QPlainTextEdit>(kInfoPane)->isReadOnly());
    QVERIFY(Control<QPushButton>(kC2Button)->isHidden());
    QVERIFY(!Control<QPushButton>(kC2Button)->isEnabled());
    // Every template control exists once, inside the fixed-size window.
    const QSize size = window_->size();
    QCOMPARE(window_->minimumSize(), window_->maximumSize());
    for (const ControlTemplate& control : MainWindowTemplate().controls) {
      if (control.id == kNoId) continue;
      QWidget* widget = ControlWidget(window_.get(), control.id);
      QVERIFY2(widget != nullptr, qPrintable(QString::number(control.id)));
      QVERIFY(widget->geometry().right() <= size.width());
      QVERIFY(widget->geometry().bottom() <= size.height());
    }
    // Positions follow the dialog units: the exit button sits right of and below 執行.
    QVERIFY(Control<QPushButton>(kExitButton)->x() > Control<QPushButton>(kExecuteButton)->x());
    QVERIFY(Control<QPushButton>(kExitButton)->y() > Control<QPushButton>(kExecuteButton)->y());
    QCOMPARE(Control<QPushButton>(kOpenTrayButton)->y(),
             Control<QPushButton>(kCloseTrayButton)->y());
  }

  void startupListsTheDrivesAtFAndH() {
    QCOMPARE(CommandText(), QString::fromUtf8("f: ZORVANE VIRTUAL DVD-RW  1.00\n"
                                              "h: HL-DT-STDVDRAM GH24NSD1 1.00\n"
                                              "Zorvane"));
    auto* devices = Control<QComboBox>(kDeviceList);
    QCOMPARE(devices->count(), 2);
    QCOMPARE(devices->itemText(0), QStringLiteral("ZORVANE VIRTUAL DVD-RW  "));
    QCOMPARE(devices->itemText(1), QStringLiteral("HL-DT-STDVDRAM GH24NSD1 "));
    QCOMPARE(devices->currentIndex(), 0);
    QCOMPARE(int(CurrentDevice.slot.load()), 2);
    QVERIFY(Control<QCheckBox>(kClearCommandPane)->isChecked());
    QVERIFY(Control<QCheckBox>(kClearInfoPane)->isChecked());
  }

  void pickingTheSecondDriveSwitchesToH() {
    auto* devices = Control<QComboBox>(kDeviceList);
    QTest::mouseClick(devices, Qt::LeftButton);  // open the list like a user
    devices->setCurrentIndex(1);
    emit devices->activated(1);
    QCOMPARE(int(CurrentDevice.slot.load()), 4);
    QCOMPARE(InfoText(),
             QString::fromUtf8("裝備切換至 h: HL-DT-STDVDRAM GH24NSD1 \n請稍候...OK!\n"));
  }

  void openTrayWhenOpenSendsNothing() {
    f_->On({0x5A}, {ModeSense(0x71)});
    f_->ClearRecords();
    QTest::mouseClick(Control<QPushButton>(kOpenTrayButton), Qt::LeftButton);
    for (std::uint8_t opcode : f_->Opcodes()) QVERIFY(opcode != 0x1B);
    QCOMPARE(InfoText(), QString());
  }

  void closeTrayWithADiscPrintsOnlyTheProbeLine() {
    QTest::mouseClick(Control<QPushButton>(kCloseTrayButton), Qt::LeftButton);
    QCOMPARE(InfoText(), QString::fromUtf8("Media Code=01, 光碟設備中存在120mm的CD-ROM\n"));
    QCOMPARE(CommandText(), QString());  // cleared before the run; the probe is silent
  }

  void writeOnAnMrwCdRwPrintsTheMrwMessage() {
    f_->On({0x5A}, {ModeSense(0x21)});
    std::vector<std::uint8_t> mrw(16, 0);
    mrw[3] = 12;
    mrw[7] = 0x0A;
    mrw[9] = 0x28;
    mrw[10] = 0x01;
    mrw[12] = 0x01;
    f_->On({0x46, 0x02, 0x00, 0x28}, {mrw});
    // No write dialog exists yet, so the button is disabled; the command it sends runs.
    QVERIFY(!Control<QPushButton>(kWriteButton)->isEnabled());
    window_->OnCommand(kWriteButton);
    QCOMPARE(InfoText(), QString::fromUtf8("為CD-MRW格式，請改用「指定寫入」，或「抹除」為空白"
                                           "CD-RW後再進行「寫入」!\n"));
  }

  void clearBeforeRunFollowsTheCheckBoxes() {
    Control<QComboBox>(kCdbInput)->setEditText(QStringLiteral("00 00 00 00 00 00"));
    QTest::mouseClick(Control<QPushButton>(kExecuteButton), Qt::LeftButton);
    const QString first = CommandText();
    QVERIFY(first.startsWith(QStringLiteral("TEST UNIT READY  00 00 00 00 00 00\n")));
    QTest::mouseClick(Control<QCheckBox>(kClearCommandPane), Qt::LeftButton);
    QVERIFY(!Control<QCheckBox>(kClearCommandPane)->isChecked());
    QTest::mouseClick(Control<QPushButton>(kExecuteButton), Qt::LeftButton);
    QCOMPARE(CommandText(), first + first);  // kept and appended
    QTest::mouseClick(Control<QCheckBox>(kClearCommandPane), Qt::LeftButton);
    QTest::mouseClick(Control<QPushButton>(kExecuteButton), Qt::LeftButton);
    QCOMPARE(CommandText(), first);
  }

  void manualInquiryIsTracedAndDumped() {
    auto* cdb = Control<QComboBox>(kCdbInput);
    QTest::keyClicks(cdb->lineEdit(), QStringLiteral("12 00 00 00 24 00"));
    QTest::mouseClick(Control<QPushButton>(kExecuteButton), Qt::LeftButton);
    QCOMPARE(CommandText(), QStringLiteral("INQUIRY  12 00 00 00 24 00\n"
                                           "SK/ASC/ASCQ=0h, NO ADDITIONAL SENSE INFORMATION\n"));
    const QString dump = InfoText();
    QVERIFY(dump.startsWith(QStringLiteral(
        "      00 01 02 03 04 05 06 07-08 09 0a 0b 0c 0d 0e 0f   0123456789abcdef\n")));
    QVERIFY(
        dump.contains(QStringLiteral("0000: 05 00 00 00 00 00 00 00 5A 4F 52 56 41 4E 45 20   "
                                     "........ZORVANE \n")));
    QVERIFY(dump.contains(QStringLiteral("\n00F0: ")));
  }

  void clearButtonEmptiesTheCommandArea() {
    auto* cdb = Control<QComboBox>(kCdbInput);
    cdb->addItem(QStringLiteral("12 00 00 00 24 00"));
    cdb->setEditText(QStringLiteral("25"));
    Control<QLineEdit>(kDataInput)->setText(QStringLiteral("00 01"));
    QTest::mouseClick(Control<QPushButton>(kClearCommandArea), Qt::LeftButton);
    QCOMPARE(cdb->count(), 0);
    QCOMPARE(cdb->currentText(), QString());
    QCOMPARE(Control<QLineEdit>(kDataInput)->text(), QString());
  }

  void commandListIsSortedAndAPickLandsInTheCommandBox() {
    QTemporaryDir directory;
    QFile file(directory.filePath(QStringLiteral("CommandSet.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("B = 00 00 00 00 00 00\r\nA = 12 00 00 00 24 00 ;INQUIRY\r\n");
    file.close();
    StartDirectory = directory.path().toStdString();
    QTest::mouseClick(Control<QPushButton>(kCommandListButton), Qt::LeftButton);
    auto* dialog = window_->findChild<CommandSetDialog*>();
    QVERIFY(dialog != nullptr);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Command Set"));
    auto* list = qobject_cast<QListWidget*>(ControlWidget(dialog, kCommandSetList));
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->item(0)->text(), QStringLiteral("A = 12 00 00 00 24 00 ;INQUIRY"));
    QCOMPARE(list->item(1)->text(), QStringLiteral("B = 00 00 00 00 00 00"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    auto* cdb = Control<QComboBox>(kCdbInput);
    QCOMPARE(cdb->count(), 1);
    QCOMPARE(cdb->itemText(0), QStringLiteral("12 00 00 00 24 00 "));
    QCOMPARE(cdb->currentIndex(), 0);
    // The picked command runs with 執行.
    QTest::mouseClick(Control<QPushButton>(kExecuteButton), Qt::LeftButton);
    QVERIFY(CommandText().startsWith(QStringLiteral("INQUIRY  12 00 00 00 24 00\n")));
    QTest::mouseClick(qobject_cast<QPushButton*>(ControlWidget(dialog, kCommandSetExit)),
                      Qt::LeftButton);
  }

  void missingCommandListSaysSo() {
    QTemporaryDir directory;
    StartDirectory = directory.path().toStdString();
    window_->OnCommand(kCommandListButton);
    QCOMPARE(QString::fromStdString(messages_.Text()), QStringLiteral("Error: Can not open ") +
                                                           directory.path() +
                                                           QStringLiteral("/CommandSet.txt\n"));
  }

  void consoleTakesTextFromOtherThreadsInOrder() {
    QtConsole* pane = window_->InfoPane();
    pane->Clear();
    std::thread worker([pane] {
      for (int i = 0; i < 1000; ++i) ConsoleLog(pane, "%04d\n", i);
    });
    worker.join();
    const QString text = pane->Text();
    QCOMPARE(text.count(QLatin1Char('\n')), 1000);
    QVERIFY(text.startsWith(QStringLiteral("0000\n0001\n")));
    QVERIFY(text.endsWith(QStringLiteral("0999\n")));
  }

  void fileDialogsOfferTheFilterSetsWithIsoAsSuffix() {
    QCOMPARE(FileFilters(kWaveFiles), (QStringList{QStringLiteral("WAVE Files (*.wav)"),
                                                   QStringLiteral("All Files (*.*)")}));
    QCOMPARE(FileFilters(kCdWriteFiles).size(), 4);
    QCOMPARE(FileFilters(kCdReadFiles).at(1), QStringLiteral("Mode2 Files (*.MD2)"));
    QCOMPARE(FileFilters(9), (QStringList{QStringLiteral("All Files (*.*)")}));
    QTemporaryDir directory;
    const QString missing = directory.filePath(QStringLiteral("new.iso"));
    bool asked = false;
    SetFileDialogHooks({[&](QFileDialog& dialog) {
                          [&] {
                            QCOMPARE(dialog.defaultSuffix(), QStringLiteral("ISO"));
                            QCOMPARE(dialog.nameFilters(), FileFilters(kWaveFiles));
                            QCOMPARE(dialog.acceptMode(), QFileDialog::AcceptOpen);
                          }();
                          dialog.selectFile(missing);
                          return true;
                        },
                        [&](QWidget*, const QString& path) {
                          asked = path == missing;
                          return true;
                        }});
    PrepareFileDialog(window_.get(), kWaveFiles);
    std::string name;
    std::string title;
    QVERIFY(ChooseOpenFile(window_.get(), &name, &title));
    QVERIFY(asked);
    QCOMPARE(QString::fromStdString(title), QStringLiteral("new.iso"));
    // Declining the create prompt chooses nothing.
    SetFileDialogHooks({[&](QFileDialog& dialog) {
                          dialog.selectFile(missing);
                          return true;
                        },
                        [](QWidget*, const QString&) { return false; }});
    QVERIFY(!ChooseOpenFile(window_.get(), &name, &title));
    SetFileDialogHooks({[](QFileDialog& dialog) {
                          return dialog.acceptMode() == QFileDialog::AcceptSave &&
                                 !dialog.testOption(QFileDialog::DontConfirmOverwrite);
                        },
                        {}});
    QVERIFY(ChooseSaveFile(window_.get(), &name, &title));
    SetFileDialogHooks({});
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
