// The hand-over between the processor and the windows: the reader/punch and the printer take the
// processor's requests on its own thread, so a card job runs to its halt while the thread that
// plays the GUI thread serves no message at all.  That thread meanwhile looks at both devices
// under their locks as the windows do, and adds a deck to the hopper while the job reads: no card
// is lost or read twice, and every line is printed once, in the order of the cards.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "machine/Machine.h"
#include "support/ScratchDir.h"

namespace kestrel::test {
namespace {

// Each card sets its word marks, moves its columns 43-80 to the print area, prints, reads the
// next card over itself and branches back to 1; the last card halts at 38 in place of the branch.
const std::string Program = ",008015,022029,036037,038043M08023821B001 ";
const std::string Halt = ",008015,022029,036037,038043M08023821.001 ";

std::string Card(const std::string& program, const std::string& text) {
  std::string card = program + text;
  card.resize(80, ' ');
  return card + "\n";
}

std::string Deck(char name, int count, bool halt) {
  std::string deck;
  for (int i = 1; i <= count; ++i)
    deck += Card(Program, std::string(1, name) + " " + std::to_string(i));
  if (halt) deck += Card(Halt, "END");
  return deck;
}

// The text of print line `index` (0-based): the first deck's cards, then the second's.
std::string Expected(size_t index, size_t first) {
  return index < first ? "A " + std::to_string(index + 1)
                       : "B " + std::to_string(index - first + 1);
}

std::string Printed(const std::string& line) {
  const size_t end = line.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : line.substr(0, end + 1);
}

TEST(DeviceThreads, ACardJobRunsWithoutTheGuiThreadAndLosesOrReordersNothing) {
  constexpr int Cards = 4000;
  TScratchDir dir;
  const std::string first = dir.Write("A.CRD", Deck('A', Cards, false));
  const std::string second = dir.Write("B.CRD", Deck('B', Cards, true));

  TThreadedMessenger messenger;
  messenger.BecomeGuiThread();
  std::vector<std::string> errors;
  messenger.SetErrorReporter([&](const std::string& e) { errors.push_back(e); });
  {
    TMachine m{messenger};
    // However the test ends, no sender stays blocked when the machine's threads are joined.
    struct TShutFirst {
      TMessenger& Messenger;
      ~TShutFirst() { Messenger.Shutdown(); }
    } shutFirst{messenger};
    TReaderPunch& reader = m.ReaderPunch;
    TPrinter& printer = m.Printer;
    m.Cpu.StartThread();
    reader.Open(first);
    m.Cpu.ResetProcessor();
    reader.LoadButton();
    ASSERT_EQ(m.Registers.State, CpuState::CardLoaded);
    m.Console.ModeClick(TRunMode::Run);
    m.Console.PBStartClick();

    // No message is served until the halt: a request that waited for this thread never returns.
    size_t checked = 0;
    size_t loaded = Cards;
    size_t snapshots = 0;
    bool added = false;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(100);
    while (m.Registers.State != CpuState::ProgramHalt &&
           m.Registers.State != CpuState::MachineCheck &&
           std::chrono::steady_clock::now() < limit) {
      {
        auto lock = printer.Lock();
        const TRecordSpool& list = printer.PrintList();
        ASSERT_GE(list.size(), checked);
        for (; checked < list.size(); ++checked)
          ASSERT_EQ(Printed(list[checked]), Expected(checked, Cards)) << "line " << checked;
      }
      {
        auto lock = reader.Lock();
        // Every card loaded is in the hopper or has been read, once.
        ASSERT_EQ(reader.Pile(PLHopper).size() + reader.Pile(PLReadN).size(), loaded);
      }
      ++snapshots;
      if (!added && checked > 0) {
        // The operator's Open while the job reads: the second deck goes behind the first.
        reader.Open(second);
        loaded += Cards + 1;
        added = true;
      }
    }
    ASSERT_EQ(m.Registers.State, CpuState::ProgramHalt) << m.Registers.StopMessage.Get();
    ASSERT_TRUE(added);
    EXPECT_GT(snapshots, 1u);
    messenger.ProcessUntil([&] { return m.Console.ProcessorIdle(); });
    const TRecordSpool& list = printer.PrintList();
    ASSERT_EQ(list.size(), 2u * Cards);
    for (; checked < list.size(); ++checked)
      ASSERT_EQ(Printed(list[checked]), Expected(checked, Cards)) << "line " << checked;
    EXPECT_EQ(reader.Pile(PLReadN).size(), loaded);
    EXPECT_EQ(reader.Pile(PLReadN).back().substr(0, Halt.size() + 3), Halt + "END");
    EXPECT_TRUE(reader.Pile(PLHopper).empty());
  }
  EXPECT_TRUE(errors.empty()) << errors.front();
}

// A request's error on the processor thread is reported on the GUI thread, after the device's
// lock is released (a window may be waiting for it), and the processor waits for the report.
TEST(DeviceThreads, ARequestsErrorIsReportedOnTheGuiThread) {
  TScratchDir dir;
  const std::string deck = dir.Write("A.CRD", Deck('A', 3, false));
  TThreadedMessenger messenger;
  messenger.BecomeGuiThread();
  std::vector<std::string> errors;
  TMachine m{messenger};
  struct TShutFirst {
    TMessenger& Messenger;
    ~TShutFirst() { Messenger.Shutdown(); }
  } shutFirst{messenger};
  const std::thread::id gui = std::this_thread::get_id();
  bool onGuiThread = true;
  bool lockFree = true;
  messenger.SetErrorReporter([&](const std::string& e) {
    errors.push_back(e);
    onGuiThread = onGuiThread && std::this_thread::get_id() == gui;
    std::unique_lock lock(m.ReaderPunch.Mutex(), std::try_to_lock);
    lockFree = lockFree && lock.owns_lock();
  });
  m.Cpu.StartThread();
  m.ReaderPunch.Open(deck);
  m.Cpu.ResetProcessor();
  m.ReaderPunch.LoadButton();
  m.Console.ModeClick(TRunMode::Run);
  m.Console.PBStartClick();
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(100);
  messenger.ProcessUntil(
      [&] { return m.Console.ProcessorIdle() || std::chrono::steady_clock::now() > limit; });
  EXPECT_EQ(m.Registers.State, CpuState::MachineCheck);
  EXPECT_EQ(errors, std::vector<std::string>{"Card reader empty"});
  EXPECT_TRUE(onGuiThread);
  EXPECT_TRUE(lockFree);
  EXPECT_EQ(m.Printer.LineCount(), 3u);
}

}  // namespace
}  // namespace kestrel::test
