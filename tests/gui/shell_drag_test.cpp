// Drags from the folder browser into the compilation, as the user makes them:
// a press on a row, moves past the drag distance and a release over the
// list, all through the display server (Xvfb). A file or a folder at any
// depth arrives; the root folder arrives at once and is counted off the
// window's thread, and removing its row stops the count. A place chosen in
// the list of places becomes the top of the tree.

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileSystemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/folder_sizer.h"
#include "gui_support.h"

namespace fornax::guitest {
namespace {

// Presses on `index`, starts a drag from it and lets it go over `target`. The
// drag runs a loop of its own: the move over the target and the release are
// sent from inside it.
void Drag(QAbstractItemView& view, const QModelIndex& index, QWidget* target) {
  view.scrollTo(index);
  const QPoint from = view.visualRect(index).center();
  QTimer::singleShot(100, target, [target] {
    const QPoint at = target->rect().center();
    QTest::mouseMove(target, at);
    QTest::mouseRelease(target, Qt::LeftButton, {}, at);
  });
  QTest::mousePress(view.viewport(), Qt::LeftButton, {}, from);
  // A view takes a first move as the start of a drag and starts it with a
  // move past the drag distance.
  QTest::mouseMove(view.viewport(), from + QPoint(2, 0));
  QTest::mouseMove(view.viewport(), from + QPoint(QApplication::startDragDistance() + 10, 4));
}

}  // namespace

class ShellDragTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir FWork;

 private slots:
  void aFileDeepInAFolderIsDraggedFromTheFileList() {
    TSimDrive drive;
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    const QString file = WriteFile(FWork.filePath("deep/er/still/report.txt"), "deep");
    WriteFile(FWork.filePath("deep/er/note.txt"), "on the way");
    // The window as it opens, the list showing "/"; then down the tree as
    // the user goes, the list showing each folder on the way.
    QTest::qWait(500);
    QString error;
    for (const QString folder : {"deep", "deep/er", "deep/er/still"}) {
      QVERIFY2(w.lbDir->Navigate(FWork.filePath(folder), error), qPrintable(error));
      QCOMPARE(w.lbFiles->Folder(), FWork.filePath(folder));
      QTest::qWait(300);  // the folder is read in the background
    }
    QVERIFY(QTest::qWaitFor([&] { return w.lbFiles->SelectFile("report.txt"); }, 10000));
    Drag(*w.lbFiles, w.lbFiles->currentIndex(), w.clBox->viewport());
    QVERIFY(QTest::qWaitFor([&] { return w.clBox->rowCount() == 1; }, 5000));
    QCOMPARE(w.clBox->item(0, 1)->text(), file);
  }

  void aFolderDeepInTheTreeIsDraggedWithItsFiles() {
    TSimDrive drive;
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    WriteFile(FWork.filePath("tree/a/b/c/one.txt"), "1234");
    WriteFile(FWork.filePath("tree/a/b/c/d/two.txt"), "56");
    QString error;
    QVERIFY2(w.lbDir->Navigate(FWork.filePath("tree/a/b/c"), error), qPrintable(error));
    Drag(*w.lbDir, w.lbDir->currentIndex(), w.clBox->viewport());
    QVERIFY(QTest::qWaitFor([&] { return w.clBox->rowCount() == 1; }, 5000));
    QCOMPARE(w.clBox->item(0, 1)->text(), FWork.filePath("tree/a/b/c") + "/");
    QVERIFY(QTest::qWaitFor([&] { return w.clBox->item(0, 2)->text() == "6"; }, 20000));
  }

  void theRootFolderArrivesAtOnceAndItsCountStopsWithItsRow() {
    TSimDrive drive;
    TMainFixture f;
    app::TfrmMain& w = *f.Window;
    const QModelIndex root = w.lbDir->model()->index(0, 0, w.lbDir->rootIndex());
    QCOMPARE(root.data().toString(), QString("/"));
    QElapsedTimer clock;
    clock.start();
    Drag(*w.lbDir, root, w.clBox->viewport());
    QVERIFY(QTest::qWaitFor([&] { return w.clBox->rowCount() == 1; }, 5000));
    // The whole machine is not counted on the window's thread: the row is
    // there long before a walk of "/" could end.
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(w.clBox->item(0, 1)->text(), QString("/"));
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.clBox->setFocus();
    w.clBox->selectRow(0);
    QTest::keyClick(w.clBox, Qt::Key_Delete);
    QCOMPARE(w.clBox->rowCount(), 0);
    QVERIFY(QTest::qWaitFor([&] { return w.findChild<app::TFolderSizer*>()->Running() == 0; }, 20000));
  }

  void aChosenPlaceIsTheTopOfTheTreeAndItsFoldersDrag() {
    const QString home = FWork.filePath("ana");
    WriteFile(home + "/Fotos/playa.jpg", "jpeg");
    WriteFile(home + "/Música/01.flac", "flac");
    const QByteArray machineHome = qgetenv("HOME");
    qputenv("HOME", home.toUtf8());
    TSimDrive drive;
    TMainFixture f;
    qputenv("HOME", machineHome);
    app::TfrmMain& w = *f.Window;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(w.DriveCB->itemText(1), home);
    w.DriveCB->setFocus();
    QTest::keyClick(w.DriveCB, Qt::Key_Down);
    QCOMPARE(w.lbDir->Place(), home);
    QCOMPARE(w.lbFiles->Folder(), home);
    // The place's folders are the first level; nothing above it is shown.
    const auto* folders = qobject_cast<const QFileSystemModel*>(w.lbDir->model());
    QVERIFY(QTest::qWaitFor([&] { return folders->rowCount(w.lbDir->rootIndex()) == 2; }, 5000));
    const QModelIndex photos = folders->index(home + "/Fotos");
    QCOMPARE(photos.parent(), w.lbDir->rootIndex());
    Drag(*w.lbDir, photos, w.clBox->viewport());
    QVERIFY(QTest::qWaitFor([&] { return w.clBox->rowCount() == 1; }, 5000));
    QCOMPARE(w.clBox->item(0, 1)->text(), home + "/Fotos/");
    // A folder elsewhere brings the whole tree back.
    QString error;
    QVERIFY2(w.lbDir->Navigate(FWork.path(), error), qPrintable(error));
    QCOMPARE(w.lbDir->Place(), QString("/"));
    QCOMPARE(w.lbDir->SelectedPath(), FWork.path());
  }
};

FORNAX_GUI_X11_TEST(ShellDragTest)

}  // namespace fornax::guitest

#include "shell_drag_test.moc"
