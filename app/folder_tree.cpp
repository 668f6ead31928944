#include "app/folder_tree.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QSplitter>
#include <QTableWidget>
#include <QTreeWidget>

#include "app/display_formats.h"
#include "engine/image/entries.h"

namespace fornax::app {
namespace {

constexpr int kEntryRole = Qt::UserRole;

void AddFolderNodes(QTreeWidgetItem* node, const TDEntry* dir) {
  for (const TFEntry* entry = dir->FirstEntry; entry; entry = entry->Next) {
    if (!(entry->Attributes & kDirectoryAttribute) || !entry->Directory) continue;
    auto* child = new QTreeWidgetItem(node, {QString::fromStdString(entry->LongName)});
    child->setData(0, kEntryRole, QVariant::fromValue(static_cast<void*>(entry->Directory)));
    AddFolderNodes(child, entry->Directory);
  }
}

}  // namespace

// At 8 points, the size the grids' column widths were made for: nine
// characters of a size still fit a 71-pixel column.
QFont CourierNewFont() {
  QFont font("Courier New", 8);
  font.setStyleHint(QFont::Monospace);
  return font;
}

bool IsFolderEntry(const TFEntry& entry) {
  return (entry.Attributes & kDirectoryAttribute) != 0 || entry.Directory != nullptr;
}

std::string SizeCellText(const TFEntry& entry) {
  if (!IsFolderEntry(entry)) return PadLeft(std::to_string(entry.ISOSize), 9);
  //: A folder's cell in the size column, as wide as the nine characters of a size.
  return QCoreApplication::translate("fornax::app::FolderTree", " < DIR > ").toStdString();
}

QTreeWidgetItem* BuildFolderTree(QTreeWidget& tree, TDEntry* root) {
  // The grid is refilled from the selection: keep it quiet while the nodes
  // (and the directories they point at) are replaced.
  const QSignalBlocker quiet(tree);
  tree.clear();
  auto* top = new QTreeWidgetItem(&tree, {"CDROOT"});
  top->setData(0, kEntryRole, QVariant::fromValue(static_cast<void*>(root)));
  if (root) AddFolderNodes(top, root);
  top->setExpanded(true);
  tree.setCurrentItem(top);
  return top;
}

TDEntry* NodeDirectory(const QTreeWidgetItem* node) {
  return node ? static_cast<TDEntry*>(node->data(0, kEntryRole).value<void*>()) : nullptr;
}

TTreeAndGrid MakeTreeAndGrid(QWidget* parent, int treeWidth, const QStringList& headers, const QList<int>& widths) {
  auto* splitter = new QSplitter(Qt::Horizontal, parent);
  splitter->setObjectName("Splitter1");
  auto* tree = new QTreeWidget(splitter);
  tree->setObjectName("tvDir");
  tree->setHeaderHidden(true);
  tree->setColumnCount(1);
  tree->setAllColumnsShowFocus(true);
  auto* grid = new QTableWidget(splitter);
  grid->setObjectName("fl");
  SetUpEntryGrid(*grid, headers, widths);
  grid->setToolTip(QCoreApplication::translate("fornax::app::FolderTree", "Double click on a file name to extract"));
  splitter->addWidget(tree);
  splitter->addWidget(grid);
  splitter->setStretchFactor(1, 1);
  int gridWidth = 0;
  for (int width : widths) gridWidth += width;
  splitter->setSizes({treeWidth, gridWidth});
  return {splitter, tree, grid};
}

void SetUpEntryGrid(QTableWidget& grid, const QStringList& headers, const QList<int>& widths) {
  grid.setColumnCount(static_cast<int>(headers.size()));
  grid.setHorizontalHeaderLabels(headers);
  for (int column = 0; column < widths.size(); ++column) grid.setColumnWidth(column, widths[column]);
  grid.horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  grid.horizontalHeader()->setStretchLastSection(false);
  grid.verticalHeader()->hide();
  grid.verticalHeader()->setDefaultSectionSize(18);
  grid.verticalHeader()->setMinimumSectionSize(18);
  grid.setFont(CourierNewFont());
  grid.setSelectionBehavior(QAbstractItemView::SelectRows);
  grid.setSelectionMode(QAbstractItemView::SingleSelection);
  grid.setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid.setWordWrap(false);
}

void ResetEntryGrid(QTableWidget& grid, int rows) {
  grid.clearContents();
  grid.setRowCount(rows > 0 ? rows : 1);
  grid.setCurrentCell(-1, -1);
}

void FillEntryGrid(QTableWidget& grid, const TDEntry* dir, const std::function<void(int, TFEntry&)>& fillRow) {
  int count = 0;
  for (const TFEntry* entry = dir ? dir->FirstEntry : nullptr; entry; entry = entry->Next) ++count;
  ResetEntryGrid(grid, count);
  int row = 0;
  for (TFEntry* entry = dir ? dir->FirstEntry : nullptr; entry; entry = entry->Next) fillRow(row++, *entry);
}

void SetCell(QTableWidget& grid, int row, int column, const std::string& text, TFEntry* entry) {
  auto* item = new QTableWidgetItem(QString::fromStdString(text));
  if (entry) item->setData(kEntryRole, QVariant::fromValue(static_cast<void*>(entry)));
  grid.setItem(row, column, item);
}

TFEntry* CellEntry(const QTableWidget& grid, int row, int column) {
  const QTableWidgetItem* item = row >= 0 ? grid.item(row, column) : nullptr;
  return item ? static_cast<TFEntry*>(item->data(kEntryRole).value<void*>()) : nullptr;
}

}  // namespace fornax::app
