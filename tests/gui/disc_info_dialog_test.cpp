// The disc information dialog and the session tree against the simulated
// recorder: a CD-R burnt twice through the main window, also seen as a drive
// that only reads, then a blank CD-R and an empty tray. The expected rows
// come from the recorder's own account of its tracks, not from the engine's
// queries. Extraction never replaces a local file without the user's yes.

#include <dlfcn.h>

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
#include <cstring>

#include "app/disc_info_dialog.h"
#include "app/display_formats.h"
#include "app/session_tree_dialog.h"
#include "engine/drive/srb.h"
#include "engine/drive/transport.h"
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

// A session whose size the drive did not tell.
QString UnsizedSessionRow(int number, qint64 start) {
  return QString("  %1    %2      ? MB").arg(number, 3, 10, QChar('0')).arg(start, 8);
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

void ClickNode(QTreeWidget& tree, QTreeWidgetItem* node) {
  if (!node) QFAIL("no such node");
  tree.scrollToItem(node);
  const QRect caption = tree.visualItemRect(node);
  QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, QPoint(caption.left() + 4, caption.center().y()));
  QCOMPARE(tree.currentItem(), node);
}

// The simulated recorder seen as a drive that only reads (a CD-ROM or
// DVD-ROM drive): READ TRACK INFORMATION is refused as such drives refuse it
// (ILLEGAL REQUEST, invalid command operation code); every other command
// reaches the recorder. Back to the recorder itself when it goes.
class TReadOnlyView {
 public:
  TReadOnlyView() {
    FLibrary = ::dlopen(FORNAX_SIMDRIVE_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    if (!FLibrary) qFatal("the simulated recorder is not loaded");
    auto info = reinterpret_cast<GetASPI32SupportInfoFn>(::dlsym(FLibrary, "GetASPI32SupportInfo"));
    RecorderSend() = reinterpret_cast<SendASPI32CommandFn>(::dlsym(FLibrary, "SendASPI32Command"));
    if (!info || !RecorderSend()) qFatal("the simulated recorder has no transport entry points");
    InstallTransport(TransportName(), info, &Send);
  }
  ~TReadOnlyView() {
    ResetASPI();
    ::dlclose(FLibrary);
  }

 private:
  static SendASPI32CommandFn& RecorderSend() {
    static SendASPI32CommandFn send = nullptr;
    return send;
  }
  static uint32_t Send(void* request) {
    auto* srb = static_cast<SRB_ExecSCSICmd*>(request);
    if (srb->SRB_Cmd != SC_EXEC_SCSI_CMD || srb->CDBByte[0] != 0x52) return RecorderSend()(request);
    srb->SRB_Status = SS_ERR;
    srb->SRB_HaStat = HASTAT_OK;
    srb->SRB_TargStat = STATUS_CHKCOND;
    std::memset(srb->SenseArea, 0, sizeof srb->SenseArea);
    srb->SenseArea[0] = 0x70;
    srb->SenseArea[2] = 0x05;
    srb->SenseArea[7] = 0x0A;
    srb->SenseArea[12] = 0x20;
    return SS_ERR;
  }
  void* FLibrary = nullptr;
};

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
    for (int i = 1; i <= 7; ++i) WriteFile(FFirst + QString("/many/f%1.txt").arg(i), QString("file %1\n").arg(i).toUtf8());
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
    TScriptedPrompter& p = Prompter();
    p.Informed.clear();
    p.Asked.clear();
    p.AskAnswers.clear();
    p.InputTitles.clear();
    p.SaveAnswers.clear();
    p.SaveTitles.clear();
    p.SaveDefaults.clear();
    p.FolderAnswers.clear();
    p.FolderTitles.clear();
    p.FolderDefaults.clear();
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
      QCOMPARE(root->childCount(), 2);
      QVERIFY(ChildNamed(root, "many"));
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

  void aDoubleClickedFileIsSavedWhereTheSaveDialogSays() {
    const QString target = FWork.filePath("one/b copy.bin");
    QDir().mkpath(QFileInfo(target).absolutePath());
    const bool shown = ShowSessionTree(1, [&](app::TfrmTree& tree) {
      ClickNode(*tree.tvDir, ChildNamed(tree.tvDir->topLevelItem(0), "docs"));
      const int row = RowNamed(*tree.fl, "b.bin");
      QVERIFY(row >= 0);
      Prompter().SaveAnswers = {target};
      DoubleClickRow(*tree.fl, row);
      // A save dialog opening on the file's own name, not an input box.
      QCOMPARE(Prompter().SaveTitles, QStringList{"Extraer archivo"});
      QCOMPARE(Prompter().SaveDefaults.last(), QDir(QDir::homePath()).filePath("b.bin"));
      QVERIFY(Prompter().InputTitles.isEmpty());
      QVERIFY(Prompter().Asked.isEmpty());  // nothing there to replace
      QCOMPARE(Prompter().Informed, QStringList{"Archivos extraidos: 1"});
    });
    QVERIFY(shown);
    QCOMPARE(ReadFile(target), ReadFile(FFirst + "/docs/b.bin"));
  }

  void savingOverAnExistingFileAsksAndNoKeepsItsBytes() {
    const QString target = WriteFile(FWork.filePath("kept/b.bin"), "the user's own file\n");
    const bool shown = ShowSessionTree(1, [&](app::TfrmTree& tree) {
      ClickNode(*tree.tvDir, ChildNamed(tree.tvDir->topLevelItem(0), "docs"));
      Prompter().SaveAnswers = {target};
      Prompter().AskAnswers = {false};
      DoubleClickRow(*tree.fl, RowNamed(*tree.fl, "b.bin"));
      QCOMPARE(Prompter().Asked.size(), 1);
      QCOMPARE(Prompter().Asked[0].Caption, QString("¿Reemplazar el archivo que ya existe?"));
      QVERIFY(Prompter().Asked[0].Text.startsWith(target + " ya existe."));
      QVERIFY(Prompter().Asked[0].Warning);
      QCOMPARE(Prompter().Informed,
               QStringList{"Archivos extraidos: 0\nNo extraidos porque ya existen: 1\n    b.bin"});
    });
    QVERIFY(shown);
    QCOMPARE(ReadFile(target), QByteArray("the user's own file\n"));
  }

  void savingOverAnExistingFileAnsweredYesReplacesIt() {
    const QString target = WriteFile(FWork.filePath("replaced/b.bin"), "the user's own file\n");
    const bool shown = ShowSessionTree(1, [&](app::TfrmTree& tree) {
      ClickNode(*tree.tvDir, ChildNamed(tree.tvDir->topLevelItem(0), "docs"));
      Prompter().SaveAnswers = {target};
      Prompter().AskAnswers = {true};
      DoubleClickRow(*tree.fl, RowNamed(*tree.fl, "b.bin"));
      QCOMPARE(Prompter().Asked.size(), 1);
      QCOMPARE(Prompter().Informed, QStringList{"Archivos extraidos: 1"});
    });
    QVERIFY(shown);
    QCOMPARE(ReadFile(target), ReadFile(FFirst + "/docs/b.bin"));
  }

  void aFolderRowOrAFailedExtractionIsSaidAndTheTreeStays() {
    const bool shown = ShowSessionTree(1, [&](app::TfrmTree& tree) {
      DoubleClickRow(*tree.fl, RowNamed(*tree.fl, "docs"));
      QCOMPARE(Prompter().Informed, QStringList{"No puedes extraer directorio, docs es un directorio"});
      QVERIFY(Prompter().SaveTitles.isEmpty());

      Prompter().Informed.clear();
      Prompter().SaveAnswers = {FWork.filePath("no such folder/alpha.txt")};
      DoubleClickRow(*tree.fl, RowNamed(*tree.fl, "alpha.txt"));
      QCOMPARE(Prompter().Informed.size(), 1);
      QVERIFY2(Prompter().Informed[0].startsWith("Archivos extraidos: 0\nNo extraidos por error: 1\n"
                                                 "No se pudo extraer alpha.txt: "),
               qPrintable(Prompter().Informed[0]));
      QVERIFY(tree.isVisible());
      QVERIFY(!QFileInfo::exists(FWork.filePath("no such folder")));

      // A folder of that name is not a file to replace: no question, no change.
      Prompter().Informed.clear();
      QDir().mkpath(FWork.filePath("a folder/alpha.txt"));
      Prompter().SaveAnswers = {FWork.filePath("a folder/alpha.txt")};
      DoubleClickRow(*tree.fl, RowNamed(*tree.fl, "alpha.txt"));
      QVERIFY(Prompter().Asked.isEmpty());
      QCOMPARE(Prompter().Informed.size(), 1);
      QVERIFY2(Prompter().Informed[0].endsWith("No se pudo extraer alpha.txt: ya existe como carpeta"),
               qPrintable(Prompter().Informed[0]));
      QVERIFY(QFileInfo(FWork.filePath("a folder/alpha.txt")).isDir());
    });
    QVERIFY(shown);
  }

  void aClickOnTheStatusExtractsTheFolderIntoTheChosenOne() {
    const QString outside = FWork.filePath("all");
    const QString chosen = outside + "/chosen";
    QDir().mkpath(chosen);
    const bool shown = ShowSessionTree(1, [&](app::TfrmTree& tree) {
      ClickNode(*tree.tvDir, ChildNamed(tree.tvDir->topLevelItem(0), "docs"));
      Prompter().FolderAnswers = {chosen};
      QTest::mouseClick(tree.Msg, Qt::LeftButton);
      QCOMPARE(Prompter().FolderTitles, QStringList{"Extraer archivos"});
      QCOMPARE(Prompter().FolderDefaults.last(), QDir::homePath());
      QCOMPARE(tree.Msg->text(), "Extraendo " + LastFileRow(*tree.fl));
      QVERIFY(Prompter().Asked.isEmpty());
      QCOMPARE(Prompter().Informed, QStringList{"Archivos extraidos: 2"});
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
      QTest::mouseClick(tree.Msg, Qt::LeftButton);
      QCOMPARE(Prompter().Informed.size(), 1);
      QVERIFY(Prompter().Informed[0].startsWith("Archivos extraidos: 0\nNo extraidos por error: 2\n"));
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

  // Six of the seven files of "many" are there already: one question for
  // them all, naming a few; No extracts only the seventh, Yes all of them.
  void aFolderOverExistingFilesAsksOnce() {
    const QString chosen = FWork.filePath("existing");
    for (int i = 1; i <= 6; ++i) WriteFile(chosen + QString("/f%1.txt").arg(i), QString("mine %1\n").arg(i).toUtf8());
    const auto mine = [&](int i) {
      return ReadFile(chosen + QString("/f%1.txt").arg(i)) == QString("mine %1\n").arg(i).toUtf8();
    };
    const auto fromDisc = [&](int i) {
      return ReadFile(chosen + QString("/f%1.txt").arg(i)) == ReadFile(FFirst + QString("/many/f%1.txt").arg(i));
    };
    const bool shown = ShowSessionTree(1, [&](app::TfrmTree& tree) {
      ClickNode(*tree.tvDir, ChildNamed(tree.tvDir->topLevelItem(0), "many"));
      Prompter().FolderAnswers = {chosen, chosen};
      Prompter().AskAnswers = {false, true};
      QTest::mouseClick(tree.Msg, Qt::LeftButton);
      QCOMPARE(Prompter().Asked.size(), 1);
      QCOMPARE(Prompter().Asked[0].Caption, QString("¿Reemplazar los 6 archivos que ya existen?"));
      QVERIFY(Prompter().Asked[0].Warning);
      // The first five that exist, in the grid's order, and the count of the rest.
      QString names;
      for (const QString& row : GridColumn(*tree.fl, 0).mid(0, 6))
        if (row.mid(3) != "f7.txt" && names.count('\n') < 5) names += "\n    " + row.mid(3);
      names += "\n    ... y 1 mas";
      QCOMPARE(Prompter().Asked[0].Text, "En " + chosen + " ya existen 6 de los 7 archivos:" + names +
                                             "\n\nSi: se reemplazan por los del disco.\nNo: se extraen solo los "
                                             "archivos que aun no existen; los existentes no se tocan.");
      QCOMPARE(Prompter().Informed, QStringList{"Archivos extraidos: 1\nNo extraidos porque ya existen: 6" + names});
      for (int i = 1; i <= 6; ++i) QVERIFY2(mine(i), qPrintable(QString::number(i)));
      QVERIFY(fromDisc(7));

      QTest::mouseClick(tree.Msg, Qt::LeftButton);
      QCOMPARE(Prompter().Asked.size(), 2);
      QCOMPARE(Prompter().Asked[1].Caption, QString("¿Reemplazar los 7 archivos que ya existen?"));
      QCOMPARE(Prompter().Informed.last(), QString("Archivos extraidos: 7"));
      for (int i = 1; i <= 7; ++i) QVERIFY2(fromDisc(i), qPrintable(QString::number(i)));
    });
    QVERIFY(shown);
  }

  // A link of a file's name in the folder is not written through, even
  // answered Yes: the bytes would land outside the chosen folder.
  void aLinkInTheChosenFolderIsNotWrittenThrough() {
    const QString chosen = FWork.filePath("linked");
    const QString elsewhere = WriteFile(FWork.filePath("elsewhere.txt"), "not to be touched\n");
    QDir().mkpath(chosen);
    QVERIFY(QFile::link(elsewhere, chosen + "/a.txt"));
    const bool shown = ShowSessionTree(1, [&](app::TfrmTree& tree) {
      ClickNode(*tree.tvDir, ChildNamed(tree.tvDir->topLevelItem(0), "docs"));
      Prompter().FolderAnswers = {chosen};
      Prompter().AskAnswers = {true};
      QTest::mouseClick(tree.Msg, Qt::LeftButton);
      QVERIFY(Prompter().Asked.isEmpty());
      QCOMPARE(Prompter().Informed, QStringList{"Archivos extraidos: 1\nNo extraidos por error: 1\n"
                                                "No se pudo extraer a.txt: ya existe como enlace simbolico"});
    });
    QVERIFY(shown);
    QCOMPARE(ReadFile(elsewhere), QByteArray("not to be touched\n"));
    QCOMPARE(ReadFile(chosen + "/b.bin"), ReadFile(FFirst + "/docs/b.bin"));
  }

  // A drive that only reads refuses track information: the sessions come from
  // its table of contents, which tells where each one starts and where the
  // last one ends, and the files of a session are read all the same.
  void aDriveThatOnlyReadsShowsItsSessions() {
    const QList<TSimTrack> tracks = TracksOf(FDrive->Describe());
    QVERIFY(tracks.size() == 3 && !tracks[0].Blank && !tracks[1].Blank);
    TReadOnlyView readOnly;
    QStringList rows, files;
    Prompter().OnModal = [&](QDialog& shown) {
      if (auto* tree = qobject_cast<app::TfrmTree*>(&shown)) {
        files = GridColumn(*tree->fl, 0);
      } else if (auto* sessions = qobject_cast<app::TfrmSessions*>(&shown)) {
        rows = Rows(*sessions->lb);
        if (QListWidgetItem* second = sessions->lb->item(1))
          QTest::mouseClick(sessions->lb->viewport(), Qt::LeftButton, {}, sessions->lb->visualItemRect(second).center());
      }
      return int(QDialog::Rejected);
    };
    Window().bDisc->click();
    QCOMPARE(rows, (QStringList{UnsizedSessionRow(1, tracks[0].Start),
                                SessionRow(2, tracks[1].Start, tracks[1].Size)}));
    QCOMPARE(files, QStringList{" 1 beta.txt"});
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
