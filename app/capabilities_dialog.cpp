#include "app/capabilities_dialog.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "engine/recorder.h"

namespace fornax::app {
namespace {

// One box: where its pointer lives, its name and caption, and the bit of the
// capability set it shows. Method 2 reading (bit 2) and dual-layer DVD+R
// (bits 8 and 17) have no box.
struct TCapabilityBox {
  QCheckBox* TForm2::*Box;
  const char* Name;
  const char* Caption;
  int Bit;
};

constexpr TCapabilityBox kLeftColumn[] = {
    {&TForm2::ReadCDR, "ReadCDR", "Read CDR", 0},          {&TForm2::ReadCDRW, "ReadCDRW", "Read CDRW", 1},
    {&TForm2::ReadDVDR, "ReadDVDR", "Read DVD-R", 4},      {&TForm2::ReadDVDRW, "ReadDVDRW", "Read DVD-RW", 5},
    {&TForm2::ReadDVDRAM, "ReadDVDRAM", "Read DVD-RAM", 6}, {&TForm2::ReadDVDPR, "ReadDVDPR", "Read DVD+R", 7},
    {&TForm2::ReadDVDPRW, "ReadDVDPRW", "Read DVD+RW", 9}, {&TForm2::ReadDVD, "ReadDVD", "Read DVD", 3},
};

constexpr TCapabilityBox kRightColumn[] = {
    {&TForm2::WriteCDR, "WriteCDR", "Write CDR", 10},
    {&TForm2::WriteCDRW, "WriteCDRW", "Write CDRW", 11},
    {&TForm2::WriteDVDR, "WriteDVDR", "Write DVD-R", 13},
    {&TForm2::WriteDVDRW, "WriteDVDRW", "Write DVD-RW", 14},
    {&TForm2::WriteDVDRAM, "WriteDVDRAM", "Write DVD-RAM", 15},
    {&TForm2::WriteDVDPR, "WriteDVDPR", "Write DVD+R", 16},
    {&TForm2::WriteDVDPRW, "WriteDVDPRW", "Write DVD+RW", 18},
    {&TForm2::WriteTest, "WriteTest", "Write Test", 12},
};

constexpr int kUnderrunProtectionBit = 20;

QCheckBox* CapabilityBox(QWidget* parent, const char* name, const char* caption, uint32_t capabilities, int bit) {
  auto* box = new QCheckBox(caption, parent);
  box->setObjectName(name);
  box->setLayoutDirection(Qt::RightToLeft);  // the caption left of the box
  box->setChecked(((capabilities >> bit) & 1u) != 0);
  return box;
}

QString SpeedText(uint16_t kilobytesPerSecond) { return QString::number(kilobytesPerSecond) + " KB/s"; }

}  // namespace

TForm2::TForm2(TQzRecorder& recorder, QWidget* parent) : QDialog(parent) {
  setObjectName("Form2");
  setWindowTitle("Device Capabilities");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFont(QFont("Tahoma", 8));
  auto* column = new QVBoxLayout(this);
  column->setSizeConstraint(QLayout::SetFixedSize);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  Label1 = new QLabel("  " + QString::fromStdString(recorder.DeviceDescription()), this);
  Label1->setObjectName("Label1");
  Label1->setFixedHeight(21);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  column->addWidget(Label1);

  Panel2 = new QFrame(this);
  Panel2->setObjectName("Panel2");
  Panel2->setFrameShape(QFrame::Panel);
  Panel2->setFrameShadow(QFrame::Sunken);
  // Shown, not offered: the boxes say what the drive can do.
  Panel2->setEnabled(false);
  column->addWidget(Panel2);
  auto* grid = new QGridLayout(Panel2);
  grid->setHorizontalSpacing(24);
  const uint32_t capabilities = recorder.Capabilities();
  int row = 0;
  for (const TCapabilityBox& box : kLeftColumn) {
    this->*box.Box = CapabilityBox(Panel2, box.Name, box.Caption, capabilities, box.Bit);
    grid->addWidget(this->*box.Box, row++, 0);
  }
  row = 0;
  for (const TCapabilityBox& box : kRightColumn) {
    this->*box.Box = CapabilityBox(Panel2, box.Name, box.Caption, capabilities, box.Bit);
    grid->addWidget(this->*box.Box, row++, 1);
  }
  UnderrunProtection = CapabilityBox(Panel2, "UnderrunProtection", "Proteccion Underrun", capabilities,
                                     kUnderrunProtectionBit);
  QFont bold = UnderrunProtection->font();
  bold.setBold(true);
  UnderrunProtection->setFont(bold);
  grid->addWidget(UnderrunProtection, row++, 0, 1, 2);

  Label2 = new QLabel("Max Velocidad Escritura : " + SpeedText(recorder.DeviceMaxWriteSpeed()), Panel2);
  Label2->setObjectName("Label2");
  grid->addWidget(Label2, row, 0);
  Label3 = new QLabel("Max Velocidad Lectura  : " + SpeedText(recorder.DeviceMaxReadSpeed()), Panel2);
  Label3->setObjectName("Label3");
  grid->addWidget(Label3, row, 1);

  // Only there for Esc: outside the client area, as it always was.
  Button1 = new QPushButton("Close", this);
  Button1->setObjectName("Button1");
  Button1->move(-Button1->sizeHint().width() - 8, -Button1->sizeHint().height() - 8);
  connect(Button1, &QPushButton::clicked, this, &QDialog::reject);

  adjustSize();
  const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
  if (screen) move(screen->availableGeometry().center() - rect().center());
}

}  // namespace fornax::app
