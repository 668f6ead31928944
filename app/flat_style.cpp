#include "app/flat_style.h"

#include <QApplication>
#include <QStyleFactory>

namespace fornax::app {

QString FlatStyleSheet(const TFlatColors& c) {
  const QString sheet = R"(
QMenu { background: white; border: 1px solid %4; }
QMenu::item { padding: 3px 24px 3px 30px; border: 1px solid transparent; }
QMenu::item:selected { background: %1; border: 1px solid %2; }
QMenu::item:disabled { color: %5; }
QMenu::icon { padding-left: 4px; width: 24px; }
QMenu::separator { height: 1px; background: %4; margin: 2px 0 2px 28px; }
QPushButton, QToolButton { border: 1px solid %4; border-radius: 0; padding: 2px 8px; background: %3; }
QPushButton:hover, QToolButton:hover { background: %1; border-color: %2; }
QPushButton:pressed, QToolButton:pressed { background: %2; color: white; }
QPushButton:disabled, QToolButton:disabled { color: %5; }
QComboBox { border: 1px solid %4; border-radius: 0; padding: 1px 4px; }
QComboBox:hover { border-color: %2; }
)";
  return sheet.arg(c.Selection.name(), c.SelectionBorder.name(), c.IconBackground.name(), c.Separator.name(),
                   c.DisabledText.name());
}

void ApplyFlatStyle(QApplication& application, const TFlatColors& colors) {
  if (QStyle* fusion = QStyleFactory::create("Fusion")) application.setStyle(fusion);
  application.setStyleSheet(FlatStyleSheet(colors));
}

}  // namespace fornax::app
