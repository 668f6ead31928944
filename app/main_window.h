#pragma once
// TfrmMain: the program's main window. It owns the engine (qzrec), the
// compilation list with the folder browser beside it, the drive bars, the log
// and the status bar. Its layout and compilation panel are in
// main_window.cpp; its drive, burn, erase and progress actions in
// main_window_actions.cpp.

#include <QCheckBox>
#include <QMainWindow>
#include <QMutex>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <sys/types.h>

#include "app/app_settings.h"
#include "app/compilation_list.h"
#include "app/prompter.h"
#include "app/shell_drop.h"
#include "app/shell_views.h"
#include "app/widgets.h"
#include "engine/recorder.h"

class QFrame;
class QLabel;
class QMenu;
class QAction;

namespace fornax::app {

inline constexpr const char* kWindowCaption = "Fornax v1.4.2";
inline constexpr const char* kMakerSite = "https://fornax.example.org";

class TfrmMain : public QMainWindow {
  Q_OBJECT
 public:
  // The prompter answers every question of the window (Qt's boxes on the
  // desktop, the test's answers in tests).
  explicit TfrmMain(TPrompter& prompter, QWidget* parent = nullptr);
  ~TfrmMain() override;

  TQzRecorder& Recorder() { return *qzrec; }
  TAppSettings& Settings() { return FSettings; }
  TPrompter& Prompter() { return FPrompter; }
  QString LogText() const { return Memo1->toPlainText(); }
  TPathState PathState() const;
  void SetPathState(TPathState state);

  // Compilation panel.
  void clBoxDragDrop(QWidget* source);
  void ExplorerDragDropDropped(int itemsCount);
  void Remove1Click();
  void bClearClick();
  void cPathInfoClick();
  void bNetworkClick();
  void Label1Click();
  void bSaveISOClick();
  // Feeds the engine's compilation from the list (the caller cleared it).
  void FeedCompilation();

  // Drive, burn, erase and progress.
  void FormShow();
  void cbDrivesChange();
  void cbSpeedDropDown();
  void bBurnClick();
  void bBurnISOClick();
  void bQEraseClick();
  void bCEraseClick();
  void bLoadClick();
  void bEjectClick();
  void bReadyClick();
  void bAbortClick();
  void Timer1Timer();
  void ClearAll1Click();
  void CopyLog();  // F5, wherever the focus is
  void bCDHeaderClick();
  void bCapsClick();
  void bDiscClick();
  void btnAboutClick();

  // Engine events.
  void qzrecAddFile(TObject* Sender, const std::string& FullPath, std::string& LongFileName,
                    std::string& ShortFileName, TDateTime& DateTime, int Attr, int64_t FileSize, bool& Skip);
  void qzrecAddDirName(TObject* Sender, std::string& LongName, std::string& ShortName, bool& Skip);
  void qzrecDebugMessage(TObject* Sender, const std::string& Message, uint8_t mType);
  void qzrecWriteDone(TObject* Sender, const std::string& Error);
  void qzrecEraseDone(TObject* Sender, bool WithError);
  void qzrecFinalizingTrack(TObject* Sender);

  // Controls, by the names they have always had.
  QFrame *pTop, *pTop2, *Panel9, *Panel1, *pDiscFiles, *Panel4, *Panel10, *pDrivesDir, *Panel2, *Panel12,
      *Panel11, *pbottom;
  QLabel *lDrive, *Label6, *lSize, *Label5;
  TDropDownList *cbDrives, *cbSpeed;
  QPushButton *bCaps, *bDisc, *bAdvance, *bBurn, *bQErase, *bCErase, *bLoad, *bEject, *bReady, *btnAbout,
      *bSaveISO, *bBurnISO, *bClear, *bNetwork, *bAbort;
  TLinkLabel* Label1;
  QCheckBox* cPathInfo;
  TCompilationList* clBox;
  QSplitter *Splitter1, *Splitter2, *FolderSplitter;
  TDriveCombo* DriveCB;
  TShellFolderTree* lbDir;
  TShellFileList* lbFiles;
  QPlainTextEdit* Memo1;
  TGauge *pcd, *pBuf, *pHBuf;
  QTimer* Timer1;
  QMenu *PopupMenu1, *PopupMenu2;
  QAction *ClearAll1, *Remove1, *CopyLog1;
  TExDragDrop* ExplorerDragDrop;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildTopBars();
  void BuildCompilationPanel();
  void BuildBrowser();
  void BuildLogAndStatus();
  void ConnectEngine();
  // The window's own lines go through the engine's log, as every line does.
  void Log(const QString& text) { qzrec->Log(text.toStdString(), 0); }
  // Appends the lines other threads handed over, in the order they came.
  void FlushPendingLog();
  void AppendLogLine(const QString& line);
  void SetBusy(bool busy);  // the two bars, bSaveISO, bBurnISO and DriveCB
  void ApplySelectedSpeed();
  void ShowSize(double bytes);

  TPrompter& FPrompter;
  std::unique_ptr<TQzRecorder> qzrec;
  TAppSettings FSettings;
  bool FShown = false;
  // The image file being built, so that it is never read as one of its sources.
  dev_t FTargetDevice = 0;
  ino_t FTargetInode = 0;
  QMutex FPendingGuard;
  QStringList FPendingLog;
};

}  // namespace fornax::app
