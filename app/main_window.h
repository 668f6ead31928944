#pragma once
// TfrmMain: the program's main window. It owns the engine (qzrec), the
// compilation list with the folder browser beside it, the drive bars, the log
// and the status bar. Its layout and compilation panel are in
// main_window.cpp; its drive, burn, erase and progress actions in
// main_window_actions.cpp.

#include <QCheckBox>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMutex>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <sys/types.h>

#include "app/app_settings.h"
#include "app/compilation_list.h"
#include "app/disc_space_bar.h"
#include "app/folder_sizer.h"
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
  // Whether a burn, an erase or an image build runs (the drive's actions are
  // off meanwhile).
  bool WorkerRunning() const;
  // The disc's figures for the space bar, asked of the drive again.
  void RefreshDiscSpace();

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
  TDiscSpaceBar* pSpace;
  QLabel* lProgress;
  QTimer* Timer1;
  QMenu *PopupMenu1, *PopupMenu2;
  QAction *ClearAll1, *Remove1, *CopyLog1;
  TExDragDrop* ExplorerDragDrop;

 protected:
  void showEvent(QShowEvent* event) override;
  // A close while the drive works asks first; on yes the write is aborted and
  // the drive brought back to idle before the window goes.
  void closeEvent(QCloseEvent* event) override;

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
  void SetWorking(bool working);
  // What the compilation list adds to the disc, for the space bar.
  void UpdateAddedSpace();
  // The message that ends a burn or an image build.
  QString EndMessage(const std::string& error) const;
  // Reads the burn back off the window's thread, logs what differs, and
  // gives the lines the end message adds.
  QString VerifyBurn();
  QString VerifyMessage(const TVerifyReport& report) const;
  void AddShortcuts();
  // A row for a dropped source, its size counted off the window's thread.
  void AddSourceRow(const QString& path, bool ticked);
  void SourceMeasured(const QString& path, qint64 bytes, bool complete);
  // Runs `work` on a thread of its own; the window keeps its events and shows
  // a box whose button sets the cancel flag. True when it ran to its end.
  bool RunOffThread(const QString& caption, const std::function<void()>& work);
  // The compilation from the list, fed on the calling (worker) thread.
  void FeedRows(const QVector<TCompilationRow>& rows, TPathState state);

  TPrompter& FPrompter;
  std::unique_ptr<TQzRecorder> qzrec;
  TAppSettings FSettings;
  bool FShown = false;
  // The image file being built, so that it is never read as one of its sources.
  dev_t FTargetDevice = 0;
  ino_t FTargetInode = 0;
  QMutex FPendingGuard;
  QStringList FPendingLog;
  // Entries the last feed left out (engine lines and the window's own).
  QStringList FLeftOut;
  bool FWorking = false;      // a burn, erase or image build runs
  bool FImageBuild = false;   // the running write is an image file
  QElapsedTimer FWriteClock;  // since the write began
  bool FClosing = false;
  std::atomic<bool> FCancel{false};  // the running walk of the sources is to stop
  TFolderSizer* FSizer = nullptr;
};

}  // namespace fornax::app
