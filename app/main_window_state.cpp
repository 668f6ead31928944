// The main window's working state: which controls are off while the drive
// works, a safe close, the disc-space bar, the message that ends a write, and
// the keyboard shortcuts.

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QTimer>

#include "app/display_formats.h"
#include "app/main_window.h"

namespace fornax::app {
namespace {

constexpr int kMostNamedLeftOut = 10;

}  // namespace

bool TfrmMain::WorkerRunning() const { return FWorking || qzrec->WriteInProgress() || qzrec->Erasing(); }

// One switch for every action that reaches the drive (or the compilation a
// worker reads): two workers must never drive one drive.
void TfrmMain::SetWorking(bool working) {
  FWorking = working;
  SetBusy(working);
  if (working) return;
  FImageBuild = false;
  lProgress->clear();
  // A close asked for while the drive worked waited for this moment.
  if (FClosing) QTimer::singleShot(0, this, &QWidget::close);
}

// The close cannot wait here: the work it waits for may be the caller of
// this very event (a burn driver lets the window's events run while it
// prepares). It is asked for, the work told to stop, and the window closes
// once the work has ended and the drive is idle again.
void TfrmMain::closeEvent(QCloseEvent* event) {
  if (!WorkerRunning()) {
    event->accept();
    return;
  }
  event->ignore();
  if (FClosing) return;
  const bool erasing = qzrec->Erasing();
  const QString what =
      erasing ? tr("La unidad esta borrando el disco; termina sola y Fornax se cierra despues.")
              : tr("Se abortara la escritura en curso; Fornax se cierra cuando la unidad quede lista.");
  if (!FPrompter.Ask(this, what, tr("¿Cerrar Fornax ahora?"), true)) return;
  FClosing = true;
  FCancel = true;
  if (!erasing) qzrec->AbortWrite();
  Log(tr(">>> CERRANDO: ESPERANDO A QUE LA UNIDAD TERMINE"));
}

// What the compilation adds, as the rows' sizes tell it before any layout:
// whole sectors per row and a little for the file system itself.
void TfrmMain::UpdateAddedSpace() {
  int64_t sectors = 0;
  for (int row = 0; row < clBox->rowCount(); ++row) sectors += (clBox->RowBytes(row) + 2047) / 2048;
  if (clBox->rowCount() > 0) sectors += 50;
  pSpace->SetAdded(sectors);
}

void TfrmMain::RefreshDiscSpace() {
  TQzRecorder& rec = *qzrec;
  if (WorkerRunning() || !rec.ASPIInitialized() || rec.DeviceId().empty() || !rec.UnitReady()) {
    if (!WorkerRunning()) pSpace->SetDisc(0, 0);
    return;
  }
  const uint8_t medium = rec.MediumType();
  TSCSIDevice::SetCurrentMediumCode(medium);
  const int64_t capacity = rec.CapacitySectors();
  const int64_t used = IsSequentialMedium(medium) && rec.DiscStatus() == 2 ? capacity : rec.UsedSectors();
  pSpace->SetDisc(capacity, std::min(used, capacity));
}

QString TfrmMain::EndMessage(const std::string& error) const {
  const QString what = FImageBuild ? tr("La imagen ISO") : tr("La grabacion");
  if (!error.empty()) return tr("%1 no termino bien:\n%2").arg(what, QString::fromStdString(error));
  if (FLeftOut.isEmpty()) return tr("%1 termino bien.").arg(what);
  QStringList named = FLeftOut.mid(0, kMostNamedLeftOut);
  if (FLeftOut.size() > kMostNamedLeftOut) named << tr("... y %1 mas").arg(FLeftOut.size() - kMostNamedLeftOut);
  return tr("%1 termino, pero %2 %3 fuera:\n%4")
      .arg(what)
      .arg(FLeftOut.size())
      .arg(FLeftOut.size() == 1 ? tr("entrada quedo") : tr("entradas quedaron"))
      .arg(named.join("\n"));
}

QString TfrmMain::VerifyBurn() {
  Log(tr(">>> VERIFICANDO: LEYENDO EL DISCO GRABADO"));
  TVerifyReport report;
  RunOffThread(tr("Verificando el disco grabado..."), [&] { report = qzrec->VerifyLastBurn(); });
  for (const TFileProblem& problem : report.Problems) Log(QString::fromStdString(">>> " + ProblemText(problem)));
  const std::string summary = qzrec->LastBurn().ForImage() ? ImageVerifySummary(report, qzrec->TrackSectors())
                                                           : VerifySummary(report);
  Log(QString::fromStdString(">>> " + summary));
  return VerifyMessage(report);
}

QString TfrmMain::VerifyMessage(const TVerifyReport& report) const {
  if (!report.Ran) return tr("La verificacion no pudo leer el disco:\n%1").arg(QString::fromStdString(report.Error));
  if (qzrec->LastBurn().ForImage()) {
    if (report.Passed()) return tr("Verificacion: los %1 sectores coinciden con la imagen.").arg(qzrec->TrackSectors());
    return tr("Verificacion: los sectores %1 no coinciden con la imagen.")
        .arg(QString::fromStdString(SectorRangesList(report.FailedSectors)));
  }
  if (report.Passed()) return tr("Verificacion: %1 archivos verificados, todos coinciden con el disco.").arg(report.FilesChecked);
  QStringList named;
  for (const TFileProblem& problem : report.Problems) {
    if (named.size() == kMostNamedLeftOut) {
      named << tr("... y %1 mas").arg(report.Problems.size() - kMostNamedLeftOut);
      break;
    }
    named << QString::fromStdString(ProblemText(problem));
  }
  return tr("Verificacion: %1 archivos verificados; %2 con problemas:\n%3")
      .arg(report.FilesChecked)
      .arg(report.Problems.size())
      .arg(named.join("\n"));
}

void TfrmMain::AddShortcuts() {
  const auto key = [](QPushButton* button, const QKeySequence& sequence) {
    button->setShortcut(sequence);
    button->setToolTip(button->toolTip() + " (" + sequence.toString(QKeySequence::NativeText) + ")");
  };
  key(bBurn, QKeySequence("Ctrl+B"));
  key(bSaveISO, QKeySequence("Ctrl+S"));
  key(bBurnISO, QKeySequence("Ctrl+O"));
  key(bDisc, QKeySequence("Ctrl+D"));
  key(bAdvance, QKeySequence("Ctrl+,"));
  key(bClear, QKeySequence("Ctrl+L"));
  key(bEject, QKeySequence("Ctrl+E"));
  key(bAbort, QKeySequence(Qt::Key_Escape));
}

}  // namespace fornax::app
