#pragma once
// The flat look of menus and standard controls, with its configurable
// colours and an icon column 24 pixels wide.

#include <QColor>
#include <QString>

class QApplication;

namespace fornax::app {

struct TFlatColors {
  QColor Selection{0xC1, 0xD2, 0xEE};
  QColor SelectionBorder{0x31, 0x6A, 0xC5};
  QColor IconBackground{0xEF, 0xED, 0xDE};
  QColor Separator{0xA6, 0xA6, 0xA6};
  QColor DisabledText{0x8D, 0x8D, 0x8D};
};

// The style sheet for those colours.
QString FlatStyleSheet(const TFlatColors& colors);
// Fusion with the flat sheet, for the whole program.
void ApplyFlatStyle(QApplication& application, const TFlatColors& colors = {});

}  // namespace fornax::app
