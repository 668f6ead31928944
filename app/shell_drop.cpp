#include "app/shell_drop.h"

#include <QAbstractScrollArea>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace fornax::app {
namespace {

// Only drops from outside the program: its own views' drags carry a source.
bool FromDesktop(const QDropEvent* event) {
  return event->source() == nullptr && event->mimeData()->hasFormat("text/uri-list");
}

}  // namespace

TExDragDrop::~TExDragDrop() { Detach(); }

void TExDragDrop::SetControl(QWidget* control) {
  if (control == FControl) return;
  Detach();
  if (!control) return;
  FControl = control;
  QList<QWidget*> targets{control};
  if (auto* area = qobject_cast<QAbstractScrollArea*>(control)) targets.append(area->viewport());
  for (QWidget* target : targets) {
    FHooked.append(target);
    FAcceptedBefore.append(target->acceptDrops());
    target->setAcceptDrops(true);
    target->installEventFilter(this);
  }
}

void TExDragDrop::Detach() {
  for (int i = 0; i < FHooked.size(); ++i) {
    if (!FHooked[i]) continue;
    FHooked[i]->removeEventFilter(this);
    FHooked[i]->setAcceptDrops(FAcceptedBefore[i]);
  }
  FHooked.clear();
  FAcceptedBefore.clear();
  FControl = nullptr;
}

bool TExDragDrop::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (!FromDesktop(drag)) break;
      drag->acceptProposedAction();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      if (!FromDesktop(drop)) break;
      FItems.clear();
      for (const QUrl& url : drop->mimeData()->urls()) {
        const QString name = url.isLocalFile() ? url.toLocalFile() : url.toString();
        FItems.append(name.left(kMaxDroppedName));
      }
      drop->acceptProposedAction();
      emit Dropped(static_cast<int>(FItems.size()));
      return true;
    }
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace fornax::app
