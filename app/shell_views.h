#pragma once
// The folder browser of the main window: a tree of folders (lbDir), a list of
// the files of its selected folder (lbFiles) and a list of the places a disc
// or drive is mounted (DriveCB). All start at "/".

#include <QComboBox>
#include <QPersistentModelIndex>
#include <QSortFilterProxyModel>
#include <QTreeView>

class QFileSystemModel;

namespace fornax::app {

class TShellFolderTree : public QTreeView {
  Q_OBJECT
 public:
  explicit TShellFolderTree(QWidget* parent = nullptr);
  // The selected folder's path ("/" for the root).
  QString SelectedPath() const;
  // Expands the tree to a folder and selects it; false with the reason when
  // the folder does not exist. A folder outside the place shown brings the
  // whole tree back.
  bool Navigate(const QString& path, QString& error);
  // Shows one place (a mount point, the home folder) as the tree's top, its
  // folders as the first level, as a drive's tree is shown; "/" shows the
  // whole tree under its root node.
  void ShowPlace(const QString& place);
  QString Place() const { return FPlace; }

 signals:
  void FolderSelected(const QString& path);

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QFileSystemModel* FModel;
  QString FPlace = "/";
};

// The files of one folder of a file system model. Folders are filtered out of
// that folder only: the folders on the way to it stay in the model, so that
// the view never has a hidden ancestor of a row (a view leaves the rows under
// a hidden one out of its selection, and no drag could start from them).
class TFilesOnlyModel : public QSortFilterProxyModel {
  Q_OBJECT
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  void SetFolder(const QModelIndex& sourceFolder);
  // Sorting is the file system model's own (folders first, sizes as numbers).
  void sort(int column, Qt::SortOrder order) override;

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

 private:
  QPersistentModelIndex FFolder;
};

class TShellFileList : public QTreeView {
  Q_OBJECT
 public:
  explicit TShellFileList(QWidget* parent = nullptr);
  // Shows the files (no folders) of a folder, sorted by name.
  void SetFolder(const QString& path);
  QString Folder() const;
  // The selected file's path; empty when none.
  QString SelectedPath() const;
  // Selects a file of the shown folder by name.
  bool SelectFile(const QString& name);

 private:
  QFileSystemModel* FModel;
  TFilesOnlyModel* FFiles;
};

// Mount points of the machine: "/", the home folder and removable media.
class TDriveCombo : public QComboBox {
  Q_OBJECT
 public:
  explicit TDriveCombo(QWidget* parent = nullptr);
  void Refresh();
};

}  // namespace fornax::app
