#include "app/burn_progress.h"

#include <QCoreApplication>
#include <cmath>

#include "app/display_formats.h"

namespace fornax::app {
namespace {

QString Duration(double seconds) {
  const auto whole = static_cast<int64_t>(std::ceil(seconds));
  const int64_t hours = whole / 3600, minutes = whole / 60 % 60, rest = whole % 60;
  if (hours > 0) return QString("%1:%2:%3").arg(hours).arg(minutes, 2, 10, QChar('0')).arg(rest, 2, 10, QChar('0'));
  return QString("%1:%2").arg(minutes).arg(rest, 2, 10, QChar('0'));
}

}  // namespace

QString ProgressText(const TBurnProgress& p) {
  const int percent =
      p.Total > 0 ? static_cast<int>(std::floor(100.0 * static_cast<double>(std::min(p.Written, p.Total)) /
                                                static_cast<double>(p.Total)))
                  : 0;
  QString text = QString("%1 %").arg(percent);
  if (p.Seconds <= 0.5 || p.Written <= 0) return text;
  const double kbps = static_cast<double>(p.Written) / 1000.0 / p.Seconds;
  const double oneX = p.Dvd ? 1385.0 : 176.4;
  text += QString(" · %1x (%2 KB/s)")
              .arg(kbps / oneX, 0, 'f', p.Dvd ? 1 : 0)
              .arg(QString::fromStdString(GroupedWhole(kbps)));
  const double left = static_cast<double>(p.Total - p.Written) / 1000.0 / kbps;
  if (p.Written < p.Total)
    text += QCoreApplication::translate("fornax::app::ProgressText", " · quedan ") + Duration(left);
  return text;
}

}  // namespace fornax::app
