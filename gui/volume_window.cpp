#include "gui/volume_window.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMetaObject>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QUrl>

#include "gui/file_dialogs.h"
#include "gui/qt_console.h"
#include "gui/template_builder.h"

namespace zorvane {

namespace {

// The local paths among dropped URLs.
std::vector<std::string> DroppedPaths(const QMimeData* data) {
  std::vector<std::string> paths;
  if (data == nullptr || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toUtf8().toStdString());
  }
  return paths;
}

}  // namespace

SourceListBinding::SourceListBinding(QTreeWidget* list,
                                     const std::shared_ptr<VolumeDialog>& handler,
                                     QtDialog* controls)
    : QObject(list), list_(list), handler_(handler), controls_(controls) {
  QStringList headers;
  for (const SourceColumn& column : kSourceColumns) headers << QString::fromUtf8(column.header);
  list->setColumnCount(kSourceColumnCount);
  list->setHeaderLabels(headers);
  const QFontMetrics metrics(list->header()->font());
  for (int i = 0; i < kSourceColumnCount; ++i) {
    const SourceColumn& column = kSourceColumns[static_cast<std::size_t>(i)];
    // Widths of 0 fit the header's text.
    const int width = column.width > 0
                          ? column.width
                          : metrics.horizontalAdvance(headers[i]) + 2 * metrics.height();
    list->setColumnWidth(i, width);
  }
  list->header()->setSectionsMovable(true);
  list->header()->setStretchLastSection(false);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setAllColumnsShowFocus(true);
  list->setUniformRowHeights(true);
  list->setRootIsDecorated(false);
  // Grid lines between the cells, as the list has always shown them.
  list->setStyleSheet(QStringLiteral(
      "QTreeView::item { border-right: 1px solid #d0d0d0; border-bottom: 1px solid #d0d0d0; }"));
  list->setAcceptDrops(true);
  list->viewport()->setAcceptDrops(true);
  list->viewport()->installEventFilter(this);
  list->installEventFilter(this);
}

void SourceListBinding::Render() {
  const std::shared_ptr<VolumeDialog> handler = handler_.lock();
  if (!handler) return;
  const SourceListView view = handler->Sources().View();
  const int count = static_cast<int>(view.rows.size());
  while (list_->topLevelItemCount() > count) {
    delete list_->takeTopLevelItem(list_->topLevelItemCount() - 1);
  }
  while (list_->topLevelItemCount() < count) list_->addTopLevelItem(new QTreeWidgetItem());
  for (int row = 0; row < count; ++row) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    for (int column = 0; column < kSourceColumnCount; ++column) {
      const QString text = QString::fromUtf8(
          view.rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)].c_str());
      if (item->text(column) != text) item->setText(column, text);
    }
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    item->setTextAlignment(7, Qt::AlignRight | Qt::AlignVCenter);
  }
  handler->ShowTotals(*controls_);
}

bool SourceListBinding::eventFilter(QObject* watched, QEvent* event) {
  const std::shared_ptr<VolumeDialog> handler = handler_.lock();
  if (!handler) return QObject::eventFilter(watched, event);
  if (watched == list_->viewport()) {
    switch (event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove: {
        auto* drag = static_cast<QDropEvent*>(event);
        if (DroppedPaths(drag->mimeData()).empty()) return false;
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        return true;
      }
      case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const std::vector<std::string> paths = DroppedPaths(drop->mimeData());
        if (paths.empty()) return false;
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        handler->Sources().Drop(paths);
        Render();
        return true;
      }
      default:
        break;
    }
  }
  if (watched == list_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    SourceKey which;
    switch (key->key()) {
      case Qt::Key_Up:
        which = SourceKey::kUp;
        break;
      case Qt::Key_Down:
        which = SourceKey::kDown;
        break;
      case Qt::Key_Delete:
        which = SourceKey::kDelete;
        break;
      default:
        return QObject::eventFilter(watched, event);
    }
    std::vector<int> selected;
    for (const QModelIndex& index : list_->selectionModel()->selectedRows()) {
      selected.push_back(index.row());
    }
    const std::optional<std::vector<int>> after = handler->Sources().PressKey(which, selected);
    // A key that changed nothing does what it always does (moving the focus).
    if (!after) return false;
    Render();
    list_->clearSelection();
    for (int row : *after) {
      if (QTreeWidgetItem* item = list_->topLevelItem(row)) {
        list_->setCurrentItem(item, 0, QItemSelectionModel::Select | QItemSelectionModel::Rows);
      }
    }
    return true;
  }
  return QObject::eventFilter(watched, event);
}

JobWindow* OpenVolumeDialog() {
  auto handler = std::make_shared<VolumeDialog>();
  auto* window = new JobWindow(VolumeInfoTemplate(), handler);
  QtDialog* controls = &window->Controls();

  for (int id : {kVolumeSetSize, kSequenceNumber, kCreationOffset, kModificationOffset,
                 kExpirationOffset, kEffectiveOffset}) {
    if (auto* edit = qobject_cast<QLineEdit*>(ControlWidget(window, id))) {
      edit->setAlignment(Qt::AlignRight);
    }
  }
  if (auto* pane = qobject_cast<QPlainTextEdit*>(ControlWidget(window, kVolumeLog))) {
    // The pane owns its console; the handler's gate closes before the pane goes.
    auto* console = new QtConsole(pane);
    handler->SetLog(std::shared_ptr<Console>(console, [](Console*) {}));
  }
  auto* list = qobject_cast<QTreeWidget*>(ControlWidget(window, kSourceList));
  if (list != nullptr) {
    auto* binding = new SourceListBinding(list, handler, controls);
    // Measuring reports from its own thread: the window redraws the list on its own.
    handler->SetRowsChanged([binding] {
      QMetaObject::invokeMethod(
          binding, [binding] { binding->Render(); }, Qt::QueuedConnection);
    });
  }
  handler->SetSaveFileChooser([window](std::string* path) {
    PrepareFileDialog(window, kIsoFiles);
    std::string title;
    return ChooseSaveFile(window, path, &title);
  });
  window->show();
  handler->OnInit(*controls);
  return window;
}

}  // namespace zorvane
