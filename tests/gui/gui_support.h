#pragma once
// What the GUI tests share: the registry of test classes, a prompter that
// answers in the user's place, the simulated recorder's controls, scratch
// folders and the main window set up against them.

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/main_window.h"
#include "app/prompter.h"

class QTableWidget;
class QTreeWidgetItem;

namespace fornax::guitest {

using TSuiteFactory = std::function<QObject*()>;
std::map<std::string, TSuiteFactory>& Registry();
struct TRegistration {
  TRegistration(const char* name, TSuiteFactory factory) { Registry().emplace(name, std::move(factory)); }
};
#define FORNAX_GUI_TEST(Class) \
  static const ::fornax::guitest::TRegistration kRegistration##Class(#Class, [] { return new Class; });
// A class that needs a real display server (drag and drop runs its own loop
// on the server's mouse events; the offscreen platform has none): CTest runs
// it under Xvfb.
#define FORNAX_GUI_X11_TEST(Class) FORNAX_GUI_TEST(Class)

// Settings and the simulated recorder's disc in scratch folders of this run;
// the drive's waits shortened as for every test against it.
void PrepareEnvironment();

// Answers every box in the user's place and remembers what was shown.
class TScriptedPrompter : public app::TPrompter {
 public:
  struct TAsked {
    QString Text, Caption;
    bool Warning = false;
  };
  void Inform(QWidget* parent, const QString& text) override;
  bool Ask(QWidget* parent, const QString& text, const QString& caption, bool warning) override;
  bool Input(QWidget* parent, const QString& title, const QString& prompt, QString& value) override;
  bool OpenFile(QWidget* parent, const app::TOpenFileRequest& request, QString& fileName) override;
  bool SaveFile(QWidget* parent, const app::TSaveFileRequest& request, QString& fileName) override;
  bool ChooseFolder(QWidget* parent, const QString& title, QString& folder) override;
  int RunModal(QDialog& dialog) override;
  void Beep() override { ++Beeps; }
  void OpenUrl(const QString& url) override { Urls.append(url); }

  // Answers, used in order; a question without one is answered No, an input
  // box or file dialog without one is cancelled.
  QList<bool> AskAnswers;
  QList<std::optional<QString>> InputAnswers;
  QList<std::optional<QString>> FileAnswers;
  QList<std::optional<QString>> FolderAnswers;
  QList<std::optional<QString>> SaveAnswers;
  // What a modal dialog does while "shown" (it is shown, not modal); without
  // it the dialog is closed with Rejected.
  std::function<int(QDialog&)> OnModal;

  QStringList Informed;
  QList<TAsked> Asked;
  QStringList InputTitles, InputPrompts, InputDefaults;
  QStringList FolderTitles, FolderDefaults;
  QStringList SaveTitles, SaveDefaults;
  QStringList ModalShown;  // object names of the dialogs shown
  int Beeps = 0;
  QStringList Urls;
};

// The simulated recorder's control functions, in the copy the engine loads.
class TSimDrive {
 public:
  TSimDrive();
  ~TSimDrive();
  // A blank medium of a kind ("cd-r", "dvd+rw" ...) in a fresh state folder.
  void Insert(const char* kind);
  void Export(const QString& path);
  QString Describe();
  // WRITE (10) then takes as long as that speed needs (0: no delay).
  void SetWriteSpeed(int kilobytesPerSecond);
  // How long blanking, formatting and closing take, in milliseconds.
  void SetDurations(int blankMs, int formatMs, int closeMs);
  int Call(const char* name);
  int Call(const char* name, const char* text);

 private:
  void* FLibrary = nullptr;
  QTemporaryDir FState;
};

// Drags names from another program onto a widget and drops them there.
void DropFromDesktop(QWidget* target, const QStringList& paths);

// The texts of one column of a grid, row by row ("" for an empty cell).
QStringList GridColumn(const QTableWidget& grid, int column);
// The child of a tree node with that caption, or null.
QTreeWidgetItem* ChildNamed(QTreeWidgetItem* node, const QString& name);
// The files of an image as xorriso lists them, one path per line.
QString FilesOn(const QString& image);

// Writes a file (and its folders); returns its path.
QString WriteFile(const QString& path, const QByteArray& content);
// A file of `size` bytes (and its folders) that costs no disc space here; returns its path.
QString WriteSparseFile(const QString& path, qint64 size);
QByteArray ReadFile(const QString& path);

// The main window, shown (its start-up has run), with a scripted prompter.
struct TMainFixture {
  TMainFixture();
  ~TMainFixture();
  TScriptedPrompter Prompter;
  std::unique_ptr<app::TfrmMain> Window;
  // Waits (events running) until no write or erase runs in the engine.
  bool WaitIdle(int milliseconds = 60000);
  // Waits (events running) until the log holds a line that starts with `line`.
  bool WaitForLog(const QString& line, int milliseconds = 60000);
  bool Logged(const QString& line) const;
};

}  // namespace fornax::guitest
