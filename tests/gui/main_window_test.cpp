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
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <atomic>
#include <memory>
#include <thread>

#include "app/main_commands.h"
#include "base/templates.h"
#include "gui/command_set_dialog.h"
#include "gui/file_dialogs.h"
#include "gui/main_window.h"
#include "gui/template_builder.h"
#include "info/toc.h"
#include "transport/discovery.h"
#include "transport/polling.h"
#include "transport/scripted_backend.h"
#include "transport/virtual_backend.h"

using namespace zorvane;

namespace {

// Letter f: and h: get virtual drives; a test changes the disc in a slot by changing its
// spec (the drive is started anew).
constexpr const char* kDriveF = "virtual:cdrom";
constexpr const char* kDriveH =
    "virtual:dvdrom,vendor=HL-DT-ST,product=DVDRAM GH24NSD1,revision=LG00";

void Load(int slot, const std::string& spec) {
  CloseAllDevices();
  DevicePaths[slot] = spec;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<MainWindowForm> window_;
  StringMessageSink messages_;

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
    RegisterVirtualBackend();
    ResetVirtualDrives();
    for (std::string& path : DevicePaths) path.clear();
    SetReadyPolling(PollPolicy{std::chrono::milliseconds(0), std::chrono::milliseconds(2000)});
    DevicePaths[2] = kDriveF;
    DevicePaths[4] = kDriveH;
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
    ResetVirtualDrives();
  }

  void templateControlsAreBuiltWithTheirIdentifiersAndCaptions() {
    QCOMPARE(window_->windowTitle(), QStringLiteral("Zorvane"));  // no web address
    QCOMPARE(Control<QPushButton>(kExecuteButton)->text(), QString::fromUtf8("執行(&G)"));
    QCOMPARE(Control<QPushButton>(kExitButton)->text(), QString::fromUtf8("結束(&X)"));
    QCOMPARE(Control<QCheckBox>(kClearCommandPane)->text(), QString::fromUtf8("執行前清除"));
    QCOMPARE(Control<QGroupBox>(kInfoFrame)->title(), QString::fromUtf8("設備資訊"));
    QCOMPARE(Control<QLabel>(kDeviceLabel)->text(), QString::fromUtf8("選擇光碟設備"));
    QVERIFY(Control<QComboBox>(kCdbInput)->isEditable());
    QVERIFY(!Control<QComboBox>(kDeviceList)->isEditable());
    QVERIFY(Control<QPlainTextEdit>(kCommandPane)->isReadOnly());
    QVERIFY(Control<QPlainTextEdit>(kInfoPane)->isReadOnly());
    // The template hides the C2 button; the window shows it once the C2 scan exists.
    QVERIFY(Control<QPushButton>(kC2Button)->isVisible());
    QVERIFY(Control<QPushButton>(kC2Button)->isEnabled());
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
                                              "h: HL-DT-STDVDRAM GH24NSD1 LG00\n"
                                              "Zorvane"));
    auto* devices = Control<QComboBox>(kDeviceList);
    QCOMPARE(devices->count(), 2);
    QCOMPARE(devices->itemText(0), QStringLiteral("f: ZORVANE VIRTUAL DVD-RW  "));
    QCOMPARE(devices->itemText(1), QStringLiteral("h: HL-DT-STDVDRAM GH24NSD1 "));
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

  void openTrayOpensOnceAndNotAgain() {
    QTest::mouseClick(Control<QPushButton>(kOpenTrayButton), Qt::LeftButton);
    QCOMPARE(InfoText(), QString::fromUtf8("將光碟設備的門開啟\n"));
    QVERIFY(CommandText().startsWith(QStringLiteral("START/STOP UNIT  1B 01 00 00 02 00\n")));
    // Now open: pressing again sends nothing at all.
    QTest::mouseClick(Control<QPushButton>(kOpenTrayButton), Qt::LeftButton);
    QCOMPARE(InfoText(), QString());
    QCOMPARE(CommandText(), QString());
    // Closing it loads the disc again.
    QTest::mouseClick(Control<QPushButton>(kCloseTrayButton), Qt::LeftButton);
    QCOMPARE(InfoText(), QString::fromUtf8("Media Code=71, 光碟設備門己開啟\n將光碟設備的門關上\n"
                                           "請稍候...\n完成\n"));
    QCOMPARE(CommandText(), QStringLiteral("TEST UNIT READY  00 00 00 00 00 00\n"
                                           "SK/ASC/ASCQ=0h, NO ADDITIONAL SENSE INFORMATION\n"));
  }

  void closeTrayWithADiscPrintsOnlyTheProbeLine() {
    QTest::mouseClick(Control<QPushButton>(kCloseTrayButton), Qt::LeftButton);
    QCOMPARE(InfoText(), QString::fromUtf8("Media Code=01, 光碟設備中存在120mm的CD-ROM\n"));
    QCOMPARE(CommandText(), QString());  // cleared before the run; the probe is silent
  }

  void writeOnAnMrwCdRwPrintsTheMrwMessage() {
    Load(2, "virtual:cdrw-mrw");
    // The write dialogs exist, so the button is enabled; on MRW no dialog opens.
    QVERIFY(Control<QPushButton>(kWriteButton)->isEnabled());
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
    // The virtual drive's INQUIRY: peripheral type 05h, removable (80h), then the
    // identification; byte 80h shows as U+0080 in the character column.
    QVERIFY(
        dump.contains(QString::fromUtf8("0000: 05 80 05 02 1F 00 00 00 5A 4F 52 56 41 4E 45 20   "
                                        ".\xC2\x80......ZORVANE \n")));
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

  // The data field takes as much text as the typed command's group reads, no more; text
  // typed for another command is kept and refused when sent, never cut.
  void dataFieldTakesNoMoreThanTheCommandReads() {
    auto* cdb = Control<QComboBox>(kCdbInput);
    auto* data = Control<QLineEdit>(kDataInput);
    const QString long_text(300, QLatin1Char('A'));
    cdb->setEditText(QStringLiteral("2A 00 00 00 00 10 00 00 01 00"));
    QCOMPARE(data->maxLength(), 79);
    QTest::keyClicks(data, long_text);
    QCOMPARE(data->text().size(), 79);
    cdb->setEditText(QStringLiteral("B6 00 00 00 00 00 00 00 00 00 1C 00"));
    QCOMPARE(data->maxLength(), 254);
    data->clear();
    QTest::keyClicks(data, long_text);
    QCOMPARE(data->text().size(), 254);
    // Back to a command that reads 79: the 254 characters stay, and are not sent.
    cdb->setEditText(QStringLiteral("55 10 00 00 00 00 00 00 08 00"));
    QCOMPARE(data->text().size(), 254);
    window_->InfoPane()->Clear();
    window_->CommandPane()->Clear();
    QTest::mouseClick(Control<QPushButton>(kExecuteButton), Qt::LeftButton);
    QCOMPARE(InfoText(), QString::fromUtf8("資料區最多79個字元, 指令未送出!\n"));
    QCOMPARE(CommandText(), QString());
    // Shortened, the field takes the command's limit again.
    data->setText(QStringLiteral("00 00"));
    QCOMPARE(data->maxLength(), 79);
    // A command picked from the list counts as well.
    cdb->addItem(QStringLiteral("04 00 00 00 00 00"));
    cdb->setCurrentIndex(cdb->count() - 1);
    QCOMPARE(data->maxLength(), 254);
  }

  void missingCommandListSaysSo() {
    QTemporaryDir directory;
    StartDirectory = directory.path().toStdString();
    window_->OnCommand(kCommandListButton);
    QCOMPARE(QString::fromStdString(messages_.Text()), QStringLiteral("Error: Can not open ") +
                                                           directory.path() +
                                                           QStringLiteral("/CommandSet.txt\n"));
  }

  void unusableCommandListSaysWhatIsWrong() {
    QTemporaryDir directory;
    StartDirectory = directory.path().toStdString();
    QVERIFY(QDir(directory.path()).mkdir(QStringLiteral("CommandSet.txt")));
    const std::string before = messages_.Text();  // the sink keeps earlier tests' boxes
    window_->OnCommand(kCommandListButton);
    QCOMPARE(QString::fromStdString(messages_.Text().substr(before.size())),
             QStringLiteral("Error: Can not open ") + directory.path() +
                 QStringLiteral("/CommandSet.txt (a directory)\n"));
  }

  // 關閉節區 on a pressed CD: the drive refuses, and the window says the close failed.
  void refusedCloseSessionIsNotDone() {
    window_->OnCommand(kCloseSessionButton);
    QCOMPARE(InfoText(), QString::fromUtf8("請稍候...\n關閉節區失敗.\n"));
    QVERIFY(Control<QPushButton>(kCloseSessionButton)->isEnabled());
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

  // The window's report buttons and the command-line front end print the same text for
  // the same drive.
  void reportButtonsMatchTheCommandLine() {
    const char* const discs[] = {"cdrom",     "cdda",       "cdr-blank", "cdr-open",
                                 "cdr-multi", "cdrw-mrw",   "dvdrom",    "dvd-r",
                                 "dvd+r",     "dvd-rw-seq", "nodisc"};
    const std::pair<int, const char*> reports[] = {{kCapabilitiesButton, "caps"},
                                                   {kManufacturerButton, "maker"},
                                                   {kCapacityButton, "capacity"},
                                                   {kTableOfContentsButton, "toc"}};
    for (const char* disc : discs) {
      const std::string spec = std::string("virtual:") + disc;
      Load(2, spec);
      for (const auto& [button, command] : reports) {
        QTest::mouseClick(Control<QPushButton>(button), Qt::LeftButton);
        const QString window_text = InfoText();
        QProcess cli;
        cli.start(QStringLiteral(ZORVANE_CLI_PATH),
                  {QStringLiteral("--drive"), QString::fromStdString("f=" + spec),
                   QString::fromUtf8(command)});
        QVERIFY(cli.waitForFinished(30000));
        const QString cli_text = QString::fromUtf8(cli.readAllStandardOutput());
        QVERIFY2(!window_text.isEmpty(), qPrintable(QString::fromStdString(spec) + " " + command));
        QVERIFY2(window_text == cli_text,
                 qPrintable(QStringLiteral("%1 %2:\nwindow:\n%3\ncli:\n%4")
                                .arg(QString::fromStdString(spec), QString::fromUtf8(command),
                                     window_text, cli_text)));
      }
    }
  }

  void readButtonOnABlankCdRShowsTheTocAndOpensNothing() {
    Load(2, "virtual:cdr-blank");
    TrackList.Set(0, TrackEntry{1, 0x14, 0, 100});  // from an earlier disc
    QVERIFY(Control<QPushButton>(kReadButton)->isEnabled());
    window_->OnCommand(kReadButton);
    QVERIFY(InfoText().contains(QString::fromUtf8("程式記憶區")) ||
            InfoText().contains(QString::fromUtf8("目錄")));
    QCOMPARE(int(TrackList.Get(0).track), 0);
  }

  void fileDialogsOfferTheFilterSetsWithIsoAsSuffix() {
    QCOMPARE(FileFilters(kWaveFiles), (QStringList{QStringLiteral("WAVE Files (*.wav)"),
                                                   QStringLiteral("All Files (*.*)")}));
    QCOMPARE(FileFilters(kCdWriteFiles).size(), 5);
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
