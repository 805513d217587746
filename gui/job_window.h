// The window of a job dialog: the job's template built into widgets, the Dialog port over
// them, and the job's handler called for every button press, every pick in a combo box or
// list, and every timer tick. The window deletes itself when closed; the handler is held
// by shared ownership, so a worker that outlives the window still has its state.
#pragma once

#include <QWidget>
#include <memory>

#include "base/dialog.h"
#include "base/templates.h"
#include "gui/qt_dialog.h"

namespace zorvane {

class JobWindow : public QWidget {
  Q_OBJECT

 public:
  JobWindow(const DialogTemplate& form, std::shared_ptr<DialogHandler> handler);
  ~JobWindow() override;

  // Builds, shows and initialises a job window; it has no owner and deletes itself when
  // closed.
  static JobWindow* Open(const DialogTemplate& form, std::shared_ptr<DialogHandler> handler);

  QtDialog& Controls() { return controls_; }
  DialogHandler& Handler() { return *handler_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QtDialog controls_;
  std::shared_ptr<DialogHandler> handler_;
  bool closed_ = false;
};

}  // namespace zorvane
