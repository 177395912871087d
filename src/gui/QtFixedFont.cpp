#include "gui/QtFixedFont.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <cmath>

namespace kestrel {

namespace {
// Large enough that a rounded advance would show as a difference.
constexpr int ProbePixels = 20;

QFont Family(const QString& family) {
  QFont font(family);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  return font;
}

QString ChooseFamily() {
  for (const QString& family : FixedPitchFamilies()) {
    if (!QFontDatabase::hasFamily(family)) continue;
    QFont font = Family(family);
    // A family name may be served by a substitute: only the font itself will do.
    if (QFontInfo(font).family().compare(family, Qt::CaseInsensitive) != 0) continue;
    if (HasEqualAdvances(font)) return family;
  }
  return QFontInfo(QFontDatabase::systemFont(QFontDatabase::FixedFont)).family();
}
}  // namespace

const QStringList& FixedPitchFamilies() {
  static const QStringList families{
      QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono"),
      QStringLiteral("Noto Mono"),        QStringLiteral("Noto Sans Mono"),
      QStringLiteral("Courier New"),      QStringLiteral("Nimbus Mono PS"),
      QStringLiteral("FreeMono"),         QStringLiteral("Lucida Console")};
  return families;
}

bool HasEqualAdvances(const QFont& font) {
  QFont probe = font;
  probe.setPixelSize(ProbePixels);
  QFontMetricsF metrics(probe);
  const qreal w = metrics.horizontalAdvance(QLatin1Char('W'));
  return w > 0 && std::abs(metrics.horizontalAdvance(QLatin1Char('i')) - w) < 0.01 &&
         std::abs(metrics.horizontalAdvance(QLatin1Char('.')) - w) < 0.01;
}

const QString& FixedPitchFamily() {
  static const QString family = ChooseFamily();
  return family;
}

QFont FixedPitchFont(int pointSize) {
  QFont font = Family(FixedPitchFamily());
  font.setPointSize(pointSize);
  return font;
}

QFont FixedPitchFontPixels(int pixelSize) {
  QFont font = Family(FixedPitchFamily());
  font.setPixelSize(pixelSize);
  return font;
}

}  // namespace kestrel
