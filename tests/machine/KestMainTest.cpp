// The front panel's model: status lines and enabled states, run control, stop fields, switches,
// panel commands, and the program's start-up.
#include "machine/KestMain.h"

#include <gtest/gtest.h>

#include "support/ScriptFixture.h"

namespace kestrel::test {
namespace {

class TViewStub : public IConsoleView {
 public:
  void ShowError(const std::string& message) override { Errors.push_back(message); }
  void SetWindowVisible(TPanelWindow window, bool visible) override {
    Windows.push_back(std::to_string(window) + (visible ? "+" : "-"));
  }
  std::vector<std::string> Errors;
  std::vector<std::string> Windows;
};

class Console : public ::testing::Test {
 protected:
  Console() : f(true) { c.SetView(&view); }
  ~Console() override { c.SetView(nullptr); }
  void Stopped() {
    TMessage m;
    m.Id = EmulatorMessage::CpuStopped;
    f.Messenger.Post(TReceiver::MainWindow, m);
    f.Drain();
  }
  void Command(uint16_t code, uintptr_t argument = 0) {
    TMessage m;
    m.Id = EmulatorMessage::PanelCommand;
    m.WParam = code;
    m.LParam = argument;
    f.Messenger.Send(TReceiver::MainWindow, m);
    f.Drain();
  }
  TScriptFixture f;
  TConsole& c = f.M.Console;
  TRegisters& r = f.M.Registers;
  TViewStub view;
};

TEST_F(Console, FirstActivationResetsAndShowsSystemReset) {
  f.M.Core.SetCoreSize(1400);
  f.M.Config.Open((f.Dir.Path() / "K.INI").string());
  EXPECT_EQ(c.FirstActivation({}), TScriptStart::NoScript);
  EXPECT_EQ(f.M.Core.Size(), 8000);
  EXPECT_TRUE(f.Mapping.UseCmcFile);
  EXPECT_EQ(c.StatusText(), "System Reset");
  EXPECT_FALSE(c.StartEnabled());
  EXPECT_FALSE(c.StopEnabled());
  EXPECT_TRUE(c.ResetEnabled());
  EXPECT_TRUE(c.PwrOffEnabled());
  EXPECT_EQ(c.Mode(), TRunMode::Run);
  // The devices were reset, in this order.
  ASSERT_EQ(f.Reader.Got.size(), 1u);
  EXPECT_EQ(f.Reader.Got[0].Operation, RdrReset);
  EXPECT_EQ(f.Printer.Got[0].Operation, PrnReset);
  EXPECT_EQ(f.Tapes.Got[0].Operation, Operation(TTapeOp::TapeResetAll));
  EXPECT_EQ(f.Tapes.Got[0].Selector, 0);
}

TEST_F(Console, FirstActivationRunsTheConfiguredScriptWhenItExists) {
  f.Dir.Write("K.INI", "[Operation]\nStartupScript=GO.OCL\n");
  f.M.Config.Open((f.Dir.Path() / "K.INI").string());
  EXPECT_EQ(c.FirstActivation({}), TScriptStart::NoScript);
  f.Dir.Write("GO.OCL", "TURBO ON");
  TScriptFixture g(true);  // a fresh machine: the first activation runs once only
  g.Dir.Write("GO.OCL", "TURBO ON");
  g.Dir.Write("K.INI", "[Operation]\nStartupScript=GO.OCL\n");
  g.M.Config.Open((g.Dir.Path() / "K.INI").string());
  EXPECT_EQ(g.M.Console.FirstActivation({}), TScriptStart::Started);
  g.Wake();
  EXPECT_TRUE(g.M.Registers.TurboMode);
}

// [Tapes] mounts its reels at start-up, each on its drive, and sets every drive's parity check; a
// reel the command line names for a drive wins; a reel that cannot be mounted is reported and
// leaves its drive empty, the others are mounted.
TEST_F(Console, FirstActivationMountsTheConfiguredTapes) {
  const std::string reel = (f.Dir.Path() / "A.MT").string();
  const std::string none = (f.Dir.Path() / "NONE.TAP").string();
  f.Dir.Write("A.MT", std::string("\x01\0\0\0\x01\0\x01\0\0\0", 10));
  f.Dir.Write("K.INI", "[Tapes]\nTape2=" + reel + "\nTape3=" + none + "\nTape4 = " + none +
                           "\nCheckParity=1\n");
  f.M.Config.Open((f.Dir.Path() / "K.INI").string());
  TBootOptions boot;
  boot.Mounts = {{3, reel}};
  c.SetBootOptions(boot);
  EXPECT_EQ(c.FirstActivation({}), TScriptStart::NoScript);
  for (int unit : {2, 3})
    EXPECT_EQ(f.M.TapeUnits.Drive(unit).Image().Size(), 10u) << unit;
  EXPECT_TRUE(f.M.TapeUnits.Drive(4).Image().Empty());
  EXPECT_EQ(view.Errors, std::vector<std::string>{"Tape file not found: " + none});
  for (int unit = 1; unit <= 6; ++unit)
    EXPECT_TRUE(f.M.TapeUnits.Drive(unit).CheckParity()) << unit;
}

TEST_F(Console, FirstActivationArgumentWinsAndCardFilesGoToTheReader) {
  f.Dir.Write("JOB.CRD", "NOT A SCRIPT\n");
  f.M.CharMap.UseCmcFile = false;
  f.Mapping.UseCmcFile = false;
  // The hopper is filled after the reset of the first activation, so the deck stays there.
  EXPECT_EQ(c.FirstActivation({"JOB.CRD"}), TScriptStart::Started);
  EXPECT_EQ(f.M.ReaderPunch.CardFileName(), "JOB.CRD");
  EXPECT_EQ(f.M.ReaderPunch.Pile(PLHopper).size(), 1u);
  EXPECT_EQ(c.CurrentScriptName(), "JOB.CRD");
  EXPECT_EQ(c.WindowCaption(), "IBM 1401 Emulator - JOB.CRD");
  // Run as a script, it fails like any bad script.
  f.Wake();
  EXPECT_EQ(f.ErrorBoxes.size(), 1u);
}

TEST_F(Console, StatusByState) {
  r.State = CpuState::CardLoaded;
  c.UpdateStatus();
  EXPECT_EQ(c.StatusText(), "Card Loaded");
  EXPECT_TRUE(c.StartEnabled());
  EXPECT_EQ(c.Focus(), TPanelFocus::Start);
  r.State = CpuState::TapeRecordLoaded;
  c.UpdateStatus();
  EXPECT_EQ(c.StatusText(), "Tape record Loaded");

  c.PBStartClick();
  EXPECT_EQ(r.State, CpuState::Running);
  EXPECT_EQ(c.StatusText(), "Running");
  EXPECT_FALSE(c.StartEnabled());
  EXPECT_TRUE(c.StopEnabled());
  EXPECT_FALSE(c.ResetEnabled());
  EXPECT_FALSE(c.PwrOffEnabled());
  EXPECT_FALSE(c.StopFieldsEnabled());
  EXPECT_FALSE(c.ScriptEnabled());
  EXPECT_EQ(c.Focus(), TPanelFocus::Stop);

  r.State = CpuState::ProgramHalt;
  r.StopMessage.Set("Program Halt at");
  r.InstrAddr = 333;
  Stopped();
  EXPECT_EQ(c.StatusText(), "Program Halt at 00333");
  EXPECT_FALSE(c.StatusIsMachineCheck());
  EXPECT_TRUE(c.StartEnabled());
  EXPECT_TRUE(c.StopFieldsEnabled());
  EXPECT_FALSE(c.ResumeEnabled());
  EXPECT_TRUE(c.ProcessorIdle());
}

TEST_F(Console, MachineCheckIsRedAndLeavesStartAsItWas) {
  c.PBStartClick();
  r.State = CpuState::MachineCheck;
  r.StopMessage.Set("Missing WordMark at 1");
  Stopped();
  EXPECT_EQ(c.StatusText(), "Missing WordMark at 1");
  EXPECT_TRUE(c.StatusIsMachineCheck());
  EXPECT_FALSE(c.StartEnabled());
  EXPECT_FALSE(c.StopEnabled());
  EXPECT_TRUE(c.ResetEnabled());
  EXPECT_EQ(c.Focus(), TPanelFocus::Reset);
  // The next status is no longer red.
  r.State = CpuState::CardLoaded;
  c.UpdateStatus();
  EXPECT_FALSE(c.StatusIsMachineCheck());
}

TEST_F(Console, AddressStopSelectsStepModeAndResume) {
  f.M.Core.ClearCore();
  // 1: "." halt, with the address stop on it.
  f.M.Core.StoreCharWM(1, true, CharToBcd('.'));
  f.M.Core.StoreCharWM(2, true, 0);
  c.SetStopField(SFAddress, "00001");
  EXPECT_EQ(r.AddressStop, 1);
  r.State = CpuState::CardLoaded;
  c.PBStartClick();
  f.M.Cpu.RunWakeup();
  f.Drain();
  EXPECT_EQ(c.StatusText(), "Address Stop at 00001");
  EXPECT_EQ(c.Mode(), TRunMode::Step);
  EXPECT_TRUE(c.ResumeEnabled());
  EXPECT_TRUE(f.M.TraceFlags.TraceInstructions);
  // Resume executes the pending halt.
  c.PBResumeClick();
  EXPECT_EQ(c.Mode(), TRunMode::Run);
  f.M.Cpu.RunWakeup();
  f.Drain();
  EXPECT_EQ(r.State, CpuState::ProgramHalt);
  EXPECT_TRUE(c.ResumeEnabled());  // once enabled, it stays so
}

// Only the state a run ends in selects Step mode: an instruction whose fetch meets a read stop
// and whose execution then fails passes through a stop condition, and a status update that saw
// it must not decide what the next Start does.
TEST_F(Console, OnlyTheStateARunEndsInSelectsStepMode) {
  ASSERT_EQ(c.Mode(), TRunMode::Run);
  r.State = CpuState::StopCondition;
  Command(PCStatusUpdate);
  r.State = CpuState::MachineCheck;
  Stopped();
  EXPECT_EQ(c.Mode(), TRunMode::Run);
  r.State = CpuState::StopCondition;
  Stopped();
  EXPECT_EQ(c.Mode(), TRunMode::Step);
}

TEST_F(Console, StopFieldConversionErrorKeepsLaterSettings) {
  c.SetStopField(SFCoreWrite, "00300");
  EXPECT_EQ(f.M.Core.WriteStopAddress, 300);
  c.SetStopField(SFAddress, "12A");
  ASSERT_EQ(view.Errors.size(), 1u);
  EXPECT_EQ(view.Errors[0], "'12A' is not a valid integer value");
  c.SetStopField(SFCoreWrite, "00400");  // still refused: the address field comes first
  EXPECT_EQ(f.M.Core.WriteStopAddress, 300);
  c.SetStopField(SFAddress, "");
  EXPECT_EQ(view.Errors.back(), "'' is not a valid integer value");
  c.SetStopField(SFAddress, "00007");
  EXPECT_EQ(r.AddressStop, 7);
  EXPECT_EQ(f.M.Core.WriteStopAddress, 400);
}

TEST_F(Console, OneCharacterFieldsAreUpperCase) {
  c.SetStopField(SFOpcode, "o");
  EXPECT_EQ(c.StopField(SFOpcode), "O");
  EXPECT_EQ(r.OpcodeStop, 38);
  c.SetStopField(SFWriteValue, "a");
  EXPECT_EQ(f.M.Core.WriteStopValue, CharToBcd('A'));
  c.SetStopField(SFOpcode, "");
  EXPECT_EQ(r.OpcodeStop, 0);
}

TEST_F(Console, StepModeSwitchesTracingOn) {
  f.M.TraceFlags.TraceInstructions = false;
  c.ModeClick(TRunMode::Step);
  EXPECT_TRUE(f.M.TraceFlags.TraceInstructions);
  r.State = CpuState::CardLoaded;
  c.PBStartClick();
  EXPECT_EQ(r.State, CpuState::SingleStep);
}

TEST_F(Console, PanelCommandsForSwitchesTurboCoreAndWindows) {
  Command(PCSwitchOn, 3);
  EXPECT_TRUE(c.SenseSwitchBox(3));
  EXPECT_TRUE(r.SenseSwitch(2));
  Command(PCSwitchOff, 3);
  EXPECT_FALSE(r.SenseSwitch(2));
  Command(PCTurboOn);
  EXPECT_TRUE(c.TurboBox());
  Command(PCTurboOff);
  EXPECT_FALSE(r.TurboMode);
  Command(PCShowWindow, PWCoreDisplay);
  Command(PCHideWindow, PWTrace);
  Command(PCShowWindow, 9);
  EXPECT_EQ(view.Windows, (std::vector<std::string>{"1+", "5-"}));
  f.M.Core.StoreCharWM(10, true, 5);
  Command(PCCoreSize, f.M.Core.Size());
  EXPECT_EQ(f.M.Core.Word(10) & 63, 5);
  Command(PCCoreSize, 4000);
  EXPECT_EQ(f.M.Core.Size(), 4000);
  EXPECT_EQ(f.M.Core.Word(10), CoreChar::Cleared);
  Command(PCCoreSize, 0);
  EXPECT_EQ(f.M.Core.Size(), 4000);
  Command(99);  // unknown codes do nothing
}

TEST_F(Console, ResetButtonClearsScriptsAndTraceThenResets) {
  f.Start("DISPLAY 'waiting'");
  f.M.TraceLog.AddLine("Ix");
  r.State = CpuState::ProgramHalt;
  c.PBResetClick();
  EXPECT_FALSE(f.M.Script.HasCurrentScript());
  f.Drain();
  EXPECT_EQ(r.State, CpuState::ReaderEmpty);
  EXPECT_EQ(c.StatusText(), "System Reset");
  for (const std::string& line : f.Trace())
    EXPECT_NE(line, "Ix");
}

TEST_F(Console, ScriptButtonFollowsTheScriptState) {
  EXPECT_TRUE(c.ScriptEnabled());  // enabled in the window's definition
  c.UpdateStatus();
  EXPECT_FALSE(c.ScriptEnabled());  // no script yet
  f.Dir.Write("W.OCL", "DISPLAY 'x'");
  c.StartScriptFile("W.OCL");
  f.Wake();
  EXPECT_TRUE(c.ScriptEnabled());  // the script waits: the panel was refreshed by the thread
  c.PBScriptClick();               // runs it again from the start
  EXPECT_EQ(c.CurrentScriptName(), "W.OCL");
}

TEST_F(Console, StartFromReaderEmptyByScript) {
  f.M.Core.StoreCharWM(1, true, CharToBcd('.'));
  f.M.Core.StoreCharWM(2, true, 0);
  r.State = CpuState::ReaderEmpty;
  Command(PCStart);
  EXPECT_EQ(r.State, CpuState::Running);
  f.M.Cpu.RunWakeup();
  f.Drain();
  EXPECT_EQ(r.State, CpuState::ProgramHalt);
}

TEST_F(Console, ShowRegistersFillsTheLabels) {
  r.IAR = 12;
  r.AAR = 345;
  r.BAR = 15999;
  r.ILen = 7;
  r.Opcode = CharToBcd('M');
  TMessage m;
  m.Id = EmulatorMessage::ShowRegisters;
  f.Messenger.Post(TReceiver::MainWindow, m);
  f.Drain();
  EXPECT_EQ(c.LAIAR(), "00012");
  EXPECT_EQ(c.LAAAR(), "00345");
  EXPECT_EQ(c.LABAR(), "15999");
  EXPECT_EQ(c.LAILen(), "7");
  EXPECT_EQ(c.LAOP(), "M");
}

// File > Assemble and Run: a good source is reset, loaded and started from its own deck; a bad
// one reports every error at once, writes no deck and leaves the reader as it was.
TEST_F(Console, AssembleAndRunBootsTheDeckOrReportsEveryError) {
  f.M.Core.SetCoreSize(4000);
  f.Dir.Write("BAD.S",
              "               ORG  500\n"
              "     START     XYZ  1\n"
              "               B    NOWHERE\n"
              "               END  START\n");
  EXPECT_EQ(c.AssembleAndRun("BAD.S"), TScriptStart::Failed);
  ASSERT_EQ(view.Errors.size(), 1u);
  EXPECT_NE(view.Errors[0].find("LINE 2 COLUMN 16"), std::string::npos) << view.Errors[0];
  EXPECT_NE(view.Errors[0].find("\rLINE 3 COLUMN"), std::string::npos) << view.Errors[0];
  EXPECT_FALSE(f.Dir.Exists("BAD.cd"));
  EXPECT_TRUE(f.M.ReaderPunch.CardFileName().empty());

  f.Dir.Write("HI.S",
              "               ORG  500\n"
              "     START     MCW  @HI@,202\n"
              "               W\n"
              "               H    START\n"
              "               END  START\n");
  EXPECT_EQ(c.AssembleAndRun("HI.S"), TScriptStart::Started);
  EXPECT_EQ(view.Errors.size(), 1u);
  EXPECT_TRUE(f.Dir.Exists("HI.cd"));
  EXPECT_TRUE(f.Dir.Exists("HI.lst"));
  EXPECT_EQ(f.M.ReaderPunch.CardFileName(), "HI.cd");
  EXPECT_EQ(f.M.CharMap.Convention(), &CharConventions[0]);
  EXPECT_EQ(f.M.Debugger.Symbols().Find("START"), std::optional<uint16_t>(500));
  // The first card was read into 1-80 by Load and the rest wait in the hopper.
  EXPECT_FALSE(f.M.ReaderPunch.Pile(PLHopper).empty());
  EXPECT_EQ(f.M.Core.Size(), 4000);
}

}  // namespace
}  // namespace kestrel::test
