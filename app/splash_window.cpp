#include "app/splash_window.h"

#include <QGuiApplication>
#include <QScreen>

#include "app/app_icon.h"

namespace fornax::app {

TfrmSplash::TfrmSplash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName("frmSplash");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowOpacity(0.0);
  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setPixmap(SplashPicture());
  Image1->move(0, 0);
  Image1->adjustSize();
  setFixedSize(Image1->size());
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->geometry().center() - rect().center());
  tmrSplash = new QTimer(this);
  tmrSplash->setObjectName("tmrSplash");
  tmrSplash->setInterval(10);
  connect(tmrSplash, &QTimer::timeout, this, &TfrmSplash::tmrSplashTimer);
  tmrSplash->start();
}

void TfrmSplash::tmrSplashTimer() {
  if (FCounter == 800) {
    tmrSplash->stop();
    close();
    return;
  }
  FCounter += 2;
  FOpacity = std::min(FCounter, 255);
  setWindowOpacity(FOpacity / 255.0);
}

}  // namespace fornax::app
