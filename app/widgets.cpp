#include "app/widgets.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <algorithm>

namespace fornax::app {

void TDropDownList::showPopup() {
  emit DropDown();
  QComboBox::showPopup();
}

TLinkLabel::TLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setStyleSheet("color: blue; text-decoration: underline;");
  setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit Clicked();
  QLabel::mouseReleaseEvent(event);
}

TGauge::TGauge(QWidget* parent) : QProgressBar(parent) {
  setTextVisible(false);
  setRange(0, 100);
  setValue(0);
}

void TGauge::SetMax(int maximum) {
  FMax = std::max(0, maximum);
  setRange(0, std::max(1, FMax));
  SetPosition(FPosition);
}

void TGauge::SetPosition(int position) {
  FPosition = std::clamp(position, 0, std::max(0, FMax));
  setValue(FMax == 0 ? 0 : FPosition);
}

QFrame* MakePanel(QWidget* parent, const char* name, int height, bool lowered) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(name);
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(lowered ? QFrame::Sunken : QFrame::Raised);
  if (height > 0) panel->setFixedHeight(height);
  auto* layout = new QHBoxLayout(panel);
  layout->setContentsMargins(2, 1, 2, 1);
  layout->setSpacing(2);
  return panel;
}

}  // namespace fornax::app
