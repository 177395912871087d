#include "gui/panel/ConfigForm.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>

#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

class ConfigForm : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    ini = dir.filePath(QStringLiteral("Kestrel.INI")).toStdString();
    config.Open(ini);
  }
  // Shows the dialog modally and lets `operate` work its controls while it is up.
  int Show(std::function<void()> operate) {
    QTimer::singleShot(0, [&] { operate(); });
    return form.exec();
  }
  std::string IniText() {
    std::ifstream in(ini);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  QTemporaryDir dir;
  std::string ini;
  TTestMachine t;
  TConfiguration config{t.Core, &t.R};
  TConfigForm form{config};
};

TEST_F(ConfigForm, WithoutAFileTheDefaultsShow) {
  Show([&] {
    EXPECT_EQ(form.EBPOSName->text(), QStringLiteral("PowerOn.OCL"));
    EXPECT_FALSE(form.CBCoreInitCheck->isChecked());
    EXPECT_TRUE(form.RBCS[0]->isChecked());
    EXPECT_EQ(form.RBCS[0]->text(), QStringLiteral("1400"));
    EXPECT_EQ(form.RBCS[5]->property("tag").toInt(), 16000);
    form.PBCancel->click();
  });
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Kestrel Emulator Configuration"));
  EXPECT_TRUE(IniText().empty());  // Cancel writes nothing
  EXPECT_EQ(t.Core.Size(), 8000);
}

TEST_F(ConfigForm, OkSavesAndAppliesAndTheNextShowingReadsItBack) {
  t.Core.StoreChar(100, 5);
  int result = Show([&] {
    form.EBPOSName->setText(QStringLiteral("  JOB.TXT "));
    form.RBCS[2]->click();  // 4000
    form.CBCoreInitCheck->click();
    form.PBOK->click();
  });
  EXPECT_EQ(result, QDialog::Accepted);
  std::string text = IniText();
  EXPECT_NE(text.find("StartupScript=JOB.OCL"), std::string::npos) << text;
  EXPECT_NE(text.find("CoreInitCheck=1"), std::string::npos) << text;
  EXPECT_NE(text.find("Size=4000"), std::string::npos) << text;
  EXPECT_EQ(t.Core.Size(), 4000);
  EXPECT_EQ(t.Core.Word(100) & CoreChar::CodeMask, 0);  // core was cleared
  EXPECT_TRUE(t.Core.UninitializedCheck);

  // Changes left by Cancel are forgotten: the next showing loads the file again.
  Show([&] {
    form.EBPOSName->setText(QStringLiteral("OTHER.OCL"));
    form.RBCS[5]->click();
    form.PBCancel->click();
  });
  Show([&] {
    EXPECT_EQ(form.EBPOSName->text(), QStringLiteral("JOB.OCL"));
    EXPECT_TRUE(form.RBCS[2]->isChecked());
    EXPECT_FALSE(form.RBCS[5]->isChecked());
    EXPECT_TRUE(form.CBCoreInitCheck->isChecked());
    form.PBCancel->click();
  });
  EXPECT_EQ(t.Core.Size(), 4000);
}

TEST_F(ConfigForm, ASizeNotOfTheSixSelectsNoButtonAndKeepsTheMachineSize) {
  {
    std::ofstream out(ini);
    out << "[Core Storage]\nSize=5000\n";
  }
  Show([&] {
    for (QRadioButton* button : form.RBCS)
      EXPECT_FALSE(button->isChecked());
    form.PBOK->click();
  });
  EXPECT_EQ(t.Core.Size(), 8000);
  EXPECT_NE(IniText().find("Size=5000"), std::string::npos);
}

TEST_F(ConfigForm, FeatureCheckBoxesShowSaveAndApplyTheFeatures) {
  {
    std::ofstream out(ini);
    out << "[Features]\nMoveRecord=1\n";
  }
  Show([&] {
    ASSERT_EQ(form.CBFeature.size(), 6u);
    EXPECT_EQ(form.CBFeature[5]->text(), QStringLiteral("Print Storage"));
    EXPECT_FALSE(form.CBFeature[5]->isChecked());
    EXPECT_EQ(form.CBFeature[0]->objectName(), QStringLiteral("CBMultiplyDivide"));
    EXPECT_EQ(form.CBFeature[0]->text(), QStringLiteral("Multiply/Divide"));
    EXPECT_FALSE(form.CBFeature[0]->isChecked());
    EXPECT_TRUE(form.CBFeature[1]->isChecked());  // Move Record
    form.CBFeature[0]->click();
    form.CBFeature[1]->click();
    form.CBFeature[4]->click();  // Binary Code and Decode
    form.PBOK->click();
  });
  const std::string text = IniText();
  for (const char* line :
       {"MultiplyDivide=1", "MoveRecord=0", "BitTest=0", "BinaryCode=1", "PrintStorage=0"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " in " << text;
  EXPECT_EQ(t.R.Features, FEMultiplyDivide | FEBinaryCode);
}

}  // namespace
}  // namespace kestrel::test
