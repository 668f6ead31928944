// The main window's drive side against the simulated recorder: burning with
// the question answered either way, image files, both erases, the tray
// buttons and the speed list.

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QThread>

#include "gui_support.h"

namespace fornax::guitest {

class DriveActionsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir FWork;
  QString FSource;

 private slots:
  void initTestCase() {
    FSource = FWork.filePath("src");
    WriteFile(FSource + "/docs/report.txt", QByteArray(5000, 'r'));
    WriteFile(FSource + "/photo.jpg", QByteArray(70000, 'p'));
  }

  void aBurnAnsweredYesWritesTheDiscAndSaysSo() {
    TSimDrive drive;
    drive.Insert("cd-r");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    w.SetPathState(app::TPathState::Unchecked);
    w.clBox->AddRow(FSource + "/", 0, true);
    f.Prompter.AskAnswers = {true};
    w.bBurn->click();
    QCOMPARE(f.Prompter.Asked.size(), 1);
    QCOMPARE(f.Prompter.Asked[0].Caption, QString("¿Quieres quemar el CD/DVD?"));
    // What will be written against what the disc has left.
    QVERIFY2(QRegularExpression("^Se escribiran [0-9.,]+ [KMG]B \\(quedan [0-9.,]+ [KMG]B libres en el disco\\)\\.$")
                 .match(f.Prompter.Asked[0].Text)
                 .hasMatch(),
             qPrintable(f.Prompter.Asked[0].Text));
    QVERIFY(f.Logged(">>> AGREGAR ARCHIVOS/DIRECTORIOS AL CD/DVD FINALIZADO"));
    QVERIFY(f.Logged(">>> INICIO DE QUEMADO DE DC/DVD " +
                     QString::fromStdString(w.Recorder().DeviceDescription())));
    QVERIFY(!w.pTop->isEnabled() || f.Logged(">>> PROCESO QUEMADO FINALIZO"));
    QVERIFY(f.WaitForLog(">>> PROCESO QUEMADO FINALIZO"));
    QVERIFY(!f.Logged(">>> PROCESO QUEMADO FINALIZO CON ERROR"));
    QVERIFY(w.pTop->isEnabled() && w.pTop2->isEnabled() && w.bBurnISO->isEnabled());
    QVERIFY(!w.bAbort->isVisible());
    QVERIFY(!w.Timer1->isActive());
    QCOMPARE(w.pcd->Position(), w.pcd->Max());
    QVERIFY(w.lSize->text().endsWith(" MB"));
    const QString image = FWork.filePath("burnt.iso");
    drive.Export(image);
    const QString files = FilesOn(image);
    QVERIFY(files.contains("/docs/report.txt"));
    QVERIFY(files.contains("/photo.jpg"));
  }

  void aBurnAnsweredNoLeavesTheTimerOffAndTheDiscBlank() {
    TSimDrive drive;
    drive.Insert("dvd+r");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    w.clBox->AddRow(FSource + "/photo.jpg", 0, true);
    f.Prompter.AskAnswers = {false};
    w.bBurnClick();
    QCOMPARE(f.Prompter.Asked.size(), 1);
    QVERIFY(!w.Timer1->isActive());
    QVERIFY(w.pTop->isEnabled() && w.bSaveISO->isEnabled());
    QVERIFY(!w.bAbort->isVisible());
    QVERIFY(!f.Logged(">>> INICIO DE QUEMADO"));
    QVERIFY(w.Recorder().FileCount() > 0);  // built, until the next action
    QCOMPARE(w.Recorder().DiscStatus(), 0);  // still blank
  }

  void nothingToBurnIsSaidWithoutAQuestion() {
    TSimDrive drive;
    TMainFixture f;
    f.Window->bBurnClick();
    QVERIFY(f.Logged(">>> NADA PARA QUEMAR, ABORTANDO..."));
    QVERIFY(f.Prompter.Asked.isEmpty());
    QCOMPARE(f.Prompter.Informed, QStringList{"Almenos un archivo/directorio deberia ser seleccionado."});
  }

  void anImageFileBurnsSectorForSector() {
    TSimDrive drive;
    drive.Insert("dvd+rw");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    QByteArray bytes(300 * 2048 + 17, '\0');
    for (int i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 2048);
    const QString source = WriteFile(FWork.filePath("input.iso"), bytes);
    f.Prompter.FileAnswers = {source};
    w.bBurnISO->click();
    QVERIFY(f.Logged(">>> INICIANDO QUEMADO ISO IMAGE ON " +
                     QString::fromStdString(w.Recorder().DeviceDescription())));
    QVERIFY(f.WaitForLog(">>> PROCESO QUEMADO FINALIZO"));
    QVERIFY(!f.Logged(">>> PROCESO QUEMADO FINALIZO CON ERROR"));
    const QString image = FWork.filePath("iso-disc.iso");
    drive.Export(image);
    QCOMPARE(ReadFile(image).left(bytes.size()), bytes);

    // Cancelling the file dialog starts nothing.
    f.Prompter.FileAnswers = {std::nullopt};
    w.bBurnISOClick();
    QVERIFY(!w.Timer1->isActive());
  }

  void erasesAskFirstAndRefuseWhatCannotBeErased() {
    TSimDrive drive;
    drive.Insert("dvd+r");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    w.bQEraseClick();
    w.bCEraseClick();
    QCOMPARE(f.Prompter.Informed, (QStringList{"El disco no es borrable", "Disco no es borrable"}));
    QVERIFY(f.Prompter.Asked.isEmpty());

    drive.Insert("cd-rw");
    f.Prompter.AskAnswers = {false};
    w.bQEraseClick();
    QCOMPARE(f.Prompter.Asked.size(), 1);
    QCOMPARE(f.Prompter.Asked[0].Text, QString("Toda la data en el disco se perdera"));
    QCOMPARE(f.Prompter.Asked[0].Caption, QString("¿Desea iniciar eliminado rapido?"));
    QVERIFY(f.Prompter.Asked[0].Warning);
    QVERIFY(!w.Timer1->isActive());

    f.Prompter.AskAnswers = {true};
    w.bQEraseClick();
    QVERIFY(f.WaitForLog(">>> PROCESO DE BORRAO FINALIZADO"));
    QVERIFY(!f.Logged(">>> PROCESO DE BORRAO FINALIZADO CON ERROR"));
    QVERIFY(!w.Timer1->isActive());
    QCOMPARE(w.pcd->Position(), 0);

    f.Prompter.AskAnswers = {true};
    w.Memo1->clear();
    w.bCEraseClick();
    QCOMPARE(f.Prompter.Asked.last().Text, QString("Toda la data en el CD sera borrado"));
    QCOMPARE(f.Prompter.Asked.last().Caption, QString("¿Deseas limpiar el disco...? (puede tomar 10-70 min)"));
    QVERIFY(f.WaitForLog(">>> PROCESO DE BORRAO FINALIZADO"));
    QCOMPARE(w.Recorder().DiscStatus(), 0);

    // DVD-RAM: a quick erase goes ahead whatever the disc says; a complete
    // one is refused when the disc says it cannot be erased.
    drive.Insert("dvd-ram");
    f.Prompter.Informed.clear();
    f.Prompter.AskAnswers = {true};
    w.Memo1->clear();
    w.bQEraseClick();
    QVERIFY(f.Prompter.Informed.isEmpty());
    QVERIFY(f.WaitForLog(">>> PROCESO DE BORRAO FINALIZADO"));
    if (!w.Recorder().IsErasable()) {
      w.bCEraseClick();
      QCOMPARE(f.Prompter.Informed, QStringList{"Disco no es borrable"});
    }
  }

  void trayAndReadinessButtonsLogTheirOutcome() {
    TSimDrive drive;
    drive.Insert("cd-r");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    w.bReady->click();
    QVERIFY(f.Logged(">>> DRIVE ESTA LISTO"));
    w.bEject->click();
    QVERIFY(f.Logged(">>> COMANDO DE EXPULSION DE MEDIO REALIZADO."));
    w.bReady->click();
    QVERIFY(f.Logged(">>> DRIVE NO ESTA LISTO "));
    w.bLoad->click();
    QVERIFY(f.Logged(">>> COMANDO DE CARGADO DE MEDIO REALIZADO."));
  }

  void theSpeedListComesFromWhatTheDriveReports() {
    TSimDrive drive;
    drive.Insert("cd-r");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    w.cbSpeedDropDown();
    QVERIFY(w.cbSpeed->count() > 2);
    QCOMPARE(w.cbSpeed->itemText(0), QString("Max"));
    QCOMPARE(w.cbSpeed->currentIndex(), 0);
    QStringList seen;
    for (int i = 1; i < w.cbSpeed->count(); ++i) {
      const QString entry = w.cbSpeed->itemText(i);
      QVERIFY2(!seen.contains(entry), qPrintable(entry));
      QVERIFY2(entry.contains(QRegularExpression("^\\d+X \\([\\d,]+ KB/s\\)$")), qPrintable(entry));
      seen.append(entry);
    }
    // A chosen entry survives the next opening, and is what the burn asks for.
    w.cbSpeed->setCurrentIndex(1);
    w.cbSpeedDropDown();
    QCOMPARE(w.cbSpeed->currentIndex(), 1);
    const int factor = w.cbSpeed->itemText(1).section('X', 0, 0).toInt();
    w.clBox->AddRow(FSource + "/photo.jpg", 0, true);
    f.Prompter.AskAnswers = {false};
    w.bBurnClick();
    QCOMPARE(int(w.Recorder().WriteSpeed()), factor * 177);
  }

  void workerLinesReachTheLogOnTheWindowsThreadInOrder() {
    TSimDrive drive;
    drive.Insert("cd-r");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    QThread* const windowThread = w.thread();
    int elsewhere = 0;
    // A direct connection runs on whichever thread changes the log pane.
    connect(
        w.Memo1->document(), &QTextDocument::contentsChanged, &w,
        [&] { elsewhere += QThread::currentThread() != windowThread; }, Qt::DirectConnection);
    w.ClearAll1Click();
    w.clBox->AddRow(FSource + "/", 0, true);
    f.Prompter.AskAnswers = {true};
    w.bBurn->click();
    QVERIFY(f.WaitForLog(">>> PROCESO QUEMADO FINALIZO"));
    QVERIFY(f.WaitIdle());
    QCOMPARE(elsewhere, 0);
    const QStringList lines = w.LogText().split('\n');
    const auto at = [&](const QString& start) {
      for (int i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith(start)) return i;
      return -1;
    };
    const int begun = at(">>> INICIO DE QUEMADO DE DC/DVD"), writing = at(">>> STARTING WRITE PROCESS"),
              finalizing = at(">>> FINALIZANDO TRACK"), done = at(">>> PROCESO QUEMADO FINALIZO");
    QVERIFY2(begun >= 0 && begun < writing && writing < finalizing && finalizing < done, qPrintable(w.LogText()));
    QCOMPARE(lines.last(), QString(" "));
  }

  void abortStopsARunningBurn() {
    TSimDrive drive;
    drive.Insert("dvd+r");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    WriteFile(FWork.filePath("big/big.bin"), QByteArray(12 * 1024 * 1024, 'b'));
    w.clBox->AddRow(FWork.filePath("big") + "/", 0, true);
    drive.SetWriteSpeed(1000);  // 12 MB take twelve seconds
    f.Prompter.AskAnswers = {true};
    w.bBurnClick();
    QVERIFY(w.bAbort->isVisible() || f.Logged(">>> PROCESO QUEMADO FINALIZO"));
    QTest::qWait(1500);
    w.bAbort->click();
    QVERIFY(!w.bAbort->isVisible());
    QVERIFY(f.WaitForLog(">>> PROCESO QUEMADO FINALIZO CON ERROR"));
    QVERIFY(f.Logged(">>> OPERATION ABORTED BY USER"));
    QVERIFY(w.pTop->isEnabled());
  }
};

FORNAX_GUI_TEST(DriveActionsTest)

}  // namespace fornax::guitest

#include "drive_actions_test.moc"
