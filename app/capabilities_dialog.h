#pragma once
// TForm2: "Device Capabilities", what the current drive reads and writes,
// its underrun protection and its top speeds, as the engine holds them.

#include <QDialog>

class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;

namespace fornax {
class TQzRecorder;
}

namespace fornax::app {

class TForm2 : public QDialog {
  Q_OBJECT
 public:
  // Fills every box and label from the engine (no command is sent).
  explicit TForm2(TQzRecorder& recorder, QWidget* parent = nullptr);

  QLabel *Label1, *Label2, *Label3;
  QFrame* Panel2;
  QPushButton* Button1;
  QCheckBox *ReadCDR, *ReadCDRW, *ReadDVDR, *ReadDVDRW, *ReadDVDRAM, *ReadDVDPR, *ReadDVDPRW, *ReadDVD;
  QCheckBox *WriteCDR, *WriteCDRW, *WriteDVDR, *WriteDVDRW, *WriteDVDRAM, *WriteDVDPR, *WriteDVDPRW, *WriteTest;
  QCheckBox* UnderrunProtection;
};

}  // namespace fornax::app
