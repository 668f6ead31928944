#include "app/compilation_list.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>

#include "app/display_formats.h"

namespace fornax::app {

TCompilationList::TCompilationList(QWidget* parent) : QTableWidget(0, 3, parent) {
  setHorizontalHeaderLabels({"R", "Nombre", "Tamaño"});
  horizontalHeaderItem(2)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(18);
  setShowGrid(true);
  setMouseTracking(true);  // hot tracking
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  QHeaderView* header = horizontalHeader();
  header->setSectionResizeMode(0, QHeaderView::Fixed);
  header->resizeSection(0, 23);
  header->setSectionResizeMode(1, QHeaderView::Stretch);
  header->setSectionResizeMode(2, QHeaderView::Interactive);
  header->resizeSection(2, 87);
  header->setMinimumSectionSize(23);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDragDropMode(QAbstractItemView::DropOnly);
}

void TCompilationList::AddRow(const QString& path, int64_t size, bool ticked) {
  const int row = rowCount();
  insertRow(row);
  auto* tick = new QTableWidgetItem();
  tick->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
  tick->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
  auto* name = new QTableWidgetItem(path);
  name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  auto* bytes = new QTableWidgetItem(QString::fromStdString(GroupedBytes(size)));
  bytes->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  bytes->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  setItem(row, 0, tick);
  setItem(row, 1, name);
  setItem(row, 2, bytes);
}

QVector<TCompilationRow> TCompilationList::Rows() const {
  QVector<TCompilationRow> rows;
  for (int r = 0; r < rowCount(); ++r) rows.append({item(r, 1)->text(), item(r, 0)->checkState() == Qt::Checked});
  return rows;
}

void TCompilationList::RemoveSelectedRow() {
  const QList<QTableWidgetSelectionRange> ranges = selectedRanges();
  if (ranges.isEmpty()) return;
  removeRow(ranges.first().topRow());
}

void TCompilationList::TickAll() {
  for (int r = 0; r < rowCount(); ++r) item(r, 0)->setCheckState(Qt::Checked);
}

void TCompilationList::SetShellViews(QWidget* folderTree, QWidget* fileList) {
  FFolderTree = folderTree;
  FFileList = fileList;
}

QWidget* TCompilationList::ShellSource(const QDropEvent* event) const {
  QObject* source = event->source();
  if (source && (source == FFolderTree || source == FFileList)) return static_cast<QWidget*>(source);
  return nullptr;
}

void TCompilationList::dragEnterEvent(QDragEnterEvent* event) {
  if (ShellSource(event)) event->acceptProposedAction();
  else event->ignore();
}

void TCompilationList::dragMoveEvent(QDragMoveEvent* event) {
  if (ShellSource(event)) event->acceptProposedAction();
  else event->ignore();
}

void TCompilationList::dropEvent(QDropEvent* event) {
  QWidget* source = ShellSource(event);
  if (!source) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  emit ShellViewDropped(source);
}

}  // namespace fornax::app
