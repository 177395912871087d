// The script thread: the waits after START and DISPLAY, the EXEC chain, Cancel, and the
// discarding of scripts; with the front panel's model as the main window.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/ScriptFixture.h"

namespace kestrel::test {
namespace {

using Strings = std::vector<std::string>;

// Places "halt" at 1 (a one-character instruction) with the word mark that ends it.
void PlaceHalt(TCoreStorage& core, uint16_t at = 1) {
  core.StoreCharWM(at, true, CharToBcd('.'));
  core.StoreCharWM(static_cast<uint16_t>(at + 1), true, 0);
}

// "B 001": a branch to itself.
void PlaceLoop(TCoreStorage& core) {
  core.StoreCharWM(1, true, CharToBcd('B'));
  core.StoreCharWM(2, false, CharToBcd('0'));
  core.StoreCharWM(3, false, CharToBcd('0'));
  core.StoreCharWM(4, false, CharToBcd('1'));
  core.StoreCharWM(5, true, 0);
}

class OclScriptThread : public ::testing::Test {
 protected:
  OclScriptThread() : f(true) {}
  // The processor's run for the Start the panel pressed, then its stop notice.
  void RunProcessor() {
    f.M.Cpu.RunWakeup();
    f.Drain();
  }
  TScriptFixture f;
};

TEST_F(OclScriptThread, StartWaitsForTheHaltThenGoesOn) {
  PlaceHalt(f.M.Core);
  f.Start("START\nIARCHECK 2\nRESET");
  EXPECT_EQ(f.M.Script.ScriptState(), static_cast<uint8_t>(TRunState::Waiting));
  // The posted Start has been handled by the panel: the processor is to run.
  EXPECT_EQ(f.M.Registers.State, CpuState::Running);
  EXPECT_FALSE(f.M.Console.ProcessorIdle());
  EXPECT_FALSE(f.Traced("SIARCheck"));
  RunProcessor();
  EXPECT_EQ(f.M.Console.StatusText(), "Program Halt at 00001");
  f.Wake();
  EXPECT_TRUE(f.Traced("SIARCheck"));
  EXPECT_TRUE(f.Traced("SScript Reset"));
  EXPECT_FALSE(f.M.Script.HasCurrentScript());
  EXPECT_EQ(f.M.Script.FailedChecks, 0);
}

TEST_F(OclScriptThread, ScriptEndingWithStartEndsAfterTheHalt) {
  PlaceHalt(f.M.Core);
  f.Start("START");
  EXPECT_TRUE(f.M.Script.HasCurrentScript());
  RunProcessor();
  f.Wake();
  EXPECT_FALSE(f.M.Script.HasCurrentScript());
}

TEST_F(OclScriptThread, OperatorStopDoesNotWakeTheScript) {
  f.Start("START\nRESET");
  f.M.Console.PBStopClick();
  // The processor's loop noticed the stop and reported it.
  TMessage stopped;
  stopped.Id = EmulatorMessage::CpuStopped;
  f.Messenger.Post(TReceiver::MainWindow, stopped);
  f.Drain();
  EXPECT_EQ(f.M.Console.StatusText(), "Operator Halt at 00000");
  EXPECT_EQ(f.M.Script.ScriptState(), static_cast<uint8_t>(TRunState::Waiting));
  f.Wake();  // even a wake-up without a resume leaves it waiting
  EXPECT_FALSE(f.Traced("SScript Reset"));
  // Started again, the halt ends the wait.
  PlaceHalt(f.M.Core);
  f.M.Registers.IAR = 1;
  f.M.Console.PBStartClick();
  RunProcessor();
  f.Wake();
  EXPECT_TRUE(f.Traced("SScript Reset"));
}

TEST_F(OclScriptThread, MachineCheckEndsTheWait) {
  f.M.Core.StoreCharWM(1, false, 5);  // no word mark on the op code
  f.Start("START\nRESET");
  RunProcessor();
  EXPECT_TRUE(f.M.Console.StatusIsMachineCheck());
  f.Wake();
  EXPECT_TRUE(f.Traced("SScript Reset"));
}

TEST_F(OclScriptThread, DisplayContinueAndOptions) {
  f.Start(
      "DISPLAY 'Continue?'\nIF OPTNUM = 0 DISPLAY 'Pick:' + CRLF + OPTION('One') + CRLF + "
      "OPTION('Two')\nIF OPTNUM = 2 RESET");
  EXPECT_TRUE(f.M.ScriptDisplay.ContinueShown());
  f.M.ScriptDisplay.Continue();
  EXPECT_FALSE(f.M.ScriptDisplay.Visible());
  f.Wake();
  EXPECT_FALSE(f.M.ScriptDisplay.ContinueShown());
  EXPECT_EQ(f.M.ScriptDisplay.OptNum(), 0);
  f.M.ScriptDisplay.ChooseOption(2);
  f.Wake();
  EXPECT_EQ(f.M.ScriptDisplay.OptNum(), 2);
  EXPECT_TRUE(f.Traced("SScript Reset"));
}

TEST_F(OclScriptThread, ErrorInCalledScriptEndsOnlyThatScript) {
  f.Dir.Write("SUB.OCL", "TURBO ON\nBOGUS\nTURBO OFF");
  f.Start("EXEC SUB\nRESET");
  EXPECT_EQ(f.ErrorBoxes, Strings{"Unknown script command: \"BOGUS\""});
  EXPECT_EQ(f.ErrorLines(), Strings{"Error: Unknown script command: \"BOGUS\""});
  EXPECT_TRUE(f.M.Registers.TurboMode);
  EXPECT_TRUE(f.Traced("SScript Reset"));
  EXPECT_FALSE(f.M.Script.HasCurrentScript());
  EXPECT_EQ(f.M.Script.ScriptErrors, 1);
}

TEST_F(OclScriptThread, AScriptThatCallsItselfStopsAtTheDepthLimit) {
  // Each level calls the next; the deepest call fails, and every caller goes on after its EXEC.
  f.Start("EXEC MAIN\nSWITCH A ON");
  const std::string error = "Too many nested EXEC calls (at most 1000 scripts): MAIN";
  EXPECT_EQ(f.ErrorBoxes, Strings{error});
  EXPECT_EQ(f.ErrorLines(), Strings{"Error: " + error});
  std::vector<std::string> trace = f.Trace();
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "SExec MAIN"), 999);
  EXPECT_TRUE(f.M.Registers.SenseSwitch(0));
  EXPECT_FALSE(f.M.Script.HasCurrentScript());
  EXPECT_EQ(f.M.Script.ScriptErrors, 1);
}

TEST_F(OclScriptThread, CancelInCalledScriptLeavesTheCallerSuspended) {
  f.Dir.Write("SUB.OCL", "DISPLAY 'sub'\nTURBO ON");
  f.Start("EXEC SUB\nRESET");
  f.M.ScriptDisplay.Cancel();
  f.Drain();
  EXPECT_FALSE(f.M.Registers.TurboMode);
  EXPECT_EQ(f.M.Script.CurrentFileName(), "MAIN.OCL");
  EXPECT_FALSE(f.Traced("SScript Reset"));
  // Starting a script again discards the suspended caller.
  f.Dir.Write("NEXT.OCL", "SWITCH B ON");
  f.M.Console.StartScriptFile("NEXT.OCL");
  f.Wake();
  EXPECT_TRUE(f.M.Registers.SenseSwitch(1));
  EXPECT_FALSE(f.Traced("SScript Reset"));
  EXPECT_FALSE(f.M.Script.HasCurrentScript());
}

// The trace window, with the operator pressing Reset as one given line arrives.
class TResetOnLine : public IMessageReceiver {
 public:
  TResetOnLine(TMachine& m, std::string line) : m_(m), line_(std::move(line)) {}
  void HandleMessage(const TMessage& message) override {
    m_.TraceLog.HandleMessage(message);
    if (message.Ref != nullptr && *static_cast<const std::string*>(message.Ref) == line_) {
      m_.Console.PBResetClick();
    }
  }

 private:
  TMachine& m_;
  std::string line_;
};

TEST_F(OclScriptThread, ResetWhileAnExecLoadsItsScriptStartsNothing) {
  f.Dir.Write("SUB.OCL", "TURBO ON");
  TResetOnLine reset(f.M, "SScript Load SUB");
  f.Messenger.Attach(TReceiver::TraceWindow, &reset);
  f.Start("EXEC SUB\nSWITCH A ON");
  f.Messenger.Attach(TReceiver::TraceWindow, &f.M.TraceLog);
  EXPECT_FALSE(f.M.Registers.TurboMode);  // the called script never ran
  EXPECT_FALSE(f.M.Registers.SenseSwitch(0));
  EXPECT_FALSE(f.M.Script.HasCurrentScript());
  EXPECT_EQ(f.M.Console.StatusText(), "System Reset");
}

TEST_F(OclScriptThread, NewStartDiscardsAWaitingChain) {
  f.Dir.Write("SUB.OCL", "DISPLAY 'waiting'");
  f.Start("EXEC SUB\nRESET");
  EXPECT_TRUE(f.M.ScriptDisplay.Visible());
  f.Dir.Write("OTHER.OCL", "TURBO ON");
  f.M.Console.StartScriptFile("OTHER.OCL");
  f.Drain();  // each disposal hides the message window
  EXPECT_FALSE(f.M.ScriptDisplay.Visible());
  f.Wake();
  EXPECT_TRUE(f.M.Registers.TurboMode);
  EXPECT_FALSE(f.Traced("SScript Reset"));
  EXPECT_EQ(f.M.Console.WindowCaption(), "IBM 1401 Emulator - OTHER.OCL");
}

TEST_F(OclScriptThread, ANewScriptDoesNotEndTheWaitOfOneItFindsWaiting) {
  // A wake-up meant to run a new script must not end the START wait of that script.
  f.Dir.Write("J.OCL", "START\nRESET");
  f.M.Console.StartScriptFile("J.OCL");
  f.M.Script.WakeToRun();  // a second, stale wake-up
  f.Wake();
  f.Wake();
  EXPECT_EQ(f.M.Script.ScriptState(), static_cast<uint8_t>(TRunState::Waiting));
  EXPECT_FALSE(f.Traced("SScript Reset"));
}

TEST_F(OclScriptThread, LoadErrorKeepsThePreviousScript) {
  f.Start("DISPLAY 'a'");
  std::array<std::string, 10> params;
  EXPECT_THROW(f.M.Script.ExecScript("NOPE", params), EKestrelError);
  EXPECT_EQ(f.M.Script.CurrentFileName(), "MAIN.OCL");
  EXPECT_EQ(f.M.Console.StartScriptFile("NOPE"), TScriptStart::Failed);
  EXPECT_NE(f.M.Console.LastError().find("NOPE.OCL"), std::string::npos);
  EXPECT_FALSE(f.M.Script.HasCurrentScript());
}

TEST_F(OclScriptThread, SuspendAndResumeAreTraced) {
  f.M.TraceFlags.TraceThreads = true;
  f.Start("DISPLAY 'x'");
  f.M.ScriptDisplay.Continue();
  f.Wake();
  Strings threads;
  for (const std::string& l : f.Trace()) {
    if (l[0] == 'T') threads.push_back(l);
  }
  EXPECT_EQ(threads, (Strings{"TScript Suspend", "TScript Resume", "TScript Suspend"}));
}

// ---- With real threads --------------------------------------------------------------------

class OclThreadRun : public ::testing::Test {
 protected:
  OclThreadRun() {
    messenger.BecomeGuiThread();
    m.Script.SetErrorBox([this](const std::string& e) { errors.push_back(e); });
    m.TraceFlags.TraceScripts = true;
  }
  ~OclThreadRun() override {
    messenger.Shutdown();
    m.Script.EndThread();
    m.Cpu.EndThread();
  }
  bool RunUntilIdle(int seconds = 10) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool idle = false;
    messenger.ProcessUntil([&] {
      idle = !m.Script.HasCurrentScript() && m.Script.Sleeping() && m.Console.ProcessorIdle();
      return idle || std::chrono::steady_clock::now() > until;
    });
    return idle;
  }
  TWorkDir dir;
  TThreadedMessenger messenger;
  TMachine m{messenger};
  std::vector<std::string> errors;
};

// Answers every DISPLAY at once on the GUI thread, usually before the script thread sleeps.
class TContinueAtOnce : public IScriptDisplayView {
 public:
  explicit TContinueAtOnce(TScriptDisplay& d) : display_(d) {}
  void DisplayShown() override {
    ++Shown;
    display_.Continue();
  }
  void DisplayHidden() override {}
  int Shown = 0;

 private:
  TScriptDisplay& display_;
};

TEST_F(OclThreadRun, EarlyWakeUpIsNotLost) {
  TContinueAtOnce view(m.ScriptDisplay);
  m.ScriptDisplay.SetView(&view);
  std::string script;
  for (int i = 0; i < 100; ++i)
    script += "DISPLAY 'x'\n";
  script += "TURBO ON\n";
  dir.Write("MANY.OCL", script);
  m.Cpu.StartThread();
  m.Script.StartThread();
  m.Console.StartScriptFile("MANY.OCL");
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(view.Shown, 100);
  EXPECT_TRUE(m.Registers.TurboMode);
  m.ScriptDisplay.SetView(nullptr);
}

TEST_F(OclThreadRun, StartWakesOnHaltNotOnOperatorStop) {
  PlaceLoop(m.Core);
  dir.Write("J.OCL", "START\nTURBO ON");
  m.Cpu.StartThread();
  m.Script.StartThread();
  m.Console.StartScriptFile("J.OCL");
  // Stopped once the loop really runs (it has fetched the branch at 1).
  messenger.ProcessUntil(
      [&] { return m.Registers.State == CpuState::Running && m.Registers.InstrAddr == 1; });
  m.Console.PBStopClick();
  messenger.ProcessUntil([&] { return m.Console.ProcessorIdle(); });
  EXPECT_EQ(m.Registers.State, CpuState::OperatorHalt) << m.Registers.StopMessage.Get();
  EXPECT_EQ(m.Script.ScriptState(), static_cast<uint8_t>(TRunState::Waiting));
  // Put a halt at 1 and start there again.
  PlaceHalt(m.Core);
  m.Registers.IAR = 1;
  m.Console.ModeClick(TRunMode::Run);
  m.Console.PBStartClick();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(m.Registers.State, CpuState::ProgramHalt) << m.Registers.StopMessage.Get();
  EXPECT_TRUE(m.Registers.TurboMode);
}

TEST_F(OclThreadRun, ResetDuringAnEndlessScriptLoop) {
  dir.Write("LOOP.OCL", ":A TURBO ON GOTO A");
  m.Script.StartThread();
  m.Console.StartScriptFile("LOOP.OCL");
  messenger.ProcessUntil([&] { return m.Registers.TurboMode.Get(); });
  m.Console.PBResetClick();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(m.Registers.State, CpuState::ReaderEmpty);
  EXPECT_EQ(m.Console.StatusText(), "System Reset");
}

}  // namespace
}  // namespace kestrel::test
