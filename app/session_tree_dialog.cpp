#include "app/session_tree_dialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
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
#include "app/widgets.h"
#include "engine/disc/local_names.h"
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
// folder (the same rule as every extraction's); the file is then made
// relative to that folder, through no link.
bool IsSafeLocalName(const std::string& name) { return IsSafeLocalComponent(name); }

constexpr const char* kUnsafeName =
    QT_TRANSLATE_NOOP("fornax::app::TfrmTree", "el nombre no sirve como nombre de archivo local");
// How many names a question or a message lists before it only counts the rest.
constexpr int kNamesShown = 5;

QString ExtractFailure(const TFEntry& entry, const std::string& reason) {
  return TfrmTree::tr("No se pudo extraer %1: %2")
      .arg(QString::fromStdString(entry.LongName), QString::fromStdString(reason));
}

std::string ExtractionError(const TQzRecorder& recorder) {
  return recorder.ExtractError().empty() ? recorder.LastError() : recorder.ExtractError();
}

// Why a local path cannot take an extracted file, or empty when it can: it
// is free, or a plain file that the user may agree to replace. Writing
// through a link would put the bytes somewhere else than the chosen place.
std::string UnusableTarget(const QFileInfo& target) {
  const auto why = [](const char* text) {
    return QCoreApplication::translate("fornax::app::TfrmTree", text).toStdString();
  };
  if (target.isSymLink()) return why(QT_TRANSLATE_NOOP("fornax::app::TfrmTree", "ya existe como enlace simbolico"));
  if (!target.exists()) return {};
  if (target.isDir()) return why(QT_TRANSLATE_NOOP("fornax::app::TfrmTree", "ya existe como carpeta"));
  if (!target.isFile()) return why(QT_TRANSLATE_NOOP("fornax::app::TfrmTree", "ya existe y no es un archivo comun"));
  return {};
}

// Extracts one file to `target`; empty, or why not.
std::string ExtractTo(TQzRecorder& recorder, const TFEntry& entry, const QString& target) {
  if (std::string reason = UnusableTarget(QFileInfo(target)); !reason.empty()) return reason;
  if (!recorder.ExtractFile(&entry, target.toStdString())) {
    const std::string reason = ExtractionError(recorder);
    if (reason.empty()) return QCoreApplication::translate("fornax::app::TfrmTree", "error de lectura").toStdString();
    return reason;
  }
  return {};
}

// The first few names, one a line, then how many more there are.
QString NameSample(const QStringList& names) {
  QString text;
  for (const QString& name : names.mid(0, kNamesShown)) text += "\n    " + name;
  if (names.size() > kNamesShown) text += TfrmTree::tr("\n    ... y %1 mas").arg(names.size() - kNamesShown);
  return text;
}

QString ReplaceQuestion(qsizetype existing) {
  return existing == 1 ? TfrmTree::tr("¿Reemplazar el archivo que ya existe?")
                       : TfrmTree::tr("¿Reemplazar los %1 archivos que ya existen?").arg(existing);
}

QString FileReplaceDetails(const QString& path) {
  return TfrmTree::tr("%1 ya existe.\n\nSi: se reemplaza por el del disco.\nNo: no se extrae.").arg(path);
}

QString FolderReplaceDetails(const QString& folder, const QStringList& existing, qsizetype total) {
  return TfrmTree::tr("En %1 ya existen %2 de los %3 archivos:").arg(folder).arg(existing.size()).arg(total) +
         NameSample(existing) +
         TfrmTree::tr("\n\nSi: se reemplazan por los del disco.\nNo: se extraen solo los archivos que aun no existen; "
                      "los existentes no se tocan.");
}

// "Archivos extraidos: 2", then what was skipped and what failed.
QString OutcomeText(int extracted, const QStringList& skipped, const QStringList& failures) {
  QString text = TfrmTree::tr("Archivos extraidos: %1").arg(extracted);
  if (!skipped.isEmpty())
    text += TfrmTree::tr("\nNo extraidos porque ya existen: %1").arg(skipped.size()) + NameSample(skipped);
  if (!failures.isEmpty())
    text += TfrmTree::tr("\nNo extraidos por error: %1\n").arg(failures.size()) + failures.join("\n");
  return text;
}

}  // namespace

TfrmTree::TfrmTree(TQzRecorder& recorder, TPrompter& prompter, QWidget* parent)
    : QDialog(parent), FRecorder(recorder), FPrompter(prompter) {
  setObjectName("frmTree");
  setWindowTitle(tr("Visor de Archivos, Directorios y Estractor (Doble Click sobre un archivo para extraer)"));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  const TTreeAndGrid body = MakeTreeAndGrid(this, 0, {tr("Nombre archivo"), tr("Tamaño")}, {0, 0});
  Splitter1 = body.Splitter;
  tvDir = body.Tree;
  fl = body.Grid;
  column->addWidget(Splitter1, 1);
  // Every width follows the fonts: the names get room for about fifty
  // characters, the sizes all that they show.
  FitTreeToNodes(*tvDir);
  fl->setColumnWidth(kNameColumn, CharactersWide(*fl, 50));
  FitGridColumns(*fl, {kSizeColumn});
  const int treeWidth = CharactersWide(*tvDir, 18);
  Splitter1->setSizes({treeWidth, fl->horizontalHeader()->length()});

  auto* status = new TStatusPanel(this);
  status->setObjectName("Msg");
  status->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  status->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  status->OnClick = [this] { MsgClick(); };
  Msg = status;
  column->addWidget(Msg);

  connect(tvDir, &QTreeWidget::currentItemChanged, this, [this] { tvdirClick(); });
  connect(fl, &QTableWidget::cellDoubleClicked, this, [this] { Extract1Click(); });

  const int frames = CharactersWide(*this, 6);  // the views' frames, the splitter's handle, a scroll bar
  ResizeWithinScreen(*this, QSize(treeWidth + fl->horizontalHeader()->length() + frames,
                                  fontMetrics().lineSpacing() * 22));
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
  FitGridColumns(*fl, {kSizeColumn});
}

const TFEntry* TfrmTree::RowEntry(int row) const { return CellEntry(*fl, row, kSizeColumn); }

void TfrmTree::Extract1Click() {
  const TFEntry* entry = RowEntry(fl->currentRow());
  if (!entry) return;
  const QString name = QString::fromStdString(entry->LongName);
  if (IsFolderEntry(*entry)) {
    FPrompter.Inform(this, tr("No puedes extraer directorio, ") + name + tr(" es un directorio"));
    return;
  }
  TSaveFileRequest request;
  request.Title = tr("Extraer archivo");
  request.Filters = {tr("Todos los archivos (*)")};
  request.InitialFile = QDir(QDir::homePath()).filePath(IsSafeLocalName(entry->LongName) ? name : QString());
  QString path;
  if (!FPrompter.SaveFile(this, request, path) || path.isEmpty()) return;
  const QFileInfo target(path);
  QList<TTarget> targets{{entry, path, target.exists() && UnusableTarget(target).empty()}};
  TOutcome outcome;
  KeepExisting(targets, target.absolutePath(), outcome);
  ExtractTargets(targets, outcome);
  FPrompter.Inform(this, OutcomeText(outcome.Extracted, outcome.Skipped, outcome.Failures));
}

void TfrmTree::MsgClick() {
  std::vector<const TFEntry*> files;
  for (int row = 0; row < fl->rowCount(); ++row)
    if (const TFEntry* entry = RowEntry(row); entry && !IsFolderEntry(*entry)) files.push_back(entry);
  if (files.empty()) return;
  // The files go into a folder the user picks, never into a fixed place.
  QString folder = QDir::homePath();
  if (!FPrompter.ChooseFolder(this, tr("Extraer archivos"), folder)) return;
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
    FPrompter.Inform(this, tr("La carpeta \"") + folder + tr("\" no existe"));
    return;
  }
  TOutcome outcome;
  QList<TTarget> targets;
  for (const TFEntry* entry : files) {
    if (!IsSafeLocalName(entry->LongName)) {
      outcome.Failures.append(ExtractFailure(*entry, tr(kUnsafeName).toStdString()));
      continue;
    }
    const QFileInfo target(QDir(folder).filePath(QString::fromStdString(entry->LongName)));
    targets.append({entry, target.filePath(), target.exists() && UnusableTarget(target).empty()});
  }
  KeepExisting(targets, folder, outcome);
  ExtractTargets(targets, outcome);
  FPrompter.Inform(this, OutcomeText(outcome.Extracted, outcome.Skipped, outcome.Failures));
}

void TfrmTree::KeepExisting(QList<TTarget>& targets, const QString& folder, TOutcome& outcome) {
  QStringList existing;
  for (const TTarget& target : targets)
    if (target.Exists) existing.append(QString::fromStdString(target.Entry->LongName));
  if (existing.isEmpty()) return;
  // One question for them all: a box per file would bury the user in boxes.
  const QString details = targets.size() == 1 ? FileReplaceDetails(targets.first().Path)
                                              : FolderReplaceDetails(folder, existing, targets.size());
  if (FPrompter.Ask(this, details, ReplaceQuestion(existing.size()), true)) return;
  outcome.Skipped = existing;
  targets.removeIf([](const TTarget& target) { return target.Exists; });
}

void TfrmTree::ExtractTargets(const QList<TTarget>& targets, TOutcome& outcome) {
  for (const TTarget& target : targets) {
    Msg->setText(tr("Extraendo ") + QString::fromStdString(target.Entry->LongName));
    Msg->repaint();
    const std::string reason = ExtractTo(FRecorder, *target.Entry, target.Path);
    if (reason.empty())
      ++outcome.Extracted;
    else
      outcome.Failures.append(ExtractFailure(*target.Entry, reason));
  }
}

}  // namespace fornax::app
