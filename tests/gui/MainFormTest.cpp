#include "gui/panel/MainForm.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

#include "gui/GuiTestSupport.h"
#include "gui/panel/CoreForm.h"
#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

class MainForm : public ::testing::Test {
 protected:
  MainForm() {
    // The console model is the main window's receiver here, not the test stub.
    t.Messenger.Attach(TReceiver::MainWindow, &t.M.Console);
  }
  void Update(CpuState state, const std::string& message = "", uint16_t address = 0) {
    t.R.State = state;
    t.R.StopMessage.Set(message);
    t.R.InstrAddr = address;
    t.M.Console.UpdateStatus();
    t.Messenger.DrainPosts();
  }
  // The processor's stop, as the run reports it.
  void Stop(CpuState state, const std::string& message, uint16_t address) {
    t.R.State = state;
    t.R.StopMessage.Set(message);
    t.R.InstrAddr = address;
    TMessage stopped;
    stopped.Id = EmulatorMessage::CpuStopped;
    t.Messenger.Post(TReceiver::MainWindow, stopped);
    t.Messenger.DrainPosts();
  }
  void Type(QLineEdit* edit, char c) {
    QString text{QLatin1Char(c)};
    QKeyEvent press(QEvent::KeyPress, text.toUpper().at(0).unicode(), Qt::NoModifier, text);
    QApplication::sendEvent(edit, &press);
  }
  bool Red() const { return form.LAStatus->styleSheet().contains(QStringLiteral("255, 0, 0")); }
  QString Status() const { return form.LAStatus->text(); }

  TTestMachine t;
  TMainForm form{t.M, {}};
};

TEST_F(MainForm, ControlsStartAsThePanelDefinesThem) {
  EXPECT_EQ(form.windowTitle(), QStringLiteral("IBM 1401 Emulator"));
  EXPECT_FALSE(form.PBStart->isEnabled());
  EXPECT_FALSE(form.PBStop->isEnabled());
  EXPECT_FALSE(form.PBResume->isEnabled());
  EXPECT_FALSE(form.PBReset->isEnabled());
  EXPECT_FALSE(form.PBExit->isEnabled());
  EXPECT_TRUE(form.PBScript->isEnabled());
  EXPECT_EQ(form.PBStop->text(), QStringLiteral("S&top"));
  EXPECT_EQ(form.PBExit->text(), QStringLiteral("&PwrOff"));
  EXPECT_EQ(form.PBReset->toolTip(), QStringLiteral("System reset "));
  EXPECT_EQ(form.EBAdSt->text(), QStringLiteral("00000"));
  EXPECT_EQ(form.EBOCSt->text(), QString());
  EXPECT_EQ(form.LAIAR->text(), QStringLiteral("00000"));
  EXPECT_EQ(form.LAOP->text(), QStringLiteral("X"));
  EXPECT_FALSE(form.CBTurbo->isChecked());
  EXPECT_EQ(form.CBSR[2]->objectName(), QStringLiteral("CBSRC"));
  EXPECT_EQ(form.CBSR[2]->property("tag").toInt(), 3);
  EXPECT_FALSE(form.MIView->isEnabled());
  EXPECT_FALSE(form.MIHelp->isEnabled());
  EXPECT_NE(form.findChild<QPushButton*>(QStringLiteral("PBStart")), nullptr);
}

TEST_F(MainForm, StatusAndEnabledStatesFollowTheRunState) {
  t.M.Console.SystemReset();
  t.Messenger.DrainPosts();
  EXPECT_EQ(Status(), QStringLiteral("System Reset"));
  EXPECT_FALSE(form.PBStart->isEnabled());
  EXPECT_TRUE(form.PBReset->isEnabled());
  EXPECT_TRUE(form.PBExit->isEnabled());
  EXPECT_TRUE(form.RBRUN->isChecked());
  EXPECT_FALSE(Red());

  Update(CpuState::CardLoaded);
  EXPECT_EQ(Status(), QStringLiteral("Card Loaded"));
  EXPECT_TRUE(form.PBStart->isEnabled());

  // A real run: Start, the processor's wake-up, its stop notice.
  t.Instructions(1, {"."});
  form.PBStart->click();
  EXPECT_EQ(Status(), QStringLiteral("Running"));
  EXPECT_FALSE(form.PBStart->isEnabled());
  EXPECT_TRUE(form.PBStop->isEnabled());
  EXPECT_FALSE(form.PBReset->isEnabled());
  EXPECT_FALSE(form.PBExit->isEnabled());
  EXPECT_FALSE(form.EBAdSt->isEnabled());
  t.M.Cpu.RunWakeup();
  t.Messenger.DrainPosts();
  EXPECT_EQ(Status(), QStringLiteral("Program Halt at 00001"));
  EXPECT_TRUE(form.PBStart->isEnabled());
  EXPECT_FALSE(form.PBStop->isEnabled());
  EXPECT_TRUE(form.EBAdSt->isEnabled());
  EXPECT_FALSE(form.PBResume->isEnabled());
  ServeFor(150);  // the register labels show the last report within their repaint period
  EXPECT_EQ(form.LAIAR->text(), QStringLiteral("00002"));
  EXPECT_EQ(form.LAOP->text(), QStringLiteral("."));
  EXPECT_EQ(form.LAILen->text(), QStringLiteral("1"));
}

TEST_F(MainForm, RegisterReportsInQuickSuccessionEndWithTheLast) {
  ServeFor(120);
  t.R.IAR = 100;
  QElapsedTimer clock;
  clock.start();
  t.M.Console.ShowRegistersNow();
  EXPECT_EQ(form.LAIAR->text(), QStringLiteral("00100"));  // the first shows at once
  for (uint16_t iar = 101; iar <= 150; ++iar) {
    t.R.IAR = iar;
    t.M.Console.ShowRegistersNow();
  }
  // Held back while the period lasts (a machine so loaded that the loop outlasted it may have
  // shown one of them already).
  if (clock.elapsed() < 100) {
    EXPECT_EQ(form.LAIAR->text(), QStringLiteral("00100"));
  }
  ServeFor(150);
  EXPECT_EQ(form.LAIAR->text(), QStringLiteral("00150"));
}

TEST_F(MainForm, AnAddressStopSelectsStepModeAndEnablesResume) {
  // A status update while the run passes through a stop condition changes nothing.
  Update(CpuState::StopCondition, "Address Stop at", 333);
  EXPECT_FALSE(form.RBSTEP->isChecked());
  Stop(CpuState::StopCondition, "Address Stop at", 333);
  EXPECT_EQ(Status(), QStringLiteral("Address Stop at 00333"));
  EXPECT_TRUE(form.RBSTEP->isChecked());
  EXPECT_TRUE(form.PBResume->isEnabled());
  EXPECT_TRUE(form.PBStart->isEnabled());
  EXPECT_TRUE(t.M.TraceFlags.TraceInstructions);
  // Resume, once enabled, stays enabled.
  Update(CpuState::ProgramHalt, "Program Halt at", 400);
  EXPECT_TRUE(form.PBResume->isEnabled());
  form.PBResume->click();
  EXPECT_TRUE(form.RBRUN->isChecked());
  EXPECT_TRUE(t.R.ResumePending);
  EXPECT_EQ(t.R.State, CpuState::Running);
}

TEST_F(MainForm, AMachineCheckIsRedAndLeavesStartAsItWas) {
  Update(CpuState::Running);
  Update(CpuState::MachineCheck, "Invalid Address: 9000 used by 500");
  EXPECT_EQ(Status(), QStringLiteral("Invalid Address: 9000 used by 500"));
  EXPECT_TRUE(Red());
  EXPECT_FALSE(form.PBStart->isEnabled());  // it was disabled while running
  EXPECT_FALSE(form.PBStop->isEnabled());
  EXPECT_TRUE(form.PBReset->isEnabled());
  Update(CpuState::ProgramHalt, "Program Halt at", 1);
  EXPECT_FALSE(Red());
}

TEST_F(MainForm, StopShowsTheOperatorHalt) {
  Update(CpuState::CardLoaded);
  form.PBStart->click();
  t.R.InstrAddr = 120;
  form.PBStop->click();
  EXPECT_EQ(Status(), QStringLiteral("Operator Halt at 00120"));
  EXPECT_EQ(t.R.State, CpuState::OperatorHalt);
  EXPECT_TRUE(form.PBStart->isEnabled());
  EXPECT_FALSE(form.PBStop->isEnabled());
}

TEST_F(MainForm, ALetterInAStopAddressIsAConversionError) {
  form.EBAdSt->setText(QStringLiteral("0012"));
  Type(form.EBAdSt, '5');
  EXPECT_EQ(t.R.AddressStop, 125);
  form.EBAdSt->setText(QStringLiteral("0012"));
  TBoxCloser box;
  Type(form.EBAdSt, 'A');
  EXPECT_EQ(box.Count(), 1);
  EXPECT_TRUE(box.Text().contains(QStringLiteral("0012A")));
  EXPECT_EQ(t.R.AddressStop, 125);  // keeps its previous value
}

TEST_F(MainForm, OneCharacterStopFieldsTakeUpperCase) {
  Type(form.EBOCSt, 'o');
  EXPECT_EQ(form.EBOCSt->text(), QStringLiteral("O"));
  EXPECT_EQ(t.R.OpcodeStop, 38);  // O, not the lozenge
  Type(form.EBWVSt, 'b');
  EXPECT_EQ(form.EBWVSt->text(), QStringLiteral("B"));
  EXPECT_EQ(t.Core.WriteStopValue, CharToBcd('B'));
}

TEST_F(MainForm, ModeSwitchesAndTurboGoToTheMachine) {
  form.RBSTEP->click();
  EXPECT_TRUE(t.M.TraceFlags.TraceInstructions);
  form.CBSR[0]->click();
  EXPECT_TRUE(t.R.SenseSwitch(0));
  form.CBTurbo->click();
  EXPECT_TRUE(t.R.TurboMode);
  // The script's switch command goes through the same box.
  TMessage m;
  m.Id = EmulatorMessage::PanelCommand;
  m.WParam = PCSwitchOn;
  m.LParam = 3;
  t.Messenger.Send(TReceiver::MainWindow, m);
  EXPECT_TRUE(form.CBSR[2]->isChecked());
  EXPECT_TRUE(t.R.SenseSwitch(2));
  m.WParam = PCTurboOff;
  t.Messenger.Send(TReceiver::MainWindow, m);
  EXPECT_FALSE(form.CBTurbo->isChecked());
}

TEST_F(MainForm, WindowLabelsAndScriptCommandsNumberWindowsDifferently) {
  QWidget trace;
  TCoreForm core(t.Core);
  form.SetWindow(WTTrace, &trace);
  form.SetCoreForm(&core);
  EXPECT_FALSE(form.LAW[WTPrinter]->isEnabled());  // no printer window here
  form.LAW[WTTrace]->clicked();
  EXPECT_TRUE(trace.isVisible());
  EXPECT_FALSE(core.isVisible());
  form.LAW[WTTrace]->clicked();
  EXPECT_FALSE(trace.isVisible());
  TMessage m;
  m.Id = EmulatorMessage::PanelCommand;
  m.WParam = PCShowWindow;
  m.LParam = PWCoreDisplay;
  t.Messenger.Send(TReceiver::MainWindow, m);
  EXPECT_TRUE(core.isVisible());
  EXPECT_FALSE(trace.isVisible());
  m.LParam = PWTrace;
  t.Messenger.Send(TReceiver::MainWindow, m);
  EXPECT_TRUE(trace.isVisible());
}

TEST_F(MainForm, FirstActivationRunsOnceAndResets) {
  EXPECT_FALSE(form.Activated());
  t.Core.SetCoreSize(1400);
  form.FormActivate();
  t.Messenger.DrainPosts();
  EXPECT_TRUE(form.Activated());
  EXPECT_EQ(t.Core.Size(), 8000);
  EXPECT_EQ(Status(), QStringLiteral("System Reset"));
  Update(CpuState::CardLoaded);
  form.FormActivate();  // once only
  EXPECT_EQ(Status(), QStringLiteral("Card Loaded"));
}

}  // namespace
}  // namespace kestrel::test
