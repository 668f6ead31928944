#include "app/disc_space_bar.h"

#include <QPainter>
#include <algorithm>

#include "app/display_formats.h"

namespace fornax::app {
namespace {

constexpr double kSectorBytes = 2048.0;

QString Megabytes(int64_t sectors) {
  return QString::fromStdString(MegabytesText(static_cast<double>(sectors) * kSectorBytes));
}

}  // namespace

TSpaceParts SpaceParts(int64_t capacity, int64_t used, int64_t added) {
  TSpaceParts parts;
  used = std::max<int64_t>(0, used);
  added = std::max<int64_t>(0, added);
  const int64_t whole = std::max(capacity, used + added);
  if (whole <= 0) return parts;
  const auto share = [whole](int64_t sectors) { return static_cast<double>(sectors) / static_cast<double>(whole); };
  parts.Overflows = capacity > 0 && used + added > capacity;
  const int64_t fitting = parts.Overflows ? std::max<int64_t>(0, capacity - used) : added;
  parts.Used = share(std::min(used, whole));
  parts.Added = share(fitting);
  parts.Over = parts.Overflows ? share(added - fitting) : 0;
  return parts;
}

TDiscSpaceBar::TDiscSpaceBar(QWidget* parent) : QWidget(parent) {
  setMinimumHeight(fontMetrics().height() + 6);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  Update();
}

void TDiscSpaceBar::SetDisc(int64_t capacitySectors, int64_t usedSectors) {
  FCapacity = capacitySectors;
  FUsed = usedSectors;
  Update();
}

void TDiscSpaceBar::SetAdded(int64_t sectors) {
  FAdded = sectors;
  Update();
}

QString TDiscSpaceBar::Summary() const {
  if (FCapacity <= 0) return tr("Nuevo: %1 · sin disco que medir").arg(Megabytes(FAdded));
  const int64_t free = FCapacity - FUsed - FAdded;
  const QString rest =
      free >= 0 ? tr("Libre: %1").arg(Megabytes(free)) : tr("No cabe: faltan %1").arg(Megabytes(-free));
  return tr("Usado: %1 · Nuevo: %2 · %3").arg(Megabytes(FUsed), Megabytes(FAdded), rest);
}

QSize TDiscSpaceBar::sizeHint() const { return {fontMetrics().horizontalAdvance(Summary()) + 12, minimumHeight()}; }

void TDiscSpaceBar::Update() {
  FParts = SpaceParts(FCapacity, FUsed, FAdded);
  setToolTip(Summary());
  update();
}

void TDiscSpaceBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect frame = rect().adjusted(0, 0, -1, -1);
  painter.fillRect(frame, palette().base());
  const int width = frame.width();
  int x = frame.left();
  const auto part = [&](double fraction, const QColor& colour) {
    const int w = static_cast<int>(fraction * width + 0.5);
    painter.fillRect(QRect(x, frame.top(), w, frame.height()), colour);
    x += w;
  };
  part(FParts.Used, QColor(150, 150, 150));
  part(FParts.Added, QColor(70, 160, 70));
  part(FParts.Over, QColor(210, 40, 40));
  painter.setPen(palette().windowText().color());
  painter.drawRect(frame);
  painter.drawText(frame, Qt::AlignCenter, Summary());
}

}  // namespace fornax::app
