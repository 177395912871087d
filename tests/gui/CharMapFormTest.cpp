#include "charset/CharMapForm.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <fstream>

#include "devices/TapeImages.h"
#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

class CharMapWindow : public ::testing::Test {
 protected:
  CharMapWindow() { t.M.CharMap.UseCmcFile = false; }
  std::string Deck(const std::string& name, const std::string& text) {
    std::string path = files.Path(name);
    std::ofstream(path) << text;
    return path;
  }
  QString Line(int row) { return form.LBCharMap->item(row)->text(); }
  bool Holds(const QString& text) {
    return !form.LBCharMap->findItems(text, Qt::MatchStartsWith).isEmpty();
  }

  TTempDir files;
  TTestMachine t;
  TCharMapForm form{t.M.CharMap};
};

TEST_F(CharMapWindow, StartsHiddenWithTheMappingTablesInAFixedFont) {
  EXPECT_EQ(form.windowTitle(), QStringLiteral("IBM Emulation - Character Set Processor"));
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(QFontInfo(form.LBCharMap->font()).fixedPitch());
  ASSERT_GT(form.LBCharMap->count(), 2);
  EXPECT_EQ(Line(0), QString());
  EXPECT_EQ(Line(1), QStringLiteral("Mapping used for loaded file (translated to Internal set)"));
  EXPECT_TRUE(form.RBUseCMC->isChecked());
  EXPECT_FALSE(form.EBCharMap->isEnabled());
  EXPECT_EQ(form.EBCharMap->maxLength(), 64);
}

TEST_F(CharMapWindow, ShownOnAnUnmappedCharacterAndHiddenAfterAGoodLoad) {
  TCardList hopper;
  EXPECT_THROW(t.M.CharMap.LoadCardFile(Deck("BAD.CRD", "AB\nab\n"), hopper, false), EKestrelError);
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(Holds(QStringLiteral("Unmapped characters (ASCII) used in loaded file:-")));
  EXPECT_TRUE(Holds(QStringLiteral(" $61 a  1")));

  t.M.CharMap.LoadCardFile(Deck("GOOD.CRD", "HELLO\n"), hopper, false);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(Line(0),
            QStringLiteral("Loaded file: ") + QString::fromStdString(files.Path("GOOD.CRD")));
}

TEST_F(CharMapWindow, MapBelowEnablesTheEditLineWhoseTypingSetsTheMapping) {
  form.show();
  form.RBUseEBM->click();
  EXPECT_TRUE(form.EBCharMap->isEnabled());
  EXPECT_FALSE(t.M.CharMap.UseCmcFile);  // the buttons leave the loader's choice alone
  form.FormActivate();
  EXPECT_EQ(form.EBCharMap->text().toStdString(), t.M.CharMap.MappingString());
  form.EBCharMap->setFocus();
  form.EBCharMap->setCursorPosition(0);
  QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
  QApplication::sendEvent(form.EBCharMap, &del);
  QKeyEvent plus(QEvent::KeyPress, Qt::Key_Plus, Qt::NoModifier, QStringLiteral("+"));
  QApplication::sendEvent(form.EBCharMap, &plus);
  EXPECT_EQ(t.M.CharMap.MappingString().substr(0, 2), "+1");
  form.RBUseCMC->click();
  EXPECT_FALSE(form.EBCharMap->isEnabled());
}

TEST_F(CharMapWindow, OpeningAndClosingByHandFollowsTheModel) {
  form.show();
  EXPECT_TRUE(t.M.CharMap.Shown());
  form.hide();
  EXPECT_FALSE(t.M.CharMap.Shown());
}

}  // namespace
}  // namespace kestrel::test
