#include "app/main_window.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QThread>
#include <QVBoxLayout>

#include "app/display_formats.h"
#include "app/settings_file.h"
#include "engine/base/text.h"
#include "engine/image/stream_ex.h"

namespace fornax::app {
namespace {

QPushButton* Button(QWidget* parent, const char* name, const QString& caption, const QString& hint = {}) {
  auto* button = new QPushButton(caption, parent);
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
}

TfrmMain::~TfrmMain() {
  // A write or erase still running reports to a window that is going.
  qzrec->OnDebugMessage = nullptr;
  qzrec->Dispatcher = nullptr;
  qzrec->OnWaiting = nullptr;
}

void TfrmMain::BuildTopBars() {
  pTop = MakePanel(this, "pTop", 27, false);
  lDrive = Label(pTop, "lDrive", " Unidad :");
  cbDrives = new TDropDownList(pTop);
  cbDrives->setObjectName("cbDrives");
  cbDrives->setFont(CourierNew());
  cbDrives->setMinimumWidth(360);
  pTop->layout()->addWidget(cbDrives);
  bCaps = Button(pTop, "bCaps", "...", "Drive capabilities");
  // Narrow, but never so narrow that the style elides its three dots.
  bCaps->setFixedWidth(std::max(24, bCaps->fontMetrics().horizontalAdvance("...") + 26));
  cbSpeed = new TDropDownList(pTop);
  cbSpeed->setObjectName("cbSpeed");
  cbSpeed->setToolTip("Velocidad");
  cbSpeed->addItem("Max");
  cbSpeed->setMinimumWidth(150);
  pTop->layout()->addWidget(cbSpeed);
  bDisc = Button(pTop, "bDisc", "Informacion Disco", "Informacion de Disco & Sesion (Extraer archivo de alguna sesion)");
  static_cast<QHBoxLayout*>(pTop->layout())->addStretch(1);
  Panel9 = MakePanel(pTop, "Panel9", 0, false);
  Panel9->setFrameShape(QFrame::NoFrame);
  pTop->layout()->addWidget(Panel9);
  bAdvance = Button(Panel9, "bAdvance", "Avanzado", "Configuracion avanzada");
  bBurn = Button(Panel9, "bBurn", "Quemar", "Inicar quemado");
  Bold(bBurn);

  pTop2 = MakePanel(this, "pTop2", 28, true);
  bQErase = Button(pTop2, "bQErase", "Borrado rapido", "Borrado rapido");
  bCErase = Button(pTop2, "bCErase", "Borrado completo", "Borrado completo (Normalmente no requerido)");
  bLoad = Button(pTop2, "bLoad", "Cargar", "Cargar medio");
  bEject = Button(pTop2, "bEject", "Expulsar", "Expulsar medio");
  bReady = Button(pTop2, "bReady", "¿Listo?", "Esta la unidad lista...?");
  static_cast<QHBoxLayout*>(pTop2->layout())->addStretch(1);
  Panel1 = MakePanel(pTop2, "Panel1", 0, false);
  Panel1->setFrameShape(QFrame::NoFrame);
  pTop2->layout()->addWidget(Panel1);
  btnAbout = Button(Panel1, "btnAbout", "Acerca de...");
  Bold(btnAbout);
  btnAbout->setStyleSheet("color: navy;");
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
  bSaveISO = Button(Panel4, "bSaveISO", "Crear ISO", "Crear y guardar imagen .ISO");
  bBurnISO = Button(Panel4, "bBurnISO", "Quemar ISO", "Iniciar Quemado");
  static_cast<QHBoxLayout*>(Panel4->layout())->addStretch(1);
  Panel10 = MakePanel(Panel4, "Panel10", 0, false);
  Panel10->setFrameShape(QFrame::NoFrame);
  Panel4->layout()->addWidget(Panel10);
  cPathInfo = new QCheckBox("Guardar ruta", Panel10);
  cPathInfo->setObjectName("cPathInfo");
  cPathInfo->setToolTip("Preservar la estrutura de directorios");
  cPathInfo->setTristate(true);
  cPathInfo->setLayoutDirection(Qt::RightToLeft);  // the caption left of the box
  cPathInfo->setCheckState(Qt::PartiallyChecked);
  Panel10->layout()->addWidget(cPathInfo);
  bClear = Button(Panel10, "bClear", "Limpiar");

  clBox = new TCompilationList(pDiscFiles);
  clBox->setObjectName("clBox");
  clBox->setContextMenuPolicy(Qt::CustomContextMenu);
  layout->addWidget(clBox, 1);
  PopupMenu2 = new QMenu(this);
  PopupMenu2->setObjectName("PopupMenu2");
  Remove1 = PopupMenu2->addAction("Remover");
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
  bNetwork = Button(Panel12, "bNetwork", "Red");

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
  connect(DriveCB, &QComboBox::activated, this, [this] {
    QString error;
    lbDir->Navigate(DriveCB->currentText(), error);
  });
}

void TfrmMain::BuildLogAndStatus() {
  Memo1 = new QPlainTextEdit(Splitter2);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setToolTip("Log");
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setFont(CourierNew());
  Memo1->setStyleSheet("QPlainTextEdit { background: black; color: white; }");
  Memo1->viewport()->setCursor(Qt::ArrowCursor);
  Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  ClearAll1 = PopupMenu1->addAction("Limpiar Log");
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
  Label6 = Label(pbottom, "Label6", " Progreso CD : ");
  pcd = new TGauge(pbottom);
  pcd->setObjectName("pcd");
  pcd->setFixedWidth(151);
  pbottom->layout()->addWidget(pcd);
  lSize = Label(pbottom, "lSize", "Tamaño");
  lSize->setFixedWidth(185);
  lSize->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  bAbort = Button(pbottom, "bAbort", "Abortar", "Abortar la operacion de escritura");
  bAbort->setStyleSheet("color: red;");
  bAbort->hide();
  static_cast<QHBoxLayout*>(pbottom->layout())->addStretch(1);
  Label5 = Label(pbottom, "Label5", "Buffer : ");
  pBuf = new TGauge(pbottom);
  pBuf->setObjectName("pBuf");
  pBuf->setFixedWidth(98);
  pBuf->setToolTip("Estado del buffer del sistema");
  pbottom->layout()->addWidget(pBuf);
  pHBuf = new TGauge(pbottom);
  pHBuf->setObjectName("pHBuf");
  pHBuf->setFixedWidth(50);
  pHBuf->setToolTip("Estado del buffer del dispositivo");
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
void TfrmMain::qzrecDebugMessage(TObject*, const std::string& Message, uint8_t) {
  const QString line = QString::fromStdString(Message);
  if (QThread::currentThread() == thread()) {
    FlushPendingLog();
    AppendLogLine(line);
    return;
  }
  QMutexLocker lock(&FPendingGuard);
  FPendingLog.append(line);
  if (FPendingLog.size() == 1) QMetaObject::invokeMethod(this, &TfrmMain::FlushPendingLog, Qt::QueuedConnection);
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
    clBox->AddRow(path + "/", TQzRecorder::FolderSize((path + "/").toStdString()), true);
  } else if (source == lbFiles) {
    const QString path = lbFiles->SelectedPath();
    if (path.isEmpty()) return;
    clBox->AddRow(path, TQzRecorder::FolderSize(path.toStdString()), true);
  }
}

void TfrmMain::ExplorerDragDropDropped(int itemsCount) {
  const QStringList& items = ExplorerDragDrop->Items();
  for (int i = 0; i < itemsCount && i < items.size(); ++i) {
    QString name = items[i];
    if (IsDirectory(name)) {
      if (!name.endsWith('/')) name += '/';
      clBox->AddRow(name, TQzRecorder::FolderSize(name.toStdString()), true);
    } else {
      clBox->AddRow(name, TQzRecorder::FolderSize(name.toStdString()), false);
    }
  }
}

void TfrmMain::Remove1Click() { clBox->RemoveSelectedRow(); }

void TfrmMain::bClearClick() {
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
  if (!FPrompter.Input(this, "Ruta de red", "Ingrese la ruta completa de la red (\\\\Maquina1\\C)", path)) return;
  QString error;
  if (!lbDir->Navigate(path, error)) FPrompter.Inform(this, error);
}

void TfrmMain::Label1Click() { FPrompter.OpenUrl(kMakerSite); }

void TfrmMain::FeedCompilation() {
  TQzRecorder& rec = *qzrec;
  if (FSettings.SessionNo != 0) {
    rec.SessionToImport = 0;  // the layout must not import a second time
    rec.ImportDiscSession(FSettings.SessionNo, rec.RootDirectory());
  }
  const QVector<TCompilationRow> rows = clBox->Rows();
  if (rows.isEmpty()) {
    FPrompter.Inform(this, "Almenos un archivo/directorio deberia ser seleccionado.");
    return;
  }
  const TPathState state = PathState();
  for (const TCompilationRow& row : rows) {
    const std::string path = row.Path.toStdString();
    const size_t cut = path.rfind('/') + 1;
    const std::string folder = path.substr(0, cut), name = path.substr(cut);
    const bool keepPath = state != TPathState::Unchecked;
    rec.KeepLastFolderOnly = state == TPathState::Grayed;
    if (IsDirectory(row.Path))
      rec.AddDirectoryTree(rec.RootDirectory(), folder, "*.*", 63, row.Ticked, keepPath, FSettings.ArchiveFiles);
    else
      rec.AddFileEntry("\\", folder + name, keepPath);
  }
  rec.RemoveEmptyDirectories();
}

void TfrmMain::qzrecAddFile(TObject*, const std::string& FullPath, std::string& LongFileName, std::string&,
                            TDateTime&, int, int64_t, bool& Skip) {
  const size_t dot = LongFileName.rfind('.');
  if (dot != std::string::npos && LongFileName.compare(dot, std::string::npos, ".doc") == 0) Skip = true;
  if (!FullPath.empty()) {
    const int fd = ::open(FullPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      Log(QString::fromStdString(">>> SKIPING; ARCHIVO ESTA EN USO " + FullPath));
      Skip = true;
    } else {
      struct stat st {};
      // The image being built must not read itself as a source.
      if (::fstat(fd, &st) == 0 && st.st_dev == FTargetDevice && st.st_ino == FTargetInode && FTargetInode != 0) {
        Log(QString::fromStdString(">>> SKIPING; ES EL ARCHIVO ISO EN CONSTRUCCION " + FullPath));
        Skip = true;
      }
      ::close(fd);
    }
  }
  if (Utf16Length(LongFileName) > 107) {
    Log(QString::fromStdString(">>> SKIPING; NOMBRE ARCHIVO MAYOR DE 107 " + FullPath));
    Skip = true;
  }
  if (!Skip) lSize->setText(QString::fromStdString(MegabytesText(static_cast<double>(qzrec->CompilationBytes()))));
}

void TfrmMain::qzrecAddDirName(TObject*, std::string& LongName, std::string&, bool& Skip) {
  if (UpperCase(LongName) == "RECYCLED") {
    Log(">>> SKIPING RECYCLE BIN");
    Skip = true;
  }
  if (Utf16Length(LongName) > 127) {
    Log(">>> SKIPING ARCHIVOS CON NOMBRES INVALIDOS (LENGTH OF FILE NAME MUST BE LESS THAN 64)");
    Log(QString::fromStdString("     " + LongName));
    Skip = true;
  }
}

void TfrmMain::bSaveISOClick() {
  QString name = QString::fromStdString(qzrec->ISOFileName);
  if (!FPrompter.Input(this, "Contruir ISO", "Ingresar nombre del archivo ISO", name)) return;
  const QFileInfo target(name);
  // Replacing a file is the user's choice, never a surprise.
  if (target.exists() &&
      (target.isDir() || !FPrompter.Ask(this, QString("El archivo %1 ya existe. ¿Reemplazarlo?").arg(name),
                                        "Contruir ISO", true))) {
    if (target.isDir()) FPrompter.Inform(this, QString("%1 es un directorio.").arg(name));
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
  FeedCompilation();
  if (qzrec->DirectoryCount() == 0 && qzrec->FileCount() == 0) return;
  Log(">>> AGREGAR ARCHIVOS/DIRECTORIOS AL ISO FINALIZO");
  QApplication::processEvents();
  Log(">>> INICIO CONSTRUCCION ARCHIVO ISO");
  SetBusy(true);
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
                          static_cast<QWidget*>(bBurnISO), static_cast<QWidget*>(DriveCB)})
    widget->setEnabled(!busy);
}

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (FShown) return;
  FShown = true;
  FormShow();
}

}  // namespace fornax::app
