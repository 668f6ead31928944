#pragma once
// TfrmDiscLayout: "Remover archivos o directorios", the compilation's folder
// tree before a burn, from which files and whole folders are removed.

#include <QDialog>

#include "app/prompter.h"

class QAction;
class QFrame;
class QMenu;
class QPushButton;
class QSplitter;
class QTableWidget;
class QTreeWidget;

namespace fornax {
class TQzRecorder;
struct TFEntry;
}

namespace fornax::app {

class TfrmDiscLayout : public QDialog {
  Q_OBJECT
 public:
  TfrmDiscLayout(TQzRecorder& recorder, TPrompter& prompter, QWidget* parent = nullptr);

  void FormShow();       // builds the tree ("CDROOT") and fills the grid
  void tvdirClick();     // fills the grid for the selected folder
  void Button1Click();   // rebuilds the tree
  void Refresh1Click();  // both "Refrescar"
  void Delete1Click();   // the tree's "Eliminar": the selected folder and all below it
  void MenuItem1Click(); // the grid's "Eliminar": the current row's file
  const TFEntry* RowEntry(int row) const;

  QTreeWidget* tvDir;
  QSplitter* Splitter1;
  QTableWidget* fl;
  QFrame* Panel2;
  QPushButton* bClose;
  QMenu *PopupMenu1, *PopupMenu2;
  QAction *Delete1, *Refresh1, *MenuItem1, *MenuItem2;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TQzRecorder& FRecorder;
  TPrompter& FPrompter;
  bool FBuilt = false;
};

}  // namespace fornax::app
