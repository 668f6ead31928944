#include "app/settings_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>

#include "app/display_formats.h"
#include "app/settings_file.h"
#include "engine/recorder.h"

namespace fornax::app {
namespace {

constexpr int kMiB = 1048576;
constexpr int kLastSession = -1;
constexpr int kHighestSession = 255;

void CenterOnScreen(QWidget& window) {
  const QScreen* screen = window.parentWidget() ? window.parentWidget()->screen() : QGuiApplication::primaryScreen();
  if (screen) window.move(screen->availableGeometry().center() - window.rect().center());
}

// SessionNo is one byte: 255 is how "the last session" (-1) is held.
QString SessionText(uint8_t session) {
  return session == static_cast<uint8_t>(kLastSession) ? QString::number(kLastSession) : QString::number(session);
}

// The typed session number: -1 (the last), 0 (none) or a session up to 255.
// Anything else is refused, since one byte would silently turn 256 into "no
// import" and -2 into session 254.
bool ParseSessionNumber(const QString& typed, int& session, QString& error) {
  const QString text = typed.trimmed();
  bool ok = false;
  const int value = text.toInt(&ok, 10);
  if (!ok) {
    error = TfrmSettings::tr("'%1' is not a valid integer value").arg(text);
    return false;
  }
  if (value < kLastSession || value > kHighestSession) {
    error = TfrmSettings::tr("'%1' no es un numero de sesion valido: -1 para la ultima, 0 para ninguna o de 1 a 255")
                .arg(text);
    return false;
  }
  session = value;
  return true;
}

}  // namespace

TfrmSettings::TfrmSettings(TQzRecorder& recorder, TAppSettings& settings, TPathState pathState, TPrompter& prompter,
                           QWidget* parent)
    : QDialog(parent), FRecorder(recorder), FSettings(settings), FPathState(pathState), FPrompter(prompter) {
  setObjectName("frmSettings");
  setWindowTitle(tr("Opciones avanzadas"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  auto* grid = new QGridLayout(this);
  grid->setSizeConstraint(QLayout::SetFixedSize);
  BuildOptions(grid);
  BuildCacheRow(grid, grid->rowCount());
  BuildButtons(grid, grid->rowCount());
  ConnectControls();
  // What the main window hands over before the dialog shows; each counts as
  // a click, so the import box enables the session number.
  cEject->setChecked(FSettings.EjectDisc);
  cShowFiles->setChecked(FSettings.ShowFiles);
  cVerify->setChecked(FSettings.VerifyAfterBurn);
  cImportSession->setChecked(FSettings.ImportSession);
  adjustSize();
  CenterOnScreen(*this);
}

QCheckBox* TfrmSettings::AddBox(QGridLayout* grid, int row, int column, const char* name, const QString& caption) {
  auto* box = new QCheckBox(caption, this);
  box->setObjectName(name);
  grid->addWidget(box, row, column);
  return box;
}

void TfrmSettings::BuildOptions(QGridLayout* grid) {
  Label1 = new QLabel(tr("Etiqueta volumen :"), this);
  Label1->setObjectName("Label1");
  grid->addWidget(Label1, 0, 0);
  eVolLabel = new QLineEdit("etiqueta", this);
  eVolLabel->setObjectName("eVolLabel");
  eVolLabel->setMaxLength(16);
  grid->addWidget(eVolLabel, 0, 1);

  cJoliet = AddBox(grid, 1, 0, "cJoliet", tr("Sistema de archivos Joliet"));
  cJoliet->setToolTip(tr("Long File Name"));
  cJoliet->setChecked(true);
  cCloseDisc = AddBox(grid, 2, 0, "cCloseDisc", tr("Cerrar disco (al finalizar)"));
  cCloseDisc->setChecked(true);
  cImportSession = AddBox(grid, 3, 0, "cImportSession", tr("Importar Sesion"));
  eSession = new QLineEdit("0", this);
  eSession->setObjectName("eSession");
  eSession->setToolTip(tr("Session Number to Import; for Last Session enter -1"));
  eSession->setMaximumWidth(60);
  eSession->setEnabled(false);
  grid->addWidget(eSession, 3, 1, Qt::AlignLeft);
  cUnderrunProtection = AddBox(grid, 4, 0, "cUnderrunProtection", tr("Proteccion Underrun"));
  cUnderrunProtection->setChecked(true);
  cTestWrite = AddBox(grid, 5, 0, "cTestWrite", tr("Test de escritura"));
  cEject = AddBox(grid, 6, 0, "cEject", tr("Expulsar despues de Escribir/Borrar"));

  cOPC = AddBox(grid, 1, 1, "cOPC", tr("Perform OPC"));
  cQuickSaveISO = AddBox(grid, 2, 1, "cQuickSaveISO", tr("Salvado rapido .ISO"));
  cShowFiles = AddBox(grid, 4, 1, "cShowFiles", tr("Mostar archivos antes de quemar"));
  cArchiveOnly = AddBox(grid, 5, 1, "cArchiveOnly", tr("Archivar archivos solos && Limpiar Bit de Archivos"));
  cVerify = AddBox(grid, 6, 1, "cVerify", tr("Verificar despues de quemar"));
  cVerify->setToolTip(tr("Lee el disco grabado y lo compara con lo que se envio"));
  cBootable = AddBox(grid, 7, 0, "cBootable", tr("Bootable"));
  Label2 = new QLabel(this);
  Label2->setObjectName("Label2");
  // A long path must not stretch the fixed dialog; the hint shows it whole.
  Label2->setMinimumWidth(240);
  Label2->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  grid->addWidget(Label2, 7, 1);
  cRockRidge = AddBox(grid, 8, 0, "cRockRidge", tr("Rock Ridge (permisos y enlaces de Linux)"));
  cRockRidge->setToolTip(tr("Guarda permisos, propietarios, fechas, nombres largos y enlaces simbolicos "
                            "(los enlaces se graban como enlaces, sin seguirlos)"));
}

void TfrmSettings::BuildCacheRow(QGridLayout* grid, int row) {
  Label4 = new QLabel(tr("Tamaño de Cache :"), this);
  Label4->setObjectName("Label4");
  grid->addWidget(Label4, row, 0);
  auto* line = new QHBoxLayout();
  sCacheSize = new QSlider(Qt::Horizontal, this);
  sCacheSize->setObjectName("sCacheSize");
  sCacheSize->setRange(2, 64);
  sCacheSize->setTickInterval(4);
  sCacheSize->setTickPosition(QSlider::TicksBelow);
  sCacheSize->setValue(2);
  line->addWidget(sCacheSize, 1);
  Label3 = new QLabel("0", this);
  Label3->setObjectName("Label3");
  Label3->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Label3->setMinimumWidth(Label3->fontMetrics().horizontalAdvance("64 MB") + 4);
  line->addWidget(Label3);
  grid->addLayout(line, row, 1);
}

void TfrmSettings::BuildButtons(QGridLayout* grid, int row) {
  auto* line = new QHBoxLayout();
  Button3 = new QPushButton(tr("Cerrar Track"), this);
  Button3->setObjectName("Button3");
  line->addWidget(Button3);
  line->addStretch(1);
  Button1 = new QPushButton(tr("&Aceptar"), this);
  Button1->setObjectName("Button1");
  Button1->setDefault(true);
  line->addWidget(Button1);
  Button2 = new QPushButton(tr("&Cancelar"), this);
  Button2->setObjectName("Button2");
  line->addWidget(Button2);
  grid->addLayout(line, row, 0, 1, 2);
}

void TfrmSettings::ConnectControls() {
  connect(Button1, &QPushButton::clicked, this, &TfrmSettings::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TfrmSettings::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TfrmSettings::Button3Click);
  // toggled, not clicked: a state set in code runs the handler as a click does.
  connect(cImportSession, &QCheckBox::toggled, this, &TfrmSettings::cImportSessionClick);
  connect(cBootable, &QCheckBox::toggled, this, &TfrmSettings::cBootableClick);
  connect(sCacheSize, &QSlider::valueChanged, this, &TfrmSettings::sCacheSizeChange);
}

void TfrmSettings::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (FShown) return;
  FShown = true;
  FormShow();
}

void TfrmSettings::FormShow() {
  TQzRecorder& rec = FRecorder;
  cJoliet->setChecked(rec.JolietFileSystem);
  cRockRidge->setChecked(rec.RockRidge);
  cQuickSaveISO->setChecked(FSettings.QuickSaveISO);
  cCloseDisc->setChecked(rec.FinalizeDisc);
  eVolLabel->setText(QString::fromStdString(rec.IdVolume));
  cTestWrite->setChecked(rec.TestWrite);
  cOPC->setChecked(rec.PerformOPC);
  // The image path first: ticking the box opens the file dialog on it, and
  // what the user picks there must not be overwritten afterwards.
  Label2->setText(QString::fromStdString(rec.BootImageFile));
  Label2->setToolTip(Label2->text());
  cBootable->setChecked(rec.Bootable);
  eSession->setText(SessionText(FSettings.SessionNo));
  cArchiveOnly->setChecked(FSettings.ArchiveFiles);
  cUnderrunProtection->setChecked(rec.UnderrunProtection);
  cUnderrunProtection->setEnabled(rec.DriveCapabilities().Has(capUnderrunProtection));
  sCacheSize->setValue(static_cast<int>(rec.CacheSize() / kMiB));
  sCacheSizeChange();  // also when the position did not move
}

void TfrmSettings::cImportSessionClick() { eSession->setEnabled(cImportSession->isChecked()); }

void TfrmSettings::sCacheSizeChange() {
  Label3->setText(QString::fromStdString(PadLeft(std::to_string(sCacheSize->value()), 2)) + " MB");
}

void TfrmSettings::cBootableClick() {
  if (!cBootable->isChecked()) return;
  TOpenFileRequest request;
  request.DefaultSuffix = "img";
  // The image kinds in either case: names on Linux keep theirs.
  request.Filters = {tr("All Image Files (*.IMG *.IMA *.BIN *.img *.ima *.bin)"), tr("All Files (*)")};
  request.InitialFile = Label2->text();
  QString file;
  if (FPrompter.OpenFile(this, request, file)) {
    Label2->setText(file);
    Label2->setToolTip(file);
  } else {
    cBootable->setChecked(false);
  }
}

void TfrmSettings::Button3Click() { FRecorder.CloseTrackSession(false, false, false); }

void TfrmSettings::Button2Click() { reject(); }

void TfrmSettings::Button1Click() {
  ApplyToEngine();
  ApplyToApplication();
  int session = 0;
  if (!ReadSessionNumber(session)) return;
  FSettings.SessionNo = static_cast<uint8_t>(session);
  FSettings.QuickSaveISO = cQuickSaveISO->isChecked();
  if (!StoreSettings()) return;
  accept();
}

void TfrmSettings::ApplyToEngine() {
  TQzRecorder& rec = FRecorder;
  rec.JolietFileSystem = cJoliet->isChecked();
  rec.RockRidge = cRockRidge->isChecked();
  rec.IdVolume = eVolLabel->text().toStdString();
  rec.FinalizeDisc = cCloseDisc->isChecked();
  rec.UnderrunProtection = cUnderrunProtection->isChecked();
  rec.TestWrite = cTestWrite->isChecked();
  rec.PerformOPC = cOPC->isChecked();
  rec.SetCacheSize(sCacheSize->value() * kMiB);
  rec.Bootable = cBootable->isChecked();
  rec.BootImageFile = Label2->text().toStdString();
}

void TfrmSettings::ApplyToApplication() {
  FSettings.ArchiveFiles = cArchiveOnly->isChecked();
  FSettings.EjectDisc = cEject->isChecked();
  FSettings.ShowFiles = cShowFiles->isChecked();
  FSettings.VerifyAfterBurn = cVerify->isChecked();
  FSettings.ImportSession = cImportSession->isChecked();
}

// Without the import box the number is not read: no session is imported.
bool TfrmSettings::ReadSessionNumber(int& session) {
  session = 0;
  if (!cImportSession->isChecked()) return true;
  QString error;
  if (!ParseSessionNumber(eSession->text(), session, error)) {
    FPrompter.Inform(this, error);
    return false;
  }
  if (session == 0)
    FPrompter.Inform(this, tr("Sesion a importar; Zero significa que no hay sesiones para importar"));
  return true;
}

bool TfrmSettings::StoreSettings() {
  TSettingsFile file(TSettingsFile::DefaultPath());
  const char* s = kOptionsSection;
  const bool stored = file.WriteBool(s, "ArchiveFiles", cArchiveOnly->isChecked()) &&
                      file.WriteBool(s, "ImportSession", cImportSession->isChecked()) &&
                      file.WriteString(s, "SavePath", PathStateWord(FPathState)) &&
                      file.WriteBool(s, "CloseDisc", FRecorder.FinalizeDisc) &&
                      file.WriteBool(s, "EjectDisc", cEject->isChecked()) &&
                      file.WriteBool(s, "JolietFS", cJoliet->isChecked()) &&
                      file.WriteBool(s, "RockRidge", cRockRidge->isChecked()) &&
                      file.WriteBool(s, "Bootable", cBootable->isChecked()) &&
                      file.WriteBool(s, "TestWrite", cTestWrite->isChecked()) &&
                      file.WriteBool(s, "QuickSaveISO", cQuickSaveISO->isChecked()) &&
                      file.WriteBool(s, "ShowFiles", cShowFiles->isChecked()) &&
                      file.WriteBool(s, "VerifyAfterBurn", cVerify->isChecked()) &&
                      file.WriteBool(s, "PerformOPC", cOPC->isChecked()) &&
                      file.WriteString(s, "SessionNo", eSession->text().toStdString()) &&
                      file.WriteString(s, "BootImage", Label2->text().toStdString()) &&
                      file.WriteString(s, "VolumeLable", eVolLabel->text().toStdString()) &&
                      file.WriteInteger(s, "CacheSize", static_cast<int>(FRecorder.CacheSize()));
  if (!stored) FPrompter.Inform(this, QString::fromStdString(file.Error()));
  return stored;
}

}  // namespace fornax::app
