#pragma once
// The disc-space bar under the compilation: what the disc in the drive holds
// already, what the compilation adds, and what stays free; the part that
// does not fit is red.

#include <QWidget>
#include <cstdint>

namespace fornax::app {

// The bar's parts as fractions of its width. The whole is the disc's
// capacity, or what is asked for when that is more.
struct TSpaceParts {
  double Used = 0, Added = 0, Over = 0;
  bool Overflows = false;
};
TSpaceParts SpaceParts(int64_t capacity, int64_t used, int64_t added);

class TDiscSpaceBar : public QWidget {
  Q_OBJECT
 public:
  explicit TDiscSpaceBar(QWidget* parent = nullptr);
  // The disc: its capacity and where a new session would start (sectors);
  // a capacity of 0 means no disc to measure.
  void SetDisc(int64_t capacitySectors, int64_t usedSectors);
  // What the compilation would add (sectors).
  void SetAdded(int64_t sectors);
  bool Overflows() const { return FParts.Overflows; }
  QString Summary() const;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Update();

  int64_t FCapacity = 0, FUsed = 0, FAdded = 0;
  TSpaceParts FParts;
};

}  // namespace fornax::app
