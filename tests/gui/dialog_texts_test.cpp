// Every text of the main window, the splash, the About box, the drive
// capabilities, the disc information, the session tree and the compilation
// layout is shown whole: measured with its widget's own font metrics against
// the room it has, and each window inside the free area of its screen. CTest
// runs this class on the default screen, on a 1366x768 screen as it is and at
// twice the scale, and on a 1920x1080 screen at twice the scale.

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QScreen>
#include <QStyle>
#include <QHeaderView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "app/about_dialog.h"
#include "app/capabilities_dialog.h"
#include "app/disc_info_dialog.h"
#include "app/layout_dialog.h"
#include "app/main_window.h"
#include "app/session_tree_dialog.h"
#include "app/splash_window.h"
#include "clipped_texts.h"
#include "engine/recorder.h"
#include "gui_support.h"

namespace fornax::guitest {
namespace {

bool ShowAndWait(QWidget& window) {
  window.show();
  return QTest::qWaitForWindowExposed(&window);
}

// Every node of the tree, clicked in turn; `check` runs with each one's grid shown.
void ClickEveryNode(QTreeWidget& tree, const std::function<void(const QString&)>& check) {
  tree.expandAll();
  QList<QTreeWidgetItem*> nodes;
  for (QTreeWidgetItemIterator it(&tree); *it; ++it) nodes.append(*it);
  for (QTreeWidgetItem* node : nodes) {
    tree.scrollToItem(node);
    // Near the start of its caption: a long one runs past the viewport.
    const QRect caption = tree.visualItemRect(node);
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, QPoint(caption.left() + 4, caption.center().y()));
    if (tree.currentItem() != node) QFAIL(qPrintable("a click did not select " + node->text(0)));
    check(node->text(0));
  }
}

}  // namespace

class DialogTextsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir FWork;
  QString FSource;
  std::unique_ptr<TQzRecorder> FCompilation;

 private slots:
  void initTestCase() {
    FSource = FWork.filePath("Fotos");
    // A deep folder of a long name, and a file whose size takes twelve digits.
    WriteFile(FSource + "/Viajes/Vacaciones de verano en la costa del norte 2026/playa.jpg", "jpeg");
    WriteSparseFile(FSource + "/copia-de-seguridad.img", 107374182400);
    FCompilation = std::make_unique<TQzRecorder>();
    FCompilation->ClearCompilation(600000, 20000);
    QVERIFY(FCompilation->AddDirectoryTree(FCompilation->RootDirectory(), (FSource + "/").toStdString(), "*.*", 63,
                                           true, false, false));
    qInfo("screen %dx%d at scale %g", QApplication::primaryScreen()->availableGeometry().width(),
          QApplication::primaryScreen()->availableGeometry().height(),
          QApplication::primaryScreen()->devicePixelRatio());
  }

  void cleanupTestCase() { FCompilation.reset(); }

  void theMainWindow() {
    // A 1366x768 screen at twice the scale is 683 points wide: less than the
    // drive bar's list of drives, speeds and buttons needs. The window is
    // tried there as it is, and on a 1920x1080 screen at twice the scale.
    if (QApplication::primaryScreen()->availableGeometry().width() < 900)
      QSKIP("a screen narrower than the window's least width");
    TSimDrive drive;
    drive.Insert("dvd+r");
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    w.showMaximized();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // A folder of over a thousand million bytes, and one still being counted.
    w.clBox->AddRow(FSource + "/", 1212232704, true);
    w.clBox->AddRow(FSource + "/Viajes/", -1, false);
    QTest::qWait(50);
    const QStringList cut = ClippedTexts(w) + ClippedCells(*w.clBox, {2});
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join('\n')));
    QCOMPARE(OffScreen(w), QString());
  }

  void theSplash() {
    app::TfrmSplash* splash = new app::TfrmSplash();
    splash->tmrSplash->stop();
    splash->setWindowOpacity(1.0);
    QVERIFY(ShowAndWait(*splash));
    // The texts are the splash's own, laid out in their fonts over the picture.
    QStringList texts;
    for (const QLabel* label : splash->findChildren<QLabel*>())
      if (!label->text().isEmpty()) texts.append(label->text());
    QCOMPARE(texts, (QStringList{"Fornax", "Grabacion de CD y DVD de datos", "Version 1.4.2"}));
    QCOMPARE(splash->Image1->geometry(), splash->rect());
    QCOMPARE(ClippedTexts(*splash), QStringList());
    QCOMPARE(OffScreen(*splash), QString());
    splash->close();
  }

  void theAboutBox() {
    TScriptedPrompter prompter;
    app::TfrmAcercaDe about(prompter);
    QVERIFY(ShowAndWait(about));
    QVERIFY2(ClippedTexts(about).isEmpty(), qPrintable(ClippedTexts(about).join("; ")));
    QCOMPARE(OffScreen(about), QString());
  }

  void theCapabilitiesAndTheDiscInformation() {
    TSimDrive drive;
    drive.Insert("cd-r");
    TMainFixture f;
    app::TForm2 capabilities(f.Window->Recorder(), f.Window.get());
    QVERIFY(ShowAndWait(capabilities));
    QVERIFY2(ClippedTexts(capabilities).isEmpty(), qPrintable(ClippedTexts(capabilities).join("; ")));
    QCOMPARE(OffScreen(capabilities), QString());

    app::TfrmSessions sessions(f.Window->Recorder(), f.Prompter, f.Window.get());
    QVERIFY(sessions.Fill());
    QVERIFY(ShowAndWait(sessions));
    QVERIFY(!sessions.lFreeSpace->text().isEmpty());
    QVERIFY2(ClippedTexts(sessions).isEmpty(), qPrintable(ClippedTexts(sessions).join("; ")));
    QCOMPARE(OffScreen(sessions), QString());
  }

  void theCompilationLayout() {
    TScriptedPrompter prompter;
    app::TfrmDiscLayout layout(*FCompilation, prompter);
    QVERIFY(ShowAndWait(layout));
    QCOMPARE(OffScreen(layout), QString());
    // As first shown, and then with each folder clicked.
    QStringList cut = ClippedTexts(layout) + ClippedCells(*layout.fl, {1, 2}), sizes;
    ClickEveryNode(*layout.tvDir, [&](const QString& node) {
      for (const QString& text : ClippedTexts(layout) + ClippedCells(*layout.fl, {1, 2})) cut.append(node + ": " + text);
      sizes += GridColumn(*layout.fl, 1);
    });
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join('\n')));
    QVERIFY2(sizes.contains("107374182400"), qPrintable(sizes.join('|')));  // the big file was among them
  }

  void theSessionTree() {
    TScriptedPrompter prompter;
    app::TfrmTree tree(*FCompilation, prompter);
    QVERIFY(ShowAndWait(tree));
    QCOMPARE(OffScreen(tree), QString());
    // As first shown, and then with each folder clicked.
    QStringList cut = ClippedTexts(tree) + ClippedCells(*tree.fl, {1}), sizes;
    ClickEveryNode(*tree.tvDir, [&](const QString& node) {
      for (const QString& text : ClippedTexts(tree) + ClippedCells(*tree.fl, {1})) cut.append(node + ": " + text);
      sizes += GridColumn(*tree.fl, 1);
    });
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join('\n')));
    QVERIFY2(sizes.contains("107374182400"), qPrintable(sizes.join('|')));  // the big file was among them
  }
};

FORNAX_GUI_TEST(DialogTextsTest)

}  // namespace fornax::guitest

#include "dialog_texts_test.moc"
