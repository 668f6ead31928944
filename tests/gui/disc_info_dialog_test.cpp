// The disc information dialog and the session tree against the simulated
// recorder: a CD-R burnt twice through the main window, then a blank CD-R and
// an empty tray. The expected rows come from the recorder's own account of
// its tracks, not from the engine's queries.

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMap>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>

#include "app/disc_info_dialog.h"
#include "app/display_formats.h"
#include "app/session_tree_dialog.h"
#include "engine/image/entries.h"
#include "gui_support.h"

namespace fornax::guitest {
namespace {

const QString kErrorRow = "     Error obteniendo informaciond e sesion";

struct TSimTrack {
  int Number = 0;
  qint64 Start = 0, Size = 0, Free = 0;
  bool Blank = false;
};

// "  track 2 (session 2): start 11400, 300 blocks, next writable ..., blank"
QList<TSimTrack> TracksOf(const QString& description) {
  static const QRegularExpression line(
      R"(track (\d+) \(session \d+\): start (\d+), (\d+) blocks(?:, next writable \d+, (\d+) free)?(.*))");
  QList<TSimTrack> tracks;
  for (const QString& text : description.split('\n')) {
    const QRegularExpressionMatch m = line.match(text);
    if (!m.hasMatch()) continue;
    tracks.append({m.captured(1).toInt(), m.captured(2).toLongLong(), m.captured(3).toLongLong(),
                   m.captured(4).toLongLong(), m.captured(5).contains("blank")});
  }
  return tracks;
}

QString Megabytes(qint64 sectors) {
  return QString::fromStdString(app::MegabytesText(static_cast<double>(sectors) * 2048.0));
}

QString SessionRow(int number, qint64 start, qint64 sectors) {
  return QString("  %1    %2   %3 MB").arg(number, 3, 10, QChar('0')).arg(start, 8).arg(qRound(sectors / 512.0), 4);
}

QStringList Rows(const QListWidget& list) {
  QStringList rows;
  for (int i = 0; i < list.count(); ++i) rows.append(list.item(i)->text());
  return rows;
}

int RowNamed(const QTableWidget& grid, const QString& name) {
  const QStringList names = GridColumn(grid, 0);
  for (int row = 0; row < names.size(); ++row)
    if (names[row].mid(3) == name) return row;
  return -1;
}

void DoubleClickRow(QTableWidget& grid, int row) {
  const QRect cell = grid.visualItemRect(grid.item(row, 0));
  QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
}

QStringList EverythingBelow(const QString& folder) {
  QStringList found;
  QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) found.append(QDir(folder).relativeFilePath(it.next()));
  found.sort();
  return found;
}

// What the grid shows for each item of a folder of the source: its name and
// its size text, " < DIR > " for a folder.
QMap<QString, QString> ExpectedGrid(const QString& folder) {
  QMap<QString, QString> rows;
  for (const QFileInfo& item : QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot))
    rows[item.fileName()] = item.isDir() ? " < DIR > " : QString("%1").arg(item.size(), 9);
  return rows;
}

// The grid's rows by name, after checking that they are numbered 1, 2, ...
// in two columns followed by one blank.
QMap<QString, QString> ShownGrid(const QTableWidget& grid) {
  QMap<QString, QString> rows;
  const QStringList names = GridColumn(grid, 0), sizes = GridColumn(grid, 1);
  for (int row = 0; row < names.size(); ++row) {
    const QString number = QString("%1 ").arg(row + 1, 2);
    if (!names[row].startsWith(number)) return {{"misnumbered row", names[row]}};
    rows[names[row].mid(3)] = sizes[row];
  }
  return rows;
}

// The name of the last file row of the grid.
QString LastFileRow(const QTableWidget& grid) {
  QString last;
  for (int row = 0; row < grid.rowCount(); ++row)
    if (grid.item(row, 1) && grid.item(row, 1)->text() != " < DIR > ") last = grid.item(row, 0)->text().mid(3);
  return last;
}

}  // namespace

class DiscInfoDialogTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir FWork;
  QString FFirst, FSecond;
  std::unique_ptr<TSimDrive> FDrive;
  std::unique_ptr<TMainFixture> FMain;
  // What a shown session tree is checked for, inside its modal showing.
  std::function<void(app::TfrmTree&)> FOnTree;

  TScriptedPrompter& Prompter() { return FMain->Prompter; }
  app::TfrmMain& Window() { return *FMain->Window; }

  bool Burn(const QString& folder) {
    Window().clBox->setRowCount(0);
    Window().clBox->AddRow(folder + "/", 0, true);
    Window().ClearAll1Click();
    Prompter().AskAnswers = {true};
    Window().bBurn->click();
    return FMain->WaitForLog(">>> PROCESO QUEMADO FINALIZO") &&
           !FMain->Logged(">>> PROCESO QUEMADO FINALIZO CON ERROR") && FMain->WaitIdle();
  }

  // The sessions dialog, filled from the drive and shown; a shown tree runs FOnTree.
  std::unique_ptr<app::TfrmSessions> OpenSessions() {
    auto dialog = std::make_unique<app::TfrmSessions>(Window().Recorder(), Prompter(), &Window());
    dialog->Fill();
    dialog->show();
    Prompter().OnModal = [this](QDialog& shown) {
      if (auto* tree = qobject_cast<app::TfrmTree*>(&shown); tree && FOnTree) FOnTree(*tree);
      return int(QDialog::Rejected);
    };
    return dialog;
  }

  // Opens the tree of a session by clicking its row; false when none showed.
  bool ShowSessionTree(int session, const std::function<void(app::TfrmTree&)>& check) {
    std::unique_ptr<app::TfrmSessions> dialog = OpenSessions();
    FOnTree = check;
    const int shownBefore = static_cast<int>(Prompter().ModalShown.count("frmTree"));
    QListWidgetItem* row = dialog->lb->item(session - 1);
    if (!row) return false;
    QTest::mouseClick(dialog->lb->viewport(), Qt::LeftButton, {}, dialog->lb->visualItemRect(row).center());
    FOnTree = nullptr;
    return Prompter().ModalShown.count("frmTree") == shownBefore + 1;
  }

 private slots:
  void initTestCase() {
    FFirst = FWork.filePath("first");
    WriteFile(FFirst + "/alpha.txt", "the first file of the first session\n");
    WriteFile(FFirst + "/docs/a.txt", QByteArray(3000, 'a'));
    QByteArray random(100000, '\0');
    QRandomGenerator generator(7);
    for (char& byte : random) byte = static_cast<char>(generator.bounded(256));
    WriteFile(FFirst + "/docs/b.bin", random);  // two reads of 31 and 18 sectors
    WriteFile(FFirst + "/docs/sub/c.txt", "below\n");
    FSecond = FWork.filePath("second");
    WriteFile(FSecond + "/beta.txt", "the second session\n");

    FDrive = std::make_unique<TSimDrive>();
    FDrive->Insert("cd-r");
    FMain = std::make_unique<TMainFixture>();
    Window().SetPathState(app::TPathState::Unchecked);
    Window().Settings().ShowFiles = false;
    Window().Settings().SessionNo = 0;
    QVERIFY(Burn(FFirst));
    QVERIFY(Burn(FSecond));
  }

  void cleanupTestCase() {
    FMain.reset();
    FDrive.reset();
  }

  void init() {
    Prompter().Informed.clear();
    Prompter().InputAnswers.clear();
    Prompter().InputTitles.clear();
  }

  void twoSessionsShowTheirRowsAndTheDiscLabels() {
    QStringList rows;
    QMap<QString, QString> labels;
    Prompter().OnModal = [&](QDialog& shown) {
      auto& dialog = static_cast<app::TfrmSessions&>(shown);
      rows = Rows(*dialog.lb);
      for (QLabel* label : {dialog.Label1, dialog.Label2, dialog.Label3, dialog.Label4, dialog.lMedium,
                            dialog.lDiscSize, dialog.lUsedSpace, dialog.lFreeSpace})
        labels[label->objectName()] = label->text();
      labels["title"] = dialog.windowTitle();
      labels["header"] = dialog.Panel2->findChild<QLabel*>()->text();
      labels["button"] = dialog.SpeedButton1->text();
      return int(QDialog::Rejected);
    };
    Window().bDisc->click();
    QCOMPARE(Prompter().ModalShown.last(), QString("frmSessions"));

    const QList<TSimTrack> tracks = TracksOf(FDrive->Describe());
    QStringList expected;
    for (const TSimTrack& track : tracks)
      if (!track.Blank) expected.append(SessionRow(track.Number, track.Start, track.Size));
    QCOMPARE(expected.size(), 2);
    QCOMPARE(rows, expected);
    QVERIFY(rows[0].startsWith("  001           0   "));  // the first session starts at sector 0

    QVERIFY(!tracks.isEmpty() && tracks.last().Blank);
    const TSimTrack& open = tracks.last();
    QCOMPARE(labels["title"], QString("Informacion Disco & Sesiones"));
    QCOMPARE(labels["header"], QString(" Numero     Inicio     Tamaño"));
    QCOMPARE(labels["button"], QString("Mostrar Archivos"));
    QCOMPARE(labels["Label1"], QString("Medio  :"));
    QCOMPARE(labels["Label2"], QString("Tamaño disco  :"));
    QCOMPARE(labels["Label3"], QString("Espacio usado  :"));
    QCOMPARE(labels["Label4"], QString("Espacio libre  :"));
    QCOMPARE(labels["lMedium"], QString("CD-R"));
    QCOMPARE(labels["lUsedSpace"], Megabytes(open.Start) + ",  Sesiones : 2");
    QCOMPARE(labels["lFreeSpace"], "Disco esta Abierto, " + Megabytes(std::max(open.Free, open.Size)));
    QVERIFY(QRegularExpression(R"(^[1-9][\d,]*\.\d\d MB$)").match(labels["lDiscSize"]).hasMatch());
  }

  void showingFilesWithoutAChosenSessionAsksForOne() {
    std::unique_ptr<app::TfrmSessions> dialog = OpenSessions();
    const int shown = static_cast<int>(Prompter().ModalShown.size());
    dialog->SpeedButton1->click();
    QCOMPARE(Prompter().Informed, QStringList{"Seleccione sesion de la lista"});
    QCOMPARE(Prompter().ModalShown.size(), shown);
  }

  void enterEscapeAndADoubleClickCloseTheDialog() {
    std::unique_ptr<app::TfrmSessions> dialog = OpenSessions();
    QTest::keyClick(dialog->lb, Qt::Key_Return);
    QVERIFY(!dialog->isVisible());
    dialog = OpenSessions();
    QTest::keyClick(dialog->lb, Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
    dialog = OpenSessions();
    // A double click begins as a click, which opens the session's files first.
    const QPoint row = dialog->lb->visualItemRect(dialog->lb->item(1)).center();
    QTest::mouseClick(dialog->lb->viewport(), Qt::LeftButton, {}, row);
    QVERIFY(dialog->isVisible());
    QTest::mouseDClick(dialog->lb->viewport(), Qt::LeftButton, {}, row);
    QVERIFY(!dialog->isVisible());
  }

  void theFirstSessionShowsItsFoldersAndFiles() {
    const bool shown = ShowSessionTree(1, [&](app::TfrmTree& tree) {
      QCOMPARE(tree.windowTitle(),
               QString("Visor de Archivos, Directorios y Estractor (Doble Click sobre un archivo para extraer)"));
      QCOMPARE(tree.tvDir->topLevelItemCount(), 1);
      QTreeWidgetItem* root = tree.tvDir->topLevelItem(0);
      QCOMPARE(root->text(0), QString("CDROOT"));
      QCOMPARE(tree.tvDir->currentItem(), root);
      QCOMPARE(root->childCount(), 1);
      QTreeWidgetItem* docs = ChildNamed(root, "docs");
      QVERIFY(docs && docs->childCount() == 1 && ChildNamed(docs, "sub"));
      QCOMPARE(tree.fl->horizontalHeaderItem(0)->text(), QString("Nombre archivo"));
      QCOMPARE(tree.fl->horizontalHeaderItem(1)->text(), QString("Tamaño"));
      QCOMPARE(ShownGrid(*tree.fl), ExpectedGrid(FFirst));
      tree.tvDir->setCurrentItem(docs);
      QCOMPARE(ShownGrid(*tree.fl), ExpectedGrid(FFirst + "/docs"));
      for (int row = 0; row < tree.fl->rowCount(); ++row)
        QCOMPARE(" " + QString::fromStdString(tree.RowEntry(row)->LongName), tree.fl->item(row, 0)->text().mid(2));
    });
    QVERIFY(shown);
  }

  void theSecondSessionShowsOnlyItsOwnFiles() {
    const bool shown = ShowSessionTree(2, [&](app::TfrmTree& tree) {
      QCOMPARE(tree.tvDir->topLevelItem(0)->childCount(), 0);
      QCOMPARE(GridColumn(*tree.fl, 0), QStringList{" 1 beta.txt"});
      QCOMPARE(GridColumn(*tree.fl, 1), QStringList{QString("%1").arg(QFileInfo(FSecond + "/beta.txt").size(), 9)});
    });
    QVERIFY(shown);
  }

  void aDoubleClickedFileIsExtractedWhole() {
    const QString target = FWork.filePath("one/b copy.bin");
    QDir().mkpath(QFileInfo(target).absolutePath());
    const bool shown = ShowSessionTree(1, [&](app::TfrmTree& tree) {
      tree.tvDir->setCurrentItem(ChildNamed(tree.tvDir->topLevelItem(0), "docs"));
      const int row = RowNamed(*tree.fl, "b.bin");
      QVERIFY(row >= 0);
      Prompter().InputAnswers = {target};
      DoubleClickRow(*tree.fl, row);
      QCOMPARE(Prompter().InputTitles, QStringList{"Extraer archivo"});
      QCOMPARE(Prompter().InputPrompts.last(), QString("Ingrese el nombre de archivo y ruta"));
      QCOMPARE(Prompter().InputDefaults.last(), QString("b.bin"));
      QVERIFY(Prompter().Informed.isEmpty());
    });
    QVERIFY(shown);
    QCOMPARE(ReadFile(target), ReadFile(FFirst + "/docs/b.bin"));
  }

  void aFolderRowOrAFailedExtractionIsSaidAndTheTreeStays() {
    const bool shown = ShowSessionTree(1, [&](app::TfrmTree& tree) {
      DoubleClickRow(*tree.fl, RowNamed(*tree.fl, "docs"));
      QCOMPARE(Prompter().Informed, QStringList{"No puedes extraer directorio, docs es un directorio"});
      QVERIFY(Prompter().InputTitles.isEmpty());

      Prompter().Informed.clear();
      Prompter().InputAnswers = {FWork.filePath("no such folder/alpha.txt")};
      DoubleClickRow(*tree.fl, RowNamed(*tree.fl, "alpha.txt"));
      QCOMPARE(Prompter().Informed.size(), 1);
      QVERIFY2(Prompter().Informed[0].startsWith("No se pudo extraer alpha.txt: "), qPrintable(Prompter().Informed[0]));
      QVERIFY(tree.isVisible());
      QVERIFY(!QFileInfo::exists(FWork.filePath("no such folder")));
    });
    QVERIFY(shown);
  }

  void aClickOnTheStatusExtractsTheFolderIntoTheChosenOne() {
    const QString outside = FWork.filePath("all");
    const QString chosen = outside + "/chosen";
    QDir().mkpath(chosen);
    const bool shown = ShowSessionTree(1, [&](app::TfrmTree& tree) {
      tree.tvDir->setCurrentItem(ChildNamed(tree.tvDir->topLevelItem(0), "docs"));
      Prompter().FolderAnswers = {chosen};
      QTest::mouseClick(tree.Msg, Qt::LeftButton);
      QCOMPARE(Prompter().FolderTitles, QStringList{"Extraer archivos"});
      QCOMPARE(Prompter().FolderDefaults.last(), QDir::homePath());
      QCOMPARE(tree.Msg->text(), "Extraendo " + LastFileRow(*tree.fl));
      QVERIFY(Prompter().Informed.isEmpty());
    });
    QVERIFY(shown);
    QCOMPARE(EverythingBelow(outside), (QStringList{"chosen", "chosen/a.txt", "chosen/b.bin"}));
    QCOMPARE(ReadFile(chosen + "/a.txt"), ReadFile(FFirst + "/docs/a.txt"));
    QCOMPARE(ReadFile(chosen + "/b.bin"), ReadFile(FFirst + "/docs/b.bin"));
  }

  void namesThatWouldLeaveTheChosenFolderAreRefused() {
    const QString outside = FWork.filePath("guarded");
    const QString chosen = outside + "/chosen";
    QDir().mkpath(chosen);
    const bool shown = ShowSessionTree(1, [&](app::TfrmTree& tree) {
      tree.tvDir->setCurrentItem(ChildNamed(tree.tvDir->topLevelItem(0), "docs"));
      // A disc could carry such names if a reader let them through.
      const_cast<TFEntry*>(tree.RowEntry(RowNamed(*tree.fl, "a.txt")))->LongName = "../escaped.txt";
      const_cast<TFEntry*>(tree.RowEntry(RowNamed(*tree.fl, "b.bin")))->LongName = "..";
      Prompter().FolderAnswers = {chosen};
      tree.MsgClick();
      QCOMPARE(Prompter().Informed.size(), 1);
      QVERIFY(Prompter().Informed[0].contains("../escaped.txt"));
      QVERIFY(Prompter().Informed[0].contains("No se pudo extraer ..: "));
    });
    QVERIFY(shown);
    QCOMPARE(EverythingBelow(outside), QStringList{"chosen"});
    QVERIFY(!QFileInfo::exists(FWork.filePath("escaped.txt")));
  }

  void aFolderThatDoesNotExistOrACancelExtractsNothing() {
    const bool shown = ShowSessionTree(1, [&](app::TfrmTree& tree) {
      tree.tvDir->setCurrentItem(ChildNamed(tree.tvDir->topLevelItem(0), "docs"));
      Prompter().FolderAnswers = {std::nullopt, FWork.filePath("missing")};
      tree.MsgClick();
      QVERIFY(Prompter().Informed.isEmpty());
      tree.MsgClick();
      QCOMPARE(Prompter().Informed, QStringList{"La carpeta \"" + FWork.filePath("missing") + "\" no existe"});
      QCOMPARE(tree.Msg->text(), QString());
    });
    QVERIFY(shown);
    QVERIFY(!QFileInfo::exists(FWork.filePath("missing")));
  }

  // The two cases below change the disc: they come last.
  void aBlankDiscShowsNoRowsButItsSpace() {
    FDrive->Insert("cd-r");
    std::unique_ptr<app::TfrmSessions> dialog = OpenSessions();
    QCOMPARE(dialog->lb->count(), 0);
    const QList<TSimTrack> tracks = TracksOf(FDrive->Describe());
    QVERIFY(tracks.size() == 1 && tracks[0].Blank);
    QCOMPARE(dialog->lMedium->text(), QString("CD-R"));
    QCOMPARE(dialog->lUsedSpace->text(), QString("0.00 MB,  Sesiones : 0"));
    QCOMPARE(dialog->lFreeSpace->text(), "Disco esta Abierto, " + Megabytes(std::max(tracks[0].Free, tracks[0].Size)));
    QVERIFY(QRegularExpression(R"(^[1-9][\d,]*\.\d\d MB$)").match(dialog->lDiscSize->text()).hasMatch());
  }

  void anEmptyTrayShowsTheErrorRowAndOpensNothing() {
    QCOMPARE(FDrive->Call("fornax_sim_remove"), 0);
    const int shown = static_cast<int>(Prompter().ModalShown.size());
    QStringList rows;
    QString used;
    Prompter().OnModal = [&](QDialog& dialog) {
      auto& sessions = static_cast<app::TfrmSessions&>(dialog);
      rows = Rows(*sessions.lb);
      used = sessions.lUsedSpace->text();
      sessions.lb->setCurrentRow(0);
      sessions.SpeedButton1Click();  // the error row names no session
      return int(QDialog::Rejected);
    };
    Window().bDisc->click();
    QCOMPARE(rows, QStringList{kErrorRow});
    QCOMPARE(used, QString());
    QCOMPARE(Prompter().ModalShown.mid(shown), QStringList{"frmSessions"});
    QVERIFY(Prompter().Informed.isEmpty());
  }
};

FORNAX_GUI_TEST(DiscInfoDialogTest)

}  // namespace fornax::guitest

#include "disc_info_dialog_test.moc"
