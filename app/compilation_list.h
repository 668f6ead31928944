#pragma once
// clBox: the compilation list of the main window. One row per source the
// user gathered: its tick (for a folder: take its subfolders too), its full
// path (a folder's ends with "/") and its size. It takes drags from the
// program's own folder tree and file list; drops from the desktop come
// through TExDragDrop.

#include <QTableWidget>
#include <QVector>

namespace fornax::app {

struct TCompilationRow {
  QString Path;
  bool Ticked = false;
};

class TCompilationList : public QTableWidget {
  Q_OBJECT
 public:
  explicit TCompilationList(QWidget* parent = nullptr);

  // Appends a row: path, size as "#,##" (a negative size: still counted),
  // and the tick.
  void AddRow(const QString& path, int64_t size, bool ticked);
  int64_t RowBytes(int row) const;
  void SetRowBytes(int row, int64_t size);
  // The row of a path, or -1.
  int RowOf(const QString& path) const;
  QVector<TCompilationRow> Rows() const;
  void RemoveSelectedRow();
  void TickAll();
  // The views whose drags the list takes (the folder tree and the file list).
  void SetShellViews(QWidget* folderTree, QWidget* fileList);

 signals:
  // A drag from one of the shell views was dropped on the list.
  void ShellViewDropped(QWidget* source);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QWidget* ShellSource(const QDropEvent* event) const;

  QWidget* FFolderTree = nullptr;
  QWidget* FFileList = nullptr;
};

}  // namespace fornax::app
