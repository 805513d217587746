// A 4,096-row hex dump (GET CONFIGURATION with allocation length FFFFh) into the window's
// information pane, next to inserting the same text in one call.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <cstring>

#include "app/manual_command.h"
#include "gui/qt_console.h"
#include "transport/console.h"

namespace {

std::uint8_t reply[65536];

void FillReply() {
  for (std::size_t i = 0; i < sizeof reply; ++i) reply[i] = static_cast<std::uint8_t>(i * 7);
}

// A pane set up as the window sets up its information pane.
void SetUpAsTheWindowDoes(QPlainTextEdit& pane) {
  pane.setReadOnly(true);
  pane.setLineWrapMode(QPlainTextEdit::WidgetWidth);
  pane.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  pane.setUndoRedoEnabled(false);
  pane.resize(640, 400);
  pane.show();
}

// 4,096 rows and their header queued through the Console port and flushed into the pane.
void BM_DumpIntoPane(benchmark::State& state) {
  FillReply();
  QPlainTextEdit pane;
  SetUpAsTheWindowDoes(pane);
  zorvane::QtConsole console(&pane);
  for (auto _ : state) {
    console.Clear();
    zorvane::HexDump(&console, reply, 4096);
    console.Flush();
    QApplication::processEvents();
  }
  state.counters["chars"] = static_cast<double>(pane.document()->characterCount());
}

// The same text, formatted beforehand, inserted with one call.
void BM_SameTextInOneInsert(benchmark::State& state) {
  FillReply();
  zorvane::StringConsole text;
  zorvane::HexDump(&text, reply, 4096);
  const QString whole = QString::fromStdString(text.Text());
  QPlainTextEdit pane;
  SetUpAsTheWindowDoes(pane);
  for (auto _ : state) {
    pane.clear();
    QTextCursor cursor(pane.document());
    cursor.insertText(whole);
    QApplication::processEvents();
  }
  state.counters["chars"] = static_cast<double>(pane.document()->characterCount());
}

// What a pane that inserted every ConsoleLog call on its own would cost.
void BM_DumpOneInsertPerCall(benchmark::State& state) {
  FillReply();
  class DirectConsole : public zorvane::Console {
   public:
    explicit DirectConsole(QPlainTextEdit* pane) : cursor_(pane->document()) {}
    void Append(std::string_view text) override {
      cursor_.insertText(QString::fromUtf8(text.data(), static_cast<int>(text.size())));
    }
    void Clear() override {}
    QTextCursor cursor_;
  };
  QPlainTextEdit pane;
  SetUpAsTheWindowDoes(pane);
  for (auto _ : state) {
    pane.clear();
    DirectConsole console(&pane);
    zorvane::HexDump(&console, reply, 4096);
    QApplication::processEvents();
  }
}

}  // namespace

BENCHMARK(BM_DumpIntoPane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SameTextInOneInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DumpOneInsertPerCall)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
