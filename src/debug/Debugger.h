// The debugger: breakpoints (on an instruction address, an op code with or without its
// d-character, or a condition, each with a count and an action), watchpoints on core ranges, the
// history of the last instructions with what they changed, the step back over one of them, and
// the symbols every address field accepts.  The processor asks it before each fetch while the
// attention word's debugger bit is set; core storage tells it of the accesses to watched
// positions.  Everything here is set and read while the processor may run: one lock guards it,
// and the run's common case (no breakpoint at the address) takes no lock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/KestCore.h"
#include "core/KestProc.h"
#include "core/Registers.h"
#include "debug/Symbols.h"

namespace kestrel {

// The registers the history keeps of each instruction.
struct TRegisterSet {
  uint16_t IAR = 0;
  uint16_t AAR = 0;
  uint16_t BAR = 0;
  bool Equal = false;
  bool Low = false;
  bool Overflow = false;
  std::string Text() const;  // "IAR 00504 AAR 00332 BAR 00213 EQ LO OV" (set indicators only)
};

// One instruction of the history.
struct THistoryEntry {
  uint16_t Address = 0;
  uint8_t Length = 0;  // the characters up to the next word mark (at most 8)
  std::array<uint8_t, 8> Codes{};
  bool Device = false;  // it read, wrote or moved a unit: no step back over it
  TRegisterSet Before;
  TRegisterSet After;
  bool Done = false;  // After is known
  // Every store it made: the position and the word it held before.
  std::vector<std::pair<uint16_t, uint16_t>> Undo;
  // "M 528 213" (op code, A, B, d as the instruction holds them).
  std::string InstructionText() const;
};

struct TBreakpoint {
  enum class TKind : uint8_t { Address, Opcode, Condition };
  int Id = 0;
  TKind Kind = TKind::Address;
  bool Enabled = true;
  uint16_t Address = 0;
  uint8_t Opcode = 0;
  int DChar = -1;  // the d-character's code, or -1 for any
  // A condition: a register, an indicator or a core field against a value.
  enum class TSubject : uint8_t { IAR, AAR, BAR, Equal, Low, High, Overflow, Field };
  TSubject Subject = TSubject::IAR;
  std::string Compare;         // "=", "<>", "<", ">", "<=", ">="
  uint32_t Value = 0;          // an address, or 1/0 for an indicator
  std::vector<uint8_t> Field;  // the codes a field is compared with, high-order first
  bool WasTrue = false;        // a condition fires when it becomes true
  unsigned Count = 0;          // stop on this hit only (0: on every hit)
  unsigned Hits = 0;
  bool Print = false;  // print the registers
  bool Dump = false;   // dump DumpFrom-DumpTo
  uint16_t DumpFrom = 0;
  uint16_t DumpTo = 0;
  bool Go = false;   // then go on (no stop)
  std::string Spec;  // as it was given
};

struct TWatchpoint {
  int Id = 0;
  bool Enabled = true;
  uint16_t From = 0;
  uint16_t To = 0;
  bool Reads = false;
  bool Writes = true;
  unsigned Hits = 0;
  int ArmAt = -1;  // not watching yet: armed when the instruction here is reached
  std::string Spec;
};

class TDebugger : public IDebugHook, public ICoreObserver {
 public:
  static constexpr size_t DefaultHistory = 1000;
  static constexpr size_t HeadlessHistoryLines = 20;

  TDebugger(TRegisters& registers, TCoreStorage& core);
  ~TDebugger() override;
  TDebugger(const TDebugger&) = delete;
  TDebugger& operator=(const TDebugger&) = delete;

  // ---- Symbols ----
  TSymbolTable& Symbols() { return symbols_; }
  // "" or the error; the table is unchanged on an error.
  std::string LoadSymbols(const std::string& path);
  std::string LoadSymbolText(std::string_view text);

  // ---- Breakpoints and watchpoints ----
  // A breakpoint from its text: `ADDRESS`, `OP C` or `OP CD` (op code, d-character), or
  // `IF CONDITION` (`IAR|AAR|BAR OP ADDRESS`, `EQUAL|LOW|HIGH|OVERFLOW [= ON|OFF]`, or
  // `ADDRESS = 'TEXT'` for the field whose units position is ADDRESS), then any of `COUNT N`,
  // `PRINT`, `DUMP FROM-TO`, `GO`.  Returns its number, or 0 with `error` set and nothing
  // changed.
  // Addresses must lie inside core, or below `coreLimit` when it is given (a command line read
  // before the job sets the core size).
  int AddBreakpoint(std::string_view spec, std::string& error, uint16_t coreLimit = 0);
  // `FROM-TO [READ|WRITE|ACCESS] [ARM ADDRESS]` (writes when not said; with ARM it watches
  // from the first time the instruction at ADDRESS is reached, so a loader's stores pass).
  int AddWatchpoint(std::string_view spec, std::string& error, uint16_t coreLimit = 0);
  // By number: false when there is none.
  bool Enable(int id, bool on);
  bool Delete(int id);
  void DeleteAll();
  std::vector<TBreakpoint> Breakpoints() const;
  std::vector<TWatchpoint> Watchpoints() const;
  // One line per breakpoint and watchpoint: "1 break 00500 (START) hits 0", ...
  std::vector<std::string> ListText() const;
  // What the last debugger stop was ("" before any): "Breakpoint 1 (START) at 00500".
  std::string LastStop() const;
  // LastStop() while the machine stands at that stop, else "": the panel's status line.
  std::string CurrentStop() const;

  // ---- History ----
  // 0 turns it off (and costs nothing); any other size keeps that many instructions.
  void SetHistorySize(size_t size);
  size_t HistorySize() const { return historySize_; }
  std::vector<THistoryEntry> History() const;
  // The last `count` entries, oldest first, one line each.
  std::vector<std::string> HistoryText(size_t count) const;
  std::string HistoryLine(const THistoryEntry& entry) const;
  // Writes the whole history as text: "" or the error.
  std::string SaveHistory(const std::string& path) const;
  // Undoes the last instruction of the history: core, word marks and registers as before it, the
  // instruction at IAR again.  "" or why not (running, no history, a device operation).
  std::string StepBack();

  // ---- For the windows ----
  // Goes up at every change of the breakpoints, the watchpoints or the symbols.
  uint64_t Version() const { return version_.load(std::memory_order_relaxed); }
  // The addresses of the enabled address breakpoints, ascending, each once.
  std::vector<uint16_t> BreakAddresses() const;
  // Deletes the address breakpoints at `address` when there are any, else sets one: "" or the
  // error (nothing changed).
  std::string ToggleBreakAt(uint16_t address);
  // The nearest label at or below `address` with its offset ("LOOP", "LOOP+4"), or "".
  std::string LabelOf(uint16_t address) const;
  // An instruction's trace line ("I00504 , 4 SW ...") with the label of its address in a column
  // of its own after the address; every other line, and every line while no symbols are loaded,
  // as it is.
  std::string LabelTraceLine(const std::string& line) const;
  static constexpr size_t TraceLabelWidth = 10;

  // One command in words, as scripts give them: BREAK SPEC, WATCH SPEC, SYMBOLS FILE,
  // ENABLE N, DISABLE N, DELETE N|ALL, LIST, HISTORY N, SHOW HISTORY [N], SAVE HISTORY FILE,
  // STEPBACK.  "" or the error; an error changes nothing.  LIST and SHOW go to the output.
  std::string Command(std::string_view text);

  // Where the lines of PRINT and DUMP actions go (the batch: stderr; unset: kept in Output()).
  void SetOutput(std::function<void(const std::string&)> output);
  std::vector<std::string> Output() const;

  // ---- The hooks ----
  bool StopBeforeFetch() override;
  bool StopAtBreak(uint16_t address) override;
  void CoreRead(uint16_t address) override;
  void CoreWritten(uint16_t address, uint16_t before) override;

 private:
  TRegisterSet Current() const;
  bool Fires(TBreakpoint& b, uint16_t iar);
  // Evaluates the address breakpoints or the others at `iar`: true when one stops the run.
  bool Evaluate(uint16_t iar, bool addressOnes);
  void StopAt(uint16_t iar);
  bool ConditionTrue(const TBreakpoint& b);
  void Act(const TBreakpoint& b);
  void Say(const std::string& line);
  void FinishLast();
  void OpenEntry(uint16_t iar);
  void Rearm();
  void WatchHit(uint16_t address, bool write);
  std::string Where(uint16_t address) const { return symbols_.AddressText(address); }
  std::string ParseCondition(std::string_view text, TBreakpoint& b, uint16_t size) const;
  std::string ParseOptions(std::vector<std::string>& words, size_t from, TBreakpoint& b,
                           uint16_t size) const;

  TRegisters& r_;
  TCoreStorage& core_;
  TSymbolTable symbols_;
  mutable std::recursive_mutex mutex_;
  std::vector<TBreakpoint> breaks_;
  std::vector<TWatchpoint> watches_;
  int nextId_ = 1;
  std::string lastStop_;
  std::string stopMessage_;  // the stop message the last stop set
  // Fast tests for the run: a breakpoint at this address; any op code or condition breakpoint.
  std::array<std::atomic<uint8_t>, TCoreStorage::MaxSize> breakAt_{};
  std::atomic<bool> slowBreaks_{false};
  std::atomic<size_t> historySize_{0};
  // The address the last stop came from: the run that starts there goes on past it once (the
  // first look of the next run moves it to skipNow_, for that one instruction).
  int skipOnce_ = -1;
  int skipNow_ = -1;
  bool attention_ = false;  // what the attention bit is when no skip is pending
  // Per position: 1 reads watched, 2 stores watched.
  std::array<uint8_t, TCoreStorage::MaxSize> watchAt_{};
  std::deque<THistoryEntry> history_;
  bool entryOpen_ = false;
  // The entry the last OpenEntry pushed out of the ring, while the new one may still be taken out.
  THistoryEntry droppedEntry_;
  bool dropped_ = false;
  std::atomic<uint64_t> version_{0};
  std::function<void(const std::string&)> output_;
  std::vector<std::string> kept_;
};

}  // namespace kestrel
