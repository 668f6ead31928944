// The main window: start-up, the compilation list and its feeding in each
// "Guardar ruta" state, the filters, "Crear ISO", drops, the log keys.

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "app/compilation_list.h"
#include "gui_support.h"

namespace fornax::guitest {
namespace {

// path -> size of every file of the compilation, "path/" for folders.
void Walk(const TDEntry* dir, const QString& prefix, QMap<QString, qint64>& out) {
  for (const TFEntry* e = dir->FirstEntry; e; e = e->Next) {
    const QString name = prefix + QString::fromStdString(e->LongName);
    if (e->IsDirectory()) {
      out[name + "/"] = 0;
      Walk(e->Directory, name + "/", out);
    } else {
      out[name] = e->ISOSize;
    }
  }
}

QMap<QString, qint64> Tree(TQzRecorder& rec) {
  QMap<QString, qint64> out;
  Walk(rec.RootDirectory(), "", out);
  return out;
}

// A command's exit status and standard output.
QPair<int, QString> Run(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  if (!process.waitForFinished(120000)) return {-1, "timed out"};
  return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput())};
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir FWork;
  QString FSource;  // <work>/src: A/a.txt, A/sub/b.txt, single.txt

  QString Path(const QString& relative) const { return FWork.filePath(relative); }

 private slots:
  void initTestCase() {
    FSource = Path("src");
    WriteFile(FSource + "/A/a.txt", "alpha\n");
    WriteFile(FSource + "/A/sub/b.txt", "beta\n");
    WriteFile(FSource + "/single.txt", "one\n");
  }

  void startUpListsTheSimulatedRecorderAndLogsItsCaption() {
    TSimDrive drive;
    drive.Insert("cd-rw");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    QCOMPARE(w.windowTitle(), QString("Fornax v1.4.2"));
    QVERIFY(f.Logged("Fornax v1.4.2"));
    QCOMPARE(w.cbDrives->count(), 1);
    QVERIFY(w.cbDrives->currentText().contains("VIRTUAL"));
    QCOMPARE(w.cbDrives->toolTip(), w.cbDrives->currentText());
    QCOMPARE(w.lDrive->text(), QString("  Unidad :"));
    QVERIFY(w.bBurn->isEnabled());
    QVERIFY(w.pTop->isEnabled());
    QVERIFY(!w.bAbort->isVisible());
    QVERIFY(!w.Timer1->isActive());
    QCOMPARE(w.cbSpeed->itemText(0), QString("Max"));
    QCOMPARE(w.lSize->text(), QString("Tamaño"));
    QCOMPARE(w.pHBuf->Max(), 0);
    QVERIFY2(w.pHBuf->maximum() > w.pHBuf->minimum(), "an empty bar, not a busy one");
    // The log ends with a blank line: the start-up has run to its end.
    QCOMPARE(w.LogText().split('\n').last(), QString(" "));
  }

  void eachPathStateGivesItsTree() {
    TSimDrive drive;
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    TQzRecorder& rec = w.Recorder();
    const QString folder = FSource + "/A/", file = FSource + "/single.txt";
    w.clBox->AddRow(folder, 0, true);
    w.clBox->AddRow(file, 0, false);

    w.SetPathState(app::TPathState::Unchecked);
    rec.ClearCompilation(600000, 20000);
    w.FeedCompilation();
    QCOMPARE(Tree(rec), (QMap<QString, qint64>{{"a.txt", 6}, {"sub/", 0}, {"sub/b.txt", 5}, {"single.txt", 4}}));

    // A folder whose tick is cleared gives only its own files.
    w.clBox->item(0, 0)->setCheckState(Qt::Unchecked);
    rec.ClearCompilation(600000, 20000);
    w.FeedCompilation();
    QCOMPARE(Tree(rec), (QMap<QString, qint64>{{"a.txt", 6}, {"single.txt", 4}}));
    w.clBox->item(0, 0)->setCheckState(Qt::Checked);

    // Grayed: the last folder of each source (a file's own folder).
    w.SetPathState(app::TPathState::Grayed);
    rec.ClearCompilation(600000, 20000);
    w.FeedCompilation();
    QCOMPARE(Tree(rec), (QMap<QString, qint64>{{"A/", 0}, {"A/a.txt", 6}, {"A/sub/", 0}, {"A/sub/b.txt", 5},
                                               {"src/", 0}, {"src/single.txt", 4}}));

    // Ticked: the whole source path, without the leading "/".
    w.SetPathState(app::TPathState::Checked);
    rec.ClearCompilation(600000, 20000);
    w.FeedCompilation();
    const QString base = QDir::cleanPath(FSource).mid(1);
    const QMap<QString, qint64> tree = Tree(rec);
    QCOMPARE(tree.value(base + "/A/a.txt", -1), 6);
    QCOMPARE(tree.value(base + "/A/sub/b.txt", -1), 5);
    QCOMPARE(tree.value(base + "/single.txt", -1), 4);
    QVERIFY(!tree.contains("a.txt"));
  }

  void filtersSkipDocFilesRecycleBinsAndLongNames() {
    TSimDrive drive;
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    const QString root = Path("filters");
    const QString longFile = QString(104, 'n') + ".txt";  // 108 characters
    const QString longFolder = QString(128, 'd');
    WriteFile(root + "/letter.doc", "doc");
    WriteFile(root + "/LETTER2.DOC", "DOC");
    WriteFile(root + "/RECYCLED/gone.txt", "gone");
    WriteFile(root + "/Recycled/also gone.txt", "gone");
    WriteFile(root + "/" + longFile, "long");
    WriteFile(root + "/" + longFolder + "/inside.txt", "inside");
    WriteFile(root + "/kept.txt", "kept");
    w.clBox->AddRow(root + "/", 0, true);
    w.SetPathState(app::TPathState::Unchecked);
    w.Recorder().ClearCompilation(600000, 20000);
    w.FeedCompilation();
    QCOMPARE(Tree(w.Recorder()), (QMap<QString, qint64>{{"LETTER2.DOC", 3}, {"kept.txt", 4}}));
    QVERIFY(f.Logged(">>> SKIPING RECYCLE BIN"));
    QVERIFY(f.Logged(">>> SKIPING; NOMBRE ARCHIVO MAYOR DE 107 " + root + "/" + longFile));
    QVERIFY(f.Logged(">>> SKIPING ARCHIVOS CON NOMBRES INVALIDOS (LENGTH OF FILE NAME MUST BE LESS THAN 64)"));
    QVERIFY(f.Logged("     " + longFolder));
    QVERIFY2(!w.LogText().contains("letter.doc"), "a .doc file goes without a word");
    QCOMPARE(w.lSize->text(), QString("0.00 MB"));  // the label trails by one file
  }

  void anEmptyListSaysSoAndBuildsNothing() {
    TSimDrive drive;
    TMainFixture f;
    f.Prompter.SaveAnswers = {Path("empty.iso")};
    f.Window->bSaveISO->click();
    QCOMPARE(f.Prompter.Informed, QStringList{"Almenos un archivo/directorio deberia ser seleccionado."});
    QVERIFY(!QFile::exists(Path("empty.iso")));
    QVERIFY2(f.Window->Timer1->isActive(), "the timer runs on until the next completion");
    QVERIFY(f.Window->pTop->isEnabled());
  }

  void crearIsoQuickAndThreadedWritesImagesOtherReadersAccept() {
    TSimDrive drive;
    for (const bool quick : {true, false}) {
      TMainFixture f;
      app::TfrmMain& w = *f.Window;
      w.Settings().QuickSaveISO = quick;
      w.SetPathState(app::TPathState::Grayed);
      w.clBox->AddRow(FSource + "/A/", 0, true);
      w.clBox->AddRow(FSource + "/single.txt", 0, true);
      const QString image = Path(quick ? "quick.iso" : "threaded.iso");
      f.Prompter.SaveAnswers = {image};
      w.bSaveISOClick();
      QCOMPARE(f.Prompter.SaveTitles.value(0), QString("Contruir ISO"));
      QVERIFY(f.WaitForLog(">>> PROCESO QUEMADO FINALIZO"));
      QVERIFY(f.Logged(">>> AGREGAR ARCHIVOS/DIRECTORIOS AL ISO FINALIZO"));
      QVERIFY(f.Logged(">>> INICIO CONSTRUCCION ARCHIVO ISO"));
      QVERIFY(!f.Logged(">>> PROCESO QUEMADO FINALIZO CON ERROR"));
      QVERIFY(w.pTop->isEnabled() && w.bSaveISO->isEnabled() && !w.Timer1->isActive());
      QCOMPARE(f.Prompter.Beeps, 1);
      QCOMPARE(w.Recorder().FileCount(), 0);  // the compilation is emptied after the write

      const auto [xcode, xout] = Run("xorriso", {"-indev", image, "-find", "/", "-type", "f"});
      QCOMPARE(xcode, 0);
      for (const char* name : {"/A/a.txt", "/A/sub/b.txt", "/src/single.txt"}) QVERIFY2(xout.contains(name), name);
      const auto [zcode, zout] = Run("7z", {"e", "-so", image, "A/sub/b.txt"});
      QCOMPARE(zcode, 0);
      QCOMPARE(zout, QString("beta\n"));
      const auto [pcode, pout] = Run("/usr/bin/python3",
                                     {"-c",
                                      "import pycdlib,sys,io\n"
                                      "p=pycdlib.PyCdlib(); p.open(sys.argv[1]); b=io.BytesIO()\n"
                                      "p.get_file_from_iso_fp(b, joliet_path='/src/single.txt;1')\n"
                                      "print(b.getvalue().decode(), end='')",
                                      image});
      QCOMPARE(pcode, 0);
      QCOMPARE(pout, QString("one\n"));
    }
  }

  void anExistingFileIsReplacedOnlyWhenTheUserSaysSo() {
    TSimDrive drive;
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    const QString image = WriteFile(Path("keep/existing.iso"), "precious");
    w.clBox->AddRow(FSource + "/single.txt", 0, true);
    f.Prompter.SaveAnswers = {image};
    f.Prompter.AskAnswers = {false};
    w.bSaveISOClick();
    QCOMPARE(ReadFile(image), QByteArray("precious"));
    QVERIFY(!w.Timer1->isActive());
    QCOMPARE(f.Prompter.Asked.size(), 1);

    // Said yes, and the image's folder is one of the sources: the old image
    // is not read into the new one.
    w.clBox->AddRow(Path("keep") + "/", 0, true);
    w.SetPathState(app::TPathState::Unchecked);
    f.Prompter.SaveAnswers = {image};
    f.Prompter.AskAnswers = {true};
    w.bSaveISOClick();
    QVERIFY(f.WaitForLog(">>> PROCESO QUEMADO FINALIZO"));
    QVERIFY(f.Logged(">>> SKIPING; ES EL ARCHIVO ISO EN CONSTRUCCION " + image));
    const auto [code, out] = Run("xorriso", {"-indev", image, "-find", "/", "-type", "f"});
    QCOMPARE(code, 0);
    QVERIFY(out.contains("/single.txt"));
    QVERIFY(!out.contains("existing.iso"));
  }

  void anImageThatCannotBeWrittenEndsWithItsErrorAndFreesTheWindow() {
    TSimDrive drive;
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    w.Settings().QuickSaveISO = true;
    w.clBox->AddRow(FSource + "/single.txt", 0, true);
    f.Prompter.SaveAnswers = {Path("no such folder/x.iso")};
    w.bSaveISOClick();
    QVERIFY(f.WaitForLog(">>> PROCESO QUEMADO FINALIZO CON ERROR"));
    QVERIFY(w.pTop->isEnabled() && w.bSaveISO->isEnabled() && w.DriveCB->isEnabled());
    QVERIFY(!w.Timer1->isActive());
  }

  void dropsFromTheDesktopAndDragsFromTheBrowserAddRows() {
    TSimDrive drive;
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    // Three files and a folder from another program, in its order.
    const QStringList names{FSource + "/single.txt", FSource + "/A", FSource + "/A/a.txt", FSource + "/A/sub/b.txt"};
    DropFromDesktop(w.clBox->viewport(), names);
    const QVector<app::TCompilationRow> rows = w.clBox->Rows();
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows[0].Path, names[0]);
    QCOMPARE(rows[1].Path, FSource + "/A/");
    QVERIFY(!rows[0].Ticked && rows[1].Ticked && !rows[2].Ticked);
    // The folder's bytes, counted off the window's thread.
    QVERIFY(QTest::qWaitFor([&] { return w.clBox->item(1, 2)->text() == "11"; }, 10000));
    QCOMPARE(w.ExplorerDragDrop->Items(), names);

    // The same drop on another control adds nothing.
    DropFromDesktop(w.Memo1->viewport(), names);
    QCOMPARE(w.clBox->rowCount(), 4);

    // From the folder tree and the file list: the selected item, ticked.
    QString error;
    QVERIFY(w.lbDir->Navigate(FSource + "/A", error));
    w.clBoxDragDrop(w.lbDir);
    QCOMPARE(w.clBox->Rows().last().Path, FSource + "/A/");
    w.lbFiles->SetFolder(FSource);
    QVERIFY(QTest::qWaitFor([&] { return w.lbFiles->SelectFile("single.txt"); }, 5000));
    // The file list shows files only, never the folder A beside them.
    const QAbstractItemModel* files = w.lbFiles->model();
    QVERIFY(QTest::qWaitFor([&] { return files->rowCount(w.lbFiles->rootIndex()) == 1; }, 5000));
    QCOMPARE(files->index(0, 0, w.lbFiles->rootIndex()).data().toString(), QString("single.txt"));
    w.clBoxDragDrop(w.lbFiles);
    QCOMPARE(w.clBox->Rows().last().Path, FSource + "/single.txt");
    QVERIFY(w.clBox->Rows().last().Ticked);

    // Removing and clearing.
    w.clBox->selectRow(0);
    w.Remove1->trigger();
    QCOMPARE(w.clBox->Rows().first().Path, FSource + "/A/");
    w.bClear->click();
    QCOMPARE(w.clBox->rowCount(), 0);
  }

  void theLogKeys() {
    TSimDrive drive;
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    w.clBox->setFocus();
    w.CopyLog1->trigger();
    QCOMPARE(QApplication::clipboard()->text(), w.LogText());
    QVERIFY(QApplication::clipboard()->text().startsWith("Fornax v1.4.2"));
    w.ClearAll1->trigger();
    QCOMPARE(w.LogText(), QString());
    QCOMPARE(w.ClearAll1->shortcut(), QKeySequence(Qt::Key_F8));
    QCOMPARE(w.CopyLog1->shortcut(), QKeySequence(Qt::Key_F5));
    QCOMPARE(w.CopyLog1->shortcutContext(), Qt::WindowShortcut);
  }
};

FORNAX_GUI_TEST(MainWindowTest)

}  // namespace fornax::guitest

#include "main_window_test.moc"
