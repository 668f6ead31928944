#include "app/layout_dialog.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/display_formats.h"
#include "app/folder_tree.h"
#include "app/widgets.h"
#include "engine/image/entries.h"
#include "engine/recorder.h"

namespace fornax::app {
namespace {

constexpr int kNameColumn = 0, kSizeColumn = 1, kDateColumn = 2;

// An action of a context menu whose shortcut works while `owner` has the focus.
QAction* MenuAction(QMenu* menu, QWidget* owner, const char* name, const QString& caption, QKeySequence key) {
  auto* action = new QAction(caption, menu);
  action->setObjectName(name);
  action->setShortcut(key);
  action->setShortcutContext(Qt::WidgetShortcut);
  menu->addAction(action);
  owner->addAction(action);
  return action;
}

// A right click on the view pops the menu up where the mouse is.
void AttachMenu(QAbstractItemView* view, QMenu* menu) {
  view->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(view, &QWidget::customContextMenuRequested, menu,
                   [view, menu](const QPoint& at) { menu->popup(view->viewport()->mapToGlobal(at)); });
}

}  // namespace

TfrmDiscLayout::TfrmDiscLayout(TQzRecorder& recorder, TPrompter& prompter, QWidget* parent)
    : QDialog(parent), FRecorder(recorder), FPrompter(prompter) {
  setObjectName("frmDiscLayout");
  setWindowTitle(tr("Remover archivos o directorios"));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  const TTreeAndGrid body =
      MakeTreeAndGrid(this, 0, {tr("Nombre archivo"), tr("Tamaño archivo"), tr("    Fecha & Hora ")}, {0, 0, 0});
  Splitter1 = body.Splitter;
  tvDir = body.Tree;
  fl = body.Grid;
  column->addWidget(Splitter1, 1);
  // Every width follows the fonts: the names get room for about forty
  // characters, the sizes and dates all that they show.
  FitTreeToNodes(*tvDir);
  fl->setColumnWidth(kNameColumn, CharactersWide(*fl, 40));
  FitGridColumns(*fl, {kSizeColumn, kDateColumn});
  const int treeWidth = CharactersWide(*tvDir, 22);
  Splitter1->setSizes({treeWidth, fl->horizontalHeader()->length()});

  Panel2 = MakePanel(this, "Panel2", 0, true);
  static_cast<QHBoxLayout*>(Panel2->layout())->addStretch(1);
  bClose = new QPushButton(tr("Cerrar"), Panel2);
  bClose->setObjectName("bClose");
  Panel2->layout()->addWidget(bClose);
  column->addWidget(Panel2);

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  Delete1 = MenuAction(PopupMenu1, tvDir, "Delete1", tr("Eliminar"), QKeySequence(Qt::Key_Delete));
  Refresh1 = MenuAction(PopupMenu1, tvDir, "Refresh1", tr("Refrescar"), QKeySequence(Qt::Key_F5));
  PopupMenu2 = new QMenu(this);
  PopupMenu2->setObjectName("PopupMenu2");
  MenuItem1 = MenuAction(PopupMenu2, fl, "MenuItem1", tr("Eliminar"), QKeySequence(Qt::Key_Delete));
  MenuItem2 = MenuAction(PopupMenu2, fl, "MenuItem2", tr("Refrescar"), QKeySequence(Qt::Key_F5));
  AttachMenu(tvDir, PopupMenu1);
  AttachMenu(fl, PopupMenu2);

  connect(tvDir, &QTreeWidget::currentItemChanged, this, [this] { tvdirClick(); });
  connect(Delete1, &QAction::triggered, this, &TfrmDiscLayout::Delete1Click);
  connect(MenuItem1, &QAction::triggered, this, &TfrmDiscLayout::MenuItem1Click);
  connect(Refresh1, &QAction::triggered, this, &TfrmDiscLayout::Refresh1Click);
  connect(MenuItem2, &QAction::triggered, this, &TfrmDiscLayout::Refresh1Click);
  connect(bClose, &QPushButton::clicked, this, &QDialog::reject);

  const int frames = CharactersWide(*this, 6);  // the views' frames, the splitter's handle, a scroll bar
  ResizeWithinScreen(*this, QSize(treeWidth + fl->horizontalHeader()->length() + frames,
                                  fontMetrics().lineSpacing() * 24));
}

void TfrmDiscLayout::showEvent(QShowEvent* event) {
  if (!FBuilt) {
    FBuilt = true;
    FormShow();
  }
  QDialog::showEvent(event);
}

void TfrmDiscLayout::FormShow() {
  BuildFolderTree(*tvDir, FRecorder.RootDirectory());
  tvdirClick();
}

void TfrmDiscLayout::tvdirClick() {
  FillEntryGrid(*fl, NodeDirectory(tvDir->currentItem()), [this](int row, TFEntry& entry) {
    SetCell(*fl, row, kNameColumn, entry.LongName);
    SetCell(*fl, row, kSizeColumn, SizeCellText(entry), &entry);
    if (!IsFolderEntry(entry)) SetCell(*fl, row, kDateColumn, LayoutDateText(entry.DateTime));
  });
  FitGridColumns(*fl, {kSizeColumn, kDateColumn});
}

void TfrmDiscLayout::Button1Click() { FormShow(); }

void TfrmDiscLayout::Refresh1Click() { Button1Click(); }

const TFEntry* TfrmDiscLayout::RowEntry(int row) const { return CellEntry(*fl, row, kSizeColumn); }

void TfrmDiscLayout::Delete1Click() {
  TDEntry* dir = NodeDirectory(tvDir->currentItem());
  if (!dir) return;
  // The compilation refuses the root: "Eliminar" on "CDROOT" leaves all as it is.
  FRecorder.DeleteDirectory(dir);
  Button1Click();
}

void TfrmDiscLayout::MenuItem1Click() {
  TDEntry* dir = NodeDirectory(tvDir->currentItem());
  TFEntry* entry = CellEntry(*fl, fl->currentRow(), kSizeColumn);
  if (!dir || !entry) return;
  if (IsFolderEntry(*entry)) {
    FPrompter.Inform(this, tr("Tu no puedes eliminar directorio, ") + QString::fromStdString(entry->LongName) +
                               tr(" es un directorio, use vista arbol para eliminar el directorio"));
    return;
  }
  // The grid shows the selected folder's entries; an entry of another list
  // would be unlinked from the wrong folder.
  if (entry->Owner != dir) return;
  FRecorder.DeleteEntry(dir, entry);
  tvdirClick();
}

}  // namespace fornax::app
