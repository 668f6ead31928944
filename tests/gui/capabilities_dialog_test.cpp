// "Device Capabilities" opened from the main window's "..." button against the
// simulated recorder: every box shows its bit of the engine's capability set,
// readable (enabled, not greyed) yet changed by no click or key, and the
// speeds are the engine's.

#include <dlfcn.h>

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <functional>
#include <memory>

#include "app/capabilities_dialog.h"
#include "engine/base/bytes.h"
#include "gui_support.h"
#include "tests/unit/support/fake_drive.h"

namespace {

using fornax::app::TForm2;
using fornax::guitest::TMainFixture;
using fornax::guitest::TSimDrive;

// The boxes a user reads, with the bit of the capability set each stands for.
struct TBoxBit {
  const char* Name;
  const char* Caption;
  int Bit;
};
constexpr TBoxBit kBoxes[] = {
    {"ReadCDR", "Read CDR", 0},           {"ReadCDRW", "Read CDRW", 1},         {"ReadDVD", "Read DVD", 3},
    {"ReadDVDR", "Read DVD-R", 4},        {"ReadDVDRW", "Read DVD-RW", 5},      {"ReadDVDRAM", "Read DVD-RAM", 6},
    {"ReadDVDPR", "Read DVD+R", 7},       {"ReadDVDPRW", "Read DVD+RW", 9},     {"WriteCDR", "Write CDR", 10},
    {"WriteCDRW", "Write CDRW", 11},      {"WriteTest", "Write Test", 12},      {"WriteDVDR", "Write DVD-R", 13},
    {"WriteDVDRW", "Write DVD-RW", 14},   {"WriteDVDRAM", "Write DVD-RAM", 15}, {"WriteDVDPR", "Write DVD+R", 16},
    {"WriteDVDPRW", "Write DVD+RW", 18},  {"UnderrunProtection", "Proteccion Underrun", 20},
};

// What one showing of the dialog let a user see and do.
struct TSeen {
  bool Shown = false;
  QMap<QString, bool> Ticked;        // by box name
  QMap<QString, QString> Captions;   // by box name
  QStringList Changeable;            // boxes a click or the space bar changed
  QStringList Greyed;                // boxes, labels and the panel drawn disabled
  int Boxes = 0;
  bool UnderrunBold = false;
  QString Label1, Label2, Label3;
  bool OpenAfterEscape = true;
  int Result = QDialog::Accepted;
};

// Clicks "..."; reads the dialog, clicks every box, then presses Esc.
TSeen ShowCapabilities(TMainFixture& f) {
  TSeen seen;
  f.Prompter.OnModal = [&](QDialog& dialog) {
    auto* caps = qobject_cast<TForm2*>(&dialog);
    if (!caps) return int(QDialog::Rejected);
    seen.Shown = true;
    seen.Boxes = int(caps->findChildren<QCheckBox*>().size());
    seen.UnderrunBold = caps->UnderrunProtection->font().bold();
    for (QWidget* shown : std::initializer_list<QWidget*>{caps->Panel2, caps->Label1, caps->Label2, caps->Label3})
      if (!shown->isEnabled()) seen.Greyed.append(shown->objectName());
    for (const TBoxBit& expected : kBoxes) {
      auto* box = caps->findChild<QCheckBox*>(expected.Name);
      if (!box) continue;
      seen.Ticked[expected.Name] = box->isChecked();
      seen.Captions[expected.Name] = box->text();
      if (!box->isEnabled()) seen.Greyed.append(expected.Name);
      // On the box itself, on its caption, and the space bar.
      QStyleOptionButton option;
      option.initFrom(box);
      const QRect mark = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
      QTest::mouseClick(box, Qt::LeftButton, {}, mark.center());
      QTest::mouseClick(box, Qt::LeftButton);
      QTest::keyClick(box, Qt::Key_Space);
      if (box->isChecked() != seen.Ticked[expected.Name]) seen.Changeable.append(expected.Name);
    }
    seen.Label1 = caps->Label1->text();
    seen.Label2 = caps->Label2->text();
    seen.Label3 = caps->Label3->text();
    QTest::keyClick(caps, Qt::Key_Escape);
    seen.OpenAfterEscape = caps->isVisible();
    seen.Result = caps->result();
    return seen.Result;
  };
  f.Window->bCaps->click();
  f.Prompter.OnModal = nullptr;
  return seen;
}

// The simulated recorder answers BUSY to its next `commands` commands.
void AnswerBusy(int commands) {
  void* library = ::dlopen(FORNAX_SIMDRIVE_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
  auto* busy = library ? reinterpret_cast<int (*)(int, int)>(::dlsym(library, "fornax_sim_fault_busy")) : nullptr;
  if (!busy || busy(commands, 1) != 0) qFatal("cannot make the simulated recorder busy");
  ::dlclose(library);
}

QString Speed(const char* caption, uint16_t kilobytesPerSecond) {
  return QString("%1%2 KB/s").arg(caption).arg(kilobytesPerSecond);
}

// A CD writer that also reads method 2 and dual-layer DVD+R: the bits beside
// the boxes' own are set, so a box reading its neighbour's bit shows.
void AnswerAsCdWriter(fornax::test::TFakeDrive& drive) {
  using fornax::test::TFakeDrive;
  drive.Respond = [](SRB_ExecSCSICmd& srb) {
    switch (srb.CDBByte[0]) {
      case 0x12:
        return TFakeDrive::Good(srb, fornax::test::InquiryAnswer("ACME", "CDRW 8X", "1.0"));
      case 0x5A: {
        if ((srb.CDBByte[2] & 0x3F) != 0x2A) return TFakeDrive::CheckCondition(srb, 5, 0x24, 0);
        std::vector<uint8_t> answer(8 + 32, 0);
        uint8_t* page = answer.data() + 8;
        page[0] = 0x2A;
        page[1] = 30;
        page[2] = 0x07;  // reads CD-R, CD-RW, method 2
        page[3] = 0x07;  // writes CD-R, CD-RW; test write
        fornax::PutBe16(page + 8, 7056);
        fornax::PutBe16(page + 18, 1411);
        fornax::PutBe16(page + 20, 1411);
        return TFakeDrive::Good(srb, answer);
      }
      case 0x46: {
        std::vector<uint8_t> answer(8, 0);
        if (srb.CDBByte[3] == 0x3B) answer.insert(answer.end(), {0x00, 0x3B, 0x01, 4, 0, 0, 0, 0});
        return TFakeDrive::Good(srb, answer);
      }
      default:
        return TFakeDrive::Good(srb);
    }
  };
}

}  // namespace

class CapabilitiesDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { FDrive = std::make_unique<TSimDrive>(); }
  void cleanup() { FDrive.reset(); }
  void boxesShowTheEnginesCapabilityBitsAndCannotBeChanged();
  void reopeningShowsTheSameValues();
  void aDriveThatReportsNothingShowsEveryBoxCleared();
  void aCdOnlyWriterShowsNoDvdBoxTicked();

 private:
  std::unique_ptr<TSimDrive> FDrive;
};

void CapabilitiesDialogTest::boxesShowTheEnginesCapabilityBitsAndCannotBeChanged() {
  TMainFixture f;
  fornax::TQzRecorder& rec = f.Window->Recorder();
  const uint32_t caps = rec.Capabilities();
  QVERIFY(caps & fornax::capWriteCDR);  // a recorder, not a reader
  QVERIFY(rec.DeviceMaxWriteSpeed() > 0);
  const TSeen seen = ShowCapabilities(f);
  QVERIFY(seen.Shown);
  QVERIFY(f.Prompter.ModalShown.contains("Form2"));
  // Seventeen boxes: method 2 and dual-layer DVD+R have none.
  QCOMPARE(seen.Boxes, int(std::size(kBoxes)));
  for (const TBoxBit& expected : kBoxes) {
    QVERIFY2(seen.Ticked.contains(expected.Name), expected.Name);
    QCOMPARE(seen.Ticked[expected.Name], ((caps >> expected.Bit) & 1u) != 0);
    QCOMPARE(seen.Captions[expected.Name], QString(expected.Caption));
  }
  QVERIFY2(seen.Greyed.isEmpty(), qPrintable(seen.Greyed.join(' ')));
  QVERIFY2(seen.Changeable.isEmpty(), qPrintable(seen.Changeable.join(' ')));
  QVERIFY(seen.UnderrunBold);
  QCOMPARE(seen.Label1, "  " + QString::fromStdString(rec.DeviceDescription()));
  QCOMPARE(seen.Label2, Speed("Max Velocidad Escritura : ", rec.DeviceMaxWriteSpeed()));
  QCOMPARE(seen.Label3, Speed("Max Velocidad Lectura  : ", rec.DeviceMaxReadSpeed()));
  QVERIFY(!seen.OpenAfterEscape);
  QCOMPARE(seen.Result, int(QDialog::Rejected));
}

void CapabilitiesDialogTest::reopeningShowsTheSameValues() {
  TMainFixture f;
  const TSeen first = ShowCapabilities(f);
  const TSeen second = ShowCapabilities(f);
  QVERIFY(first.Shown && second.Shown);
  QCOMPARE(second.Ticked, first.Ticked);
  QCOMPARE(second.Label1, first.Label1);
  QCOMPARE(second.Label2, first.Label2);
  QCOMPARE(second.Label3, first.Label3);
  QCOMPARE(f.Prompter.ModalShown, QStringList({"Form2", "Form2"}));
}

void CapabilitiesDialogTest::aDriveThatReportsNothingShowsEveryBoxCleared() {
  TMainFixture f;
  fornax::TQzRecorder& rec = f.Window->Recorder();
  // Reselected while it answers BUSY, the drive reports no capability at all.
  AnswerBusy(2);
  f.Window->cbDrivesChange();
  FDrive->Call("fornax_sim_clear_faults");
  QCOMPARE(rec.Capabilities(), 0u);
  const TSeen seen = ShowCapabilities(f);
  QVERIFY(seen.Shown);
  for (const TBoxBit& expected : kBoxes) QVERIFY2(!seen.Ticked.value(expected.Name, true), expected.Name);
  QCOMPARE(seen.Label1, "  " + QString::fromStdString(rec.DeviceDescription()));
  QCOMPARE(seen.Label2, QString("Max Velocidad Escritura : 0 KB/s"));
  QCOMPARE(seen.Label3, QString("Max Velocidad Lectura  : 0 KB/s"));
}

// Another drive than the simulated recorder: the engine on a recording
// transport, the dialog made as the main window makes it.
void CapabilitiesDialogTest::aCdOnlyWriterShowsNoDvdBoxTicked() {
  fornax::test::TFakeDrive drive;
  AnswerAsCdWriter(drive);
  fornax::TQzRecorder rec;
  QVERIFY(rec.SelectDevice("0:0:0"));
  QCOMPARE(rec.Capabilities(), fornax::capReadCDR | fornax::capReadCDRW | fornax::capReadMethod2 |
                                   fornax::capReadDVDPlusRDL | fornax::capWriteCDR | fornax::capWriteCDRW |
                                   fornax::capTestWrite);
  TForm2 dialog(rec);
  const QStringList ticked = {"ReadCDR", "ReadCDRW", "WriteCDR", "WriteCDRW", "WriteTest"};
  for (const TBoxBit& expected : kBoxes) {
    auto* box = dialog.findChild<QCheckBox*>(expected.Name);
    QVERIFY2(box, expected.Name);
    QVERIFY2(box->isChecked() == ticked.contains(expected.Name), expected.Name);
  }
  QVERIFY(QString(dialog.Label1->text()).contains("CDRW 8X"));
  QCOMPARE(dialog.Label2->text(), QString("Max Velocidad Escritura : 1411 KB/s"));
  QCOMPARE(dialog.Label3->text(), QString("Max Velocidad Lectura  : 7056 KB/s"));
}

FORNAX_GUI_TEST(CapabilitiesDialogTest)

#include "capabilities_dialog_test.moc"
