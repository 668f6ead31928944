#include "clipped_texts.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTableWidget>
#include <QTextDocument>
#include <QTreeWidget>
#include <QWidget>
#include <climits>
#include <cmath>

namespace fornax::guitest {
namespace {

QString Where(const QWidget& widget) {
  const QString name = widget.objectName().isEmpty() ? QString(widget.metaObject()->className()) : widget.objectName();
  const QWidget* parent = widget.parentWidget();
  return parent && !parent->objectName().isEmpty() ? parent->objectName() + "/" + name : name;
}

QString Cut(const QWidget& widget, const QString& text, int needed, int room) {
  return QString("%1 \"%2\": needs %3, has %4").arg(Where(widget), text).arg(needed).arg(room);
}

// A widget that shows on the window: visible, and not put outside it on
// purpose (as the buttons that only answer Esc or Enter are).
bool Shown(const QWidget& widget, const QWidget& window) {
  if (!widget.isVisibleTo(&window)) return false;
  const QRect inWindow(widget.mapTo(&window, QPoint(0, 0)), widget.size());
  return inWindow.intersects(window.rect());
}

// The room QLabel gives its text: the contents less the margin and the
// indent (half an "x" when the label has a frame and no indent of its own).
QRect LabelRoom(const QLabel& label) {
  QRect room = label.contentsRect().adjusted(label.margin(), label.margin(), -label.margin(), -label.margin());
  int indent = label.indent();
  if (indent < 0 && label.frameWidth() > 0) indent = label.fontMetrics().horizontalAdvance(QChar('x')) / 2 - label.margin();
  if (indent > 0) {
    const Qt::Alignment align = label.alignment();
    if (align & Qt::AlignLeft) room.setLeft(room.left() + indent);
    if (align & Qt::AlignRight) room.setRight(room.right() - indent);
    if (align & Qt::AlignTop) room.setTop(room.top() + indent);
    if (align & Qt::AlignBottom) room.setBottom(room.bottom() - indent);
  }
  return room;
}

void CheckLabel(const QLabel& label, QStringList& cut) {
  const QString text = label.text();
  if (text.isEmpty() || Qt::mightBeRichText(text)) return;
  const QRect room = LabelRoom(label);
  const QFontMetrics metrics = label.fontMetrics();
  const int flags = label.wordWrap() ? Qt::TextWordWrap : 0;
  const QRect needed = metrics.boundingRect(QRect(0, 0, label.wordWrap() ? room.width() : INT_MAX / 2, INT_MAX / 2),
                                            flags, text);
  if (needed.width() > room.width()) cut.append(Cut(label, text, needed.width(), room.width()));
  if (needed.height() > room.height())
    cut.append(Cut(label, text, needed.height(), room.height()) + " (height)");
}

QString WithoutMnemonic(QString text) {
  return text.replace(QRegularExpression("&(?!&)"), "");
}

void CheckButton(const QAbstractButton& button, QStringList& cut) {
  if (button.text().isEmpty()) return;
  const QString text = WithoutMnemonic(button.text());
  const QFontMetrics metrics = button.fontMetrics();
  if (const auto* box = qobject_cast<const QCheckBox*>(&button)) {
    // The style draws the caption in the contents rectangle beside the box.
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    option.iconSize = box->iconSize();
    const QRect room = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    if (metrics.horizontalAdvance(text) > room.width())
      cut.append(Cut(button, text, metrics.horizontalAdvance(text), room.width()));
  } else {
    // The text in its font, the style's margin and frame, and the icon (a
    // style's least width for a button is a look, not room the text needs).
    const QStyle* style = button.style();
    int needed = metrics.horizontalAdvance(text) + style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, &button) +
                 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &button);
    if (!button.icon().isNull()) needed += button.iconSize().width() + 4;
    if (button.width() < needed) cut.append(Cut(button, text, needed, button.width()));
  }
  if (button.height() < metrics.height()) cut.append(Cut(button, text, metrics.height(), button.height()) + " (height)");
}

// A highlighted section is drawn bold: the caption must fit that way too.
void CheckHeader(const QHeaderView& header, QStringList& cut) {
  QFont bold = header.font();
  bold.setBold(true);
  const QFontMetrics metrics(bold);
  const int margins = 2 * header.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, &header);
  for (int section = 0; section < header.count(); ++section) {
    if (header.isSectionHidden(section)) continue;
    const QString text = header.model()->headerData(section, header.orientation()).toString();
    const int needed = metrics.horizontalAdvance(text) + margins;
    if (needed > header.sectionSize(section)) cut.append(Cut(header, text, needed, header.sectionSize(section)));
  }
  if (header.height() < metrics.height()) cut.append(Cut(header, "", metrics.height(), header.height()) + " (height)");
}

// Item views keep the focus frame's margin and a pixel each side of a text.
int ItemMargins(const QWidget& view) {
  return 2 * (view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1);
}

void CheckTree(const QTreeWidget& tree, QStringList& cut) {
  const QFontMetrics metrics(tree.font());
  for (QTreeWidgetItemIterator it(const_cast<QTreeWidget*>(&tree)); *it; ++it) {
    const QTreeWidgetItem* item = *it;
    if (item->parent() && !item->parent()->isExpanded()) continue;
    const QRect room = tree.visualItemRect(item);
    const int needed = metrics.horizontalAdvance(item->text(0)) + ItemMargins(tree);
    if (needed > room.width()) cut.append(Cut(tree, item->text(0), needed, room.width()));
  }
}

}  // namespace

QStringList ClippedTexts(const QWidget& window) {
  QStringList cut;
  for (const QWidget* widget : window.findChildren<QWidget*>()) {
    if (!Shown(*widget, window)) continue;
    const QRect inWindow(widget->mapTo(&window, QPoint(0, 0)), widget->size());
    if (auto* label = qobject_cast<const QLabel*>(widget)) CheckLabel(*label, cut);
    else if (auto* button = qobject_cast<const QAbstractButton*>(widget)) CheckButton(*button, cut);
    else if (auto* header = qobject_cast<const QHeaderView*>(widget)) CheckHeader(*header, cut);
    else if (auto* tree = qobject_cast<const QTreeWidget*>(widget)) CheckTree(*tree, cut);
    else continue;
    if (!window.rect().contains(inWindow)) cut.append(Where(*widget) + " lies partly outside the window");
  }
  return cut;
}

QStringList ClippedCells(const QTableWidget& grid, const QList<int>& columns) {
  QStringList cut;
  const int margins = ItemMargins(grid) + (grid.showGrid() ? 1 : 0);
  for (int column : columns)
    for (int row = 0; row < grid.rowCount(); ++row)
      if (const QTableWidgetItem* item = grid.item(row, column)) {
        // A cell drawn in a font of its own is measured in that font.
        const QVariant font = item->data(Qt::FontRole);
        // Advances are fractional; the view elides a text whose exact width does not fit.
        const QFontMetricsF metrics(font.isValid() ? font.value<QFont>() : grid.font());
        const int needed = static_cast<int>(std::ceil(metrics.horizontalAdvance(item->text()))) + margins;
        if (needed > grid.columnWidth(column)) cut.append(Cut(grid, item->text(), needed, grid.columnWidth(column)));
      }
  return cut;
}

QString OffScreen(const QWidget& window) {
  const QScreen* screen = window.screen();
  if (!screen) return "no screen";
  const QRect free = screen->availableGeometry();
  if (free.contains(window.geometry())) return {};
  return QString("%1 at %2,%3 %4x%5 overruns the screen's %6x%7")
      .arg(window.objectName())
      .arg(window.x())
      .arg(window.y())
      .arg(window.width())
      .arg(window.height())
      .arg(free.width())
      .arg(free.height());
}

}  // namespace fornax::guitest
