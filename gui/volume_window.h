// The volume-information dialog's window: the job window over the dialog's template, with
// the source list as an eight-column list that takes files and folders dropped from a file
// manager, and the Up, Down and Delete keys.
#pragma once

#include <QObject>
#include <QTreeWidget>
#include <memory>

#include "gui/job_window.h"
#include "iso/volume_dialog.h"

namespace zorvane {

// Opens a new volume dialog (modeless, without owner); it deletes itself when closed.
JobWindow* OpenVolumeDialog();

// Drops, keys and the list's columns for one window; lives as the list's child.
class SourceListBinding : public QObject {
  Q_OBJECT

 public:
  SourceListBinding(QTreeWidget* list, const std::shared_ptr<VolumeDialog>& handler,
                    QtDialog* controls);

  // Shows the rows, totals and progress as the handler holds them now (UI thread).
  void Render();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QTreeWidget* list_;
  std::weak_ptr<VolumeDialog> handler_;
  QtDialog* controls_;
};

}  // namespace zorvane
