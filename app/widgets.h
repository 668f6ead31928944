#pragma once
// Small widgets the windows need beyond Qt's: a drop-down list that says when
// it opens, a label that is a link, a panel frame; and sizes measured from
// the widgets' own fonts, so that texts stay whole whatever the font size or
// the screen's scale.

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QList>
#include <QProgressBar>
#include <QPushButton>
#include <QSize>

class QTableWidget;
class QTreeWidget;

namespace fornax::app {

// A drop-down list that signals each time its list opens, before it shows.
class TDropDownList : public QComboBox {
  Q_OBJECT
 public:
  using QComboBox::QComboBox;
  void showPopup() override;
 signals:
  void DropDown();
};

// A label shown as a link: blue, underlined, a hand cursor; a click signals.
class TLinkLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TLinkLabel(const QString& text, QWidget* parent = nullptr);
 signals:
  void Clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// A push button that may shrink to its text when a row is short of room (on
// a small or scaled screen): a style's least button width is a look, and a
// row of such buttons would otherwise cut the texts beside them.
class TTextButton : public QPushButton {
  Q_OBJECT
 public:
  using QPushButton::QPushButton;
  QSize minimumSizeHint() const override;
};

// A progress bar whose maximum may be 0 (nothing to show yet): it is then
// simply empty, never Qt's endless "busy" animation.
class TGauge : public QProgressBar {
  Q_OBJECT
 public:
  explicit TGauge(QWidget* parent = nullptr);
  void SetMax(int maximum);
  int Max() const { return FMax; }
  void SetPosition(int position);
  int Position() const { return FPosition; }

 private:
  int FMax = 100;
  int FPosition = 0;
};

// A panel: a frame of a fixed height (0: free), raised or lowered, with a
// horizontal layout of small margins.
QFrame* MakePanel(QWidget* parent, const char* name, int height, bool lowered);

// The width of `characters` average characters of the widget's font.
int CharactersWide(const QWidget& widget, int characters);
// Widens each of `columns` to hold its header caption (bold, as a highlighted
// section is drawn) and the text of every cell below it; never narrows one,
// so a width the user chose stays.
void FitGridColumns(QTableWidget& grid, const QList<int>& columns);
// The tree's column follows its widest node: a long or deep folder name makes
// the tree scroll sideways instead of being cut.
void FitTreeToNodes(QTreeWidget& tree);
// Resizes a window to `wanted`, but no larger than the free area of the screen
// it will show on (a small screen, or a large scale, leaves little of it).
void ResizeWithinScreen(QWidget& window, QSize wanted);

}  // namespace fornax::app
