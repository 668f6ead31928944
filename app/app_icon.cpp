#include "app/app_icon.h"

#include <QCoreApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace fornax::app {

QPixmap FornaxIconPixmap(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 128.0, size / 128.0);
  QRadialGradient disc(64, 64, 58);
  disc.setColorAt(0.0, QColor("#f4f7fb"));
  disc.setColorAt(0.55, QColor("#b9c7da"));
  disc.setColorAt(0.8, QColor("#8fa6c4"));
  disc.setColorAt(1.0, QColor("#5d7696"));
  p.setPen(QPen(QColor("#3b4f6b"), 3));
  p.setBrush(disc);
  p.drawEllipse(QPointF(64, 64), 58, 58);
  p.setPen(QPen(QColor(255, 255, 255, 128), 6));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(64, 64), 40, 40);
  p.setPen(QPen(QColor("#3b4f6b"), 3));
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(64, 64), 14, 14);
  p.setBrush(QColor("#3b4f6b"));
  p.drawEllipse(QPointF(64, 64), 6, 6);
  QPainterPath flame;
  flame.moveTo(96, 10);
  flame.cubicTo(108, 30, 120, 38, 112, 58);
  flame.cubicTo(108, 68, 96, 72, 88, 66);
  flame.cubicTo(80, 60, 82, 48, 88, 42);
  flame.cubicTo(88, 52, 94, 54, 98, 50);
  flame.cubicTo(102, 44, 96, 30, 96, 10);
  QLinearGradient fire(0, 72, 0, 10);
  fire.setColorAt(0, QColor("#d9480f"));
  fire.setColorAt(1, QColor("#ffd43b"));
  p.setPen(QPen(QColor("#a61e4d"), 2));
  p.setBrush(fire);
  p.drawPath(flame);
  return pixmap;
}

QIcon FornaxIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(FornaxIconPixmap(size));
  return icon;
}

QPixmap SplashPicture() {
  QPixmap pixmap(420, 240);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, 240);
  sky.setColorAt(0, QColor("#0b1d3a"));
  sky.setColorAt(1, QColor("#28476f"));
  p.fillRect(pixmap.rect(), sky);
  p.drawPixmap(28, 56, FornaxIconPixmap(128));
  p.setPen(Qt::white);
  QFont title("Tahoma", 36, QFont::Bold);
  p.setFont(title);
  p.drawText(QRect(170, 60, 240, 60), Qt::AlignLeft | Qt::AlignVCenter, "Fornax");
  p.setFont(QFont("Tahoma", 11));
  p.drawText(QRect(172, 120, 240, 24), Qt::AlignLeft | Qt::AlignVCenter,
             QCoreApplication::translate("fornax::app::TfrmSplash", "Grabacion de CD y DVD de datos"));
  p.setPen(QColor("#b9c7da"));
  p.setFont(QFont("Tahoma", 9));
  p.drawText(QRect(172, 146, 240, 20), Qt::AlignLeft | Qt::AlignVCenter,
             QCoreApplication::translate("fornax::app::TfrmSplash", "Version 1.4.2"));
  p.setPen(QPen(QColor("#8fa6c4"), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
  return pixmap;
}

}  // namespace fornax::app
