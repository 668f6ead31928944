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

// One box: where its pointer lives, its name and caption (translated when the
// box is made), and the bit of the capability set it shows. Method 2 reading
// (bit 2) and dual-layer DVD+R (bits 8 and 17) have no box.
struct TCapabilityBox {
  QCheckBox* TForm2::*Box;
  const char* Name;
  const char* Caption;
  int Bit;
};

constexpr TCapabilityBox kLeftColumn[] = {
    {&TForm2::ReadCDR, "ReadCDR", QT_TRANSLATE_NOOP("fornax::app::TForm2", "Read CDR"), 0},
    {&TForm2::ReadCDRW, "ReadCDRW", QT_TRANSLATE_NOOP("fornax::app::TForm2", "Read CDRW"), 1},
    {&TForm2::ReadDVDR, "ReadDVDR", QT_TRANSLATE_NOOP("fornax::app::TForm2", "Read DVD-R"), 4},
    {&TForm2::ReadDVDRW, "ReadDVDRW", QT_TRANSLATE_NOOP("fornax::app::TForm2", "Read DVD-RW"), 5},
    {&TForm2::ReadDVDRAM, "ReadDVDRAM", QT_TRANSLATE_NOOP("fornax::app::TForm2", "Read DVD-RAM"), 6},
    {&TForm2::ReadDVDPR, "ReadDVDPR", QT_TRANSLATE_NOOP("fornax::app::TForm2", "Read DVD+R"), 7},
    {&TForm2::ReadDVDPRW, "ReadDVDPRW", QT_TRANSLATE_NOOP("fornax::app::TForm2", "Read DVD+RW"), 9},
    {&TForm2::ReadDVD, "ReadDVD", QT_TRANSLATE_NOOP("fornax::app::TForm2", "Read DVD"), 3},
};

constexpr TCapabilityBox kRightColumn[] = {
    {&TForm2::WriteCDR, "WriteCDR", QT_TRANSLATE_NOOP("fornax::app::TForm2", "Write CDR"), 10},
    {&TForm2::WriteCDRW, "WriteCDRW", QT_TRANSLATE_NOOP("fornax::app::TForm2", "Write CDRW"), 11},
    {&TForm2::WriteDVDR, "WriteDVDR", QT_TRANSLATE_NOOP("fornax::app::TForm2", "Write DVD-R"), 13},
    {&TForm2::WriteDVDRW, "WriteDVDRW", QT_TRANSLATE_NOOP("fornax::app::TForm2", "Write DVD-RW"), 14},
    {&TForm2::WriteDVDRAM, "WriteDVDRAM", QT_TRANSLATE_NOOP("fornax::app::TForm2", "Write DVD-RAM"), 15},
    {&TForm2::WriteDVDPR, "WriteDVDPR", QT_TRANSLATE_NOOP("fornax::app::TForm2", "Write DVD+R"), 16},
    {&TForm2::WriteDVDPRW, "WriteDVDPRW", QT_TRANSLATE_NOOP("fornax::app::TForm2", "Write DVD+RW"), 18},
    {&TForm2::WriteTest, "WriteTest", QT_TRANSLATE_NOOP("fornax::app::TForm2", "Write Test"), 12},
};

constexpr int kUnderrunProtectionBit = 20;

// A box that shows a value and takes no clicks or keys: the capabilities are
// the drive's, not a choice. It stays enabled, so it reads as clearly as any
// other text of the window (a disabled one is drawn grey).
class TReadOnlyBox : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

 protected:
  bool hitButton(const QPoint&) const override { return false; }
  void nextCheckState() override {}
};

QCheckBox* CapabilityBox(QWidget* parent, const char* name, const char* caption, uint32_t capabilities, int bit) {
  auto* box = new TReadOnlyBox(TForm2::tr(caption), parent);
  box->setObjectName(name);
  box->setLayoutDirection(Qt::RightToLeft);  // the caption left of the box
  box->setFocusPolicy(Qt::NoFocus);
  box->setChecked(((capabilities >> bit) & 1u) != 0);
  return box;
}

QString SpeedText(uint16_t kilobytesPerSecond) { return QString::number(kilobytesPerSecond) + " KB/s"; }

}  // namespace

TForm2::TForm2(TQzRecorder& recorder, QWidget* parent) : QDialog(parent) {
  setObjectName("Form2");
  setWindowTitle(tr("Device Capabilities"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFont(QFont("Tahoma", 8));
  auto* column = new QVBoxLayout(this);
  column->setSizeConstraint(QLayout::SetFixedSize);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  Label1 = new QLabel("  " + QString::fromStdString(recorder.DeviceDescription()), this);
  Label1->setObjectName("Label1");
  Label1->setMinimumHeight(Label1->fontMetrics().height() * 3 / 2);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  column->addWidget(Label1);

  Panel2 = new QFrame(this);
  Panel2->setObjectName("Panel2");
  Panel2->setFrameShape(QFrame::Panel);
  Panel2->setFrameShadow(QFrame::Sunken);
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
  UnderrunProtection = CapabilityBox(Panel2, "UnderrunProtection",
                                     QT_TRANSLATE_NOOP("fornax::app::TForm2", "Proteccion Underrun"), capabilities,
                                     kUnderrunProtectionBit);
  QFont bold = UnderrunProtection->font();
  bold.setBold(true);
  UnderrunProtection->setFont(bold);
  grid->addWidget(UnderrunProtection, row++, 0, 1, 2);

  Label2 = new QLabel(tr("Max Velocidad Escritura : ") + SpeedText(recorder.DeviceMaxWriteSpeed()), Panel2);
  Label2->setObjectName("Label2");
  grid->addWidget(Label2, row, 0);
  Label3 = new QLabel(tr("Max Velocidad Lectura  : ") + SpeedText(recorder.DeviceMaxReadSpeed()), Panel2);
  Label3->setObjectName("Label3");
  grid->addWidget(Label3, row, 1);

  // Only there for Esc: outside the client area, as it always was.
  Button1 = new QPushButton(tr("Close"), this);
  Button1->setObjectName("Button1");
  const QSize button = Button1->sizeHint();
  Button1->setGeometry(-button.width() - 8, -button.height() - 8, button.width(), button.height());
  connect(Button1, &QPushButton::clicked, this, &QDialog::reject);

  adjustSize();
  const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
  if (screen) move(screen->availableGeometry().center() - rect().center());
}

}  // namespace fornax::app
