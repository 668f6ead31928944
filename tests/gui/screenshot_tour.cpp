// The pictures of the README: the main window with a filled compilation and
// a burn under way, and the settings, capabilities, disc-information and
// session-tree dialogs, against the simulated recorder. Not a CTest test: it
// runs when FORNAX_SCREENSHOT_DIR names the folder for the pictures, under a
// real X server (tools/screenshots.sh starts Xvfb). The browser shows a
// prepared home folder (FORNAX_SAMPLE_HOME, which the script mounts as
// /home/ana), never the folders of the machine that takes the pictures.

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "app/capabilities_dialog.h"
#include "app/disc_info_dialog.h"
#include "app/session_tree_dialog.h"
#include "app/settings_dialog.h"
#include "app/translations.h"
#include "gui_support.h"

namespace fornax::guitest {

class ScreenshotTour : public QObject {
  Q_OBJECT

 private:
  QString FOut;
  QTemporaryDir FScratch;
  QString FHome, FPhotos, FProjects, FMusic;

  // Lets the window paint, then saves what it shows.
  void Save(QWidget& window, const QString& name) {
    window.raise();
    window.activateWindow();
    QTest::qWait(300);
    const QPixmap picture = window.grab();
    QVERIFY2(picture.save(QDir(FOut).filePath(name)), qPrintable(name));
  }

  void Fill(app::TfrmMain& w) {
    w.clBox->setRowCount(0);
    w.clBox->AddRow(FPhotos + "/", TQzRecorder::FolderSize((FPhotos + "/").toStdString()), true);
    w.clBox->AddRow(FProjects + "/", TQzRecorder::FolderSize((FProjects + "/").toStdString()), true);
    w.clBox->AddRow(FMusic + "/", TQzRecorder::FolderSize((FMusic + "/").toStdString()), true);
    const QString notes = FHome + "/Notas de viaje.txt";
    w.clBox->AddRow(notes, TQzRecorder::FolderSize(notes.toStdString()), false);
  }

 private slots:
  void initTestCase() {
    FOut = qEnvironmentVariable("FORNAX_SCREENSHOT_DIR");
    if (FOut.isEmpty()) QSKIP("FORNAX_SCREENSHOT_DIR names no folder for the pictures");
    QVERIFY(QDir().mkpath(FOut));
    // As the program shows itself on a Spanish desktop, Qt's own texts included.
    app::InstallTranslations(QLocale(QLocale::Spanish, QLocale::Spain));
    FHome = qEnvironmentVariable("FORNAX_SAMPLE_HOME", FScratch.filePath("ana"));
    QVERIFY(QDir(FHome).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    qputenv("HOME", FHome.toUtf8());
    FPhotos = FHome + "/Fotos 2026";
    FProjects = FHome + "/Proyectos";
    FMusic = FHome + "/Música";
    for (const char* folder : {"Descargas", "Documentos", "Escritorio", "Videos"})
      QVERIFY(QDir().mkpath(FHome + "/" + folder));
    WriteFile(FHome + "/Documentos/presupuesto.ods", "ods");
    for (const char* name : {"playa-001.jpg", "playa-002.jpg", "montaña-017.jpg", "cumpleaños.png"})
      WriteSparseFile(FPhotos + "/" + name, 6 * 1048576);
    WriteFile(FProjects + "/fornax/README.md", "# notes\n");
    WriteFile(FProjects + "/fornax/src/main.cpp", "int main() {}\n");
    WriteSparseFile(FProjects + "/informe-anual.pdf", 3 * 1048576);
    for (const char* name : {"01 - Obertura.flac", "02 - Nocturno.flac", "03 - Final.flac"})
      WriteSparseFile(FMusic + "/" + name, 18 * 1048576);
    WriteFile(FHome + "/Notas de viaje.txt", "Lisboa, Oporto, Vigo\n");
  }

  void cleanupTestCase() { app::RemoveTranslations(); }

  void mainWindowWithABurnUnderWay() {
    TSimDrive drive;
    drive.Insert("dvd+r");
    drive.SetWriteSpeed(2770);  // 2x DVD, so that the picture finds the burn under way
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    w.resize(1280, 760);
    w.Settings().ShowFiles = false;
    // The home folder, chosen in the list of places, is the tree's top.
    const int home = w.DriveCB->findText(FHome);
    QVERIFY(home >= 0);
    w.DriveCB->setCurrentIndex(home);
    emit w.DriveCB->activated(home);
    QString error;
    QVERIFY(w.lbDir->Navigate(FPhotos, error));
    Fill(w);
    f.Prompter.AskAnswers = {true};
    w.bBurn->click();
    QVERIFY(QTest::qWaitFor([&] { return w.pcd->Max() > 0 && w.pcd->Position() * 100 >= w.pcd->Max() * 40; }, 120000));
    QTest::qWait(600);  // a tick of the progress timer with the buffers filled
    Save(w, "main-window.png");
    w.bAbort->click();
    QVERIFY(f.WaitIdle());
  }

  void theDialogs() {
    TSimDrive drive;
    drive.Insert("cd-r");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    w.Settings().ShowFiles = false;
    // Two sessions for the disc information.
    for (const QString& folder : {FProjects, FPhotos}) {
      w.clBox->setRowCount(0);
      w.clBox->AddRow(folder + "/", 0, true);
      w.ClearAll1Click();
      f.Prompter.AskAnswers = {true};
      w.bBurn->click();
      QVERIFY(f.WaitForLog(">>> PROCESO QUEMADO FINALIZO"));
      QVERIFY(!f.Logged(">>> PROCESO QUEMADO FINALIZO CON ERROR"));
      QVERIFY(f.WaitIdle());
    }

    {
      app::TfrmSettings settings(w.Recorder(), w.Settings(), w.PathState(), f.Prompter, &w);
      settings.show();
      Save(settings, "settings.png");
    }
    {
      app::TForm2 capabilities(w.Recorder(), &w);
      capabilities.show();
      Save(capabilities, "capabilities.png");
    }
    app::TfrmSessions sessions(w.Recorder(), f.Prompter, &w);
    QVERIFY(sessions.Fill());
    QCOMPARE(sessions.lb->count(), 2);
    sessions.show();
    Save(sessions, "disc-information.png");
    f.Prompter.OnModal = [&](QDialog& shown) {
      if (auto* tree = qobject_cast<app::TfrmTree*>(&shown)) {
        tree->tvDir->expandAll();
        Save(*tree, "session-tree.png");
      }
      return int(QDialog::Rejected);
    };
    sessions.lb->setCurrentRow(0);  // the first session holds folders
    sessions.SpeedButton1Click();
    QVERIFY(QFileInfo::exists(QDir(FOut).filePath("session-tree.png")));
  }
};

// Registered under a name CMake does not turn into a test.
static const TRegistration kScreenshotTour("ScreenshotTour", [] { return new ScreenshotTour; });

}  // namespace fornax::guitest

#include "screenshot_tour.moc"
