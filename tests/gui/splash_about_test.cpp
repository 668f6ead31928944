// The splash's fade, the About box, and the desktop drop target on its own.

#include <QApplication>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include "app/about_dialog.h"
#include "app/shell_drop.h"
#include "app/splash_window.h"
#include "app/widgets.h"
#include "gui_support.h"

namespace fornax::guitest {
namespace {

void Drop(QWidget* target, const QStringList& names) { DropFromDesktop(target, names); }

}  // namespace

class SplashAboutTest : public QObject {
  Q_OBJECT

 private slots:
  void theSplashFadesInAndClosesItself() {
    QPointer<app::TfrmSplash> splash = new app::TfrmSplash();
    splash->tmrSplash->stop();  // ticked by hand, one by one
    splash->show();
    QVERIFY(splash->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(splash->windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(splash->tmrSplash->interval(), 10);
    QCOMPARE(splash->size(), splash->Image1->pixmap().deviceIndependentSize().toSize());
    QList<int> opacities;
    for (int tick = 1; tick <= 395; ++tick) {
      splash->tmrSplashTimer();
      opacities.append(splash->Opacity());
    }
    QCOMPARE(opacities[0], 12);
    QCOMPARE(opacities[121], 254);
    QCOMPARE(opacities[122], 255);
    QCOMPARE(opacities.last(), 255);
    QVERIFY(splash->isVisible());
    QCOMPARE(splash->Counter(), 800);
    splash->tmrSplashTimer();  // the 396th
    QVERIFY(!splash->isVisible());
    QVERIFY(QTest::qWaitFor([&] { return splash.isNull(); }, 2000));

    // Left to itself it closes after its 396 ticks.
    QPointer<app::TfrmSplash> running = new app::TfrmSplash();
    running->show();
    QVERIFY(QTest::qWaitFor([&] { return running.isNull(); }, 20000));
  }

  void theAboutBoxFromTheMainWindow() {
    TSimDrive drive;
    TMainFixture f;
    f.Prompter.OnModal = [&](QDialog& dialog) {
      auto* about = qobject_cast<app::TfrmAcercaDe*>(&dialog);
      if (!about) return int(QDialog::Rejected);
      about->findChild<app::TLinkLabel*>("Label8")->Clicked();
      about->btnAceptar->click();
      return dialog.result();
    };
    f.Window->btnAbout->click();
    QCOMPARE(f.Prompter.ModalShown, QStringList{"frmAcercaDe"});
    QCOMPARE(f.Prompter.Urls, QStringList{app::kMakerSite});
    app::TfrmAcercaDe about(f.Prompter);
    QCOMPARE(about.windowTitle(), QString("Acerca de"));
    QCOMPARE(about.Label1->text(), QString("Fornax"));
    QCOMPARE(about.Label3->text(), QString("Version 1.4.2 Build 215"));
    QCOMPARE(about.btnAceptar->text(), QString("&Aceptar"));
    QVERIFY(about.btnAceptar->isDefault());
    QCOMPARE(about.Image1->pixmap().size(), QSize(32, 32));
    f.Window->Label1->Clicked();
    QCOMPARE(f.Prompter.Urls.size(), 2);
  }

  void theDropTargetHooksOneControlAtATime() {
    QWidget a, b;
    app::TExDragDrop drop;
    QSignalSpy dropped(&drop, &app::TExDragDrop::Dropped);
    drop.SetControl(&a);
    QVERIFY(a.acceptDrops());
    const QString longName = "/" + QString(3000, 'x');
    Drop(&a, {"/etc/hostname", longName});
    QCOMPARE(dropped.count(), 1);
    QCOMPARE(dropped.takeFirst().at(0).toInt(), 2);
    QCOMPARE(drop.Items().size(), 2);
    QCOMPARE(drop.Items()[0], QString("/etc/hostname"));
    QCOMPARE(drop.Items()[1].size(), app::kMaxDroppedName);

    // A drop of no names still says so, with 0.
    Drop(&a, {});
    QCOMPARE(dropped.takeFirst().at(0).toInt(), 0);
    QVERIFY(drop.Items().isEmpty());

    // Moved to another control: the first one takes nothing any more.
    drop.SetControl(&b);
    QVERIFY(!a.acceptDrops());
    Drop(&a, {"/etc/hostname"});
    QCOMPARE(dropped.count(), 0);
    drop.SetControl(&b);  // the same again: nothing changes
    Drop(&b, {"/etc/hostname"});
    QCOMPARE(dropped.count(), 1);
    drop.SetControl(nullptr);
    QVERIFY(!b.acceptDrops());
    QVERIFY(drop.Control() == nullptr);
  }
};

FORNAX_GUI_TEST(SplashAboutTest)

}  // namespace fornax::guitest

#include "splash_about_test.moc"
