// The main window's drive side: start-up, drive and speed choice, burning,
// erasing, the tray buttons, progress and the completion events.

#include <QApplication>
#include <QClipboard>

#include "app/about_dialog.h"
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
  Log("Fornax, grabacion de discos de datos");
  Log("Hecho en Linux por el equipo de Fornax");
  rec.InitTransport(true, "");
  if (!rec.ASPIInitialized()) {
    pTop->setEnabled(false);
    pTop2->setEnabled(false);
    FPrompter.Inform(this, QString("Error inicializando capa ASPI, Por favor pongase en contacto con el "
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
  lDrive->setText(node.empty() ? "  Unidad :" : QString("Unidad %1:").arg(QString::fromStdString(node)));
  const uint32_t caps = rec.Capabilities();
  bBurn->setEnabled(HasCapability(caps, kWriteCdr) || HasCapability(caps, kWriteDvdr) ||
                    HasCapability(caps, kWriteDvdRam));
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
  FeedCompilation();
  Log(">>> AGREGAR ARCHIVOS/DIRECTORIOS AL CD/DVD FINALIZADO");
  QApplication::processEvents();
  if (rec.DirectoryCount() == 0 && rec.FileCount() == 0) {
    Log(">>> NADA PARA QUEMAR, ABORTANDO...");
    return;
  }
  if (FSettings.ShowFiles) {
    TfrmDiscLayout layout(rec, FPrompter, this);
    FPrompter.RunModal(layout);
  }
  rec.PrepareImage(false, nullptr);
  pcd->SetMax(static_cast<int>(rec.ImageSectors()));
  const QString size = QString::fromStdString(GroupedFixed2(static_cast<double>(rec.ImageSectors()) * 2048.0 / 1048576.0));
  if (!FPrompter.Ask(this, "Iniciando escritura " + size + " MB", "¿Quieres quemar el CD/DVD?", false)) {
    Timer1->stop();
    return;
  }
  bAbort->show();
  Timer1->start();
  Log(">>> INICIO DE QUEMADO DE DC/DVD " + QString::fromStdString(rec.DeviceDescription()));
  SetBusy(true);
  rec.BurnCompilation();
}

void TfrmMain::bBurnISOClick() {
  TQzRecorder& rec = *qzrec;
  TOpenFileRequest request;
  request.DefaultSuffix = "iso";
  request.Filters = {"Archivos .ISO (*.iso *.ISO)", "Todos los archivos (*)"};
  request.ReadOnlyOption = true;
  QString file;
  if (!FPrompter.OpenFile(this, request, file)) return;
  rec.ReadBufferCapacity();
  pHBuf->SetMax(static_cast<int>(rec.DeviceBufferSize.load()));
  bAbort->show();
  Timer1->start();
  Log(">>> INICIANDO QUEMADO ISO IMAGE ON " + QString::fromStdString(rec.DeviceDescription()));
  SetBusy(true);
  ApplySelectedSpeed();
  rec.BurnISOFile(file.toStdString());
  pcd->SetMax(static_cast<int>(rec.ImageSectors()));
}

void TfrmMain::bQEraseClick() {
  TQzRecorder& rec = *qzrec;
  if (!rec.IsErasable() && rec.MediumType() != mtDVDRAM) {
    FPrompter.Inform(this, "El disco no es borrable");
    return;
  }
  if (!FPrompter.Ask(this, "Toda la data en el disco se perdera", "¿Desea iniciar eliminado rapido?", true)) return;
  Timer1->start();
  ApplySelectedSpeed();
  rec.EraseDisc(1);
}

void TfrmMain::bCEraseClick() {
  TQzRecorder& rec = *qzrec;
  if (!rec.IsErasable()) {
    FPrompter.Inform(this, "Disco no es borrable");
    return;
  }
  if (!FPrompter.Ask(this, "Toda la data en el CD sera borrado",
                     "¿Deseas limpiar el disco...? (puede tomar 10-70 min)", true))
    return;
  Timer1->start();
  ApplySelectedSpeed();
  rec.EraseDisc(0);
}

void TfrmMain::bLoadClick() {
  if (qzrec->LoadMedium()) Log(">>> COMANDO DE CARGADO DE MEDIO REALIZADO.");
}

void TfrmMain::bEjectClick() {
  TQzRecorder& rec = *qzrec;
  rec.SynchronizeCache(false, 300000);
  rec.PreventAllowMediumRemoval(false);
  Log(rec.EjectMedium() ? ">>> COMANDO DE EXPULSION DE MEDIO REALIZADO." : ">>> COMANDO DE EXPULSION DE MEDIO FALLO.");
}

void TfrmMain::bReadyClick() {
  Log(qzrec->TestUnitReady(5000) ? ">>> DRIVE ESTA LISTO" : ">>> DRIVE NO ESTA LISTO ");
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
}

void TfrmMain::qzrecWriteDone(TObject*, const std::string& Error) {
  TQzRecorder& rec = *qzrec;
  Timer1->stop();
  SetBusy(false);
  Timer1Timer();
  if (!Error.empty()) {
    Log(">>> PROCESO QUEMADO FINALIZO CON ERROR");
    Log(QString::fromStdString(">>> " + Error));
  } else {
    Log(">>> PROCESO QUEMADO FINALIZO");
    if (FSettings.ArchiveFiles) rec.ClearArchiveBits();
    if (FSettings.EjectDisc) rec.EjectMedium();
  }
  rec.ClearCompilation(600000, 20000);
  FPrompter.Beep();
  bAbort->hide();
  Log(" ");
}

void TfrmMain::qzrecEraseDone(TObject*, bool WithError) {
  Log(WithError ? ">>> PROCESO DE BORRAO FINALIZADO CON ERROR" : ">>> PROCESO DE BORRAO FINALIZADO");
  Timer1->stop();
  if (!WithError && FSettings.EjectDisc) qzrec->EjectMedium();
  pcd->SetPosition(0);
  FPrompter.Beep();
  Log(" ");
}

void TfrmMain::qzrecFinalizingTrack(TObject*) { Log(">>> FINALIZANDO TRACK"); }

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
