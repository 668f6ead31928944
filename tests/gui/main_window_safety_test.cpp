// The main window kept safe and honest with real mouse and keys: a close
// during a burn, a compilation that does not fit, an image file that would
// replace another, one worker at a time, the message that ends a write, the
// boxes' questions, shortcuts. (Drags are real ones, under X: see
// shell_drag_test.cpp.)

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "gui_support.h"

namespace fornax::guitest {

class MainWindowSafetyTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir FWork;

  QString SparseFile(const QString& name, qint64 bytes) { return WriteSparseFile(FWork.filePath(name), bytes); }
  static bool Measured(app::TfrmMain& w) {
    return QTest::qWaitFor([&] { return w.clBox->rowCount() > 0 && w.clBox->item(0, 2)->text() != "…"; }, 20000);
  }

 private slots:
  void aCloseDuringABurnAsksAbortsAndWaitsForTheDrive() {
    TSimDrive drive;
    drive.Insert("dvd+r");
    drive.SetWriteSpeed(1500);  // 6 MB take four seconds
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    w.clBox->AddRow(WriteFile(FWork.filePath("close/big.bin"), QByteArray(6 << 20, 'c')), 6 << 20, true);
    f.Prompter.AskAnswers = {true, false, true};
    QTest::mouseClick(w.bBurn, Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return w.Recorder().BytesWritten() > 0; }, 20000));
    // The progress says how far, how fast and how long is left.
    const QRegularExpression progress("^\\d+ % · \\d+\\.\\dx \\([\\d,]+ KB/s\\) · quedan \\d+:\\d\\d$");
    QVERIFY2(QTest::qWaitFor([&] { return progress.match(w.lProgress->text()).hasMatch(); }, 10000),
             qPrintable(w.lProgress->text()));

    w.close();  // answered No: the burn goes on
    QVERIFY(w.isVisible());
    QCOMPARE(f.Prompter.Asked.last().Caption, QString("¿Cerrar Fornax ahora?"));
    QVERIFY(w.Recorder().WriteInProgress());

    w.close();  // answered Yes: aborted, and the window goes once the drive is idle
    QVERIFY2(w.isVisible(), "not before the drive is idle");
    QVERIFY(QTest::qWaitFor([&] { return !w.isVisible(); }, 60000));
    QVERIFY(!w.Recorder().WriteInProgress());
    QVERIFY(f.Logged(">>> PROCESO QUEMADO FINALIZO CON ERROR"));
    QVERIFY(f.Logged(">>> OPERATION ABORTED BY USER"));
    QVERIFY(w.Recorder().UnitReady());
    QVERIFY2(f.Prompter.Informed.isEmpty(), "no message box while the program closes");
  }

  void aCompilationThatDoesNotFitIsRefusedWithBothFigures() {
    TSimDrive drive;
    drive.Insert("cd-r");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    DropFromDesktop(w.clBox, {SparseFile("toobig.bin", 900LL << 20)});
    QVERIFY(Measured(w));
    QVERIFY2(w.pSpace->Overflows(), "the space bar shows red past the end");
    const QImage bar = w.pSpace->grab().toImage();
    int red = 0;
    for (int x = 0; x < bar.width(); ++x) {
      const QColor pixel = bar.pixelColor(x, bar.height() / 2);
      red += pixel.red() > 180 && pixel.green() < 90 && pixel.blue() < 90 ? 1 : 0;
    }
    QVERIFY2(red > bar.width() / 10, qPrintable(QString::number(red)));
    QVERIFY(w.pSpace->Summary().startsWith("Usado: 0.00 MB"));
    QTest::mouseClick(w.bBurn, Qt::LeftButton);
    QVERIFY2(f.Prompter.Asked.isEmpty(), "nothing to confirm: it does not fit");
    QCOMPARE(f.Prompter.Informed.size(), 1);
    const QString said = f.Prompter.Informed[0];
    QVERIFY(said.startsWith("La compilacion no cabe en el disco: necesita 900."));
    QVERIFY(said.contains(" MB y solo quedan 702."));
    QVERIFY(!f.Logged(">>> INICIO DE QUEMADO"));
    QCOMPARE(w.Recorder().DiscStatus(), 0);
    QVERIFY(w.pTop->isEnabled() && w.bSaveISO->isEnabled());
  }

  void anImageFileAsksBeforeReplacingAnother() {
    TSimDrive drive;
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    w.clBox->AddRow(WriteFile(FWork.filePath("iso/a.txt"), "a"), 1, true);
    const QString target = WriteFile(FWork.filePath("existing.iso"), "keep me");
    f.Prompter.SaveAnswers = {target};
    f.Prompter.AskAnswers = {false};
    QTest::mouseClick(w.bSaveISO, Qt::LeftButton);
    QCOMPARE(f.Prompter.SaveTitles, QStringList{"Contruir ISO"});
    QCOMPARE(f.Prompter.Asked.size(), 1);
    QCOMPARE(f.Prompter.Asked[0].Caption, QString("¿Reemplazar el archivo?"));
    QCOMPARE(ReadFile(target), QByteArray("keep me"));

    f.Prompter.SaveAnswers = {target};
    f.Prompter.AskAnswers = {true};
    QTest::mouseClick(w.bSaveISO, Qt::LeftButton);
    QVERIFY(f.WaitForLog(">>> PROCESO QUEMADO FINALIZO"));
    QVERIFY(FilesOn(target).contains("/a.txt"));
    QCOMPARE(f.Prompter.Informed.last(), QString("La imagen ISO termino bien."));
  }

  void burningIsOffWhileAnEraseRuns() {
    TSimDrive drive;
    drive.Insert("cd-rw");
    drive.SetDurations(3000, 100, 50);  // the blank takes seconds
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    w.clBox->AddRow(WriteFile(FWork.filePath("erase/a.txt"), "a"), 1, true);
    f.Prompter.AskAnswers = {true};
    QTest::mouseClick(w.bQErase, Qt::LeftButton);
    QVERIFY(w.Recorder().Erasing());
    QVERIFY(!w.bBurn->isEnabled() && !w.bSaveISO->isEnabled() && !w.bBurnISO->isEnabled());
    QTest::mouseClick(w.bBurn, Qt::LeftButton);
    QCOMPARE(f.Prompter.Asked.size(), 1);  // "the burn did not start beside the erase"
    QVERIFY(f.WaitForLog(">>> PROCESO DE BORRAO FINALIZADO"));
    QVERIFY(w.bBurn->isEnabled());
  }

  void theEraseBarFollowsTheDrivesOwnProgress() {
    TSimDrive drive;
    drive.Insert("cd-rw");
    drive.SetDurations(4000, 100, 50);  // a quick blank of seconds, not of minutes
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    f.Prompter.AskAnswers = {true};
    QTest::mouseClick(w.bQErase, Qt::LeftButton);
    QVERIFY(w.Recorder().Erasing());
    // Half way through by the drive's clock, the bar is well past its start
    // (a guess against minutes of blanking would still show nothing).
    QVERIFY(QTest::qWaitFor([&] { return w.pcd->Position() >= 25; }, 20000));
    QVERIFY(w.Recorder().Erasing() || f.Logged(">>> PROCESO DE BORRAO FINALIZADO"));
    QVERIFY(f.WaitForLog(">>> PROCESO DE BORRAO FINALIZADO"));
  }

  void theEndOfABurnSaysWhatWasLeftOut() {
    TSimDrive drive;
    drive.Insert("dvd+r");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    w.SetPathState(app::TPathState::Unchecked);
    // Two sources of one name in the root: the second is left out.
    w.clBox->AddRow(WriteFile(FWork.filePath("one/same.txt"), "one"), 3, true);
    w.clBox->AddRow(WriteFile(FWork.filePath("two/same.txt"), "two"), 3, true);
    f.Prompter.AskAnswers = {true};
    QTest::mouseClick(w.bBurn, Qt::LeftButton);
    QVERIFY(f.WaitForLog(">>> PROCESO QUEMADO FINALIZO"));
    QVERIFY(QTest::qWaitFor([&] { return !f.Prompter.Informed.isEmpty(); }, 5000));
    const QString said = f.Prompter.Informed.last();
    QVERIFY(said.startsWith("La grabacion termino, pero 1 entrada quedo fuera:"));
    QVERIFY(said.contains(FWork.filePath("two/same.txt")));
  }

  void aQuestionIsTheTextOfItsBoxNotItsTitle() {
    app::TDesktopPrompter prompter;
    QWidget parent;
    parent.show();
    QString title, text;
    QTimer::singleShot(50, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      title = box->windowTitle();
      text = box->text();
      QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
    });
    QVERIFY(!prompter.Ask(&parent, "Se escribiran 12.00 MB.", "¿Quieres quemar el CD/DVD?", false));
    QCOMPARE(text, QString("¿Quieres quemar el CD/DVD?"));
    QCOMPARE(title, QApplication::applicationDisplayName());
  }

  void aDisabledButtonLooksDisabled() {
    TSimDrive drive;
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    const auto navyPixels = [&] {
      const QImage image = w.btnAbout->grab().toImage();
      int count = 0;
      for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) count += image.pixelColor(x, y) == QColor(0, 0, 128) ? 1 : 0;
      return count;
    };
    QVERIFY(navyPixels() > 0);
    w.pTop2->setEnabled(false);  // as while the drive works
    QCOMPARE(navyPixels(), 0);
  }

  void shortcutsStartTheMainActionsAndTheTickColumnSaysWhatItIs() {
    TSimDrive drive;
    drive.Insert("dvd+r");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    w.clBox->AddRow(WriteFile(FWork.filePath("keys/a.txt"), "a"), 1, true);
    f.Prompter.AskAnswers = {false};
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_B, Qt::ControlModifier);
    QTRY_COMPARE(f.Prompter.Asked.size(), 1);  // a button's shortcut clicks it a moment later
    QCOMPARE(f.Prompter.Asked[0].Caption, QString("¿Quieres quemar el CD/DVD?"));
    QVERIFY(w.bBurn->toolTip().contains("Ctrl+B"));
    QVERIFY(!w.clBox->horizontalHeaderItem(0)->toolTip().isEmpty());
  }
};

FORNAX_GUI_TEST(MainWindowSafetyTest)

}  // namespace fornax::guitest

#include "main_window_safety_test.moc"
