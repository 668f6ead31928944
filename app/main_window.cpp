#include "app/main_window.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressDialog>
#include <QThread>
#include <thread>
#include <QVBoxLayout>

#include "app/display_formats.h"
#include "app/settings_file.h"
#include "engine/base/text.h"
#include "engine/image/stream_ex.h"

namespace fornax::app {
namespace {

QPushButton* Button(QWidget* parent, const char* name, const QString& caption, const QString& hint = {}) {
  auto* button = new TTextButton(caption, parent);
  button->setObjectName(name);
  if (!hint.isEmpty()) button->setToolTip(hint);
  parent->layout()->addWidget(button);
  return button;
}

QLabel* Label(QWidget* parent, const char* name, const QString& caption) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(name);
  parent->layout()->addWidget(label);
  return label;
}

void Bold(QWidget* widget) {
  QFont font = widget->font();
  font.setBold(true);
  widget->setFont(font);
}

QFont CourierNew() {
  QFont font("Courier New");
  font.setStyleHint(QFont::Monospace);
  return font;
}

bool IsDirectory(const QString& path) { return QFileInfo(path).isDir(); }

}  // namespace

TfrmMain::TfrmMain(TPrompter& prompter, QWidget* parent)
    : QMainWindow(parent), FPrompter(prompter), qzrec(std::make_unique<TQzRecorder>()) {
  setObjectName("frmMain");
  setWindowTitle(kWindowCaption);
  setFont(QFont("Tahoma", 8));
  auto* client = new QWidget(this);
  auto* column = new QVBoxLayout(client);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  setCentralWidget(client);

  BuildTopBars();
  column->addWidget(pTop);
  column->addWidget(pTop2);
  Splitter2 = new QSplitter(Qt::Vertical, client);
  Splitter2->setObjectName("Splitter2");
  Splitter1 = new QSplitter(Qt::Horizontal, Splitter2);
  Splitter1->setObjectName("Splitter1");
  BuildCompilationPanel();
  BuildBrowser();
  Splitter1->addWidget(pDiscFiles);
  Splitter1->addWidget(pDrivesDir);
  Splitter1->setStretchFactor(1, 1);
  Splitter2->addWidget(Splitter1);
  BuildLogAndStatus();
  Splitter2->addWidget(Memo1);
  Splitter2->setStretchFactor(0, 1);
  Splitter2->setSizes({500, 86});
  column->addWidget(Splitter2, 1);
  column->addWidget(pbottom);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(500);
  connect(Timer1, &QTimer::timeout, this, &TfrmMain::Timer1Timer);
  ExplorerDragDrop = new TExDragDrop(this);
  ExplorerDragDrop->setObjectName("ExplorerDragDrop");
  ExplorerDragDrop->SetControl(clBox);
  connect(ExplorerDragDrop, &TExDragDrop::Dropped, this, &TfrmMain::ExplorerDragDropDropped);
  ConnectEngine();
  AddShortcuts();
  FSizer = new TFolderSizer(this);
  connect(FSizer, &TFolderSizer::Measured, this, &TfrmMain::SourceMeasured);
}

TfrmMain::~TfrmMain() {
  // Counts of folder sizes end (and their threads are joined) first.
  delete FSizer;
  FSizer = nullptr;
  // The window closes only once no write or erase runs (closeEvent), but
  // their threads may still be handing over their done events: they end
  // first, and the events they queued go with the window.
  qzrec->WaitForWorkers();
  qzrec->OnDebugMessage = nullptr;
  qzrec->Dispatcher = nullptr;
  qzrec->OnWaiting = nullptr;
}

void TfrmMain::BuildTopBars() {
  pTop = MakePanel(this, "pTop", 27, false);
  lDrive = Label(pTop, "lDrive", tr(" Unidad :"));
  cbDrives = new TDropDownList(pTop);
  cbDrives->setObjectName("cbDrives");
  cbDrives->setFont(CourierNew());
  cbDrives->setMinimumWidth(360);
  pTop->layout()->addWidget(cbDrives);
  bCaps = Button(pTop, "bCaps", "...", tr("Drive capabilities"));
  // Narrow, but never so narrow that the style elides its three dots.
  bCaps->setFixedWidth(std::max(24, bCaps->fontMetrics().horizontalAdvance("...") + 26));
  cbSpeed = new TDropDownList(pTop);
  cbSpeed->setObjectName("cbSpeed");
  cbSpeed->setToolTip(tr("Velocidad"));
  cbSpeed->addItem("Max");
  cbSpeed->setMinimumWidth(150);
  pTop->layout()->addWidget(cbSpeed);
  bDisc = Button(pTop, "bDisc", tr("Informacion Disco"),
                 tr("Informacion de Disco & Sesion (Extraer archivo de alguna sesion)"));
  static_cast<QHBoxLayout*>(pTop->layout())->addStretch(1);
  Panel9 = MakePanel(pTop, "Panel9", 0, false);
  Panel9->setFrameShape(QFrame::NoFrame);
  pTop->layout()->addWidget(Panel9);
  bAdvance = Button(Panel9, "bAdvance", tr("Avanzado"), tr("Configuracion avanzada"));
  bBurn = Button(Panel9, "bBurn", tr("Quemar"), tr("Inicar quemado"));
  Bold(bBurn);

  pTop2 = MakePanel(this, "pTop2", 28, true);
  bQErase = Button(pTop2, "bQErase", tr("Borrado rapido"), tr("Borrado rapido"));
  bCErase = Button(pTop2, "bCErase", tr("Borrado completo"), tr("Borrado completo (Normalmente no requerido)"));
  bLoad = Button(pTop2, "bLoad", tr("Cargar"), tr("Cargar medio"));
  bEject = Button(pTop2, "bEject", tr("Expulsar"), tr("Expulsar medio"));
  bReady = Button(pTop2, "bReady", tr("¿Listo?"), tr("Esta la unidad lista...?"));
  static_cast<QHBoxLayout*>(pTop2->layout())->addStretch(1);
  Panel1 = MakePanel(pTop2, "Panel1", 0, false);
  Panel1->setFrameShape(QFrame::NoFrame);
  pTop2->layout()->addWidget(Panel1);
  btnAbout = Button(Panel1, "btnAbout", tr("Acerca de..."));
  Bold(btnAbout);
  // Only while it can be pressed: a disabled button must look it.
  btnAbout->setStyleSheet("QPushButton:enabled { color: navy; }");
  Label1 = new TLinkLabel(kMakerSite, pTop2);
  Label1->setObjectName("Label1");
  Label1->setToolTip(kMakerSite);
  pTop2->layout()->addWidget(Label1);

  connect(cbDrives, &QComboBox::activated, this, [this] { cbDrivesChange(); });
  connect(cbSpeed, &TDropDownList::DropDown, this, &TfrmMain::cbSpeedDropDown);
  connect(bCaps, &QPushButton::clicked, this, &TfrmMain::bCapsClick);
  connect(bDisc, &QPushButton::clicked, this, &TfrmMain::bDiscClick);
  connect(bAdvance, &QPushButton::clicked, this, &TfrmMain::bCDHeaderClick);
  connect(bBurn, &QPushButton::clicked, this, &TfrmMain::bBurnClick);
  connect(bQErase, &QPushButton::clicked, this, &TfrmMain::bQEraseClick);
  connect(bCErase, &QPushButton::clicked, this, &TfrmMain::bCEraseClick);
  connect(bLoad, &QPushButton::clicked, this, &TfrmMain::bLoadClick);
  connect(bEject, &QPushButton::clicked, this, &TfrmMain::bEjectClick);
  connect(bReady, &QPushButton::clicked, this, &TfrmMain::bReadyClick);
  connect(btnAbout, &QPushButton::clicked, this, &TfrmMain::btnAboutClick);
  connect(Label1, &TLinkLabel::Clicked, this, &TfrmMain::Label1Click);
}

void TfrmMain::BuildCompilationPanel() {
  pDiscFiles = new QFrame(Splitter1);
  pDiscFiles->setObjectName("pDiscFiles");
  pDiscFiles->setMinimumWidth(200);
  pDiscFiles->resize(306, pDiscFiles->height());
  auto* layout = new QVBoxLayout(pDiscFiles);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  Panel4 = MakePanel(pDiscFiles, "Panel4", 27, false);
  layout->addWidget(Panel4);
  bSaveISO = Button(Panel4, "bSaveISO", tr("Crear ISO"), tr("Crear y guardar imagen .ISO"));
  bBurnISO = Button(Panel4, "bBurnISO", tr("Quemar ISO"), tr("Iniciar Quemado"));
  static_cast<QHBoxLayout*>(Panel4->layout())->addStretch(1);
  Panel10 = MakePanel(Panel4, "Panel10", 0, false);
  Panel10->setFrameShape(QFrame::NoFrame);
  Panel4->layout()->addWidget(Panel10);
  cPathInfo = new QCheckBox(tr("Guardar ruta"), Panel10);
  cPathInfo->setObjectName("cPathInfo");
  cPathInfo->setToolTip(tr("Preservar la estrutura de directorios"));
  cPathInfo->setTristate(true);
  cPathInfo->setLayoutDirection(Qt::RightToLeft);  // the caption left of the box
  cPathInfo->setCheckState(Qt::PartiallyChecked);
  Panel10->layout()->addWidget(cPathInfo);
  bClear = Button(Panel10, "bClear", tr("Limpiar"));

  clBox = new TCompilationList(pDiscFiles);
  clBox->setObjectName("clBox");
  clBox->setContextMenuPolicy(Qt::CustomContextMenu);
  layout->addWidget(clBox, 1);
  pSpace = new TDiscSpaceBar(pDiscFiles);
  pSpace->setObjectName("pSpace");
  layout->addWidget(pSpace);
  connect(clBox->model(), &QAbstractItemModel::rowsInserted, this, &TfrmMain::UpdateAddedSpace);
  connect(clBox->model(), &QAbstractItemModel::rowsRemoved, this, &TfrmMain::UpdateAddedSpace);
  connect(clBox, &QTableWidget::itemChanged, this, &TfrmMain::UpdateAddedSpace);
  PopupMenu2 = new QMenu(this);
  PopupMenu2->setObjectName("PopupMenu2");
  Remove1 = PopupMenu2->addAction(tr("Remover"));
  Remove1->setObjectName("Remove1");
  Remove1->setShortcut(QKeySequence::Delete);
  Remove1->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  clBox->addAction(Remove1);

  connect(bSaveISO, &QPushButton::clicked, this, &TfrmMain::bSaveISOClick);
  connect(bBurnISO, &QPushButton::clicked, this, &TfrmMain::bBurnISOClick);
  connect(bClear, &QPushButton::clicked, this, &TfrmMain::bClearClick);
  connect(cPathInfo, &QCheckBox::clicked, this, &TfrmMain::cPathInfoClick);
  connect(Remove1, &QAction::triggered, this, &TfrmMain::Remove1Click);
  connect(clBox, &QTableWidget::cellDoubleClicked, this, [this] { Remove1Click(); });
  connect(clBox, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { PopupMenu2->popup(clBox->viewport()->mapToGlobal(at)); });
  connect(clBox, &TCompilationList::ShellViewDropped, this, &TfrmMain::clBoxDragDrop);
}

void TfrmMain::BuildBrowser() {
  pDrivesDir = new QFrame(Splitter1);
  pDrivesDir->setObjectName("pDrivesDir");
  auto* layout = new QVBoxLayout(pDrivesDir);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  Panel2 = MakePanel(pDrivesDir, "Panel2", 25, false);
  layout->addWidget(Panel2);
  DriveCB = new TDriveCombo(Panel2);
  DriveCB->setObjectName("DriveCB");
  DriveCB->setMinimumWidth(180);
  Panel2->layout()->addWidget(DriveCB);
  static_cast<QHBoxLayout*>(Panel2->layout())->addStretch(1);
  Panel12 = MakePanel(Panel2, "Panel12", 0, false);
  Panel12->setFrameShape(QFrame::NoFrame);
  Panel2->layout()->addWidget(Panel12);
  bNetwork = Button(Panel12, "bNetwork", tr("Red"));

  Panel11 = new QFrame(pDrivesDir);
  Panel11->setObjectName("Panel11");
  auto* browser = new QHBoxLayout(Panel11);
  browser->setContentsMargins(0, 0, 0, 0);
  FolderSplitter = new QSplitter(Qt::Horizontal, Panel11);
  lbDir = new TShellFolderTree(FolderSplitter);
  lbDir->setObjectName("lbDir");
  lbFiles = new TShellFileList(FolderSplitter);
  lbFiles->setObjectName("lbFiles");
  FolderSplitter->setStretchFactor(1, 1);
  browser->addWidget(FolderSplitter);
  layout->addWidget(Panel11, 1);
  clBox->SetShellViews(lbDir, lbFiles);

  connect(lbDir, &TShellFolderTree::FolderSelected, lbFiles, &TShellFileList::SetFolder);
  connect(bNetwork, &QPushButton::clicked, this, &TfrmMain::bNetworkClick);
  connect(DriveCB, &QComboBox::activated, this, [this] { lbDir->ShowPlace(DriveCB->currentText()); });
}

void TfrmMain::BuildLogAndStatus() {
  Memo1 = new QPlainTextEdit(Splitter2);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setToolTip(tr("Log"));
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setFont(CourierNew());
  Memo1->setStyleSheet("QPlainTextEdit { background: black; color: white; }");
  Memo1->viewport()->setCursor(Qt::ArrowCursor);
  Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  ClearAll1 = PopupMenu1->addAction(tr("Limpiar Log"));
  ClearAll1->setObjectName("ClearAll1");
  ClearAll1->setShortcut(Qt::Key_F8);
  ClearAll1->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  Memo1->addAction(ClearAll1);
  connect(ClearAll1, &QAction::triggered, this, &TfrmMain::ClearAll1Click);
  CopyLog1 = new QAction(this);
  CopyLog1->setObjectName("CopyLog1");
  CopyLog1->setShortcut(Qt::Key_F5);
  CopyLog1->setShortcutContext(Qt::WindowShortcut);
  addAction(CopyLog1);
  connect(CopyLog1, &QAction::triggered, this, &TfrmMain::CopyLog);
  connect(Memo1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { PopupMenu1->popup(Memo1->viewport()->mapToGlobal(at)); });

  pbottom = MakePanel(this, "pbottom", 21, true);
  Label6 = Label(pbottom, "Label6", tr(" Progreso CD : "));
  pcd = new TGauge(pbottom);
  pcd->setObjectName("pcd");
  pcd->setFixedWidth(151);
  pbottom->layout()->addWidget(pcd);
  lSize = Label(pbottom, "lSize", tr("Tamaño"));
  // Wide enough for "99,999.99/99,999.99 MB" in its own font, at any scale.
  lSize->setMinimumWidth(lSize->fontMetrics().horizontalAdvance("99,999.99/99,999.99 MB") + 8);
  lSize->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lProgress = Label(pbottom, "lProgress", "");
  //: The longest progress text, only measured: the label is made as wide as it.
  lProgress->setMinimumWidth(
      lProgress->fontMetrics().horizontalAdvance(tr("100 % · 48x (8,467 KB/s) · quedan 00:00:00")) + 8);
  bAbort = Button(pbottom, "bAbort", tr("Abortar"), tr("Abortar la operacion de escritura"));
  bAbort->setStyleSheet("QPushButton:enabled { color: red; }");
  bAbort->hide();
  static_cast<QHBoxLayout*>(pbottom->layout())->addStretch(1);
  Label5 = Label(pbottom, "Label5", tr("Buffer : "));
  pBuf = new TGauge(pbottom);
  pBuf->setObjectName("pBuf");
  pBuf->setFixedWidth(98);
  pBuf->setToolTip(tr("Estado del buffer del sistema"));
  pbottom->layout()->addWidget(pBuf);
  pHBuf = new TGauge(pbottom);
  pHBuf->setObjectName("pHBuf");
  pHBuf->setFixedWidth(50);
  pHBuf->setToolTip(tr("Estado del buffer del dispositivo"));
  pHBuf->SetMax(0);
  pbottom->layout()->addWidget(pHBuf);
  connect(bAbort, &QPushButton::clicked, this, &TfrmMain::bAbortClick);
}

void TfrmMain::ConnectEngine() {
  TQzRecorder& rec = *qzrec;
  rec.UnderrunProtection = true;
  rec.DoDebug = true;
  rec.ReadSpeed = 0;
  rec.FinalizeDisc = false;
  rec.TestWrite = false;
  rec.ReplaceFile = false;
  rec.PerformOPC = true;
  rec.SetCacheSize(8392704);
  rec.ISOFileName = QDir::home().filePath("abc.iso").toStdString();
  rec.WritePostGap = true;
  using namespace std::placeholders;
  rec.OnDebugMessage = [this](TObject* s, const std::string& m, uint8_t t) { qzrecDebugMessage(s, m, t); };
  rec.OnEraseDone = [this](TObject* s, bool e) { qzrecEraseDone(s, e); };
  rec.OnAddFile = std::bind(&TfrmMain::qzrecAddFile, this, _1, _2, _3, _4, _5, _6, _7, _8);
  rec.OnWriteDone = [this](TObject* s, const std::string& e) { qzrecWriteDone(s, e); };
  rec.OnFinalizingTrack = [this](TObject* s) { qzrecFinalizingTrack(s); };
  rec.OnAddDir = std::bind(&TfrmMain::qzrecAddDirName, this, _1, _2, _3, _4);
  // Completion events come to the window's thread, in the order they happen.
  rec.Dispatcher = [this](std::function<void()> event) {
    QMetaObject::invokeMethod(this, [event = std::move(event)] { event(); }, Qt::QueuedConnection);
  };
  rec.OnWaiting = [] { QApplication::processEvents(); };
}

TPathState TfrmMain::PathState() const {
  switch (cPathInfo->checkState()) {
    case Qt::Checked:
      return TPathState::Checked;
    case Qt::PartiallyChecked:
      return TPathState::Grayed;
    case Qt::Unchecked:
      break;
  }
  return TPathState::Unchecked;
}

void TfrmMain::SetPathState(TPathState state) {
  cPathInfo->setCheckState(state == TPathState::Checked  ? Qt::Checked
                           : state == TPathState::Grayed ? Qt::PartiallyChecked
                                                         : Qt::Unchecked);
}

// Log lines come from the window's thread and from the engine's workers; a
// line from a worker waits in a queue the window's thread empties, and a
// line of the window's own thread first empties that queue, so the log keeps
// the order in which lines were written.
void TfrmMain::qzrecDebugMessage(TObject*, const std::string& Message, uint8_t mType) {
  const QString line = QString::fromStdString(Message);
  // Capacity limits and entries the compilation refused are what a write
  // leaves out; a name only spelled otherwise on the disc is not.
  const bool leftOut = (mType == 3 || mType == 4) && !line.contains(", TAKEN AS \"");
  const bool here = QThread::currentThread() == thread();
  {
    QMutexLocker lock(&FPendingGuard);
    if (leftOut) FLeftOut.append(line);
    if (!here) {
      FPendingLog.append(line);
      if (FPendingLog.size() == 1) QMetaObject::invokeMethod(this, &TfrmMain::FlushPendingLog, Qt::QueuedConnection);
      return;
    }
  }
  FlushPendingLog();
  AppendLogLine(line);
}

void TfrmMain::FlushPendingLog() {
  QStringList lines;
  {
    QMutexLocker lock(&FPendingGuard);
    lines.swap(FPendingLog);
  }
  for (const QString& line : lines) AppendLogLine(line);
}

void TfrmMain::AppendLogLine(const QString& line) { Memo1->appendPlainText(line); }

// -- the compilation list ------------------------------------------------------

void TfrmMain::clBoxDragDrop(QWidget* source) {
  if (source == lbDir) {
    QString path = lbDir->SelectedPath();
    if (path.isEmpty()) return;
    if (path.endsWith('/')) path.chop(1);
    AddSourceRow(path + "/", true);
  } else if (source == lbFiles) {
    const QString path = lbFiles->SelectedPath();
    if (path.isEmpty()) return;
    AddSourceRow(path, true);
  }
}

void TfrmMain::ExplorerDragDropDropped(int itemsCount) {
  const QStringList& items = ExplorerDragDrop->Items();
  for (int i = 0; i < itemsCount && i < items.size(); ++i) {
    QString name = items[i];
    const bool folder = IsDirectory(name);
    if (folder && !name.endsWith('/')) name += '/';
    AddSourceRow(name, folder);
  }
}

void TfrmMain::AddSourceRow(const QString& path, bool ticked) {
  clBox->AddRow(path, -1, ticked);
  FSizer->Measure(path);
}

void TfrmMain::SourceMeasured(const QString& path, qint64 bytes, bool complete) {
  const int row = clBox->RowOf(path);
  if (row < 0) return;
  clBox->SetRowBytes(row, complete ? bytes : 0);
  UpdateAddedSpace();
}

void TfrmMain::Remove1Click() {
  const int row = clBox->currentRow();
  if (row >= 0 && clBox->item(row, 1)) FSizer->Cancel(clBox->item(row, 1)->text());
  clBox->RemoveSelectedRow();
}

void TfrmMain::bClearClick() {
  FSizer->CancelAll();
  clBox->setRowCount(0);
  qzrec->ClearCompilation(600000, 20000);
}

void TfrmMain::cPathInfoClick() {
  TSettingsFile file(TSettingsFile::DefaultPath());
  if (!file.WriteString(kOptionsSection, "SavePath", PathStateWord(PathState())))
    FPrompter.Inform(this, QString::fromStdString(file.Error()));
}

void TfrmMain::bNetworkClick() {
  QString path;
  if (!FPrompter.Input(this, tr("Ruta de red"), tr("Ingrese la ruta completa de la red (\\\\Maquina1\\C)"), path))
    return;
  QString error;
  if (!lbDir->Navigate(path, error)) FPrompter.Inform(this, error);
}

void TfrmMain::Label1Click() { FPrompter.OpenUrl(kMakerSite); }

void TfrmMain::FeedCompilation() {
  TQzRecorder& rec = *qzrec;
  {
    QMutexLocker lock(&FPendingGuard);
    FLeftOut.clear();
  }
  if (FSettings.SessionNo != 0) {
    rec.SessionToImport = 0;  // the layout must not import a second time
    rec.ImportDiscSession(FSettings.SessionNo, rec.RootDirectory());
  }
  const QVector<TCompilationRow> rows = clBox->Rows();
  if (rows.isEmpty()) {
    FPrompter.Inform(this, tr("Almenos un archivo/directorio deberia ser seleccionado."));
    return;
  }
  const TPathState state = PathState();
  // A folder may hold a whole system: the walk runs off the window's thread
  // and can be cancelled, which leaves nothing to write.
  if (!RunOffThread(tr("Agregando archivos y carpetas..."), [this, rows, state] { FeedRows(rows, state); })) {
    Log(tr(">>> AGREGAR ARCHIVOS/DIRECTORIOS CANCELADO"));
    rec.ClearCompilation(600000, 20000);
    return;
  }
  rec.RemoveEmptyDirectories();
  ShowSize(static_cast<double>(rec.CompilationBytes()));
}

void TfrmMain::FeedRows(const QVector<TCompilationRow>& rows, TPathState state) {
  TQzRecorder& rec = *qzrec;
  for (const TCompilationRow& row : rows) {
    if (FCancel) return;
    const std::string path = row.Path.toStdString();
    const size_t cut = path.rfind('/') + 1;
    const std::string folder = path.substr(0, cut), name = path.substr(cut);
    const bool keepPath = state != TPathState::Unchecked;
    rec.KeepLastFolderOnly = state == TPathState::Grayed;
    if (IsDirectory(row.Path))
      rec.AddDirectoryTree(rec.RootDirectory(), folder, "*.*", 63, row.Ticked, keepPath, FSettings.ArchiveFiles,
                           &FCancel);
    else
      rec.AddFileEntry("\\", folder + name, keepPath);
  }
}

bool TfrmMain::RunOffThread(const QString& caption, const std::function<void()>& work) {
  FCancel = false;
  std::atomic<bool> done{false};
  QEventLoop loop;
  QProgressDialog box(caption, tr("Cancelar"), 0, 0, this);
  box.setObjectName("WalkProgress");
  box.setWindowModality(Qt::WindowModal);
  box.setMinimumDuration(400);
  connect(&box, &QProgressDialog::canceled, this, [this] { FCancel = true; });
  std::thread worker([&] {
    work();
    done = true;
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  if (!done) loop.exec();
  worker.join();
  // What the walk logged is in the log when it returns, also when it ended
  // before the loop ran (its queued flush would otherwise come later).
  FlushPendingLog();
  box.reset();
  return !FCancel;
}

// Runs on the thread that feeds the compilation (a worker): it touches no
// widget, and says what it skips through the log, which is thread-safe.
void TfrmMain::qzrecAddFile(TObject*, const std::string& FullPath, std::string& LongFileName, std::string&,
                            TDateTime&, int, int64_t, bool& Skip) {
  const auto skip = [&](const QString& why) {
    qzrec->Log(">>> " + why.toStdString() + " " + FullPath, 4);
    Skip = true;
  };
  const size_t dot = LongFileName.rfind('.');
  // Left out without a word, as this filter always was.
  if (dot != std::string::npos && LongFileName.compare(dot, std::string::npos, ".doc") == 0) Skip = true;
  // With Rock Ridge a link leading nowhere is recorded as a link: nothing to open.
  struct stat own {}, target {};
  const bool danglingLink = qzrec->RockRidge && !FullPath.empty() && ::lstat(FullPath.c_str(), &own) == 0 &&
                            S_ISLNK(own.st_mode) && ::stat(FullPath.c_str(), &target) != 0;
  if (!FullPath.empty() && !Skip && !danglingLink) {
    const int fd = ::open(FullPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
      skip(tr("SKIPING; ARCHIVO ESTA EN USO"));
    } else {
      struct stat st {};
      // The image being built must not read itself as a source.
      if (::fstat(fd, &st) == 0 && st.st_dev == FTargetDevice && st.st_ino == FTargetInode && FTargetInode != 0)
        skip(tr("SKIPING; ES EL ARCHIVO ISO EN CONSTRUCCION"));
      ::close(fd);
    }
  }
  // Rock Ridge keeps a longer name whole; the Joliet tree gets it cut.
  if (!Skip && !qzrec->RockRidge && Utf16Length(LongFileName) > 107) skip(tr("SKIPING; NOMBRE ARCHIVO MAYOR DE 107"));
}

void TfrmMain::qzrecAddDirName(TObject*, std::string& LongName, std::string&, bool& Skip) {
  if (UpperCase(LongName) == "RECYCLED") {
    Log(tr(">>> SKIPING RECYCLE BIN"));
    Skip = true;
  }
  if (!qzrec->RockRidge && Utf16Length(LongName) > 127) {
    Log(tr(">>> SKIPING ARCHIVOS CON NOMBRES INVALIDOS (LENGTH OF FILE NAME MUST BE LESS THAN 64)"));
    Log(QString::fromStdString("     " + LongName));
    Skip = true;
  }
}

void TfrmMain::bSaveISOClick() {
  TSaveFileRequest request;
  request.Title = tr("Contruir ISO");
  request.DefaultSuffix = "iso";
  request.Filters = {tr("Archivos .ISO (*.iso *.ISO)"), tr("Todos los archivos (*)")};
  request.InitialFile = QString::fromStdString(qzrec->ISOFileName);
  QString name;
  if (!FPrompter.SaveFile(this, request, name)) return;
  const QFileInfo target(name);
  // Replacing a file is the user's choice, never a surprise.
  if (target.exists() &&
      (target.isDir() || !FPrompter.Ask(this, tr("El archivo %1 ya existe; lo que tiene se perdera.").arg(name),
                                        tr("¿Reemplazar el archivo?"), true))) {
    if (target.isDir()) FPrompter.Inform(this, tr("%1 es un directorio.").arg(name));
    return;
  }
  struct stat st {};
  FTargetDevice = 0;
  FTargetInode = 0;
  if (::stat(name.toStdString().c_str(), &st) == 0) {
    FTargetDevice = st.st_dev;
    FTargetInode = st.st_ino;
  }
  Timer1->start();
  qzrec->ClearCompilation(600000, 20000);
  SetWorking(true);
  FeedCompilation();
  if (qzrec->DirectoryCount() == 0 && qzrec->FileCount() == 0) {
    SetWorking(false);
    return;
  }
  Log(tr(">>> AGREGAR ARCHIVOS/DIRECTORIOS AL ISO FINALIZO"));
  QApplication::processEvents();
  Log(tr(">>> INICIO CONSTRUCCION ARCHIVO ISO"));
  FImageBuild = true;
  FWriteClock.start();
  qzrec->PrepareImage(true, nullptr);
  pcd->SetMax(static_cast<int>(qzrec->ImageSectors()));
  ShowSize(static_cast<double>(qzrec->ImageSectors()) * 2048.0);
  try {
    qzrec->BuildISOFile(name.toStdString(), FSettings.QuickSaveISO);
  } catch (const EStreamError& error) {
    // The quick save ends in an exception when the file cannot be written:
    // the window must not stay locked.
    qzrecWriteDone(qzrec.get(), error.what());
  }
}

void TfrmMain::ShowSize(double bytes) { lSize->setText(QString::fromStdString(MegabytesText(bytes))); }

void TfrmMain::SetBusy(bool busy) {
  for (QWidget* widget : {static_cast<QWidget*>(pTop), static_cast<QWidget*>(pTop2), static_cast<QWidget*>(bSaveISO),
                          static_cast<QWidget*>(bBurnISO), static_cast<QWidget*>(DriveCB),
                          static_cast<QWidget*>(bClear)})
    widget->setEnabled(!busy);
}

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (FShown) return;
  FShown = true;
  FormShow();
}

}  // namespace fornax::app
