#pragma once
// TfrmTree: a session's folders and files as read from the disc, and the
// extraction of one file or of all the files of a folder. A local file is
// never replaced without the user's yes.

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

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
  // Extracts the current row's file where the user saves it.
  void Extract1Click();
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
  // A file of the disc and the local path it is to be extracted to.
  struct TTarget {
    const TFEntry* Entry = nullptr;
    QString Path;
    bool Exists = false;  // a local file of that path is there already
  };
  // What an extraction did, said to the user at its end.
  struct TOutcome {
    int Extracted = 0;
    QStringList Skipped;   // names of files left alone because they exist
    QStringList Failures;  // one line per file that could not be extracted
  };

  // Asks once before replacing the existing files among `targets` (all of
  // them going into `folder`); without a yes they are skipped.
  void KeepExisting(QList<TTarget>& targets, const QString& folder, TOutcome& outcome);
  void ExtractTargets(const QList<TTarget>& targets, TOutcome& outcome);

  TQzRecorder& FRecorder;
  TPrompter& FPrompter;
  bool FBuilt = false;
};

}  // namespace fornax::app
