#pragma once
// TfrmSettings: "Opciones avanzadas", the engine's write options and the
// application's own, applied and stored in the settings file by "&Aceptar".

#include <QDialog>

#include "app/app_settings.h"
#include "app/prompter.h"

class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

namespace fornax {
class TQzRecorder;
}

namespace fornax::app {

class TfrmSettings : public QDialog {
  Q_OBJECT
 public:
  // `pathState` is the main window's "Guardar ruta" state, stored with the rest.
  TfrmSettings(TQzRecorder& recorder, TAppSettings& settings, TPathState pathState, TPrompter& prompter,
               QWidget* parent = nullptr);

  void FormShow();
  void Button1Click();  // "&Aceptar"
  void Button2Click();  // "&Cancelar"
  void Button3Click();  // "Cerrar Track"
  void cImportSessionClick();
  void cBootableClick();
  void sCacheSizeChange();

  QLabel *Label1, *Label2, *Label3, *Label4;
  QLineEdit *eVolLabel, *eSession;
  QCheckBox *cJoliet, *cCloseDisc, *cImportSession, *cUnderrunProtection, *cTestWrite, *cEject, *cOPC,
      *cQuickSaveISO, *cBootable, *cShowFiles, *cArchiveOnly, *cVerify;
  QCheckBox* cRockRidge;
  QSlider* sCacheSize;
  QPushButton *Button1, *Button2, *Button3;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QCheckBox* AddBox(QGridLayout* grid, int row, int column, const char* name, const QString& caption);
  void BuildOptions(QGridLayout* grid);
  void BuildCacheRow(QGridLayout* grid, int row);
  void BuildButtons(QGridLayout* grid, int row);
  void ConnectControls();
  // The steps of "&Aceptar": engine, application, the session number, the file.
  void ApplyToEngine();
  void ApplyToApplication();
  bool ReadSessionNumber(int& session);
  bool StoreSettings();

  TQzRecorder& FRecorder;
  TAppSettings& FSettings;
  TPathState FPathState;
  TPrompter& FPrompter;
  bool FShown = false;
};

}  // namespace fornax::app
