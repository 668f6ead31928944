// The windows' number texts, the speed entries and the settings file.

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "app/app_settings.h"
#include "app/display_formats.h"
#include "app/settings_file.h"
#include "app/speed_list.h"
#include "engine/base/date_time.h"
#include "engine/drive/medium_queries.h"
#include "gui_support.h"

namespace fornax::guitest {

class AppTextsTest : public QObject {
  Q_OBJECT

 private slots:
  void numbersAsTheWindowsShowThem() {
    QCOMPARE(app::GroupedBytes(0), std::string());
    QCOMPARE(app::GroupedBytes(999), std::string("999"));
    QCOMPARE(app::GroupedBytes(1234567), std::string("1,234,567"));
    QCOMPARE(app::GroupedBytes(4831838208LL), std::string("4,831,838,208"));  // over 4 GiB, whole
    QCOMPARE(app::GroupedFixed2(0), std::string("0.00"));
    QCOMPARE(app::GroupedFixed2(1536.5), std::string("1,536.50"));
    QCOMPARE(app::GroupedFixed2(0.125), std::string("0.13"));
    QCOMPARE(app::MegabytesText(703.0 * 1048576), std::string("703.00 MB"));
    QCOMPARE(app::GroupedWhole(4234.4), std::string("4,234"));
    QCOMPARE(app::PadLeft("7", 3, '0'), std::string("007"));
    QCOMPARE(app::PadLeft("12345", 3), std::string("12345"));
    TDateTime when = EncodeDateTime({2024, 2, 29, 7, 5, 9, 0});
    QCOMPARE(app::LayoutDateText(when), std::string("02-29-2024 07:05:09"));
  }

  void speedEntriesAndTheSpeedTheyStandFor() {
    QCOMPARE(app::SpeedEntryText(4234, true), std::string("24X (4,234 KB/s)"));
    QCOMPARE(app::SpeedEntryText(1411, true), std::string("8X (1,411 KB/s)"));
    QCOMPARE(app::SpeedEntryText(5540, false), std::string("4.0X (5,540 KB/s)"));
    QCOMPARE(app::SpeedEntryText(22160, false), std::string("16.0X (22,160 KB/s)"));
    // 177 per X on a CD (not the 176.4 of the texts), 1385 otherwise.
    QCOMPARE(app::SpeedTextToValue("8X (1,411 KB/s)", mtCDR), uint16_t{1416});
    QCOMPARE(app::SpeedTextToValue("4.0X (5,540 KB/s)", mtDVDPlusR), uint16_t{5540});
    QCOMPARE(app::SpeedTextToValue("2.4X (3,324 KB/s)", mtDVDPlusR), uint16_t{3324});
    QCOMPARE(app::SpeedTextToValue("Max", mtCDR), uint16_t{0});
    QCOMPARE(app::SpeedTextToValue("", mtCDR), uint16_t{0});
    QCOMPARE(app::SpeedTextToValue("garbage", mtCDR), uint16_t{0});
  }

  void theSettingsFileKeepsWhatItDoesNotKnow() {
    QTemporaryDir dir;
    const QString path = dir.filePath("sub/QZREC.ini");
    WriteFile(path, "; written by hand\r\n[Other]\r\nKey=kept\r\n\r\n[options]\r\nJOLIETFS = 0\r\nCacheSize=abc\r\n");
    app::TSettingsFile file(path.toStdString());
    QCOMPARE(file.ReadBool("Options", "JolietFS", true), false);  // keys and sections in any case
    QCOMPARE(file.ReadInteger("Options", "CacheSize", 42), 42);   // not a number: the default
    QCOMPARE(file.ReadString("Options", "Missing", "dflt"), std::string("dflt"));
    QVERIFY(file.WriteBool("Options", "JolietFS", true));
    QVERIFY(file.WriteInteger("Options", "SessionNo", -1));
    QVERIFY(file.WriteString("New", "A", "b c"));
    const app::TSettingsFile again(path.toStdString());
    QCOMPARE(again.ReadString("Options", "JolietFS", ""), std::string("1"));
    QCOMPARE(again.ReadInteger("Options", "SessionNo", 0), -1);
    QCOMPARE(again.ReadString("Other", "Key", ""), std::string("kept"));
    QCOMPARE(again.ReadString("New", "A", ""), std::string("b c"));
    const QByteArray text = ReadFile(path);
    QVERIFY(text.startsWith("; written by hand\r\n"));
    QVERIFY(text.contains("SessionNo=-1\r\n"));
    QVERIFY(text.indexOf("SessionNo") < text.indexOf("[New]"));  // the key goes into its own section

    // A file that cannot be written says why and leaves the old one alone.
    app::TSettingsFile blocked((dir.filePath("sub/QZREC.ini") + "/cannot").toStdString());
    QVERIFY(!blocked.WriteBool("Options", "X", true));
    QVERIFY(!blocked.Error().empty());
    QCOMPARE(ReadFile(path), text);
  }

  void pathStateWords() {
    QCOMPARE(app::PathStateFromWord("Grayed"), app::TPathState::Grayed);
    QCOMPARE(app::PathStateFromWord("cHeCkEd"), app::TPathState::Checked);
    QCOMPARE(app::PathStateFromWord(""), app::TPathState::Unchecked);
    QCOMPARE(app::PathStateFromWord("Unchecked"), app::TPathState::Unchecked);
    for (const auto state : {app::TPathState::Unchecked, app::TPathState::Checked, app::TPathState::Grayed})
      QCOMPARE(app::PathStateFromWord(app::PathStateWord(state)), state);
  }
};

FORNAX_GUI_TEST(AppTextsTest)

}  // namespace fornax::guitest

#include "app_texts_test.moc"
