// The fixed-pitch font of every view whose text stands in columns: the core display, the card
// and printer displays, the character set window, the tape panels, the trace list, the script
// editor and the panel's registers.  The family is chosen once, from real monospace families in
// order of preference, and only one whose characters really all advance alike is taken: a
// fontconfig entry may call a proportional font fixed, or a fixed one proportional.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

namespace kestrel {

// The families tried, best first.
const QStringList& FixedPitchFamilies();

// Whether `i`, `W` and `.` advance alike in `font`, as drawn.
bool HasEqualAdvances(const QFont& font);

// The first family of FixedPitchFamilies() that the font database has and that draws with equal
// advances; else the platform's fixed font.  Chosen on the first call.
const QString& FixedPitchFamily();

// The fixed-pitch font at a size in points or in pixels.
QFont FixedPitchFont(int pointSize);
QFont FixedPitchFontPixels(int pixelSize);

}  // namespace kestrel
