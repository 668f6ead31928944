#include "app/shell_views.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QMouseEvent>
#include <QStorageInfo>

namespace fornax::app {

TShellFolderTree::TShellFolderTree(QWidget* parent) : QTreeView(parent), FModel(new QFileSystemModel(this)) {
  FModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
  FModel->setRootPath("/");
  setModel(FModel);
  for (int column = 1; column < FModel->columnCount(); ++column) hideColumn(column);
  header()->hide();
  setRootIndex(FModel->index("/").parent());
  setDragEnabled(true);
  setDragDropMode(QAbstractItemView::DragOnly);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { emit FolderSelected(FModel->filePath(current)); });
}

QString TShellFolderTree::SelectedPath() const {
  const QModelIndex current = currentIndex();
  return current.isValid() ? FModel->filePath(current) : QString();
}

bool TShellFolderTree::Navigate(const QString& path, QString& error) {
  const QFileInfo info(path);
  if (path.isEmpty() || !info.exists() || !info.isDir()) {
    error = tr("La ruta \"%1\" no existe o no es una carpeta.").arg(path);
    return false;
  }
  const QString absolute = info.absoluteFilePath();
  if (FPlace != "/" && !absolute.startsWith(FPlace + "/")) ShowPlace("/");
  const QModelIndex index = FModel->index(absolute);
  if (!index.isValid()) {
    error = tr("La ruta \"%1\" no se puede mostrar.").arg(path);
    return false;
  }
  for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) expand(up);
  setCurrentIndex(index);
  scrollTo(index);
  return true;
}

void TShellFolderTree::ShowPlace(const QString& place) {
  const QFileInfo info(place);
  FPlace = info.isDir() ? info.absoluteFilePath() : QString("/");
  setRootIndex(FPlace == "/" ? FModel->index("/").parent() : FModel->index(FPlace));
  setCurrentIndex(QModelIndex());
  emit FolderSelected(FPlace);
}

// A right click selects, as a left one does.
void TShellFolderTree::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid()) setCurrentIndex(index);
  }
  QTreeView::mousePressEvent(event);
}

void TFilesOnlyModel::SetFolder(const QModelIndex& sourceFolder) {
  FFolder = sourceFolder;
  invalidateFilter();
}

void TFilesOnlyModel::sort(int column, Qt::SortOrder order) { sourceModel()->sort(column, order); }

bool TFilesOnlyModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
  if (sourceParent != FFolder) return true;
  const auto* files = static_cast<const QFileSystemModel*>(sourceModel());
  return !files->isDir(files->index(sourceRow, 0, sourceParent));
}

TShellFileList::TShellFileList(QWidget* parent)
    : QTreeView(parent), FModel(new QFileSystemModel(this)), FFiles(new TFilesOnlyModel(this)) {
  // The model keeps folders on the way to a path it was asked about, whatever
  // its filter says; the proxy shows files only.
  FModel->setFilter(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
  FFiles->setSourceModel(FModel);
  FFiles->setDynamicSortFilter(true);
  setModel(FFiles);
  setRootIsDecorated(false);
  setSortingEnabled(true);
  sortByColumn(0, Qt::AscendingOrder);
  setDragEnabled(true);
  setDragDropMode(QAbstractItemView::DragOnly);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  header()->resizeSection(0, 220);
  SetFolder("/");
}

void TShellFileList::SetFolder(const QString& path) {
  const QModelIndex folder = FModel->setRootPath(path);
  FFiles->SetFolder(folder);
  setRootIndex(FFiles->mapFromSource(folder));
}

QString TShellFileList::Folder() const { return FModel->rootPath(); }

QString TShellFileList::SelectedPath() const {
  const QModelIndex current = currentIndex();
  return current.isValid() ? FModel->filePath(FFiles->mapToSource(current)) : QString();
}

bool TShellFileList::SelectFile(const QString& name) {
  const QModelIndex index = FFiles->mapFromSource(FModel->index(QDir(Folder()).filePath(name)));
  if (!index.isValid()) return false;
  setCurrentIndex(index);
  return true;
}

TDriveCombo::TDriveCombo(QWidget* parent) : QComboBox(parent) { Refresh(); }

void TDriveCombo::Refresh() {
  clear();
  addItem("/");
  addItem(QDir::homePath());
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    const QString root = volume.rootPath();
    if (root.startsWith("/media/") || root.startsWith("/mnt/") || root.startsWith("/run/media/")) addItem(root);
  }
}

}  // namespace fornax::app
