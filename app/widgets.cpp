#include "app/widgets.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScreen>
#include <QStyle>
#include <QTableWidget>
#include <QTreeWidget>
#include <algorithm>
#include <cmath>

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

QSize TTextButton::minimumSizeHint() const {
  const QSize least = QPushButton::minimumSizeHint();
  if (text().isEmpty()) return least;
  const QFontMetrics metrics(font());
  int width = metrics.horizontalAdvance(QString(text()).remove('&')) +
              style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, this) +
              2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
  if (!icon().isNull()) width += iconSize().width() + 4;
  return {std::min(least.width(), width), least.height()};
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

int CharactersWide(const QWidget& widget, int characters) {
  return QFontMetrics(widget.font()).averageCharWidth() * characters;
}

void FitGridColumns(QTableWidget& grid, const QList<int>& columns) {
  // Advances are fractional: a width rounded down lets the view elide the text.
  const QFontMetricsF metrics(grid.font());
  // An item view keeps the focus frame's margin and one pixel on each side
  // of a cell's text, and the grid line inside the cell.
  const int margins = 2 * (grid.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &grid) + 1) +
                      (grid.showGrid() ? 1 : 0);
  for (int column : columns) {
    int width = grid.horizontalHeader()->sectionSizeHint(column);
    for (int row = 0; row < grid.rowCount(); ++row)
      if (const QTableWidgetItem* item = grid.item(row, column))
        width = std::max(width, static_cast<int>(std::ceil(metrics.horizontalAdvance(item->text()))) + margins);
    if (width > grid.columnWidth(column)) grid.setColumnWidth(column, width);
  }
}

void FitTreeToNodes(QTreeWidget& tree) {
  tree.header()->setStretchLastSection(false);
  tree.header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
}

void ResizeWithinScreen(QWidget& window, QSize wanted) {
  const QWidget* parent = window.parentWidget();
  const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
  if (screen) wanted = wanted.boundedTo(screen->availableGeometry().size());
  window.resize(wanted);
}

}  // namespace fornax::app
