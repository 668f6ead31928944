// The compilation layout dialog: the tree and grid of a compilation built
// from a local folder, removing folders and files from it, and the burn flow
// that shows it before the question, so that what is removed there is not on
// the disc.

#include <QAction>
#include <QDateTime>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <memory>

#include "app/layout_dialog.h"
#include "engine/image/entries.h"
#include "engine/recorder.h"
#include "gui_support.h"

namespace fornax::guitest {
namespace {

// Every node caption below `node`, as paths: "a", "a/b", ...
QStringList NodePaths(const QTreeWidgetItem* node, const QString& prefix = {}) {
  QStringList paths;
  for (int i = 0; i < node->childCount(); ++i) {
    const QString path = prefix + node->child(i)->text(0);
    paths.append(path);
    paths.append(NodePaths(node->child(i), path + "/"));
  }
  paths.sort();
  return paths;
}

// Folders (with the folder itself) and entries (files and folders, with the
// folder's own entry in its parent) below a local folder.
void CountBelow(const QString& folder, int& folders, int& entries) {
  folders = 1;
  entries = 1;
  QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    ++entries;
    if (it.nextFileInfo().isDir()) ++folders;
  }
}

}  // namespace

class LayoutDialogTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir FWork;
  QString FSource;
  TScriptedPrompter FPrompter;
  std::unique_ptr<TQzRecorder> FRecorder;
  std::unique_ptr<app::TfrmDiscLayout> FDialog;

  TQzRecorder& Rec() { return *FRecorder; }
  app::TfrmDiscLayout& Dialog() { return *FDialog; }
  QTreeWidgetItem* Root() { return Dialog().tvDir->topLevelItem(0); }

  void SelectRow(const QString& name) {
    const QStringList names = GridColumn(*Dialog().fl, 0);
    QVERIFY2(names.contains(name), qPrintable(name));
    Dialog().fl->setCurrentCell(static_cast<int>(names.indexOf(name)), 0);
  }

 private slots:
  void initTestCase() {
    FSource = FWork.filePath("src");
    WriteFile(FSource + "/top.txt", "ten bytes\n");
    QFile top(FSource + "/top.txt");
    QVERIFY(top.open(QIODevice::ReadWrite));
    QVERIFY(top.setFileTime(QDateTime(QDate(2004, 3, 7), QTime(13, 5, 9)), QFileDevice::FileModificationTime));
    top.close();
    for (const char* name : {"a/a1.txt", "a/a2.txt", "a/a3.txt", "a/b/b1.txt", "a/b/c/c1.txt", "lone/only.txt"})
      WriteFile(FSource + "/" + name, QByteArray(name));
  }

  void init() {
    FRecorder = std::make_unique<TQzRecorder>();
    Rec().ClearCompilation(600000, 20000);
    QVERIFY(Rec().AddDirectoryTree(Rec().RootDirectory(), (FSource + "/").toStdString(), "*.*", 63, true, false, false));
    FPrompter.Informed.clear();
    FDialog = std::make_unique<app::TfrmDiscLayout>(Rec(), FPrompter);
    Dialog().show();
    Dialog().activateWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&Dialog()));
  }

  void cleanup() {
    FDialog.reset();
    FRecorder.reset();
  }

  void theTreeAndTheGridShowTheCompilation() {
    QCOMPARE(Dialog().windowTitle(), QString("Remover archivos o directorios"));
    QCOMPARE(Dialog().tvDir->topLevelItemCount(), 1);
    QCOMPARE(Root()->text(0), QString("CDROOT"));
    QCOMPARE(Dialog().tvDir->currentItem(), Root());
    QCOMPARE(NodePaths(Root()), (QStringList{"a", "a/b", "a/b/c", "lone"}));
    QCOMPARE(Dialog().fl->horizontalHeaderItem(0)->text(), QString("Nombre archivo"));
    QCOMPARE(Dialog().fl->horizontalHeaderItem(1)->text(), QString("Tamaño archivo"));
    QCOMPARE(Dialog().fl->horizontalHeaderItem(2)->text(), QString("    Fecha & Hora "));
    QCOMPARE(Dialog().bClose->text(), QString("Cerrar"));
    QCOMPARE(Dialog().Delete1->text(), QString("Eliminar"));
    QCOMPARE(Dialog().Refresh1->shortcut(), QKeySequence(Qt::Key_F5));
    QCOMPARE(Dialog().MenuItem1->shortcut(), QKeySequence(Qt::Key_Delete));
    QCOMPARE(Dialog().MenuItem2->text(), QString("Refrescar"));

    // Rows follow the folder's entry order; each carries its entry.
    QStringList order;
    for (const TFEntry* e = Rec().RootDirectory()->FirstEntry; e; e = e->Next) order.append(QString::fromStdString(e->LongName));
    QCOMPARE(GridColumn(*Dialog().fl, 0), order);
    for (int row = 0; row < order.size(); ++row) {
      QCOMPARE(QString::fromStdString(Dialog().RowEntry(row)->LongName), order[row]);
      const bool folder = order[row] != "top.txt";
      QCOMPARE(Dialog().fl->item(row, 1)->text(), folder ? QString(" < DIR > ") : QString("%1").arg(10, 9));
      const QString date = Dialog().fl->item(row, 2) ? Dialog().fl->item(row, 2)->text() : QString();
      QCOMPARE(date, folder ? QString() : QString("03-07-2004 13:05:09"));
    }
  }

  void deletingAFolderRemovesItsWholeBranch() {
    int folders = 0, entries = 0;
    CountBelow(FSource + "/a", folders, entries);
    const int dirsBefore = Rec().DirectoryCount(), filesBefore = Rec().FileCount();
    Dialog().tvDir->setCurrentItem(ChildNamed(Root(), "a"));
    Dialog().tvDir->setFocus();
    QTest::keyClick(Dialog().tvDir, Qt::Key_Delete);
    QCOMPARE(Rec().DirectoryCount(), dirsBefore - folders);
    QCOMPARE(Rec().FileCount(), filesBefore - entries);
    QCOMPARE(Dialog().tvDir->currentItem(), Root());
    Dialog().fl->setFocus();
    QTest::keyClick(Dialog().fl, Qt::Key_F5);
    QCOMPARE(NodePaths(Root()), QStringList{"lone"});
    QVERIFY(!GridColumn(*Dialog().fl, 0).contains("a"));
    QVERIFY(!Rec().FindDirectory("\\A\\B"));
  }

  void deletingTheLastFileOfAFolderKeepsTheFolder() {
    Dialog().tvDir->setCurrentItem(ChildNamed(Root(), "lone"));
    QCOMPARE(GridColumn(*Dialog().fl, 0), QStringList{"only.txt"});
    const int dirsBefore = Rec().DirectoryCount(), filesBefore = Rec().FileCount();
    SelectRow("only.txt");
    Dialog().fl->setFocus();
    QTest::keyClick(Dialog().fl, Qt::Key_Delete);
    QCOMPARE(Rec().FileCount(), filesBefore - 1);
    QCOMPARE(Rec().DirectoryCount(), dirsBefore);
    QCOMPARE(Dialog().fl->rowCount(), 1);
    QCOMPARE(GridColumn(*Dialog().fl, 0), QStringList{""});
    QVERIFY(!Dialog().RowEntry(0));
    Dialog().Refresh1->trigger();
    QVERIFY(ChildNamed(Root(), "lone"));
    Dialog().tvDir->setCurrentItem(ChildNamed(Root(), "lone"));
    QCOMPARE(Dialog().fl->rowCount(), 1);
    // Delete on the empty row does nothing.
    Dialog().fl->setCurrentCell(0, 0);
    Dialog().MenuItem1Click();
    QCOMPARE(Rec().FileCount(), filesBefore - 1);
  }

  void eliminarOnTheRootChangesNothing() {
    const int dirsBefore = Rec().DirectoryCount(), filesBefore = Rec().FileCount();
    const QStringList nodes = NodePaths(Root());
    Dialog().tvDir->setCurrentItem(Root());
    Dialog().Delete1->trigger();
    QCOMPARE(Rec().DirectoryCount(), dirsBefore);
    QCOMPARE(Rec().FileCount(), filesBefore);
    QCOMPARE(NodePaths(Root()), nodes);
    QCOMPARE(Dialog().fl->rowCount(), 3);
  }

  void removingAFileThatIsNotTheFirstKeepsTheOthers() {
    Dialog().tvDir->setCurrentItem(ChildNamed(Root(), "a"));
    QStringList names = GridColumn(*Dialog().fl, 0);
    int victim = -1;
    for (int row = 1; row < names.size() && victim < 0; ++row)
      if (Dialog().fl->item(row, 1)->text() != " < DIR > ") victim = row;
    QVERIFY(victim > 0);
    const QString removed = names.takeAt(victim);
    Dialog().fl->setCurrentCell(victim, 0);
    Dialog().MenuItem1->trigger();
    QCOMPARE(GridColumn(*Dialog().fl, 0), names);
    QVERIFY(!Rec().FindEntry(Rec().FindDirectory("\\A"), removed.toStdString()));
    Dialog().Refresh1Click();
    QCOMPARE(NodePaths(Root()), (QStringList{"a", "a/b", "a/b/c", "lone"}));
    Dialog().tvDir->setCurrentItem(ChildNamed(Root(), "a"));
    QCOMPARE(GridColumn(*Dialog().fl, 0), names);
  }

  void aFolderRowIsNotRemovedFromTheGrid() {
    const int dirsBefore = Rec().DirectoryCount(), filesBefore = Rec().FileCount();
    SelectRow("a");
    Dialog().MenuItem1->trigger();
    QCOMPARE(FPrompter.Informed, QStringList{"Tu no puedes eliminar directorio, a es un directorio, use vista arbol para "
                                             "eliminar el directorio"});
    QCOMPARE(Rec().DirectoryCount(), dirsBefore);
    QCOMPARE(Rec().FileCount(), filesBefore);
    QVERIFY(GridColumn(*Dialog().fl, 0).contains("a"));
  }

  void cerrarOrEscapeClosesTheDialog() {
    QVERIFY(Dialog().isVisible());
    Dialog().bClose->click();
    QVERIFY(!Dialog().isVisible());
    QCOMPARE(Dialog().result(), int(QDialog::Rejected));
    Dialog().show();
    QTest::keyClick(Dialog().fl, Qt::Key_Escape);
    QVERIFY(!Dialog().isVisible());
  }

  void theBurnShowsTheLayoutFirstAndLeavesOutWhatWasRemoved() {
    FDialog.reset();
    TSimDrive drive;
    drive.Insert("cd-r");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    w.SetPathState(app::TPathState::Unchecked);
    w.Settings().ShowFiles = true;
    w.Settings().SessionNo = 0;
    w.clBox->AddRow(FSource + "/", 0, true);
    f.Prompter.AskAnswers = {true};
    int askedBeforeLayout = -1;
    f.Prompter.OnModal = [&](QDialog& shown) {
      auto& layout = static_cast<app::TfrmDiscLayout&>(shown);
      askedBeforeLayout = static_cast<int>(f.Prompter.Asked.size());
      const QStringList names = GridColumn(*layout.fl, 0);
      layout.fl->setCurrentCell(static_cast<int>(names.indexOf("top.txt")), 0);
      layout.MenuItem1Click();
      layout.tvDir->setCurrentItem(ChildNamed(ChildNamed(layout.tvDir->topLevelItem(0), "a"), "b"));
      layout.Delete1Click();
      return int(QDialog::Rejected);
    };
    w.bBurn->click();
    QCOMPARE(f.Prompter.ModalShown, QStringList{"frmDiscLayout"});
    QCOMPARE(askedBeforeLayout, 0);
    QCOMPARE(f.Prompter.Asked.size(), 1);
    QVERIFY(f.WaitForLog(">>> PROCESO QUEMADO FINALIZO"));
    QVERIFY(!f.Logged(">>> PROCESO QUEMADO FINALIZO CON ERROR"));
    const QString image = FWork.filePath("layout.iso");
    drive.Export(image);
    const QStringList files = FilesOn(image).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(files.size(), 4);
    for (const char* kept : {"/a/a1.txt", "/a/a2.txt", "/a/a3.txt", "/lone/only.txt"})
      QVERIFY2(files.filter(kept).size() == 1, kept);
    QVERIFY(files.filter("top.txt").isEmpty());
    QVERIFY(files.filter("/a/b").isEmpty());
  }
};

FORNAX_GUI_TEST(LayoutDialogTest)

}  // namespace fornax::guitest

#include "layout_dialog_test.moc"
