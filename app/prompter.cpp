#include "app/prompter.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

namespace fornax::app {

void TDesktopPrompter::Inform(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, QApplication::applicationDisplayName(), text);
}

bool TDesktopPrompter::Ask(QWidget* parent, const QString& text, const QString& caption, bool warning) {
  QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Question, QApplication::applicationDisplayName(),
                  caption.isEmpty() ? text : caption, QMessageBox::Yes | QMessageBox::No, parent);
  if (!caption.isEmpty()) box.setInformativeText(text);
  box.setDefaultButton(warning ? QMessageBox::No : QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

bool TDesktopPrompter::Input(QWidget* parent, const QString& title, const QString& prompt, QString& value) {
  bool ok = false;
  const QString typed = QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, value, &ok);
  if (ok) value = typed;
  return ok;
}

bool TDesktopPrompter::OpenFile(QWidget* parent, const TOpenFileRequest& request, QString& fileName) {
  QFileDialog dialog(parent, request.Title);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(request.Filters);
  dialog.setDefaultSuffix(request.DefaultSuffix);
  dialog.setOption(QFileDialog::ReadOnly, request.ReadOnlyOption);
  if (!request.InitialFile.isEmpty()) dialog.selectFile(request.InitialFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  fileName = dialog.selectedFiles().first();
  return true;
}

bool TDesktopPrompter::SaveFile(QWidget* parent, const TSaveFileRequest& request, QString& fileName) {
  QFileDialog dialog(parent, request.Title);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(request.Filters);
  dialog.setDefaultSuffix(request.DefaultSuffix);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (!request.InitialFile.isEmpty()) dialog.selectFile(request.InitialFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  fileName = dialog.selectedFiles().first();
  return true;
}

bool TDesktopPrompter::ChooseFolder(QWidget* parent, const QString& title, QString& folder) {
  const QString chosen = QFileDialog::getExistingDirectory(parent, title, folder);
  if (chosen.isEmpty()) return false;
  folder = chosen;
  return true;
}

int TDesktopPrompter::RunModal(QDialog& dialog) { return dialog.exec(); }

void TDesktopPrompter::Beep() { QApplication::beep(); }

void TDesktopPrompter::OpenUrl(const QString& url) { QDesktopServices::openUrl(QUrl(url)); }

}  // namespace fornax::app
