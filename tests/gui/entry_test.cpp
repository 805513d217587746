// The window program's entry as a user starts it: help without a display, options it
// refuses, a start-up drive that is not there, and screenshots it cannot save.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest/QtTest>

namespace {

struct Run {
  int status;
  QString out;
  QString err;
};

// Runs the window program; `display` false takes every display and Qt platform away.
Run Start(const QStringList& arguments, bool display = true) {
  QProcess program;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.remove(QStringLiteral("DISPLAY"));
  environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
  environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
  if (display) environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  program.setProcessEnvironment(environment);
  program.start(QStringLiteral(ZORVANE_GUI_PATH), arguments);
  if (!program.waitForFinished(60000)) {
    program.kill();
    program.waitForFinished();
    return {-1, {}, QStringLiteral("did not end")};
  }
  return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
          QString::fromUtf8(program.readAllStandardOutput()),
          QString::fromUtf8(program.readAllStandardError())};
}

}  // namespace

class EntryTest : public QObject {
  Q_OBJECT

 private slots:
  void helpIsAnsweredWithoutADisplay() {
    const Run run = Start({QStringLiteral("--help")}, false);
    QCOMPARE(run.status, 0);
    QVERIFY(run.out.startsWith(QStringLiteral("usage: zorvane ")));
    QVERIFY(run.out.contains(QStringLiteral("--screenshots DIR")));
    QVERIFY(run.out.contains(QStringLiteral("zorvane-cli")));
    QCOMPARE(run.err, QString());
  }

  void withoutADisplayOneLinePointsAtTheCommandLine() {
    const Run run = Start({QStringLiteral("--demo")}, false);
    QCOMPARE(run.status, 1);
    QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
    QVERIFY(run.err.startsWith(QStringLiteral("zorvane: no display")));
    QVERIFY(run.err.contains(QStringLiteral("zorvane-cli")));
  }

  void usageErrorsNameTheOption() {
    for (const QStringList& arguments :
         {QStringList{QStringLiteral("--demo"), QStringLiteral("--screenshots")},
          QStringList{QStringLiteral("--screenshots="), QStringLiteral("--demo")},
          QStringList{QStringLiteral("--screenshots"), QStringLiteral("--demo")}}) {
      const Run run = Start(arguments, false);  // answered before a display is needed
      QCOMPARE(run.status, 2);
      QVERIFY2(run.err.startsWith(QStringLiteral("zorvane: --screenshots needs a directory")),
               qPrintable(run.err));
    }
    const Run unknown = Start({QStringLiteral("--bogus")}, false);
    QCOMPARE(unknown.status, 2);
    QVERIFY(unknown.err.startsWith(QStringLiteral("zorvane: unknown argument --bogus")));
  }

  void aDeviceThatIsNotThereIsAnError() {
    const Run run =
        Start({QStringLiteral("--demo"), QStringLiteral("--device"), QStringLiteral("h")});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(QStringLiteral("zorvane: no drive at h:\n")), qPrintable(run.err));
  }

  void screenshotsThatCannotBeSavedFail() {
    // A directory that cannot be made.
    Run run = Start({QStringLiteral("--demo"), QStringLiteral("--screenshots"),
                     QStringLiteral("/dev/null/pictures")});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(QStringLiteral("cannot write to the directory /dev/null/pictures")),
             qPrintable(run.err));
    // A directory whose first picture's name is taken by a directory.
    QTemporaryDir directory;
    QVERIFY(QDir(directory.path()).mkdir(QStringLiteral("01-start.png")));
    run = Start({QStringLiteral("--demo"), QStringLiteral("--screenshots"), directory.path()});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(QStringLiteral("--screenshots: cannot write ") + directory.path() +
                              QStringLiteral("/01-start.png")),
             qPrintable(run.err));
    QVERIFY(QFile::exists(directory.path() + QStringLiteral("/02-inquiry.png")));
    // And the pictures are saved where they can be.
    QTemporaryDir good;
    run = Start({QStringLiteral("--demo"), QStringLiteral("--screenshots"), good.path()});
    QCOMPARE(run.status, 0);
    for (const char* name : {"01-start.png", "02-inquiry.png", "03-device-switch.png"}) {
      QVERIFY(QFileInfo(good.path() + QLatin1Char('/') + QLatin1String(name)).size() > 0);
    }
  }
};

QTEST_GUILESS_MAIN(EntryTest)
#include "entry_test.moc"
