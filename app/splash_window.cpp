#include "app/splash_window.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include "app/app_icon.h"

namespace fornax::app {
namespace {

// The size the splash was drawn for; larger texts make it larger.
constexpr QSize kLeastSize(420, 240);
constexpr int kIconSize = 128;

// A night-blue gradient in a thin frame, drawn at the screen's own pixel
// density so that a scaled screen shows it sharp.
QPixmap Backdrop(QSize size, qreal ratio) {
  QPixmap pixmap(size * ratio);
  pixmap.setDevicePixelRatio(ratio);
  QPainter p(&pixmap);
  QLinearGradient sky(0, 0, 0, size.height());
  sky.setColorAt(0, QColor("#0b1d3a"));
  sky.setColorAt(1, QColor("#28476f"));
  p.fillRect(QRect(QPoint(0, 0), size), sky);
  p.setPen(QPen(QColor("#8fa6c4"), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRect(QPoint(0, 0), size).adjusted(0, 0, -1, -1));
  return pixmap;
}

QLabel* Caption(QWidget* parent, const char* name, const QString& text, const QFont& font, const QColor& color) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, color);
  label->setPalette(palette);
  return label;
}

}  // namespace

TfrmSplash::TfrmSplash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName("frmSplash");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowOpacity(0.0);
  const QScreen* screen = QGuiApplication::primaryScreen();
  const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;

  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  auto* icon = new QLabel(this);
  icon->setObjectName("Icon");
  QPixmap iconPixmap = FornaxIconPixmap(qRound(kIconSize * ratio));
  iconPixmap.setDevicePixelRatio(ratio);
  icon->setPixmap(iconPixmap);
  Label1 = Caption(this, "Label1", "Fornax", QFont("Tahoma", 36, QFont::Bold), Qt::white);
  Label2 = Caption(this, "Label2", tr("Grabacion de CD y DVD de datos"), QFont("Tahoma", 11), Qt::white);
  Label3 = Caption(this, "Label3", tr("Version 1.4.2"), QFont("Tahoma", 9), QColor("#b9c7da"));

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(28, 24, 28, 24);
  row->setSpacing(14);
  row->addWidget(icon, 0, Qt::AlignVCenter);
  auto* texts = new QVBoxLayout();
  texts->setSpacing(2);
  texts->addStretch(1);
  for (QLabel* label : {Label1, Label2, Label3}) texts->addWidget(label);
  texts->addStretch(1);
  row->addLayout(texts, 1);

  setFixedSize(row->sizeHint().expandedTo(kLeastSize));
  Image1->setPixmap(Backdrop(size(), ratio));
  Image1->setGeometry(rect());
  Image1->lower();
  if (screen) move(screen->geometry().center() - rect().center());
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
