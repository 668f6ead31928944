#pragma once
// What the session tree and the compilation layout dialogs share: the folder
// tree under "CDROOT" built from a compilation directory, and grid rows that
// carry the compilation entry they show.

#include <QFont>
#include <QStringList>
#include <functional>
#include <string>

class QSplitter;
class QTableWidget;
class QWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace fornax {
struct TDEntry;
struct TFEntry;
}

namespace fornax::app {

inline constexpr int kDirectoryAttribute = 0x10;

QFont CourierNewFont();
bool IsFolderEntry(const TFEntry& entry);
// " < DIR > " for a folder, else the size in bytes right-aligned to 9.
std::string SizeCellText(const TFEntry& entry);

// Empties the tree and inserts "CDROOT" for `root` with one node per folder
// below it, in each directory's entry order; selects the root node.
QTreeWidgetItem* BuildFolderTree(QTreeWidget& tree, TDEntry* root);
TDEntry* NodeDirectory(const QTreeWidgetItem* node);

// Both dialogs' body: the folder tree ("tvDir", `treeWidth` wide) left of
// the entry grid ("fl") in a splitter ("Splitter1").
struct TTreeAndGrid {
  QSplitter* Splitter;
  QTreeWidget* Tree;
  QTableWidget* Grid;
};
TTreeAndGrid MakeTreeAndGrid(QWidget* parent, int treeWidth, const QStringList& headers, const QList<int>& widths);

// A read-only grid of whole rows in Courier New, 18-pixel rows and a header.
void SetUpEntryGrid(QTableWidget& grid, const QStringList& headers, const QList<int>& widths);
// Sizes the grid for `rows` entries; with none it keeps one empty row.
void ResetEntryGrid(QTableWidget& grid, int rows);
// One grid row per entry of `dir`, in entry order, each filled by `fillRow`.
void FillEntryGrid(QTableWidget& grid, const TDEntry* dir, const std::function<void(int, TFEntry&)>& fillRow);
void SetCell(QTableWidget& grid, int row, int column, const std::string& text, TFEntry* entry = nullptr);
// The entry a row carries in `column`, or null (an empty row, no row).
TFEntry* CellEntry(const QTableWidget& grid, int row, int column);

}  // namespace fornax::app
