#pragma once
// TExDragDrop: makes one control take files dropped from the desktop (a
// text/uri-list from another program) and hands their paths on. Drags from
// the program's own views are left to the control itself.

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QWidget>

namespace fornax::app {

class TExDragDrop : public QObject {
  Q_OBJECT
 public:
  explicit TExDragDrop(QObject* parent = nullptr) : QObject(parent) {}
  ~TExDragDrop() override;

  // The paths of the last drop, in the order the desktop gave them, each cut
  // to 2047 characters.
  const QStringList& Items() const { return FItems; }
  QWidget* Control() const { return FControl; }
  // Attaches to a control (the same one again changes nothing); null detaches.
  void SetControl(QWidget* control);

 signals:
  // After each drop, with the number of names it held.
  void Dropped(int count);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Detach();

  QStringList FItems;
  QPointer<QWidget> FControl;
  QList<QPointer<QWidget>> FHooked;  // the control, and its viewport where it has one
  QList<bool> FAcceptedBefore;
};

// The longest name a drop hands on.
inline constexpr int kMaxDroppedName = 2047;

}  // namespace fornax::app
