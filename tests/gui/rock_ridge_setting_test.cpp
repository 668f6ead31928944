// "Rock Ridge (permisos y enlaces de Linux)": off until the user ticks it in
// the advanced settings; ticked with the mouse it reaches the engine and the
// settings file, and the next start reads it back.

#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QTest>

#include "app/settings_dialog.h"
#include "app/settings_file.h"
#include "gui_support.h"

namespace fornax::guitest {

class RockRidgeSettingTest : public QObject {
  Q_OBJECT

 private:
  // Shows the advanced settings, sets the box with the mouse to `on` and
  // accepts; returns whether the box was ticked when the dialog came up.
  static bool SetRockRidge(TMainFixture& f, bool on) {
    bool shownTicked = true;
    f.Prompter.OnModal = [on, &shownTicked](QDialog& dialog) {
      auto* settings = qobject_cast<app::TfrmSettings*>(&dialog);
      if (!settings) return int(QDialog::Rejected);
      shownTicked = settings->cRockRidge->isChecked();
      if (shownTicked != on)
        QTest::mouseClick(settings->cRockRidge, Qt::LeftButton, {}, QPoint(6, settings->cRockRidge->height() / 2));
      QTest::mouseClick(settings->Button1, Qt::LeftButton);
      return settings->result();
    };
    f.Window->bAdvance->click();
    f.Prompter.OnModal = nullptr;
    return shownTicked;
  }

 private slots:
  void init() { QFile::remove(QString::fromStdString(app::TSettingsFile::DefaultPath())); }

  void offUntilTickedThenKeptAcrossStarts() {
    {
      TMainFixture f;
      QVERIFY(!f.Window->Recorder().RockRidge);
      QVERIFY(!SetRockRidge(f, true));
      QVERIFY(f.Window->Recorder().RockRidge);
    }
    {
      TMainFixture next;
      QVERIFY(next.Window->Recorder().RockRidge);
      QVERIFY(SetRockRidge(next, false));
      QVERIFY(!next.Window->Recorder().RockRidge);
    }
    TMainFixture last;
    QVERIFY(!last.Window->Recorder().RockRidge);
  }
};

FORNAX_GUI_TEST(RockRidgeSettingTest)

}  // namespace fornax::guitest

#include "rock_ridge_setting_test.moc"
