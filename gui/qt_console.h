// The console panes and message boxes of the window, for text that arrives from any
// thread.
#pragma once

#include <QObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextCursor>
#include <QWidget>
#include <mutex>
#include <string>
#include <vector>

#include "transport/console.h"

namespace zorvane {

// A read-only pane that takes text from any thread. Texts are queued and inserted in one
// go on the UI thread, so a burst of thousands of lines costs one insertion. Text goes in
// at the insertion point, which follows each insertion; the user's clicks do not move it.
class QtConsole : public QObject, public Console {
  Q_OBJECT

 public:
  explicit QtConsole(QPlainTextEdit* pane);

  void Append(std::string_view text) override;
  void Clear() override;

  // Replaces the pane's text, leaving the insertion point at its start (the pane shows
  // the text until output pushes it down).
  void SetInitialText(const QString& text);

  // Inserts what is queued (UI thread).
  void Flush();
  // The pane's text after a flush (UI thread).
  QString Text();

 private:
  struct Pending {
    bool clear = false;
    std::string text;
  };
  void ScheduleFlush();

  QPointer<QPlainTextEdit> pane_;
  QTextCursor cursor_;
  std::mutex mutex_;
  std::vector<Pending> pending_;
  bool flush_scheduled_ = false;
};

// Message boxes with a caption and an OK button, no icon; shown on the UI thread and
// waited for from any thread.
class QtMessageSink : public MessageSink {
 public:
  explicit QtMessageSink(QObject* ui_context) : context_(ui_context) {}
  void Show(std::string_view caption, std::string_view text) override;

 private:
  QPointer<QObject> context_;
};

}  // namespace zorvane
