// "Verificar despues de quemar": ticked with the mouse in the advanced
// settings, it makes the window read each burn back off its thread and add
// the outcome to the message that ends the burn.

#include <QCheckBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/settings_dialog.h"
#include "gui_support.h"

namespace fornax::guitest {

class VerifyAfterBurnTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir FWork;

  // Ticks (or clears) the box with the mouse and accepts the dialog.
  static void SetVerify(TMainFixture& f, bool on) {
    f.Prompter.OnModal = [on](QDialog& dialog) {
      auto* settings = qobject_cast<app::TfrmSettings*>(&dialog);
      if (!settings) return int(QDialog::Rejected);
      if (settings->cVerify->isChecked() != on)
        QTest::mouseClick(settings->cVerify, Qt::LeftButton, {}, QPoint(6, settings->cVerify->height() / 2));
      QTest::mouseClick(settings->Button1, Qt::LeftButton);
      return settings->result();
    };
    f.Window->bAdvance->click();
    f.Prompter.OnModal = nullptr;
  }

  static void Burn(TMainFixture& f, const QString& source) {
    app::TfrmMain& w = *f.Window;
    w.SetPathState(app::TPathState::Unchecked);
    w.clBox->AddRow(source, 0, true);
    f.Prompter.AskAnswers = {true};
    w.bBurn->click();
  }

 private slots:
  void aTickedBoxAddsTheVerifyToTheEndMessage() {
    const QString source = FWork.filePath("sound");
    WriteFile(source + "/docs/report.txt", QByteArray(5000, 'r'));
    WriteFile(source + "/photo.jpg", QByteArray(70000, 'p'));
    TSimDrive drive;
    drive.Insert("dvd+r");
    TMainFixture f;
    QVERIFY(!f.Window->Settings().VerifyAfterBurn);  // off unless asked for
    SetVerify(f, true);
    QVERIFY(f.Window->Settings().VerifyAfterBurn);
    Burn(f, source + "/");
    // The message comes once the verify, which runs after the write, is done.
    QTRY_VERIFY_WITH_TIMEOUT(!f.Prompter.Informed.isEmpty(), 60000);
    QVERIFY(f.Logged(">>> VERIFICANDO: LEYENDO EL DISCO GRABADO"));
    QVERIFY(f.Logged(">>> Verified 2 files (0.1 MB): all match the disc."));
    QCOMPARE(f.Prompter.Informed.size(), 1);
    QCOMPARE(f.Prompter.Informed[0],
             QString("La grabacion termino bien.\n\nVerificacion: 2 archivos verificados, todos coinciden con el disco."));

    // Cleared again: the next burn ends as it always did.
    drive.Insert("dvd+r");
    SetVerify(f, false);
    f.Prompter.Informed.clear();
    Burn(f, source + "/");
    QTRY_VERIFY_WITH_TIMEOUT(!f.Prompter.Informed.isEmpty(), 60000);
    QCOMPARE(f.Prompter.Informed, QStringList{"La grabacion termino bien."});
  }

  void aSourceChangedDuringTheBurnIsNamedInTheEndMessage() {
    const QString source = FWork.filePath("changing");
    const QString first = WriteFile(source + "/a-first.txt", QByteArray(4000, 'a'));
    WriteFile(source + "/z-bulk.bin", QByteArray(6 << 20, 'z'));
    TSimDrive drive;
    drive.Insert("dvd+r");
    drive.SetWriteSpeed(1500);
    TMainFixture f;
    SetVerify(f, true);
    Burn(f, source + "/");
    // Once the drive takes data the cache holds the first file; the drive is
    // still writing when it changes.
    QVERIFY(QTest::qWaitFor([&] { return f.Window->Recorder().BytesWritten() > 0; }, 20000));
    QVERIFY(f.Window->Recorder().WriteInProgress());
    WriteFile(first, QByteArray(4000, 'b'));
    QTRY_VERIFY_WITH_TIMEOUT(!f.Prompter.Informed.isEmpty(), 60000);
    drive.SetWriteSpeed(0);
    QCOMPARE(f.Prompter.Informed.size(), 1);
    const QString message = f.Prompter.Informed[0];
    QVERIFY2(message.startsWith("La grabacion termino bien.\n\nVerificacion: 2 archivos verificados; 1 con problemas:\n"
                                "changed during the burn: /a-first.txt"),
             qPrintable(message));
    QVERIFY(!message.contains("z-bulk.bin"));
  }
};

FORNAX_GUI_TEST(VerifyAfterBurnTest)

}  // namespace fornax::guitest

#include "verify_after_burn_test.moc"
