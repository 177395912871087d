#include "core/KestProc.h"

#include <gtest/gtest.h>

#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

using Lines = std::vector<std::string>;

// ---- Fetch ----

TEST(Fetch, LengthsAndChainedRegisters) {
  TTestMachine t;
  // A 4-character M keeps BAR; a 4-character A... (here MZ) sets BAR to its A-address.
  t.Instructions(500, {"M" + Addr(300), "Y" + Addr(310)});
  t.R.IAR = 500;
  t.R.BAR = 777;
  t.M.Cpu.FetchInstruction();
  EXPECT_EQ(t.R.ILen, 4);
  EXPECT_EQ(t.R.AAR, 300);
  EXPECT_EQ(t.R.BAR, 777);
  EXPECT_EQ(t.R.IAR, 504);
  EXPECT_EQ(t.R.DMod, CharToBcd('3'));
  t.M.Cpu.FetchInstruction();
  EXPECT_EQ(t.R.AAR, 310);
  EXPECT_EQ(t.R.BAR, 310);
  EXPECT_EQ(t.R.InstrAddr, 504);
}

TEST(Fetch, OneAndTwoCharacterInstructionsKeepRegisters) {
  TTestMachine t;
  t.Instructions(500, {"N", "KS"});
  t.R.IAR = 500;
  t.R.AAR = 11;
  t.R.BAR = 22;
  t.R.DMod = 5;
  t.M.Cpu.FetchInstruction();
  EXPECT_EQ(t.R.ILen, 1);
  EXPECT_EQ(t.R.DMod, 5);
  t.M.Cpu.FetchInstruction();
  EXPECT_EQ(t.R.ILen, 2);
  EXPECT_EQ(t.R.DMod, CharToBcd('S'));
  EXPECT_EQ(t.R.AAR, 11);
  EXPECT_EQ(t.R.BAR, 22);
}

TEST(Fetch, SevenAndEightCharacters) {
  TTestMachine t;
  // Set word mark and clear storage end at 7 even without a word mark after them.
  t.Instructions(500, {"," + Addr(100) + Addr(200)});
  t.Core.StoreCharWM(507, false, CharToBcd('M'));
  t.R.IAR = 500;
  t.M.Cpu.FetchInstruction();
  EXPECT_EQ(t.R.ILen, 7);
  EXPECT_EQ(t.R.IAR, 507);
  EXPECT_EQ(t.R.AAR, 100);
  EXPECT_EQ(t.R.BAR, 200);

  // Any other op code reads on to the next word mark; the last character is the d-modifier.
  t.Instructions(600, {"M" + Addr(100) + Addr(200) + "XYZ"});
  t.R.IAR = 600;
  t.M.Cpu.FetchInstruction();
  EXPECT_EQ(t.R.ILen, 8);
  EXPECT_EQ(t.R.DMod, CharToBcd('Z'));
  EXPECT_EQ(t.R.IAR, 610);
}

TEST(Fetch, BranchEndsBeforeABlank) {
  TTestMachine t;
  t.Instructions(500, {"B" + Addr(700)});
  t.Core.StoreCharWM(504, false, 0);  // a blank without a word mark
  t.Core.StoreCharWM(505, false, CharToBcd('X'));
  t.R.IAR = 500;
  t.M.Cpu.FetchInstruction();
  EXPECT_EQ(t.R.ILen, 4);
  EXPECT_EQ(t.R.IAR, 504);
}

TEST(Fetch, WordMarkRules) {
  TTestMachine t;
  t.Field(502, "M12", false);  // op code without a word mark
  t.Run(500);
  EXPECT_EQ(t.State(), CpuState::MachineCheck);
  EXPECT_EQ(t.StopMessage(), "Missing WordMark at 500");

  TTestMachine u;
  u.Instructions(500, {"M12", "3"});  // word mark on the fourth character
  u.Run(500);
  EXPECT_EQ(u.StopMessage(), "Unexpected WordMark at 503");
  EXPECT_EQ(u.R.IAR, 504);  // registers keep the values they had at the check

  TTestMachine v;
  v.Instructions(500, {"M" + Addr(100) + "12", "3"});  // ... and on the seventh
  v.Run(500);
  EXPECT_EQ(v.StopMessage(), "Unexpected WordMark at 506");
}

TEST(Fetch, IndexRegistersAndBadAddressCharacters) {
  TTestMachine t;
  t.Core.StoreAddress(89, 1000);
  t.Core.StoreAddress(94, 20);
  t.Core.StoreAddress(99, 3);
  // Tens zones A, B and AB select the three index registers.
  std::string a = Addr(100);
  a[1] = BcdToChar(static_cast<uint8_t>(CharToBcd(a[1]) + 16));
  std::string b = Addr(200);
  b[1] = BcdToChar(static_cast<uint8_t>(CharToBcd(b[1]) + 32));
  t.Instructions(500, {"M" + a + b});
  t.R.IAR = 500;
  t.M.Cpu.FetchInstruction();
  EXPECT_EQ(t.R.AAR, 1100);
  EXPECT_EQ(t.R.BAR, 220);

  TTestMachine u;
  u.Instructions(500, {"M1#0" + Addr(200)});
  u.Run(500);
  EXPECT_EQ(u.StopMessage(), "Bad Address character: $0B used at 500");
}

TEST(Fetch, PercentAddressIsAnIOUnit) {
  TTestMachine t;
  t.Instructions(500, {"M%U1" + Addr(200)});
  t.R.IAR = 500;
  t.M.Cpu.FetchInstruction();
  EXPECT_TRUE(t.R.IOFlag);
  EXPECT_EQ(t.R.IOUnitType, CharToBcd('U'));
  EXPECT_EQ(t.R.IOUnitNum, 1);
  EXPECT_EQ(t.R.AAR, 0);
  EXPECT_EQ(t.R.BAR, 200);
}

TEST(Fetch, RunningOffTheEndOfCore) {
  TTestMachine t;
  t.Core.StoreCharWM(7998, true, CharToBcd('.'));
  t.Core.StoreCharWM(7999, false, 0);
  t.Run(7998);
  EXPECT_EQ(t.StopMessage(), "Invalid Address: 8000 used by 7998");
}

// ---- Trace lines and dispatch ----

TEST(Cycle, MoveTracesSixLines) {
  TTestMachine t;
  t.TraceAll();
  t.Field(302, "ABC");
  t.Field(402, "xyz");
  t.Instructions(500, {"M" + Addr(302) + Addr(402), "."});
  t.Run(500);
  Lines trace = t.Trace();
  ASSERT_GE(trace.size(), 6u);
  EXPECT_EQ(trace[0], "I00500 M 7 MCW Move chars from 00302 to 00402");
  EXPECT_EQ(trace[1], "D          => 00302 \"C\" to 00402");
  EXPECT_EQ(trace[2], "D          => 00301 \"B\" to 00401");
  EXPECT_EQ(trace[3], "D          => 00300 \"A\" to 00400");
  EXPECT_EQ(trace[4], "D          Chars moved=3");
  EXPECT_EQ(trace[5], "R          AAReg=00299  BAReg=00399  IAReg=00507");
  EXPECT_EQ(trace[6], "I00507 . 1 H   HALT");
  EXPECT_EQ(t.Text(402, 3), "ABC");
  EXPECT_EQ(t.State(), CpuState::ProgramHalt);
  EXPECT_EQ(t.StopMessage(), "Program Halt at");
}

TEST(Cycle, InvalidOpcodeInBothPhases) {
  TTestMachine t;
  t.Instructions(500, {"X"});
  t.Run(500);
  EXPECT_EQ(t.StopMessage(), "Invalid Opcode: \"X\" ($17) at 500");
  EXPECT_TRUE(t.Trace().empty());

  TTestMachine u;  // with tracing on the trace phase raises it, and the line is flushed
  u.TraceAll();
  u.Instructions(500, {"X"});
  u.Run(500);
  EXPECT_EQ(u.StopMessage(), "Invalid Opcode: \"X\" ($17) at 500");
  EXPECT_EQ(u.Trace(), Lines{"I00500 X 1 "});
}

TEST(Cycle, NoTraceTextWhenTracingIsOff) {
  TTestMachine t;
  t.Field(302, "ABC");
  t.Field(402, "xyz");
  t.Instructions(500, {"M" + Addr(302) + Addr(402), "."});
  t.M.TraceFlags.TraceDetails = true;  // details alone are not enough
  t.M.TraceFlags.TraceRegisters = true;
  t.Run(500);
  EXPECT_TRUE(t.Trace().empty());
  EXPECT_EQ(t.Text(402, 3), "ABC");
}

// ---- Run control ----

TEST(RunControl, StartFromZeroBeginsAtOne) {
  TTestMachine t;
  t.Instructions(1, {"."});
  t.Run();
  EXPECT_EQ(t.State(), CpuState::ProgramHalt);
  EXPECT_EQ(t.R.IAR, 2);
  EXPECT_EQ(t.MainWindow.CpuStopped, 1);
}

TEST(RunControl, StepFetchesFirstThenExecutes) {
  TTestMachine t;
  t.Instructions(1, {"," + Addr(50), "."});
  t.Step();  // IAR 0: nothing executed, the instruction at 1 becomes pending
  EXPECT_EQ(t.R.InstrAddr, 1);
  EXPECT_FALSE(t.WordMarkAt(50));
  EXPECT_EQ(t.State(), CpuState::SingleStep);
  EXPECT_EQ(t.Trace().size(), 0u);  // tracing off: nothing appended
  t.M.TraceFlags.TraceInstructions = true;
  t.Step();
  EXPECT_TRUE(t.WordMarkAt(50));
  EXPECT_EQ(t.R.InstrAddr, 5);
  EXPECT_EQ(t.Trace(), Lines{"I00005 . 1 H   HALT"});
}

TEST(RunControl, AddressStopThenResumeOrStep) {
  TTestMachine t;
  t.Instructions(500, {"," + Addr(50), "," + Addr(51), "."});
  t.R.AddressStop = 504;
  t.Run(500);
  EXPECT_EQ(t.State(), CpuState::StopCondition);
  EXPECT_EQ(t.StopMessage(), "Address Stop at");
  EXPECT_EQ(t.R.InstrAddr, 504);
  EXPECT_TRUE(t.WordMarkAt(50));
  EXPECT_FALSE(t.WordMarkAt(51));  // fetched, not executed
  EXPECT_TRUE(t.M.TraceFlags.TraceInstructions);
  EXPECT_EQ(t.Trace(), Lines{"I00504 , 4 SW  Set WM at 00051"});
  t.Resume();  // executes it once, then runs on without stopping at it
  EXPECT_TRUE(t.WordMarkAt(51));
  EXPECT_EQ(t.State(), CpuState::ProgramHalt);

  TTestMachine u;
  u.Instructions(500, {"," + Addr(50), "," + Addr(51), "."});
  u.R.AddressStop = 504;
  u.Run(500);
  u.Step();
  EXPECT_TRUE(u.WordMarkAt(51));
  EXPECT_EQ(u.R.InstrAddr, 508);
  EXPECT_EQ(u.State(), CpuState::SingleStep);
}

TEST(RunControl, OpcodeStopWinsOverAddressStop) {
  TTestMachine t;
  t.Instructions(500, {"N", "."});
  t.R.AddressStop = 501;
  t.R.OpcodeStop = CharToBcd('.');
  t.Run(500);
  EXPECT_EQ(t.StopMessage(), "Opcode Stop at");
  EXPECT_EQ(t.R.InstrAddr, 501);
}

TEST(RunControl, CoreReadStopOnInstructionTextLeavesItPending) {
  TTestMachine t;
  t.Instructions(500, {"N", "," + Addr(50), "."});
  t.Core.ReadStopAddress = 503;  // inside the SW
  t.Run(500);
  EXPECT_EQ(t.State(), CpuState::SingleStep);
  EXPECT_EQ(t.StopMessage(), "Storage at 00503 accessed");
  EXPECT_EQ(t.R.InstrAddr, 501);
  EXPECT_FALSE(t.WordMarkAt(50));
}

TEST(RunControl, CoreWriteStopDuringExecuteFetchesTheNext) {
  TTestMachine t;
  t.Instructions(500, {"," + Addr(50), "N", "."});
  t.Core.WriteStopAddress = 50;
  t.Run(500);
  EXPECT_EQ(t.State(), CpuState::SingleStep);
  EXPECT_TRUE(t.WordMarkAt(50));
  EXPECT_EQ(t.R.InstrAddr, 504);  // the NOP is now pending
  EXPECT_EQ(t.Trace(), Lines{"I00504 N 1 NOP No Operation"});
}

TEST(RunControl, ResumeAfterResetExecutesOpcodeZero) {
  TTestMachine t;
  t.M.Cpu.ResetProcessor();
  t.Resume();
  EXPECT_EQ(t.State(), CpuState::MachineCheck);
  EXPECT_EQ(t.StopMessage(), "Invalid Opcode: \" \" ($00) at 0");
}

TEST(RunControl, WokenInAStoppedStateIsAProcessCheck) {
  TTestMachine t;
  t.R.InstrAddr = 42;
  t.R.State = CpuState::ProgramHalt;
  t.M.Cpu.RunWakeup();
  t.Messenger.DrainPosts();
  EXPECT_EQ(t.State(), CpuState::MachineCheck);
  EXPECT_EQ(t.StopMessage(), "State is wrong: Program Halt42");
  EXPECT_EQ(t.MainWindow.CpuStopped, 1);
}

TEST(RunControl, AStopBeforeTheRunBeganIsReportedWithoutACheck) {
  TTestMachine t;
  t.Instructions(1, {"."});
  t.R.State = CpuState::OperatorHalt;
  t.M.Cpu.RunWakeup();
  t.Messenger.DrainPosts();
  EXPECT_EQ(t.State(), CpuState::OperatorHalt);
  EXPECT_EQ(t.R.IAR, 0);  // nothing ran
  EXPECT_EQ(t.MainWindow.CpuStopped, 1);
}

TEST(RunControl, ResetClearsRegistersButNotCoreOrStops) {
  TTestMachine t;
  t.Core.StoreChar(10, 3);
  t.R.IAR = 9;
  t.R.EqualIndicator = true;
  t.R.AddressStop = 77;
  t.R.ResumePending = true;
  t.R.StopMessage.Set("x");
  t.M.Cpu.ResetProcessor();
  EXPECT_EQ(t.R.IAR, 0);
  EXPECT_FALSE(t.R.EqualIndicator);
  EXPECT_EQ(t.State(), CpuState::ReaderEmpty);
  EXPECT_EQ(t.StopMessage(), "");
  EXPECT_EQ(t.R.AddressStop, 77);
  EXPECT_TRUE(t.R.ResumePending);
  EXPECT_EQ(t.Core.ReadChar(10), 3);
}

// 450 NOPs and a halt: ShowRegisters is due after the 200th and the 400th instruction, but the
// second is coalesced away while the first is still unhandled (posts wait for DrainPosts here).
TEST(RunControl, ShowRegistersEvery200InstructionsCoalesced) {
  TTestMachine t;
  std::string program(450, 'N');
  program += '.';
  for (size_t i = 0; i < program.size(); ++i) {
    t.Core.StoreCharWM(static_cast<uint16_t>(1 + i), true, CharToBcd(program[i]));
  }
  t.Core.StoreCharWM(452, true, 0);
  t.Run(1);
  EXPECT_EQ(t.State(), CpuState::ProgramHalt);
  EXPECT_EQ(t.MainWindow.ShowRegisters, 1);
  t.Run(1);  // acknowledged, so the next run may post again
  EXPECT_EQ(t.MainWindow.ShowRegisters, 2);

  t.R.TurboMode = true;
  t.Run(1);
  EXPECT_EQ(t.MainWindow.ShowRegisters, 2);
  EXPECT_EQ(t.MainWindow.CpuStopped, 3);
}

}  // namespace
}  // namespace kestrel::test
