#include "gui/job_window.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QComboBox>
#include <QListWidget>

#include "gui/template_builder.h"

namespace zorvane {

JobWindow::JobWindow(const DialogTemplate& form, std::shared_ptr<DialogHandler> handler)
    : controls_(this), handler_(std::move(handler)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(QString::fromUtf8(form.caption));
  BuildDialog(form, this);

  for (QAbstractButton* button : findChildren<QAbstractButton*>()) {
    bool numbered = false;
    const int id = button->objectName().toInt(&numbered);
    if (!numbered) continue;
    connect(button, &QAbstractButton::clicked, this,
            [this, id] { handler_->OnCommand(controls_, id); });
  }
  for (QComboBox* combo : findChildren<QComboBox*>()) {
    bool numbered = false;
    const int id = combo->objectName().toInt(&numbered);
    if (!numbered) continue;
    // A pick by the user is a selection change; items filled in by the handler are not.
    connect(combo, qOverload<int>(&QComboBox::activated), this,
            [this, id](int) { handler_->OnCommand(controls_, id); });
  }
  for (QListWidget* list : findChildren<QListWidget*>()) {
    bool numbered = false;
    const int id = list->objectName().toInt(&numbered);
    if (!numbered) continue;
    connect(list, &QListWidget::itemActivated, this,
            [this, id](QListWidgetItem*) { handler_->OnCommand(controls_, id); });
  }
  controls_.SetTimerCallback([this](int timer_id) { handler_->OnTimer(controls_, timer_id); });
  controls_.SetEndCallback([this](int) { close(); });
}

JobWindow::~JobWindow() {
  if (!closed_) handler_->OnClose(controls_);
}

JobWindow* JobWindow::Open(const DialogTemplate& form, std::shared_ptr<DialogHandler> handler) {
  auto* window = new JobWindow(form, std::move(handler));
  window->show();
  window->handler_->OnInit(window->controls_);
  return window;
}

void JobWindow::closeEvent(QCloseEvent* event) {
  if (!closed_) {
    closed_ = true;
    handler_->OnClose(controls_);
  }
  QWidget::closeEvent(event);
}

}  // namespace zorvane
