#include "gui/devices/TapeUnitForm.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "devices/TapeImages.h"
#include "gui/GuiTestSupport.h"
#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

class TapeWindow : public ::testing::Test {
 protected:
  TapeWindow() {
    t.M.TapeUnits.SetSaveDirectory(files.Dir);
    form.show();
  }
  TTapeDrivePanel& panel(int unit) { return form.TapeDrive(unit); }
  static bool Shown(QWidget* w) { return w->isVisibleTo(w->parentWidget()); }
  void Read(uint16_t unit) {
    DeviceCommand command;
    command.Operation = static_cast<uint16_t>(TTapeOp::TapeRead);
    command.Selector = unit;
    t.M.TapeUnits.HandleRequest(command);
  }

  TTempDir files;
  TTestMachine t;
  TTapeUnitForm form{t.M.TapeUnits};
};

TEST_F(TapeWindow, SixLightBluePanelsWithOnlyOpenEnabledAtFirst) {
  EXPECT_EQ(form.windowTitle(), QStringLiteral("IBM Emulation - 729IV Tape Units"));
  for (int unit = 1; unit <= 6; ++unit) {
    TTapeDrivePanel& p = panel(unit);
    EXPECT_EQ(p.size(), QSize(310, 55));
    EXPECT_EQ(p.palette().color(QPalette::Window), QColor(207, 239, 254));
    EXPECT_EQ(p.LAUnit->text(), QString::number(unit));
    EXPECT_TRUE(p.PBOpen->isEnabled());
    EXPECT_FALSE(p.PBMont->isEnabled());
    EXPECT_FALSE(p.PBDMnt->isEnabled());
    EXPECT_FALSE(p.PBLoad->isEnabled());
    EXPECT_FALSE(p.PBSave->isEnabled());
    EXPECT_FALSE(Shown(p.LAPosn));
    EXPECT_FALSE(Shown(p.LASize));
    EXPECT_FALSE(Shown(p.PBPosition));
    EXPECT_FALSE(Shown(p.CBWP));
    EXPECT_FALSE(Shown(p.PNIndicate));
  }
  EXPECT_EQ(panel(1).PNIndicate->text(), QStringLiteral("INDICATE"));
  EXPECT_EQ(panel(1).PBDMnt->toolTip(), QStringLiteral("Unload tape image"));
  EXPECT_EQ(panel(1).PNIndicate->toolTip(), QStringLiteral("\"Tape Indicate\" light"));
}

TEST_F(TapeWindow, PanelFollowsMountReadToTapeMarkAndUnload) {
  std::string path = files.Write("job.bcd", {0xC1, 0x42, 0x03, 0x8F});
  TTapeDrivePanel& p = panel(2);
  p.OpenFile(QString::fromStdString(path));
  EXPECT_EQ(p.LAName->text(), QStringLiteral("JOB.BCD"));
  EXPECT_FALSE(p.PBMont->isEnabled());
  EXPECT_TRUE(p.PBDMnt->isEnabled());
  EXPECT_TRUE(p.PBLoad->isEnabled());
  EXPECT_TRUE(Shown(p.LAPosn));
  EXPECT_TRUE(Shown(p.CBWP));
  EXPECT_TRUE(p.CBWP->isChecked());
  EXPECT_EQ(p.LASize->text(), QStringLiteral("4"));
  EXPECT_EQ(p.PBPosition->value(), 0);

  // The panel's Load reads the record into 1 and readies the machine.
  p.PBLoad->click();
  EXPECT_EQ(t.State(), CpuState::TapeRecordLoaded);
  EXPECT_EQ(t.Text(3, 3), "123");
  EXPECT_FALSE(p.PBLoad->isEnabled());  // no longer at the load point
  EXPECT_EQ(p.LAPosn->text(), QStringLiteral("3"));
  EXPECT_EQ(p.PBPosition->value(), 75);
  EXPECT_FALSE(Shown(p.PNIndicate));

  t.R.BAR = 400;
  Read(2);  // the tape mark
  EXPECT_TRUE(Shown(p.PNIndicate));
  EXPECT_TRUE(p.PBDMnt->isEnabled());

  p.PBDMnt->click();
  EXPECT_FALSE(Shown(p.PNIndicate));
  EXPECT_FALSE(p.PBDMnt->isEnabled());
  EXPECT_FALSE(p.PBLoad->isEnabled());
  EXPECT_TRUE(p.PBMont->isEnabled());  // the name is kept for a re-mount
  EXPECT_FALSE(Shown(p.LAPosn));
  EXPECT_FALSE(Shown(p.PBPosition));
  EXPECT_FALSE(Shown(p.CBWP));

  p.PBMont->click();
  EXPECT_TRUE(p.PBLoad->isEnabled());
  EXPECT_EQ(p.LAPosn->text(), QStringLiteral("0"));
}

TEST_F(TapeWindow, ButtonErrorGoesToTheErrorBoxAndLeavesTheProcessorAlone) {
  std::string path = files.Write("m.bcd", {0x8F, 0xC1, 0x8F});
  TTapeDrivePanel& p = panel(1);
  p.OpenFile(QString::fromStdString(path));
  t.R.BAR = 400;
  Read(1);  // the tape mark turns the light on
  ASSERT_TRUE(Shown(p.PNIndicate));
  t.M.TapeUnits.RewindTape(1);
  p.Drive().UpdatePanel();
  ASSERT_TRUE(p.PBLoad->isEnabled());
  t.R.State = CpuState::ProgramHalt;
  {
    TBoxCloser closer;
    p.PBLoad->click();
    EXPECT_EQ(closer.Count(), 1);
    EXPECT_EQ(closer.Text(), QStringLiteral("Tape Read with Tape Indicate On"));
    EXPECT_EQ(t.State(), CpuState::ProgramHalt);
  }

  TBoxCloser missing;
  p.OpenFile(QString::fromStdString(files.Path("none.bcd")));
  EXPECT_EQ(missing.Count(), 1);
  EXPECT_TRUE(missing.Text().startsWith(QStringLiteral("Tape file not found: ")));
  EXPECT_EQ(t.State(), CpuState::ProgramHalt);
}

TEST_F(TapeWindow, WriteProtectBoxSwitchesTheDrive) {
  TTapeDrivePanel& p = panel(3);
  p.OpenFile(QString::fromStdString(files.Write("w.bcd", {0xC1, 0x8F})));
  p.CBWP->click();
  EXPECT_FALSE(p.Drive().WriteProtect());
  EXPECT_FALSE(p.CBWP->isChecked());
  t.M.TapeUnits.SetWriteProtect(3, true);
  p.Drive().UpdatePanel();
  EXPECT_TRUE(p.CBWP->isChecked());
}

}  // namespace
}  // namespace kestrel::test
