// A machine for tests: an inline messenger, a main-window stand-in that records what reaches it,
// and helpers that place instructions and data into core from readable text.
//
// Text is written in display characters ("o" is the lozenge, "r" the record mark, "g" the group
// mark).  `Instructions(500, {"M302402", "."})` places each instruction one after the other,
// with a word mark on every op code and one after the last instruction, where the fetch ends.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/Messenger.h"
#include "machine/Machine.h"

namespace kestrel::test {

// Three address characters for a value (zones over the hundreds and units for the thousands).
std::string Addr(unsigned value);

class TMainWindowStub : public IMessageReceiver {
 public:
  explicit TMainWindowStub(TCPUThread& cpu) : cpu_(cpu) {}
  void HandleMessage(const TMessage& message) override;
  int CpuStopped = 0;
  int ShowRegisters = 0;

 private:
  TCPUThread& cpu_;
};

class TTestMachine {
 public:
  TTestMachine();
  ~TTestMachine();

  // Places instructions from `address` on; returns the address after the closing word mark.
  uint16_t Instructions(uint16_t address, std::initializer_list<std::string> instructions);
  // Places `text` so that its last character is at `units`; a word mark on the high-order
  // position when `wordMark` is set.
  void Field(uint16_t units, const std::string& text, bool wordMark = true);
  std::string Text(uint16_t units, int count);
  bool WordMarkAt(uint16_t address);

  // One wake-up in Run mode (or Step mode), then the posts are delivered.
  void Run(uint16_t start = 0);
  void Step();
  void Resume();
  CpuState State() const { return M.Registers.State; }
  std::string StopMessage() const { return M.Registers.StopMessage.Get(); }
  void TraceAll(bool on = true);
  std::vector<std::string> Trace() const { return M.TraceLog.Lines(); }

  TInlineMessenger Messenger;
  TMachine M{Messenger};
  TRegisters& R = M.Registers;
  TCoreStorage& Core = M.Core;
  TMainWindowStub MainWindow{M.Cpu};
};

}  // namespace kestrel::test
