// The main window's drive side: start-up, drive and speed choice, burning,
// erasing, the tray buttons, progress and the completion events.

#include <QApplication>
#include <QClipboard>

#include "app/about_dialog.h"
#include "app/burn_progress.h"
#include "app/capabilities_dialog.h"
#include "app/disc_info_dialog.h"
#include "app/display_formats.h"
#include "app/layout_dialog.h"
#include "app/main_window.h"
#include "app/settings_dialog.h"
#include "app/settings_file.h"
#include "app/speed_list.h"

namespace fornax::app {
namespace {

constexpr const char* kContactAddress = "soporte@fornax.example.org";
constexpr int kWriteCdr = 10, kWriteDvdr = 13, kWriteDvdRam = 15;

bool HasCapability(uint32_t capabilities, int bit) { return (capabilities >> bit) & 1u; }

}  // namespace

void TfrmMain::FormShow() {
  TQzRecorder& rec = *qzrec;
  Log(kWindowCaption);
  Log(tr("Fornax, grabacion de discos de datos"));
  Log(tr("Hecho en Linux por el equipo de Fornax"));
  rec.InitTransport(true, "");
  if (!rec.ASPIInitialized()) {
    pTop->setEnabled(false);
    pTop2->setEnabled(false);
    FPrompter.Inform(this, tr("Error inicializando capa ASPI, Por favor pongase en contacto con el "
                              "administrador %1").arg(kContactAddress));
    return;
  }
  if (!rec.DeviceList().empty()) {
    for (const std::string& line : rec.DeviceList()) cbDrives->addItem(QString::fromStdString(line));
    cbDrives->setCurrentIndex(0);
    cbDrivesChange();
  }
  LoadSettings(TSettingsFile(TSettingsFile::DefaultPath()), rec, FSettings);
  SetPathState(FSettings.SavePath);
  clBox->TickAll();
  Log(" ");
  rec.ReleaseHandleAfterCommand(true);
}

void TfrmMain::cbDrivesChange() {
  TQzRecorder& rec = *qzrec;
  rec.SelectDevice(cbDrives->currentText().toStdString());
  cbDrives->setToolTip(cbDrives->currentText());
  const std::string node = rec.DrivePath();
  lDrive->setText(node.empty() ? tr("  Unidad :") : tr("Unidad %1:").arg(QString::fromStdString(node)));
  const uint32_t caps = rec.Capabilities();
  bBurn->setEnabled(HasCapability(caps, kWriteCdr) || HasCapability(caps, kWriteDvdr) ||
                    HasCapability(caps, kWriteDvdRam));
  RefreshDiscSpace();
}

void TfrmMain::cbSpeedDropDown() {
  const int previous = cbSpeed->currentIndex();
  const std::vector<std::string> entries = ProbeSpeedList(*qzrec);
  cbSpeed->clear();
  for (const std::string& entry : entries) cbSpeed->addItem(QString::fromStdString(entry));
  cbSpeed->setCurrentIndex(previous >= 0 && previous < cbSpeed->count() ? previous : 0);
}

void TfrmMain::ApplySelectedSpeed() {
  qzrec->SetWriteSpeed(SpeedTextToValue(cbSpeed->currentText().toStdString(), qzrec->MediumType()));
}

void TfrmMain::bBurnClick() {
  TQzRecorder& rec = *qzrec;
  rec.ReadBufferCapacity();
  pHBuf->SetMax(static_cast<int>(rec.DeviceBufferSize.load()));
  if (cbSpeed->currentIndex() < 0) cbSpeed->setCurrentIndex(0);
  ApplySelectedSpeed();
  QApplication::processEvents();
  rec.ClearCompilation(600000, 20000);
  SetWorking(true);
  FeedCompilation();
  Log(tr(">>> AGREGAR ARCHIVOS/DIRECTORIOS AL CD/DVD FINALIZADO"));
  QApplication::processEvents();
  if (rec.DirectoryCount() == 0 && rec.FileCount() == 0) {
    Log(tr(">>> NADA PARA QUEMAR, ABORTANDO..."));
    SetWorking(false);
    return;
  }
  if (FSettings.ShowFiles) {
    TfrmDiscLayout layout(rec, FPrompter, this);
    FPrompter.RunModal(layout);
  }
  // Laid out from where the session will really start on this disc: the
  // question says what is written and what stays free, and a compilation
  // that does not fit is not begun.
  const TDiscSpace space = rec.PlanBurn();
  pcd->SetMax(static_cast<int>(rec.ImageSectors()));
  const auto megabytes = [](int64_t sectors) {
    return QString::fromStdString(GroupedFixed2(static_cast<double>(sectors) * 2048.0 / 1048576.0)) + " MB";
  };
  pSpace->SetAdded(space.Needed);
  if (!space.Fits()) {
    FPrompter.Inform(this, tr("La compilacion no cabe en el disco: necesita %1 y solo quedan %2 libres "
                              "(desde el sector %3).")
                           .arg(megabytes(space.Needed), megabytes(space.Free))
                           .arg(space.Start));
    SetWorking(false);
    return;
  }
  const QString detail =
      tr("Se escribiran %1 (quedan %2 libres en el disco).").arg(megabytes(space.Needed), megabytes(space.Free));
  if (!FPrompter.Ask(this, detail, tr("¿Quieres quemar el CD/DVD?"), false)) {
    Timer1->stop();
    SetWorking(false);
    return;
  }
  bAbort->show();
  FWriteClock.start();
  Timer1->start();
  Log(tr(">>> INICIO DE QUEMADO DE DC/DVD ") + QString::fromStdString(rec.DeviceDescription()));
  rec.RecordForVerify = FSettings.VerifyAfterBurn;
  rec.BurnCompilation();
}

void TfrmMain::bBurnISOClick() {
  TQzRecorder& rec = *qzrec;
  TOpenFileRequest request;
  request.DefaultSuffix = "iso";
  request.Filters = {tr("Archivos .ISO (*.iso *.ISO)"), tr("Todos los archivos (*)")};
  request.ReadOnlyOption = true;
  QString file;
  if (!FPrompter.OpenFile(this, request, file)) return;
  rec.ReadBufferCapacity();
  pHBuf->SetMax(static_cast<int>(rec.DeviceBufferSize.load()));
  bAbort->show();
  FLeftOut.clear();
  FWriteClock.start();
  Timer1->start();
  Log(tr(">>> INICIANDO QUEMADO ISO IMAGE ON ") + QString::fromStdString(rec.DeviceDescription()));
  SetWorking(true);
  ApplySelectedSpeed();
  rec.RecordForVerify = FSettings.VerifyAfterBurn;
  rec.BurnISOFile(file.toStdString());
  pcd->SetMax(static_cast<int>(rec.ImageSectors()));
}

void TfrmMain::bQEraseClick() {
  TQzRecorder& rec = *qzrec;
  if (!rec.IsErasable() && rec.MediumType() != mtDVDRAM) {
    FPrompter.Inform(this, tr("El disco no es borrable"));
    return;
  }
  if (!FPrompter.Ask(this, tr("Toda la data en el disco se perdera"), tr("¿Desea iniciar eliminado rapido?"), true))
    return;
  Timer1->start();
  ApplySelectedSpeed();
  SetWorking(true);
  if (!rec.EraseDisc(1)) SetWorking(false);
}

void TfrmMain::bCEraseClick() {
  TQzRecorder& rec = *qzrec;
  if (!rec.IsErasable()) {
    FPrompter.Inform(this, tr("Disco no es borrable"));
    return;
  }
  if (!FPrompter.Ask(this, tr("Toda la data en el CD sera borrado"),
                     tr("¿Deseas limpiar el disco...? (puede tomar 10-70 min)"), true))
    return;
  Timer1->start();
  ApplySelectedSpeed();
  SetWorking(true);
  if (!rec.EraseDisc(0)) SetWorking(false);
}

void TfrmMain::bLoadClick() {
  if (qzrec->LoadMedium()) Log(tr(">>> COMANDO DE CARGADO DE MEDIO REALIZADO."));
  RefreshDiscSpace();
}

void TfrmMain::bEjectClick() {
  TQzRecorder& rec = *qzrec;
  rec.SynchronizeCache(false, 300000);
  rec.PreventAllowMediumRemoval(false);
  Log(rec.EjectMedium() ? tr(">>> COMANDO DE EXPULSION DE MEDIO REALIZADO.")
                        : tr(">>> COMANDO DE EXPULSION DE MEDIO FALLO."));
  RefreshDiscSpace();
}

void TfrmMain::bReadyClick() {
  Log(qzrec->TestUnitReady(5000) ? tr(">>> DRIVE ESTA LISTO") : tr(">>> DRIVE NO ESTA LISTO "));
}

void TfrmMain::bAbortClick() {
  qzrec->AbortWrite();
  bAbort->hide();
}

void TfrmMain::Timer1Timer() {
  TQzRecorder& rec = *qzrec;
  if (rec.Erasing()) {
    pcd->SetMax(100);
    pcd->SetPosition(rec.EraseProgress());
    lProgress->setText(tr("Borrando: %1 %").arg(rec.EraseProgress()));
    return;
  }
  const double image = static_cast<double>(rec.ImageSectors()) * 2048.0;
  lSize->setText(QString::fromStdString(GroupedFixed2(static_cast<double>(rec.BytesWritten()) / 1048576.0) + "/" +
                                        MegabytesText(image)));
  pBuf->SetPosition(rec.CacheFillPercent());
  pcd->SetMax(static_cast<int>(rec.ImageSectors()));
  pcd->SetPosition(static_cast<int>(rec.BytesWritten() / 2048));
  const uint32_t size = rec.DeviceBufferSize, free = rec.DeviceFreeBufferSize;
  if (free <= size) pHBuf->SetPosition(static_cast<int>(size - free));
  if (FWriteClock.isValid()) {
    TBurnProgress progress;
    progress.Written = rec.BytesWritten();
    progress.Total = static_cast<int64_t>(image);
    progress.Seconds = static_cast<double>(FWriteClock.elapsed()) / 1000.0;
    progress.Dvd = FImageBuild || TSCSIDevice::CurrentMediumCode() > 3;
    lProgress->setText(ProgressText(progress));
  }
}

void TfrmMain::qzrecWriteDone(TObject*, const std::string& Error) {
  TQzRecorder& rec = *qzrec;
  Timer1->stop();
  Timer1Timer();
  FWriteClock.invalidate();
  QString verified;
  if (!Error.empty()) {
    Log(tr(">>> PROCESO QUEMADO FINALIZO CON ERROR"));
    Log(QString::fromStdString(">>> " + Error));
  } else {
    Log(tr(">>> PROCESO QUEMADO FINALIZO"));
    if (FSettings.ArchiveFiles) rec.ClearArchiveBits();
    // A test write records nothing, and an image file is no disc.
    if (FSettings.VerifyAfterBurn && !FImageBuild && !rec.TestWrite && !FClosing) verified = VerifyBurn();
    if (FSettings.EjectDisc) rec.EjectMedium();
  }
  QString message = EndMessage(Error);
  if (!verified.isEmpty()) message += "\n\n" + verified;
  rec.ClearCompilation(600000, 20000);
  FPrompter.Beep();
  bAbort->hide();
  Log(" ");
  SetWorking(false);
  RefreshDiscSpace();
  if (!FClosing) FPrompter.Inform(this, message);
}

void TfrmMain::qzrecEraseDone(TObject*, bool WithError) {
  Log(WithError ? tr(">>> PROCESO DE BORRAO FINALIZADO CON ERROR") : tr(">>> PROCESO DE BORRAO FINALIZADO"));
  Timer1->stop();
  if (!WithError && FSettings.EjectDisc) qzrec->EjectMedium();
  pcd->SetPosition(0);
  SetWorking(false);
  FPrompter.Beep();
  Log(" ");
  RefreshDiscSpace();
}

void TfrmMain::qzrecFinalizingTrack(TObject*) { Log(tr(">>> FINALIZANDO TRACK")); }

void TfrmMain::ClearAll1Click() { Memo1->clear(); }

void TfrmMain::CopyLog() {
  Memo1->selectAll();
  Memo1->copy();
}

void TfrmMain::bCDHeaderClick() {
  TfrmSettings dialog(*qzrec, FSettings, PathState(), FPrompter, this);
  FPrompter.RunModal(dialog);
}

void TfrmMain::bCapsClick() {
  TForm2 dialog(*qzrec, this);
  FPrompter.RunModal(dialog);
}

void TfrmMain::bDiscClick() { TfrmSessions::ShowFor(*qzrec, FPrompter, this); }

void TfrmMain::btnAboutClick() {
  TfrmAcercaDe dialog(FPrompter, this);
  FPrompter.RunModal(dialog);
}

}  // namespace fornax::app
