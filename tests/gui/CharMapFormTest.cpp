#include "gui/charset/CharMapForm.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <fstream>

#include "devices/TapeImages.h"
#include "gui/QtFixedFont.h"
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
  // What the operator sees: every character as wide as the next, so the tables line up.
  EXPECT_TRUE(HasEqualAdvances(form.LBCharMap->font()));
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

TEST_F(CharMapWindow, AConventionChosenByNameReadsTheNextDecksInsteadOfTheControlFile) {
  t.M.CharMap.UseCmcFile = true;
  t.M.CharMap.SetCmcPath(files.Path("none.CMC"));  // no control file at all
  ASSERT_EQ(form.CBConvention->count(), 1 + static_cast<int>(CharConventions.size()));
  EXPECT_EQ(form.CBConvention->currentIndex(), 0);
  // SIMH old: the apostrophe is the record mark, + is code 31 and " the group mark.
  form.CBConvention->setCurrentIndex(2);
  EXPECT_EQ(form.CBConvention->currentText(), QStringLiteral("SIMH old"));
  TCardList hopper;
  t.M.CharMap.LoadCardFile(Deck("OLD.CD", "A'B+\"\n"), hopper, false);
  ASSERT_EQ(hopper.size(), 1u);
  EXPECT_EQ(hopper[0].substr(0, 5), std::string("ArB") + BcdToCardChar(31) + "g");
  EXPECT_EQ(t.M.CharMap.MappingString(), std::string(CharConventions[1].Mapping));
  // Pierce A has no backtick: the card is refused and the hopper keeps what it had.
  form.CBConvention->setCurrentIndex(1);
  EXPECT_THROW(t.M.CharMap.LoadCardFile(Deck("OLD.CD", "A`B\n"), hopper, false), EKestrelError);
  EXPECT_EQ(hopper.size(), 1u);
  // Back to the control file, which is missing here.
  form.CBConvention->setCurrentIndex(0);
  EXPECT_EQ(t.M.CharMap.Convention(), nullptr);
  try {
    t.M.CharMap.LoadCardFile(Deck("NEW.CD", "A\n"), hopper, false);
    ADD_FAILURE() << "loaded without a control file";
  } catch (const EKestrelError& e) {
    EXPECT_NE(std::string(e.what()).find("none.CMC does not exist"), std::string::npos) << e.what();
  }
  EXPECT_EQ(hopper.size(), 1u);
  // A convention a script chose shows when the window is next activated.
  t.M.CharMap.SetConvention(FindCharConvention("PIERCE-A"));
  form.FormActivate();
  EXPECT_EQ(form.CBConvention->currentText(), QStringLiteral("Pierce A"));
}

}  // namespace
}  // namespace kestrel::test
