// "Opciones avanzadas" opened from the main window's "Avanzado" button against
// the simulated recorder, worked as a user works it; what "&Aceptar" stores is
// read back by the start-up of a new main window.

#include <dlfcn.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTest>
#include <functional>
#include <memory>

#include "app/settings_dialog.h"
#include "app/settings_file.h"
#include "gui_support.h"

namespace {

using fornax::app::TfrmMain;
using fornax::app::TfrmSettings;
using fornax::app::TPathState;
using fornax::guitest::TMainFixture;
using fornax::guitest::TSimDrive;

const QString kZeroSession = "Sesion a importar; Zero significa que no hay sesiones para importar";
constexpr int kMiB = 1048576;

QString SettingsPath() { return QString::fromStdString(fornax::app::TSettingsFile::DefaultPath()); }

// Every non-blank line of the settings file, in file order.
QStringList SettingsLines() {
  QStringList lines;
  for (const QString& line : QString::fromUtf8(fornax::guitest::ReadFile(SettingsPath())).split("\r\n"))
    if (!line.isEmpty()) lines.append(line);
  return lines;
}

// The simulated recorder answers BUSY to its next `commands` commands.
void AnswerBusy(int commands) {
  void* library = ::dlopen(FORNAX_SIMDRIVE_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
  auto* busy = library ? reinterpret_cast<int (*)(int, int)>(::dlsym(library, "fornax_sim_fault_busy")) : nullptr;
  if (!busy || busy(commands, 1) != 0) qFatal("cannot make the simulated recorder busy");
  ::dlclose(library);
}

// One showing of the dialog.
struct TShowing {
  bool Shown = false;
  bool StillOpen = false;  // once `act` is done
  int Result = QDialog::Rejected;
};

// Clicks "Avanzado"; `act` works the dialog while it shows.
TShowing ShowSettings(TMainFixture& f, const std::function<void(TfrmSettings&)>& act) {
  TShowing showing;
  f.Prompter.OnModal = [&](QDialog& dialog) {
    auto* settings = qobject_cast<TfrmSettings*>(&dialog);
    if (!settings) return int(QDialog::Rejected);
    showing.Shown = true;
    act(*settings);
    showing.StillOpen = settings->isVisible();
    showing.Result = settings->result();
    return showing.Result;
  };
  f.Window->bAdvance->click();
  f.Prompter.OnModal = nullptr;
  return showing;
}

// Every option the dialog applies, as "name=value" (the underrun box aside:
// the settings file does not hold it).
QStringList AppliedOptions(TfrmMain& window) {
  fornax::TQzRecorder& rec = window.Recorder();
  const fornax::app::TAppSettings& app = window.Settings();
  const auto flag = [](const char* name, bool on) { return QString("%1=%2").arg(name).arg(on ? 1 : 0); };
  return {flag("ArchiveFiles", app.ArchiveFiles), flag("ImportSession", app.ImportSession),
          flag("EjectDisc", app.EjectDisc), flag("ShowFiles", app.ShowFiles), flag("QuickSaveISO", app.QuickSaveISO),
          flag("VerifyAfterBurn", app.VerifyAfterBurn),
          QString("SessionNo=%1").arg(app.SessionNo), flag("FinalizeDisc", rec.FinalizeDisc),
          flag("Joliet", rec.JolietFileSystem), flag("RockRidge", rec.RockRidge), flag("TestWrite", rec.TestWrite), flag("OPC", rec.PerformOPC),
          flag("Bootable", rec.Bootable), "BootImage=" + QString::fromStdString(rec.BootImageFile),
          "IdVolume=" + QString::fromStdString(rec.IdVolume), QString("CacheSize=%1").arg(rec.CacheSize())};
}

// Turns every control away from what it showed (the boot box picks an image).
void ChangeEverything(TMainFixture& f, TfrmSettings& s) {
  for (QCheckBox* box : {s.cJoliet, s.cCloseDisc, s.cImportSession, s.cUnderrunProtection, s.cTestWrite, s.cEject,
                         s.cOPC, s.cQuickSaveISO, s.cShowFiles, s.cArchiveOnly, s.cVerify, s.cRockRidge}) {
    box->click();
  }
  f.Prompter.FileAnswers = {QString("/srv/boot/changed.img")};
  s.cBootable->click();
  s.eSession->setText("9");
  s.eVolLabel->setText("CAMBIADO");
  s.sCacheSize->setValue(s.sCacheSize->value() == 64 ? 2 : 64);
}

}  // namespace

class SettingsDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void acceptStoresEveryKeyInOrderAndStartUpReadsThemBack();
  void sessionNumberIsStoredAsTyped_data();
  void sessionNumberIsStoredAsTyped();
  void badSessionNumberKeepsTheDialogOpenAndWritesNothing_data();
  void badSessionNumberKeepsTheDialogOpenAndWritesNothing();
  void cacheSliderGivesWholeMebibytes();
  void cancellingTheImageDialogClearsBootableBeforeAnythingIsApplied();
  void cancelAndEscapeChangeNothingEnterAccepts();
  void savePathKeepsTheWindowsStateWord();
  void unwritableSettingsFileIsReportedAndValuesStayApplied();
  void closeTrackClosesTheSessionAndKeepsTheDialogOpen();
  void underrunBoxFollowsTheDrivesCapability();

 private:
  std::unique_ptr<TSimDrive> FDrive;
};

void SettingsDialogTest::init() {
  if (QFileInfo(SettingsPath()).isDir())
    QDir(SettingsPath()).removeRecursively();
  else
    QFile::remove(SettingsPath());
  FDrive = std::make_unique<TSimDrive>();
}

void SettingsDialogTest::cleanup() {
  fornax::TSCSIDevice::SetTraceAll(false);
  FDrive.reset();
}

void SettingsDialogTest::acceptStoresEveryKeyInOrderAndStartUpReadsThemBack() {
  QStringList applied;
  {
    TMainFixture f;
    f.Window->SetPathState(TPathState::Checked);
    f.Prompter.FileAnswers = {QString("/srv/boot/floppy.img")};
    const TShowing showing = ShowSettings(f, [](TfrmSettings& s) {
      s.eVolLabel->setText("COPIA_2024");
      s.cJoliet->setChecked(false);
      s.cRockRidge->setChecked(true);
      s.cCloseDisc->setChecked(true);
      s.cImportSession->click();
      s.eSession->setText("-1");
      s.cTestWrite->setChecked(true);
      s.cEject->setChecked(true);
      s.cOPC->setChecked(false);
      s.cQuickSaveISO->setChecked(true);
      s.cBootable->click();
      s.cShowFiles->setChecked(true);
      s.cArchiveOnly->setChecked(true);
      s.cVerify->setChecked(true);
      s.sCacheSize->setValue(64);
      s.Button1->click();
    });
    QVERIFY(showing.Shown);
    QVERIFY(f.Prompter.ModalShown.contains("frmSettings"));
    QCOMPARE(showing.Result, int(QDialog::Accepted));
    QVERIFY(!showing.StillOpen);
    QCOMPARE(SettingsLines(),
             QStringList({"[Options]", "ArchiveFiles=1", "ImportSession=1", "SavePath=Checked", "CloseDisc=1",
                          "EjectDisc=1", "JolietFS=0", "RockRidge=1", "Bootable=1", "TestWrite=1", "QuickSaveISO=1", "ShowFiles=1",
                          "VerifyAfterBurn=1", "PerformOPC=0", "SessionNo=-1", "BootImage=/srv/boot/floppy.img",
                          "VolumeLable=COPIA_2024", "CacheSize=67108864"}));
    QCOMPARE(f.Window->Settings().SessionNo, uint8_t{255});
    QCOMPARE(f.Window->Recorder().CacheSize(), 67108864);
    applied = AppliedOptions(*f.Window);
  }

  TMainFixture next;
  QCOMPARE(AppliedOptions(*next.Window), applied);
  QCOMPARE(next.Window->Settings().SessionNo, uint8_t{255});
  QCOMPARE(next.Window->PathState(), TPathState::Checked);
  // Bootable brings the image dialog up at once; the pick is what stays.
  next.Prompter.FileAnswers = {QString("/srv/boot/other.img")};
  QString session, cache, bootImage;
  bool sessionEnabled = false, importTicked = false, bootTicked = false;
  ShowSettings(next, [&](TfrmSettings& s) {
    session = s.eSession->text();
    sessionEnabled = s.eSession->isEnabled();
    importTicked = s.cImportSession->isChecked();
    cache = s.Label3->text();
    bootTicked = s.cBootable->isChecked();
    bootImage = s.Label2->text();
    s.Button2->click();
  });
  QCOMPARE(session, QString("-1"));
  QVERIFY(sessionEnabled);
  QVERIFY(importTicked);
  QCOMPARE(cache, QString("64 MB"));
  QVERIFY(next.Prompter.FileAnswers.isEmpty());
  QVERIFY(bootTicked);
  QCOMPARE(bootImage, QString("/srv/boot/other.img"));
}

void SettingsDialogTest::sessionNumberIsStoredAsTyped_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<bool>("ticked");
  QTest::addColumn<int>("sessionNo");
  QTest::addColumn<bool>("informsZero");
  QTest::newRow("last session") << "-1" << true << 255 << false;
  QTest::newRow("no session") << "0" << true << 0 << true;
  QTest::newRow("blanks around") << " 7 " << true << 7 << false;
  QTest::newRow("import box cleared") << "5" << false << 0 << false;
}

void SettingsDialogTest::sessionNumberIsStoredAsTyped() {
  QFETCH(QString, typed);
  QFETCH(bool, ticked);
  QFETCH(int, sessionNo);
  QFETCH(bool, informsZero);
  TMainFixture f;
  const TShowing showing = ShowSettings(f, [&](TfrmSettings& s) {
    s.cImportSession->setChecked(ticked);
    s.eSession->setText(typed);
    s.Button1->click();
  });
  QCOMPARE(showing.Result, int(QDialog::Accepted));
  QCOMPARE(int(f.Window->Settings().SessionNo), sessionNo);
  QCOMPARE(f.Window->Settings().ImportSession, ticked);
  QCOMPARE(f.Prompter.Informed.contains(kZeroSession), informsZero);
  QVERIFY(SettingsLines().contains("SessionNo=" + typed));
  QVERIFY(SettingsLines().contains(QString("ImportSession=%1").arg(ticked ? 1 : 0)));
}

void SettingsDialogTest::badSessionNumberKeepsTheDialogOpenAndWritesNothing_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("message");
  QTest::newRow("letters") << "abc" << "'abc' is not a valid integer value";
  QTest::newRow("nothing") << "" << "'' is not a valid integer value";
  QTest::newRow("fraction") << "1.5" << "'1.5' is not a valid integer value";
  QTest::newRow("past one byte") << "256" << "'256' no es un numero de sesion valido";
  QTest::newRow("below the last") << "-2" << "'-2' no es un numero de sesion valido";
}

// The options before the number are applied, the rest wait; fixing the number
// in the same showing stores everything.
void SettingsDialogTest::badSessionNumberKeepsTheDialogOpenAndWritesNothing() {
  QFETCH(QString, typed);
  QFETCH(QString, message);
  TMainFixture f;
  bool openAfterError = false, fileAfterError = true, jolietAfterError = true, ejectAfterError = false;
  bool quickSaveAfterError = true;
  QStringList informed;
  const TShowing showing = ShowSettings(f, [&](TfrmSettings& s) {
    s.cJoliet->setChecked(false);
    s.cEject->setChecked(true);
    s.cQuickSaveISO->setChecked(true);
    s.cImportSession->setChecked(true);
    s.eSession->setText(typed);
    s.Button1->click();
    openAfterError = s.isVisible();
    fileAfterError = QFile::exists(SettingsPath());
    informed = f.Prompter.Informed;
    jolietAfterError = f.Window->Recorder().JolietFileSystem;
    ejectAfterError = f.Window->Settings().EjectDisc;
    quickSaveAfterError = f.Window->Settings().QuickSaveISO;
    s.eSession->setText("3");
    s.Button1->click();
  });
  QVERIFY(openAfterError);
  QVERIFY(!fileAfterError);
  QCOMPARE(informed.size(), 1);
  QVERIFY2(informed.first().startsWith(message), qPrintable(informed.first()));
  QVERIFY(!jolietAfterError);
  QVERIFY(ejectAfterError);
  QVERIFY(!quickSaveAfterError);

  QCOMPARE(showing.Result, int(QDialog::Accepted));
  QCOMPARE(f.Window->Settings().SessionNo, uint8_t{3});
  QVERIFY(f.Window->Settings().QuickSaveISO);
  QVERIFY(SettingsLines().contains("SessionNo=3"));
}

void SettingsDialogTest::cacheSliderGivesWholeMebibytes() {
  TMainFixture f;
  int shownPosition = 0;
  QString shownLabel;
  ShowSettings(f, [&](TfrmSettings& s) {
    shownPosition = s.sCacheSize->value();
    shownLabel = s.Label3->text();
    s.Button1->click();
  });
  // The window's 8 MiB and one page come back as 8 MiB.
  QCOMPARE(shownPosition, 8);
  QCOMPARE(shownLabel, QString(" 8 MB"));
  QCOMPARE(f.Window->Recorder().CacheSize(), 8 * kMiB);

  f.Window->Recorder().SetCacheSize(2 * kMiB);
  int belowMinimum = 0;
  QString labelAt64;
  ShowSettings(f, [&](TfrmSettings& s) {
    shownLabel = s.Label3->text();
    s.sCacheSize->setValue(1);
    belowMinimum = s.sCacheSize->value();
    s.sCacheSize->setValue(64);
    labelAt64 = s.Label3->text();
    s.Button1->click();
  });
  QCOMPARE(shownLabel, QString(" 2 MB"));
  QCOMPARE(belowMinimum, 2);
  QCOMPARE(labelAt64, QString("64 MB"));
  QCOMPARE(f.Window->Recorder().CacheSize(), 67108864);
  QVERIFY(SettingsLines().contains("CacheSize=67108864"));
}

void SettingsDialogTest::cancellingTheImageDialogClearsBootableBeforeAnythingIsApplied() {
  TMainFixture f;
  fornax::TQzRecorder& rec = f.Window->Recorder();
  rec.Bootable = true;
  rec.BootImageFile = "/srv/boot/old.img";
  f.Prompter.FileAnswers = {std::nullopt};
  bool tickedAtShow = true, engineBootable = false, tickedAfterPick = false;
  QString labelAtShow, labelAfterPick, labelAfterClear;
  int unusedAnswers = 0;
  ShowSettings(f, [&](TfrmSettings& s) {
    tickedAtShow = s.cBootable->isChecked();
    labelAtShow = s.Label2->text();
    engineBootable = rec.Bootable;
    // Ticking asks for an image; clearing asks nothing.
    f.Prompter.FileAnswers = {QString("/srv/boot/new.img"), QString("/srv/boot/unused.img")};
    s.cBootable->click();
    tickedAfterPick = s.cBootable->isChecked();
    labelAfterPick = s.Label2->text();
    s.cBootable->click();
    labelAfterClear = s.Label2->text();
    unusedAnswers = int(f.Prompter.FileAnswers.size());
    s.Button1->click();
  });
  QVERIFY(!tickedAtShow);
  QCOMPARE(labelAtShow, QString("/srv/boot/old.img"));
  QVERIFY(engineBootable);
  QVERIFY(tickedAfterPick);
  QCOMPARE(labelAfterPick, QString("/srv/boot/new.img"));
  QCOMPARE(labelAfterClear, QString("/srv/boot/new.img"));
  QCOMPARE(unusedAnswers, 1);
  QVERIFY(!rec.Bootable);
  QCOMPARE(rec.BootImageFile, std::string("/srv/boot/new.img"));
  QVERIFY(SettingsLines().contains("Bootable=0"));
}

void SettingsDialogTest::cancelAndEscapeChangeNothingEnterAccepts() {
  TMainFixture f;
  const QStringList before = AppliedOptions(*f.Window);
  const bool underrunBefore = f.Window->Recorder().UnderrunProtection;
  const TShowing cancelled = ShowSettings(f, [&](TfrmSettings& s) {
    ChangeEverything(f, s);
    s.Button2->click();
  });
  QCOMPARE(cancelled.Result, int(QDialog::Rejected));
  QVERIFY(!cancelled.StillOpen);
  QCOMPARE(AppliedOptions(*f.Window), before);
  QCOMPARE(f.Window->Recorder().UnderrunProtection, underrunBefore);

  const TShowing escaped = ShowSettings(f, [&](TfrmSettings& s) {
    ChangeEverything(f, s);
    QTest::keyClick(&s, Qt::Key_Escape);
  });
  QCOMPARE(escaped.Result, int(QDialog::Rejected));
  QVERIFY(!escaped.StillOpen);
  QCOMPARE(AppliedOptions(*f.Window), before);
  QVERIFY(!QFile::exists(SettingsPath()));

  const TShowing entered = ShowSettings(f, [&](TfrmSettings& s) {
    s.eVolLabel->setText("POR_TECLADO");
    QTest::keyClick(s.eVolLabel, Qt::Key_Return);
  });
  QCOMPARE(entered.Result, int(QDialog::Accepted));
  QCOMPARE(f.Window->Recorder().IdVolume, std::string("POR_TECLADO"));
  QVERIFY(SettingsLines().contains("VolumeLable=POR_TECLADO"));
}

void SettingsDialogTest::savePathKeepsTheWindowsStateWord() {
  {
    TMainFixture f;
    const QList<QPair<TPathState, QString>> states = {
        {TPathState::Checked, "Checked"}, {TPathState::Unchecked, "Unchecked"}, {TPathState::Grayed, "Grayed"}};
    for (const auto& [state, word] : states) {
      f.Window->SetPathState(state);
      ShowSettings(f, [](TfrmSettings& s) { s.Button1->click(); });
      QVERIFY2(SettingsLines().contains("SavePath=" + word), qPrintable(word));
      QCOMPARE(f.Window->PathState(), state);
    }
  }
  TMainFixture next;
  QCOMPARE(next.Window->PathState(), TPathState::Grayed);
}

void SettingsDialogTest::unwritableSettingsFileIsReportedAndValuesStayApplied() {
  QVERIFY(QDir().mkpath(SettingsPath()));  // a folder where the file belongs
  TMainFixture f;
  bool openAfterError = false;
  QStringList informed;
  const TShowing showing = ShowSettings(f, [&](TfrmSettings& s) {
    s.cJoliet->setChecked(false);
    s.cQuickSaveISO->setChecked(true);
    s.Button1->click();
    openAfterError = s.isVisible();
    informed = f.Prompter.Informed;
    s.Button2->click();
  });
  QVERIFY(openAfterError);
  QCOMPARE(informed.size(), 1);
  QVERIFY2(informed.first().contains("QZREC.ini"), qPrintable(informed.first()));
  QCOMPARE(showing.Result, int(QDialog::Rejected));
  QVERIFY(!f.Window->Recorder().JolietFileSystem);
  QVERIFY(f.Window->Settings().QuickSaveISO);
  QVERIFY(QFileInfo(SettingsPath()).isDir());
}

void SettingsDialogTest::closeTrackClosesTheSessionAndKeepsTheDialogOpen() {
  TMainFixture f;
  fornax::TSCSIDevice::SetTraceAll(true);
  bool openAfterClose = false;
  ShowSettings(f, [&](TfrmSettings& s) {
    s.Button3->click();
    openAfterClose = s.isVisible();
    s.Button2->click();
  });
  fornax::TSCSIDevice::SetTraceAll(false);
  QVERIFY(openAfterClose);
  QVERIFY(f.Prompter.Informed.isEmpty());
  // CLOSE TRACK/SESSION: byte 1 without the immediate bit, close function 2.
  static const QRegularExpression close(R"(^<<< .*\(5B\) .*\[[0-9A-F]{5}\] 00 02 00 00 00 )");
  QStringList closes;
  for (const QString& line : f.Window->LogText().split('\n'))
    if (line.contains("(5B)")) closes.append(line);
  QCOMPARE(closes.size(), 1);
  QVERIFY2(close.match(closes.first()).hasMatch(), qPrintable(closes.first()));
}

void SettingsDialogTest::underrunBoxFollowsTheDrivesCapability() {
  TMainFixture f;
  fornax::TQzRecorder& rec = f.Window->Recorder();
  QVERIFY(rec.DriveCapabilities().Has(fornax::capUnderrunProtection));
  bool enabled = false, ticked = false;
  ShowSettings(f, [&](TfrmSettings& s) {
    enabled = s.cUnderrunProtection->isEnabled();
    ticked = s.cUnderrunProtection->isChecked();
    s.cUnderrunProtection->click();
    s.Button1->click();
  });
  QVERIFY(enabled);
  QVERIFY(ticked);
  QVERIFY(!rec.UnderrunProtection);

  // Reselected while it answers BUSY, the drive reports no capability at all.
  AnswerBusy(2);
  f.Window->cbDrivesChange();
  FDrive->Call("fornax_sim_clear_faults");
  QCOMPARE(rec.Capabilities(), 0u);
  ShowSettings(f, [&](TfrmSettings& s) {
    enabled = s.cUnderrunProtection->isEnabled();
    ticked = s.cUnderrunProtection->isChecked();
    s.Button2->click();
  });
  QVERIFY(!enabled);
  QVERIFY(!ticked);
}

FORNAX_GUI_TEST(SettingsDialogTest)

#include "settings_dialog_test.moc"
