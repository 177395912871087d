#include "core/Messenger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "machine/Machine.h"
#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

// Records what reaches it, and on which thread; 999 is an unknown operation.
class TRecorder : public IMessageReceiver {
 public:
  void HandleMessage(const TMessage& message) override {
    Values.push_back(static_cast<int>(message.WParam));
    Threads.push_back(std::this_thread::get_id());
    if (message.WParam == 999) RaiseIOCheck("Invalid I/O Op for PRN: 999", 0);
  }
  std::vector<int> Values;
  std::vector<std::thread::id> Threads;
};

TMessage Numbered(uintptr_t n) {
  TMessage message;
  message.Id = EmulatorMessage::DeviceRequest;
  message.WParam = n;
  return message;
}

TEST(InlineMessenger, SendsAtOncePostsWhenDrained) {
  TInlineMessenger messenger;
  TRecorder recorder;
  messenger.Attach(TReceiver::Printer, &recorder);
  messenger.Post(TReceiver::Printer, Numbered(1));
  messenger.Send(TReceiver::Printer, Numbered(2));
  EXPECT_EQ(recorder.Values, std::vector<int>{2});
  EXPECT_EQ(messenger.DrainPosts(), 1);
  EXPECT_EQ(recorder.Values, (std::vector<int>{2, 1}));
  messenger.Send(TReceiver::TapeUnits, Numbered(3));  // no receiver: dropped
  EXPECT_EQ(recorder.Values.size(), 2u);
}

TEST(InlineMessenger, AnErrorInAHandlerIsReportedAndTheSenderGoesOn) {
  TInlineMessenger messenger;
  TRecorder recorder;
  std::vector<std::string> reports;
  messenger.SetErrorReporter([&](const std::string& text) { reports.push_back(text); });
  messenger.Attach(TReceiver::Printer, &recorder);
  messenger.Send(TReceiver::Printer, Numbered(999));
  messenger.Send(TReceiver::Printer, Numbered(4));
  EXPECT_EQ(reports, std::vector<std::string>{"Invalid I/O Op for PRN: 999"});
  EXPECT_EQ(recorder.Values, (std::vector<int>{999, 4}));
}

TEST(InlineMessenger, AProcessCheckInAHandlerIsReportedWithItsAddress) {
  TTestMachine t;
  std::vector<std::string> reports;
  t.Messenger.SetErrorReporter([&](const std::string& text) { reports.push_back(text); });
  t.Core.UninitializedCheck = true;
  t.Instructions(500, {"4", "."});  // punch 101-180, never written
  t.Run(500);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], "Read from Uninitialized Core at: 101");
  EXPECT_EQ(t.State(), CpuState::ProgramHalt);  // the processor goes on after the box
}

TEST(ThreadMessenger, OrderIsKeptAndSendsRunOnTheGuiThread) {
  TThreadedMessenger messenger;
  TRecorder recorder;
  std::vector<std::string> reports;
  messenger.SetErrorReporter([&](const std::string& text) { reports.push_back(text); });
  messenger.Attach(TReceiver::Printer, &recorder);
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    for (int i = 0; i < 300; ++i) {
      if (i % 3 == 0) {
        messenger.Send(TReceiver::Printer, Numbered(static_cast<uintptr_t>(i)));
      } else {
        messenger.Post(TReceiver::Printer, Numbered(static_cast<uintptr_t>(i)));
      }
    }
    messenger.Send(TReceiver::Printer, Numbered(999));  // reported; the sender goes on
    finished = true;
  });
  messenger.ProcessUntil([&] { return finished.load(); });
  worker.join();
  messenger.ProcessPending();
  ASSERT_EQ(recorder.Values.size(), 301u);
  for (int i = 0; i < 300; ++i)
    EXPECT_EQ(recorder.Values[i], i);
  for (auto id : recorder.Threads)
    EXPECT_EQ(id, std::this_thread::get_id());
  EXPECT_EQ(reports, std::vector<std::string>{"Invalid I/O Op for PRN: 999"});
}

TEST(ThreadMessenger, ShutdownReleasesABlockedSender) {
  TThreadedMessenger messenger;
  TRecorder recorder;
  messenger.Attach(TReceiver::Printer, &recorder);
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    messenger.Send(TReceiver::Printer, Numbered(1));  // nobody serves it
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(returned);
  messenger.Shutdown();
  worker.join();
  EXPECT_TRUE(returned);
  EXPECT_TRUE(recorder.Values.empty());
  messenger.Post(TReceiver::Printer, Numbered(2));  // dropped after shutdown
  EXPECT_EQ(messenger.ProcessPending(), 0);
}

// ---- The processor thread, driven from another thread ----

// The main window: counts stops and register displays, and may answer a stop with a new start
// at once (what a waiting script does).
class TPanel : public IMessageReceiver {
 public:
  explicit TPanel(TMachine& machine) : machine_(machine) {}
  void HandleMessage(const TMessage& message) override {
    if (message.Id == EmulatorMessage::ShowRegisters) {
      ++Shows;
      machine_.Cpu.AcknowledgeShowRegisters();
    }
    if (message.Id == EmulatorMessage::CpuStopped) {
      ++Stops;
      if (Restarts > 0) {
        --Restarts;
        machine_.Registers.State = CpuState::Running;
        machine_.Cpu.Wake();
      }
    }
  }
  std::atomic<int> Stops{0};
  std::atomic<int> Shows{0};
  int Restarts = 0;

 private:
  TMachine& machine_;
};

class ThreadProcessor : public ::testing::Test {
 protected:
  void SetUp() override {
    messenger.Attach(TReceiver::MainWindow, &panel);
    machine.Core.ClearCore();
    machine.TraceFlags.TraceThreads = true;
    machine.Cpu.StartThread();
  }
  void TearDown() override {
    messenger.Shutdown();
    machine.Cpu.EndThread();
  }
  void Place(uint16_t address, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
      machine.Core.StoreCharWM(static_cast<uint16_t>(address + i), i == 0, CharToBcd(text[i]));
    }
    machine.Core.StoreCharWM(static_cast<uint16_t>(address + text.size()), true, 0);
  }
  void Start(CpuState state) {
    machine.Registers.State = state;
    machine.Cpu.Wake();
  }
  void WaitForStops(int stops) {
    messenger.ProcessUntil([&] { return panel.Stops >= stops; });
  }

  TThreadedMessenger messenger;
  TMachine machine{messenger};
  TPanel panel{machine};
};

TEST_F(ThreadProcessor, StartRightAfterTheStopIsNotLost) {
  Place(1, ".B" + Addr(1));  // halts; a new start branches back to the halt
  machine.Core.SetWordMark(2, true);
  panel.Restarts = 50;
  Start(CpuState::Running);
  WaitForStops(51);
  EXPECT_EQ(panel.Stops, 51);
  EXPECT_EQ(machine.Registers.State.Get(), CpuState::ProgramHalt);
  std::vector<std::string> lines = machine.TraceLog.Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "TCPU Begin");
  EXPECT_EQ(lines[1], "TCPU Suspend IAReg=2 State=Program Halt");
  EXPECT_EQ(lines[2], "TCPU Resume");
}

TEST_F(ThreadProcessor, StopResumeStepAndResetWhileRunning) {
  Place(500, "B" + Addr(500));  // a branch to itself: runs until stopped
  machine.Registers.IAR = 500;
  Start(CpuState::Running);
  messenger.ProcessUntil([&] { return panel.Shows >= 3; });  // running, displays coalesced
  machine.Registers.State = CpuState::OperatorHalt;
  WaitForStops(1);
  EXPECT_EQ(machine.Registers.State.Get(), CpuState::OperatorHalt);
  EXPECT_EQ(machine.Registers.InstrAddr, 500);

  machine.Registers.ResumePending = true;
  Start(CpuState::Running);
  messenger.ProcessUntil([&] { return panel.Shows >= 6; });
  machine.Registers.State = CpuState::OperatorHalt;
  WaitForStops(2);

  Start(CpuState::SingleStep);
  WaitForStops(3);
  EXPECT_EQ(machine.Registers.State.Get(), CpuState::SingleStep);
  EXPECT_EQ(machine.Registers.InstrAddr, 500);

  machine.Cpu.ResetProcessor();
  EXPECT_EQ(machine.Registers.IAR, 0);
  Start(CpuState::Running);  // from IAR 0 = 1: a blank without a word mark
  WaitForStops(4);
  EXPECT_EQ(machine.Registers.State.Get(), CpuState::MachineCheck);
  EXPECT_EQ(machine.Registers.StopMessage.Get(), "Missing WordMark at 1");
}

TEST_F(ThreadProcessor, EndingWhileRunningAndWhileBlockedInASend) {
  TRecorder printer;
  messenger.Attach(TReceiver::Printer, &printer);
  Place(500, "B" + Addr(500) + "9");  // asks the printer for its line count, forever
  machine.Registers.IAR = 500;
  Start(CpuState::Running);
  messenger.ProcessUntil([&] { return printer.Values.size() >= 10; });
  // Not serving the sends any more: shutting down releases the processor, which then ends.
  messenger.Shutdown();
  machine.Cpu.EndThread();
  EXPECT_GE(printer.Values.size(), 10u);
}

}  // namespace
}  // namespace kestrel::test
