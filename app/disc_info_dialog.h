#pragma once
// TfrmSessions: "Informacion Disco & Sesiones", the medium, its sizes and
// status and one row per session; choosing a session reads its tree into the
// engine's compilation and opens the session tree (TfrmTree).

#include <QDialog>

#include "app/prompter.h"

class QFrame;
class QLabel;
class QListWidget;
class QPushButton;
class QToolButton;

namespace fornax {
class TQzRecorder;
}

namespace fornax::app {

class TfrmSessions : public QDialog {
  Q_OBJECT
 public:
  TfrmSessions(TQzRecorder& recorder, TPrompter& prompter, QWidget* parent = nullptr);

  // The main window's "Informacion Disco": fills a new dialog from the drive
  // and shows it modally.
  static void ShowFor(TQzRecorder& recorder, TPrompter& prompter, QWidget* parent);
  // Fills the labels and rows; false when the drive is not ready (one error row).
  bool Fill();
  void SpeedButton1Click();  // "Mostrar Archivos", also a click on a row

  QFrame *Panel1, *Panel2;
  QLabel *Label1, *Label2, *Label3, *Label4, *lMedium, *lDiscSize, *lUsedSpace, *lFreeSpace;
  QToolButton* SpeedButton1;
  QListWidget* lb;
  QPushButton* Button1;

 private:
  TQzRecorder& FRecorder;
  TPrompter& FPrompter;
};

}  // namespace fornax::app
