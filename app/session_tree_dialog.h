#pragma once
// TfrmTree: a session's folders and files as read from the disc, and the
// extraction of one file or of all the files of a folder.

#include <QDialog>

#include "app/prompter.h"

class QFrame;
class QLabel;
class QSplitter;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace fornax {
class TQzRecorder;
struct TDEntry;
struct TFEntry;
}

namespace fornax::app {

class TfrmTree : public QDialog {
  Q_OBJECT
 public:
  TfrmTree(TQzRecorder& recorder, TPrompter& prompter, QWidget* parent = nullptr);

  void FormShow();      // builds the tree from the compilation's root ("CDROOT")
  void tvdirClick();    // fills the grid for the selected folder
  void Extract1Click(); // extracts the current row's file
  // Extracts every file of the grid into a folder the user picks.
  void MsgClick();
  // The entry a grid row shows (null for the empty row).
  const TFEntry* RowEntry(int row) const;

  QTreeWidget* tvDir;
  QSplitter* Splitter1;
  QTableWidget* fl;
  QLabel* Msg;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TQzRecorder& FRecorder;
  TPrompter& FPrompter;
  bool FBuilt = false;
};

}  // namespace fornax::app
