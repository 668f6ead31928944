#include "app/compilation_list.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>

#include <algorithm>

#include "app/display_formats.h"
#include "app/widgets.h"

namespace fornax::app {

TCompilationList::TCompilationList(QWidget* parent) : QTableWidget(0, 3, parent) {
  setHorizontalHeaderLabels({tr("R"), tr("Nombre"), tr("Tamaño")});
  horizontalHeaderItem(0)->setToolTip(tr("R: una carpeta marcada lleva tambien sus subcarpetas"));
  horizontalHeaderItem(2)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(std::max(18, fontMetrics().height() + 4));
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
  // Room for a size of thousands of millions of bytes; a larger one widens it.
  header->resizeSection(2, std::max(87, fontMetrics().horizontalAdvance("9,999,999,999") + 12));
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
  auto* bytes = new QTableWidgetItem();
  bytes->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  bytes->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  setItem(row, 0, tick);
  setItem(row, 1, name);
  setItem(row, 2, bytes);
  SetRowBytes(row, size);
}

int64_t TCompilationList::RowBytes(int row) const {
  const QTableWidgetItem* bytes = item(row, 2);
  return bytes ? std::max<qint64>(0, bytes->data(Qt::UserRole).toLongLong()) : 0;
}

void TCompilationList::SetRowBytes(int row, int64_t size) {
  QTableWidgetItem* bytes = item(row, 2);
  if (!bytes) return;
  bytes->setData(Qt::UserRole, static_cast<qlonglong>(size));
  // A size still being counted shows as such, never as an empty folder.
  bytes->setText(size < 0 ? QStringLiteral("…") : QString::fromStdString(GroupedBytes(size)));
  FitGridColumns(*this, {2});
}

int TCompilationList::RowOf(const QString& path) const {
  for (int r = 0; r < rowCount(); ++r)
    if (item(r, 1)->text() == path) return r;
  return -1;
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
