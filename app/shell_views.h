#pragma once
// The folder browser of the main window: a tree of folders (lbDir), a list of
// the files of its selected folder (lbFiles) and a list of the places a disc
// or drive is mounted (DriveCB). All start at "/".

#include <QComboBox>
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
  // the folder does not exist.
  bool Navigate(const QString& path, QString& error);

 signals:
  void FolderSelected(const QString& path);

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QFileSystemModel* FModel;
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
  void HideFolders();
  QFileSystemModel* FModel;
};

// Mount points of the machine: "/", the home folder and removable media.
class TDriveCombo : public QComboBox {
  Q_OBJECT
 public:
  explicit TDriveCombo(QWidget* parent = nullptr);
  void Refresh();
};

}  // namespace fornax::app
