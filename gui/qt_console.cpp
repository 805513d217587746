#include "gui/qt_console.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QScrollBar>
#include <QThread>

namespace zorvane {

QtConsole::QtConsole(QPlainTextEdit* pane) : QObject(pane), pane_(pane) {
  // Output is never undone: an undo history would keep a second copy of every line.
  pane->setUndoRedoEnabled(false);
  cursor_ = QTextCursor(pane->document());
}

void QtConsole::Append(std::string_view text) {
  if (text.empty()) return;
  std::lock_guard lock(mutex_);
  if (pending_.empty() || pending_.back().clear) pending_.push_back(Pending{});
  pending_.back().text.append(text);
  ScheduleFlush();
}

void QtConsole::Clear() {
  std::lock_guard lock(mutex_);
  pending_.clear();  // whatever was queued before the clear would be erased anyway
  pending_.push_back(Pending{true, {}});
  ScheduleFlush();
}

void QtConsole::ScheduleFlush() {
  if (flush_scheduled_) return;
  flush_scheduled_ = true;
  QMetaObject::invokeMethod(
      this, [this] { Flush(); }, Qt::QueuedConnection);
}

void QtConsole::SetInitialText(const QString& text) {
  Flush();
  if (!pane_) return;
  pane_->setPlainText(text);
  cursor_ = QTextCursor(pane_->document());
  cursor_.movePosition(QTextCursor::Start);
}

void QtConsole::Flush() {
  std::vector<Pending> work;
  {
    std::lock_guard lock(mutex_);
    work.swap(pending_);
    flush_scheduled_ = false;
  }
  if (!pane_ || work.empty()) return;
  for (const Pending& item : work) {
    if (item.clear) {
      pane_->clear();
      cursor_ = QTextCursor(pane_->document());
    }
    if (!item.text.empty()) {
      cursor_.insertText(QString::fromUtf8(item.text.data(), static_cast<int>(item.text.size())));
    }
  }
  // Keep the newest text in view, as an edit control scrolls to its caret.
  pane_->setTextCursor(cursor_);
  pane_->ensureCursorVisible();
}

QString QtConsole::Text() {
  Flush();
  return pane_ ? pane_->toPlainText() : QString();
}

void QtMessageSink::Show(std::string_view caption, std::string_view text) {
  const QString title = QString::fromUtf8(caption.data(), static_cast<int>(caption.size()));
  QString body = QString::fromUtf8(text.data(), static_cast<int>(text.size()));
  if (body.endsWith('\n')) body.chop(1);
  auto show = [title, body] {
    QMessageBox box(QMessageBox::NoIcon, title, body, QMessageBox::Ok);
    box.exec();
  };
  QObject* context = context_.data();
  if (context == nullptr) return;
  if (QThread::currentThread() == context->thread()) {
    show();
  } else {
    QMetaObject::invokeMethod(context, show, Qt::BlockingQueuedConnection);
  }
}

}  // namespace zorvane
