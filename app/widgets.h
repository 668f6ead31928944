#pragma once
// Small widgets the windows need beyond Qt's: a drop-down list that says when
// it opens, a label that is a link, a panel frame.

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>

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

}  // namespace fornax::app
