// The volume dialog as a user meets it: files dropped from a file manager onto the source
// list, the keys on the list, OK, and what the log pane then shows.
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest/QtTest>

#include "base/templates.h"
#include "gui/main_window.h"
#include "gui/template_builder.h"
#include "gui/volume_window.h"
#include "iso/volume_dialog.h"
#include "transport/console.h"

using namespace zorvane;

class VolumeDialogTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QPointer<JobWindow> window_;
  StringMessageSink messages_;

  template <typename T>
  T* Control(int id) {
    auto* widget = qobject_cast<T*>(ControlWidget(window_.data(), id));
    if (widget == nullptr) qFatal("control %d missing or of another kind", id);
    return widget;
  }
  QTreeWidget* List() { return Control<QTreeWidget>(kSourceList); }
  QString Cell(int row, int column) { return List()->topLevelItem(row)->text(column); }

  void MakeFile(const QString& relative, int size) {
    const QString path = dir_.filePath(relative);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(QByteArray(size, 'q')), qint64(size));
  }

  // Drags the paths over the list and drops them, as a file manager does.
  bool DropOnList(const QStringList& relative) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& r : relative) urls << QUrl::fromLocalFile(dir_.filePath(r));
    data->setUrls(urls);
    QWidget* viewport = List()->viewport();
    const QPointF at(viewport->width() / 2.0, viewport->height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    if (!enter.isAccepted()) {
      delete data;
      return false;
    }
    QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &drop);
    delete data;
    return drop.isAccepted();
  }

  void Select(const QList<int>& rows) {
    List()->clearSelection();
    for (int row : rows) {
      List()->setCurrentItem(List()->topLevelItem(row), 0,
                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  }

 private slots:
  void init() {
    MessageBoxSink = &messages_;
    QVERIFY(dir_.isValid());
    GuiJobDialogs jobs;
    RegisterJobDialogs(jobs);
    QVERIFY(jobs.CanOpen(kIsoImageDialog));
    window_ = OpenVolumeDialog();
    QVERIFY(QTest::qWaitForWindowExposed(window_.data()));
  }

  void cleanup() {
    if (window_) window_->close();
    QTRY_VERIFY(window_.isNull());
    MessageBoxSink = nullptr;
  }

  void opensWithItsDefaultsAndEightColumns() {
    QCOMPARE(window_->windowTitle(), QString::fromUtf8("券冊資訊(Volume Info)"));
    QVERIFY(QRegularExpression("^\\d{8}_\\d{8}$")
                .match(Control<QLineEdit>(kVolumeName)->text())
                .hasMatch());
    QCOMPARE(Control<QLineEdit>(kVolumeSetSize)->text(), QStringLiteral("1"));
    QVERIFY(Control<QLineEdit>(kVolumeSetSize)->alignment() & Qt::AlignRight);
    QCOMPARE(Control<QLineEdit>(kSystemName)->text(), QStringLiteral("Linux"));
    QCOMPARE(Control<QLineEdit>(kApplication)->text(), QStringLiteral("Zorvane"));
    QCOMPARE(Control<QLineEdit>(kOutputPath)->text(), QString());
    QCOMPARE(List()->columnCount(), 8);
    QCOMPARE(List()->headerItem()->text(0), QString::fromUtf8("目的名稱"));
    QCOMPARE(List()->headerItem()->text(7), QString::fromUtf8("將佔光碟容量"));
    QCOMPARE(List()->columnWidth(4), 300);
    QVERIFY(List()->header()->sectionsMovable());
    QCOMPARE(List()->selectionMode(), QAbstractItemView::ExtendedSelection);
  }

  void droppedFilesAndFoldersBecomeRowsWithTotals() {
    MakeFile("one", 1);
    MakeFile("src/a", 100);
    MakeFile("src/b", 100);
    MakeFile("src/sub/c", 100);
    MakeFile("big", 2049);
    QVERIFY(DropOnList({"one", "src", "big"}));
    QCOMPARE(List()->topLevelItemCount(), 3);
    QTRY_COMPARE(Cell(1, 5), QStringLiteral("3"));
    QCOMPARE(Cell(0, 0), QStringLiteral("/one"));
    QCOMPARE(Cell(0, 1), QStringLiteral("      0.00 KB"));
    QCOMPARE(Cell(0, 7), QStringLiteral("2 KB"));
    QCOMPARE(Cell(1, 2), QString::fromUtf8("目錄"));
    QCOMPARE(Cell(1, 6), QStringLiteral("2"));
    QCOMPARE(Cell(1, 7), QStringLiteral("2 KB"));
    QCOMPARE(Cell(2, 7), QStringLiteral("4 KB"));
    QCOMPARE(Cell(2, 4), dir_.filePath("big"));
    QTRY_COMPARE(Control<QLabel>(kTotalSize)->text(), QStringLiteral("      2.29 KB(      8 KB)"));
    QCOMPARE(Control<QLabel>(kTotalFolders)->text(), QStringLiteral("2"));
    QCOMPARE(Control<QLabel>(kTotalFiles)->text(), QStringLiteral("5"));
    QCOMPARE(Control<QProgressBar>(kDropProgress)->value(), 3);
    QCOMPARE(Control<QProgressBar>(kDropProgress)->maximum(), 3);

    // Things that are not local files are refused.
    auto* data = new QMimeData;
    data->setText(QStringLiteral("just text"));
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(List()->viewport(), &enter);
    QVERIFY(!enter.isAccepted());
    delete data;
  }

  void keysMoveAndDeleteRows() {
    MakeFile("a", 10);
    MakeFile("b", 3000);
    MakeFile("c", 10);
    QVERIFY(DropOnList({"a", "b", "c"}));
    QCOMPARE(List()->topLevelItemCount(), 3);

    Select({2});
    QTest::keyClick(List(), Qt::Key_Up);
    QCOMPARE(Cell(1, 0), QStringLiteral("/c"));
    QCOMPARE(Cell(2, 0), QStringLiteral("/b"));
    QCOMPARE(List()->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(List()->selectionModel()->selectedRows().first().row(), 1);  // follows the row

    Select({0, 1});  // two rows: Up and Down move nothing
    QTest::keyClick(List(), Qt::Key_Down);
    QCOMPARE(Cell(0, 0), QStringLiteral("/a"));
    QCOMPARE(Cell(1, 0), QStringLiteral("/c"));

    Select({1, 2});
    QTest::keyClick(List(), Qt::Key_Delete);
    QCOMPARE(List()->topLevelItemCount(), 1);
    QCOMPARE(Cell(0, 0), QStringLiteral("/a"));
    QCOMPARE(Control<QLabel>(kTotalSize)->text(), QStringLiteral("      0.01 KB(      2 KB)"));
    QCOMPARE(Control<QLabel>(kTotalFiles)->text(), QStringLiteral("1"));

    QTest::mouseClick(Control<QPushButton>(kClearAllButton), Qt::LeftButton);
    QTRY_COMPARE(List()->topLevelItemCount(), 0);
    QCOMPARE(Control<QLabel>(kTotalSize)->text(), QString());
  }

  void okListsTheSourcesIntoTheLogPane() {
    MakeFile("tree/x.txt", 5000);
    MakeFile("tree/sub/y.txt", 20);
    QVERIFY(DropOnList({"tree"}));
    QTRY_COMPARE(Cell(0, 5), QStringLiteral("2"));
    QTest::mouseClick(Control<QPushButton>(kOkButton), Qt::LeftButton);
    auto* log = Control<QPlainTextEdit>(kVolumeLog);
    QTRY_VERIFY(log->toPlainText().contains(QStringLiteral("Search completed")));
    const QString text = log->toPlainText();
    QVERIFY(text.startsWith(QStringLiteral("The first file found is ") + dir_.filePath("tree") +
                            QStringLiteral("/*\\.\n")));
    QVERIFY(text.contains(dir_.filePath("tree/sub") + QStringLiteral("/*\n")));
    QVERIFY(text.contains(QRegularExpression(QStringLiteral("20, +5 KB, [^\\n]*, x\\.txt\\n"))));
    QVERIFY(text.endsWith(QStringLiteral("5 KB\n0.00 GB\nSearch completed\n")));
    QVERIFY(Control<QPushButton>(kOkButton)->isEnabled());

    // With an output path, OK also writes the image and says how big it is.
    const QString image = dir_.filePath("out.iso");
    Control<QLineEdit>(kOutputPath)->setText(image);
    QTest::mouseClick(Control<QPushButton>(kOkButton), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(log->toPlainText().contains(QStringLiteral("Image ") + image), 20000);
    QVERIFY(QFileInfo(image).size() > 0);
    QCOMPARE(QFileInfo(image).size() % 2048, 0);

    if (const QByteArray dir = qgetenv("ZORVANE_SCREENSHOT_DIR"); !dir.isEmpty()) {
      window_->grab().save(QString::fromUtf8(dir) + QStringLiteral("/04-volume-info.png"));
    }
  }

  void cancelClosesTheDialogWhileTheListingRuns() {
    for (int i = 0; i < 2000; ++i) MakeFile(QStringLiteral("many/f%1").arg(i), 1);
    QVERIFY(DropOnList({"many"}));
    QTRY_COMPARE(Cell(0, 5), QStringLiteral("2000"));
    QTest::mouseClick(Control<QPushButton>(kOkButton), Qt::LeftButton);
    QTest::mouseClick(Control<QPushButton>(kCancelButton), Qt::LeftButton);
    QTRY_VERIFY(window_.isNull());
  }
};

QTEST_MAIN(VolumeDialogTest)
#include "volume_dialog_test.moc"
