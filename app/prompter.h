#pragma once
// Every question, message box, input box, file dialog and modal showing of
// the windows goes through a prompter: the desktop one shows Qt's boxes, and
// the tests answer in their place, so the windows' flows run unattended.

#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

namespace fornax::app {

// What a file-open dialog offers.
struct TOpenFileRequest {
  QString Title;
  QString DefaultSuffix;  // added to a typed name without one
  QStringList Filters;    // "Archivos .ISO (*.iso *.ISO)", ...
  QString InitialFile;
  bool ReadOnlyOption = false;
};

// What a file-save dialog offers. Replacing an existing file is asked by the
// caller (with Ask), so that the question is the same everywhere.
struct TSaveFileRequest {
  QString Title;
  QString DefaultSuffix;
  QStringList Filters;
  QString InitialFile;  // a path: its folder is where the dialog opens
};

class TPrompter {
 public:
  virtual ~TPrompter() = default;
  // A message with an OK button, titled with the application's title.
  virtual void Inform(QWidget* parent, const QString& text) = 0;
  // A Yes/No question: `caption` is the question, `text` what it is about;
  // `warning` gives the warning icon and No as the default. The box's title
  // is the application's: a window manager cuts long titles.
  virtual bool Ask(QWidget* parent, const QString& text, const QString& caption, bool warning) = 0;
  // An input box pre-filled with `value`; false when cancelled.
  virtual bool Input(QWidget* parent, const QString& title, const QString& prompt, QString& value) = 0;
  // A file-open dialog; false when cancelled.
  virtual bool OpenFile(QWidget* parent, const TOpenFileRequest& request, QString& fileName) = 0;
  // A file-save dialog; false when cancelled.
  virtual bool SaveFile(QWidget* parent, const TSaveFileRequest& request, QString& fileName) = 0;
  // A folder chooser starting at `folder`; false when cancelled.
  virtual bool ChooseFolder(QWidget* parent, const QString& title, QString& folder) = 0;
  // Shows a dialog modally and returns its result.
  virtual int RunModal(QDialog& dialog) = 0;
  virtual void Beep() = 0;
  // Opens a web address with the desktop's browser.
  virtual void OpenUrl(const QString& url) = 0;
};

// Qt's own boxes and dialogs.
class TDesktopPrompter : public TPrompter {
 public:
  void Inform(QWidget* parent, const QString& text) override;
  bool Ask(QWidget* parent, const QString& text, const QString& caption, bool warning) override;
  bool Input(QWidget* parent, const QString& title, const QString& prompt, QString& value) override;
  bool OpenFile(QWidget* parent, const TOpenFileRequest& request, QString& fileName) override;
  bool SaveFile(QWidget* parent, const TSaveFileRequest& request, QString& fileName) override;
  bool ChooseFolder(QWidget* parent, const QString& title, QString& folder) override;
  int RunModal(QDialog& dialog) override;
  void Beep() override;
  void OpenUrl(const QString& url) override;
};

}  // namespace fornax::app
