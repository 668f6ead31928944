#include "gui_support.h"

#include <dlfcn.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QProcess>
#include <QTableWidget>
#include <QTreeWidget>
#include <QUrl>
#include <QTest>

#include "engine/base/pacing.h"

namespace fornax::guitest {

std::map<std::string, TSuiteFactory>& Registry() {
  static std::map<std::string, TSuiteFactory> registry;
  return registry;
}

void PrepareEnvironment() {
  static QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  SetPaceDivisor(100);
}

void TScriptedPrompter::Inform(QWidget*, const QString& text) { Informed.append(text); }

bool TScriptedPrompter::Ask(QWidget*, const QString& text, const QString& caption, bool warning) {
  Asked.append({text, caption, warning});
  return AskAnswers.isEmpty() ? false : AskAnswers.takeFirst();
}

bool TScriptedPrompter::Input(QWidget*, const QString& title, const QString& prompt, QString& value) {
  InputTitles.append(title);
  InputPrompts.append(prompt);
  InputDefaults.append(value);
  if (InputAnswers.isEmpty()) return false;
  const std::optional<QString> answer = InputAnswers.takeFirst();
  if (!answer) return false;
  value = *answer;
  return true;
}

bool TScriptedPrompter::OpenFile(QWidget*, const app::TOpenFileRequest&, QString& fileName) {
  if (FileAnswers.isEmpty()) return false;
  const std::optional<QString> answer = FileAnswers.takeFirst();
  if (!answer) return false;
  fileName = *answer;
  return true;
}

bool TScriptedPrompter::SaveFile(QWidget*, const app::TSaveFileRequest& request, QString& fileName) {
  SaveTitles.append(request.Title);
  SaveDefaults.append(request.InitialFile);
  if (SaveAnswers.isEmpty()) return false;
  const std::optional<QString> answer = SaveAnswers.takeFirst();
  if (!answer) return false;
  fileName = *answer;
  return true;
}

bool TScriptedPrompter::ChooseFolder(QWidget*, const QString& title, QString& folder) {
  FolderTitles.append(title);
  FolderDefaults.append(folder);
  if (FolderAnswers.isEmpty()) return false;
  const std::optional<QString> answer = FolderAnswers.takeFirst();
  if (!answer) return false;
  folder = *answer;
  return true;
}

int TScriptedPrompter::RunModal(QDialog& dialog) {
  ModalShown.append(dialog.objectName());
  dialog.show();
  QApplication::processEvents();
  const int result = OnModal ? OnModal(dialog) : QDialog::Rejected;
  dialog.hide();
  return result;
}

TSimDrive::TSimDrive() {
  FLibrary = ::dlopen(FORNAX_SIMDRIVE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (!FLibrary) qFatal("cannot load %s: %s", FORNAX_SIMDRIVE_LIBRARY, ::dlerror());
  Call("fornax_sim_set_state_dir", FState.path().toUtf8().constData());
  Call("fornax_sim_reset");
}

TSimDrive::~TSimDrive() {
  Call("fornax_sim_set_state_dir", "");
  ::dlclose(FLibrary);
}

int TSimDrive::Call(const char* name) {
  auto* function = reinterpret_cast<int (*)()>(::dlsym(FLibrary, name));
  return function ? function() : -1;
}

int TSimDrive::Call(const char* name, const char* text) {
  auto* function = reinterpret_cast<int (*)(const char*)>(::dlsym(FLibrary, name));
  return function ? function(text) : -1;
}

void TSimDrive::Insert(const char* kind) {
  if (Call("fornax_sim_insert", kind) != 0) qFatal("cannot insert %s", kind);
}

void TSimDrive::Export(const QString& path) {
  if (Call("fornax_sim_export", path.toUtf8().constData()) != 0) qFatal("cannot export the disc");
}

void TSimDrive::SetWriteSpeed(int kilobytesPerSecond) {
  auto* set = reinterpret_cast<int (*)(int)>(::dlsym(FLibrary, "fornax_sim_set_write_speed"));
  if (!set || set(kilobytesPerSecond) != 0) qFatal("cannot set the drive's speed");
}

void TSimDrive::SetDurations(int blankMs, int formatMs, int closeMs) {
  auto* set = reinterpret_cast<int (*)(int, int, int)>(::dlsym(FLibrary, "fornax_sim_set_durations"));
  if (!set || set(blankMs, formatMs, closeMs) != 0) qFatal("cannot set the drive's durations");
}

QString TSimDrive::Describe() {
  auto* describe = reinterpret_cast<int (*)(char*, size_t)>(::dlsym(FLibrary, "fornax_sim_describe"));
  char text[4096] = {};
  if (describe) describe(text, sizeof text);
  return QString::fromUtf8(text);
}

void DropFromDesktop(QWidget* target, const QStringList& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& path : paths) urls.append(QUrl::fromLocalFile(path));
  data.setUrls(urls);
  // A widget is only given the drop when it took the drag as it entered.
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
}

QStringList GridColumn(const QTableWidget& grid, int column) {
  QStringList cells;
  for (int row = 0; row < grid.rowCount(); ++row) cells.append(grid.item(row, column) ? grid.item(row, column)->text() : "");
  return cells;
}

QTreeWidgetItem* ChildNamed(QTreeWidgetItem* node, const QString& name) {
  for (int i = 0; node && i < node->childCount(); ++i)
    if (node->child(i)->text(0) == name) return node->child(i);
  return nullptr;
}

QString FilesOn(const QString& image) {
  QProcess xorriso;
  xorriso.start("xorriso", {"-indev", image, "-find", "/", "-type", "f"});
  xorriso.waitForFinished(60000);
  return QString::fromUtf8(xorriso.readAllStandardOutput());
}

QString WriteFile(const QString& path, const QByteArray& content) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) qFatal("cannot write a test file");
  return path;
}

QString WriteSparseFile(const QString& path, qint64 size) {
  WriteFile(path, QByteArray());
  QFile file(path);
  if (!file.open(QIODevice::ReadWrite) || !file.resize(size)) qFatal("cannot size %s", qPrintable(path));
  return path;
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TMainFixture::TMainFixture() : Window(std::make_unique<app::TfrmMain>(Prompter)) {
  Window->show();
  QApplication::processEvents();
}

TMainFixture::~TMainFixture() {
  WaitIdle();
  Window.reset();
}

bool TMainFixture::WaitIdle(int milliseconds) {
  const bool idle = QTest::qWaitFor(
      [this] {
        TQzRecorder& rec = Window->Recorder();
        return !rec.WriteInProgress() && !rec.Erasing();
      },
      milliseconds);
  QTest::qWait(20);  // completion events queued for the window
  return idle;
}

bool TMainFixture::Logged(const QString& line) const {
  for (const QString& logged : Window->LogText().split('\n'))
    if (logged.startsWith(line)) return true;
  return false;
}

bool TMainFixture::WaitForLog(const QString& line, int milliseconds) {
  return QTest::qWaitFor([&] { return Logged(line); }, milliseconds);
}

}  // namespace fornax::guitest
