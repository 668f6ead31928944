#pragma once
// Whether a window shows its texts whole: every text measured with its
// widget's own font metrics against the room the widget gives it, and the
// window against the free area of its screen. Used at the default size and
// on a small screen at twice the scale.

#include <QList>
#include <QString>
#include <QStringList>

class QTableWidget;
class QWidget;

namespace fornax::guitest {

// One line per text that is cut (or lies outside the window), naming the
// widget, the text and the two widths: labels, check boxes, buttons, header
// sections and tree nodes; hidden widgets and those kept outside the window
// on purpose are passed over.
QStringList ClippedTexts(const QWidget& window);
// The cells of these columns of a grid that are cut.
QStringList ClippedCells(const QTableWidget& grid, const QList<int>& columns);
// Empty, or how the window overruns the free area of its screen.
QString OffScreen(const QWidget& window);

}  // namespace fornax::guitest
