#include "app/session_tree_dialog.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QSplitter>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <functional>
#include <vector>

#include "app/display_formats.h"
#include "app/folder_tree.h"
#include "engine/image/entries.h"
#include "engine/recorder.h"

namespace fornax::app {
namespace {

constexpr int kNameColumn = 0, kSizeColumn = 1;

// The status panel at the bottom; a click on it extracts the folder's files.
class TStatusPanel : public QLabel {
 public:
  using QLabel::QLabel;
  std::function<void()> OnClick;

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick) OnClick();
  }
};

// A disc name becomes a local file name only when it stays inside the chosen
// folder: one path component that does not lead up or stay in place.
bool IsSafeLocalName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

QString ExtractFailure(const TFEntry& entry, const std::string& reason) {
  return QString("No se pudo extraer %1: %2").arg(QString::fromStdString(entry.LongName), QString::fromStdString(reason));
}

std::string ExtractionError(const TQzRecorder& recorder) {
  return recorder.ExtractError().empty() ? recorder.LastError() : recorder.ExtractError();
}

// Extracts one file into `folder` under its disc name; empty, or why not.
std::string ExtractInto(TQzRecorder& recorder, const QDir& folder, const TFEntry& entry) {
  if (!IsSafeLocalName(entry.LongName)) return "el nombre no sirve como nombre de archivo local";
  const QString target = folder.filePath(QString::fromStdString(entry.LongName));
  // Writing through a link would put the bytes somewhere else than the folder.
  if (QFileInfo(target).isSymLink()) return "ya existe como enlace simbolico";
  if (!recorder.ExtractFile(&entry, target.toStdString())) {
    const std::string reason = ExtractionError(recorder);
    return reason.empty() ? "error de lectura" : reason;
  }
  return {};
}

}  // namespace

TfrmTree::TfrmTree(TQzRecorder& recorder, TPrompter& prompter, QWidget* parent)
    : QDialog(parent), FRecorder(recorder), FPrompter(prompter) {
  setObjectName("frmTree");
  setWindowTitle("Visor de Archivos, Directorios y Estractor (Doble Click sobre un archivo para extraer)");
  resize(560, 380);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  const TTreeAndGrid body = MakeTreeAndGrid(this, 121, {"Nombre archivo", "Tamaño"}, {361, 71});
  Splitter1 = body.Splitter;
  tvDir = body.Tree;
  fl = body.Grid;
  column->addWidget(Splitter1, 1);

  auto* status = new TStatusPanel(this);
  status->setObjectName("Msg");
  status->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  status->setFixedHeight(19);
  status->OnClick = [this] { MsgClick(); };
  Msg = status;
  column->addWidget(Msg);

  connect(tvDir, &QTreeWidget::currentItemChanged, this, [this] { tvdirClick(); });
  connect(fl, &QTableWidget::cellDoubleClicked, this, [this] { Extract1Click(); });
}

void TfrmTree::showEvent(QShowEvent* event) {
  if (!FBuilt) {
    FBuilt = true;
    FormShow();
  }
  QDialog::showEvent(event);
}

void TfrmTree::FormShow() {
  BuildFolderTree(*tvDir, FRecorder.RootDirectory());
  tvdirClick();
}

void TfrmTree::tvdirClick() {
  FillEntryGrid(*fl, NodeDirectory(tvDir->currentItem()), [this](int row, TFEntry& entry) {
    SetCell(*fl, row, kNameColumn, PadLeft(std::to_string(row + 1), 2) + " " + entry.LongName);
    SetCell(*fl, row, kSizeColumn, SizeCellText(entry), &entry);
  });
}

const TFEntry* TfrmTree::RowEntry(int row) const { return CellEntry(*fl, row, kSizeColumn); }

void TfrmTree::Extract1Click() {
  const TFEntry* entry = RowEntry(fl->currentRow());
  if (!entry) return;
  const QString name = QString::fromStdString(entry->LongName);
  if (IsFolderEntry(*entry)) {
    FPrompter.Inform(this, "No puedes extraer directorio, " + name + " es un directorio");
    return;
  }
  QString path = name;
  if (!FPrompter.Input(this, "Extraer archivo", "Ingrese el nombre de archivo y ruta", path)) return;
  if (!FRecorder.ExtractFile(entry, path.toStdString()))
    FPrompter.Inform(this, ExtractFailure(*entry, ExtractionError(FRecorder)));
}

void TfrmTree::MsgClick() {
  std::vector<const TFEntry*> files;
  for (int row = 0; row < fl->rowCount(); ++row)
    if (const TFEntry* entry = RowEntry(row); entry && !IsFolderEntry(*entry)) files.push_back(entry);
  if (files.empty()) return;
  // The files go into a folder the user picks, never into a fixed place.
  QString folder = QDir::homePath();
  if (!FPrompter.ChooseFolder(this, "Extraer archivos", folder)) return;
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
    FPrompter.Inform(this, "La carpeta \"" + folder + "\" no existe");
    return;
  }
  QStringList failures;
  for (const TFEntry* entry : files) {
    Msg->setText("Extraendo " + QString::fromStdString(entry->LongName));
    Msg->repaint();
    const std::string reason = ExtractInto(FRecorder, QDir(folder), *entry);
    if (!reason.empty()) failures.append(ExtractFailure(*entry, reason));
  }
  if (!failures.isEmpty()) FPrompter.Inform(this, failures.join("\n"));
}

}  // namespace fornax::app
