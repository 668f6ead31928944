#include "app/disc_info_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

#include "app/display_formats.h"
#include "app/folder_tree.h"
#include "app/session_tree_dialog.h"
#include "app/widgets.h"
#include "engine/drive/disc_sessions.h"
#include "engine/drive/medium_queries.h"
#include "engine/recorder.h"

namespace fornax::app {
namespace {

constexpr const char* kErrorRow =
    QT_TRANSLATE_NOOP("fornax::app::TfrmSessions", "     Error obteniendo informaciond e sesion");
constexpr int kSessionRole = Qt::UserRole;  // the session a row stands for (none on the error row)

QString Megabytes(uint32_t sectors) { return QString::fromStdString(MegabytesText(static_cast<double>(sectors) * 2048.0)); }

QString StatusText(int discStatus) {
  if (discStatus == -1) return TfrmSessions::tr("Disco Estado Desconocido");
  if (discStatus == 2) return TfrmSessions::tr("Disco Cerrado/Finalizado");
  return TfrmSessions::tr("Disco esta Abierto");
}

std::string SessionNumber(int session) { return "  " + PadLeft(std::to_string(session), 3, '0') + "    "; }

// "  001           0      29 MB": number, start sector, size in whole megabytes
// ("?" where only a table of contents was told, which gives no size for the
// sessions before the last).
QString SessionRowText(int session, const TSessionExtent& extent) {
  const std::string megabytes =
      extent.SizeKnown ? std::to_string(std::lround(static_cast<double>(extent.Size) / 512.0)) : "?";
  return QString::fromStdString(SessionNumber(session) + PadLeft(std::to_string(extent.Start), 8) + "   " +
                                PadLeft(megabytes, 4) + " MB");
}

QLabel* CaptionLabel(QWidget* parent, QGridLayout* grid, int row, const char* name, const QString& caption) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(name);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  grid->addWidget(label, row, 0);
  return label;
}

QLabel* ValueLabel(QWidget* parent, QGridLayout* grid, int row, const char* name) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  grid->addWidget(label, row, 1);
  return label;
}

}  // namespace

TfrmSessions::TfrmSessions(TQzRecorder& recorder, TPrompter& prompter, QWidget* parent)
    : QDialog(parent), FRecorder(recorder), FPrompter(prompter) {
  setObjectName("frmSessions");
  setWindowTitle(tr("Informacion Disco & Sesiones"));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* grid = new QGridLayout(Panel1);
  grid->setContentsMargins(4, 2, 4, 2);
  grid->setVerticalSpacing(0);
  Label1 = CaptionLabel(Panel1, grid, 0, "Label1", tr("Medio  :"));
  Label2 = CaptionLabel(Panel1, grid, 1, "Label2", tr("Tamaño disco  :"));
  Label3 = CaptionLabel(Panel1, grid, 2, "Label3", tr("Espacio usado  :"));
  Label4 = CaptionLabel(Panel1, grid, 3, "Label4", tr("Espacio libre  :"));
  lMedium = ValueLabel(Panel1, grid, 0, "lMedium");
  lDiscSize = ValueLabel(Panel1, grid, 1, "lDiscSize");
  lUsedSpace = ValueLabel(Panel1, grid, 2, "lUsedSpace");
  lFreeSpace = ValueLabel(Panel1, grid, 3, "lFreeSpace");
  grid->setColumnStretch(1, 1);
  column->addWidget(Panel1);

  Panel2 = MakePanel(this, "Panel2", 0, true);
  Panel2->setFont(CourierNewFont());
  //: Above the rows of sessions, in a fixed-width font: each word starts where its column does.
  auto* header = new QLabel(tr(" Numero     Inicio     Tamaño"), Panel2);
  header->setObjectName("Panel2Caption");
  Panel2->layout()->addWidget(header);
  static_cast<QHBoxLayout*>(Panel2->layout())->addStretch(1);
  SpeedButton1 = new QToolButton(Panel2);
  SpeedButton1->setObjectName("SpeedButton1");
  SpeedButton1->setText(tr("Mostrar Archivos"));
  SpeedButton1->setAutoRaise(true);
  Panel2->layout()->addWidget(SpeedButton1);
  column->addWidget(Panel2);

  lb = new QListWidget(this);
  lb->setObjectName("lb");
  lb->setFont(CourierNewFont());
  column->addWidget(lb, 1);

  // The default button lies outside the client area: Enter closes the dialog.
  Button1 = new QPushButton(tr("Cerrar"), this);
  Button1->setObjectName("Button1");
  Button1->setDefault(true);
  Button1->setGeometry(-200, -200, 75, 25);

  // The size the rows of a few sessions need in the list's font, and at
  // least what the panels' texts need.
  const QFontMetrics rows(lb->font());
  ResizeWithinScreen(*this, sizeHint().expandedTo(QSize(rows.averageCharWidth() * 56, rows.lineSpacing() * 18)));
  setFixedSize(size());
  connect(SpeedButton1, &QToolButton::clicked, this, &TfrmSessions::SpeedButton1Click);
  connect(lb, &QListWidget::itemClicked, this, &TfrmSessions::SpeedButton1Click);
  connect(lb, &QListWidget::itemDoubleClicked, this, &QDialog::reject);
  connect(Button1, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmSessions::ShowFor(TQzRecorder& recorder, TPrompter& prompter, QWidget* parent) {
  TfrmSessions dialog(recorder, prompter, parent);
  // The drive is released between commands once the queries are done; a
  // drive that is not ready is released only after the dialog was seen.
  if (dialog.Fill()) {
    recorder.ReleaseHandleAfterCommand(true);
    prompter.RunModal(dialog);
  } else {
    prompter.RunModal(dialog);
    recorder.ReleaseHandleAfterCommand(true);
  }
}

bool TfrmSessions::Fill() {
  lb->clear();
  FRecorder.ReadDiscInformation();
  if (!FRecorder.UnitReady()) {
    lb->addItem(tr(kErrorRow));
    return false;
  }
  const uint8_t medium = FRecorder.MediumType();
  const int sessions = FRecorder.SessionCount();
  // A drive that only reads refuses track information; the sessions then
  // come from its table of contents.
  TDiscSessions table(FRecorder);
  for (int session = 1; session <= sessions; ++session) {
    // A session that cannot be found keeps its row (rows and sessions stay
    // paired) but shows no sizes of another one.
    TSessionExtent extent;
    const bool told = table.Extent(session, extent);
    auto* row = new QListWidgetItem(told ? SessionRowText(session, extent)
                                         : QString::fromStdString(SessionNumber(session)) + tr(kErrorRow));
    row->setData(kSessionRole, session);
    lb->addItem(row);
  }
  const QString status = StatusText(FRecorder.DiscStatus());
  lFreeSpace->setText(status + ", " + Megabytes(FRecorder.FreeSectors()));
  // The space queries changed the write parameters: leave the engine's copy
  // of the disc information current for whoever reads it next.
  FRecorder.ReadDiscInformation();
  lMedium->setText(MediumNames[medium < MediumNames.size() ? medium : 0]);
  lDiscSize->setText(Megabytes(FRecorder.CapacitySectors()));
  lUsedSpace->setText(Megabytes(FRecorder.UsedSectors()) + tr(",  Sesiones : ") + QString::number(sessions));
  return true;
}

void TfrmSessions::SpeedButton1Click() {
  const QList<QListWidgetItem*> selected = lb->selectedItems();
  if (selected.isEmpty()) {
    FPrompter.Inform(this, tr("Seleccione sesion de la lista"));
    return;
  }
  // The error row of a drive that was not ready names no session.
  const int session = selected.first()->data(kSessionRole).toInt();
  if (session <= 0) return;
  // The import replaces the engine's compilation; the main window builds its
  // own again from its list at every action.
  FRecorder.ClearCompilation(65535, 8191);
  FRecorder.ImportDiscSession(session, FRecorder.RootDirectory());
  TfrmTree tree(FRecorder, FPrompter, this);
  FPrompter.RunModal(tree);
}

}  // namespace fornax::app
