// What the operator sees in every view whose text stands in columns: one family, chosen once,
// whose characters all advance alike, whatever fonts the machine happens to have.
#include "gui/QtFixedFont.h"

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPlainTextEdit>
#include <utility>
#include <vector>

#include "gui/charset/CharMapForm.h"
#include "gui/devices/PrinterForm.h"
#include "gui/devices/ReaderForm.h"
#include "gui/devices/TapeUnitForm.h"
#include "gui/devices/URecDispForm.h"
#include "gui/panel/CoreForm.h"
#include "gui/panel/TraceForm.h"
#include "gui/script/OCLEditForm.h"
#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

TEST(FixedPitchFont, EveryColumnViewUsesOneFamilyWhoseCharactersAdvanceAlike) {
  TTestMachine t;
  TCoreForm core(t.Core);
  TCharMapForm chars(t.M.CharMap);
  TTraceForm trace(t.M.TraceLog, t.M.TraceFlags);
  TReaderForm reader(t.M.ReaderPunch);
  TPrinterForm printer(t.M.Printer);
  TTapeUnitForm tapes(t.M.TapeUnits);
  TOCLEditForm editor;
  const std::vector<std::pair<const char*, QFont>> views = {
      {"core display", core.View().font()},
      {"character set report", chars.LBCharMap->font()},
      {"mapping line", chars.EBCharMap->font()},
      {"trace list", trace.findChild<QListView*>(QStringLiteral("LBLog"))->font()},
      {"card display", reader.Hopper().DisplayFont()},
      {"card display, large", UnitRecordFont(true)},
      {"printer display", printer.Printer().DisplayFont()},
      {"tape panel", tapes.TapeDrive(1).font()},
      {"script editor", editor.MOText->font()},
  };
  ASSERT_FALSE(FixedPitchFamily().isEmpty());
  for (const auto& [view, font] : views) {
    EXPECT_EQ(QFontInfo(font).family(), FixedPitchFamily()) << view;
    EXPECT_TRUE(HasEqualAdvances(font)) << view;
  }
  // The first choice wins wherever it is installed (the project's install step makes sure).
  if (QFontDatabase::hasFamily(FixedPitchFamilies().front())) {
    EXPECT_EQ(FixedPitchFamily(), FixedPitchFamilies().front());
  }
}

TEST(FixedPitchFont, AProportionalFontIsToldApart) {
  // DejaVu Sans comes with the fixed family the project installs.
  if (!QFontDatabase::hasFamily(QStringLiteral("DejaVu Sans"))) GTEST_SKIP() << "no DejaVu Sans";
  EXPECT_FALSE(HasEqualAdvances(QFont(QStringLiteral("DejaVu Sans"))));
  QFont spaced = FixedPitchFont(9);
  spaced.setLetterSpacing(QFont::AbsoluteSpacing, 3);  // alike still, only wider
  EXPECT_TRUE(HasEqualAdvances(spaced));
}

}  // namespace
}  // namespace kestrel::test
