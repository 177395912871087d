// The processor's registers, indicators and run control: one set per machine, shared by the
// processor thread, the instruction handlers, the devices and the front panel.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "core/Features.h"
#include "core/Shared.h"

namespace kestrel {

enum class CpuState : uint8_t {
  ReaderEmpty = 0,
  CardLoaded = 1,
  TapeRecordLoaded = 2,
  ProgramHalt = 3,
  OperatorHalt = 4,
  StopCondition = 5,
  Running = 6,
  SingleStep = 7,
  MachineCheck = 8,
};

// "Initial state - Reader empty" ... ; "???" for a value outside the nine.
const char* StateText(CpuState state);

// The message of the last stop.  Written on stops only, so a lock is cheap here.
class TStopMessage {
 public:
  std::string Get() const {
    std::lock_guard lock(mutex_);
    return text_;
  }
  void Set(std::string text) {
    std::lock_guard lock(mutex_);
    text_ = std::move(text);
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

struct TRegisters {
  // Registers of the pending instruction (the one last fetched).
  TShared<uint16_t> InstrAddr;
  TShared<uint8_t> ILen;
  TShared<uint16_t> IAR;
  TShared<uint16_t> AAR;
  TShared<uint16_t> BAR;
  TShared<uint8_t> Opcode;
  TShared<uint8_t> DMod;
  TShared<bool> IOFlag;
  TShared<uint8_t> IOUnitType;
  TShared<uint8_t> IOUnitNum;

  // Indicators.
  TShared<bool> EqualIndicator;
  TShared<bool> LowIndicator;
  TShared<bool> OverflowIndicator;
  TShared<bool> EndOfReelIndicator;
  TShared<bool> TapeErrorIndicator;
  // The error indicators of the check-stop switches and the reader's last card: a branch on one
  // turns it off, except the last card, which goes off when cards come into the hopper.
  TShared<bool> ProcessErrorIndicator;
  TShared<bool> ReaderErrorIndicator;
  TShared<bool> PunchErrorIndicator;
  TShared<bool> PrinterErrorIndicator;
  TShared<bool> LastCardIndicator;
  // With the reader's wait on (SET READER WAIT), a read instruction first asks the reader, which
  // answers in ReaderNotReady: an empty hopper stops the machine at the instruction, unread.
  TShared<bool> ReaderWaits;
  TShared<bool> ReaderNotReady;
  // The tape unit last read or written (0 before any): End of Reel follows its Tape Indicate.
  TShared<uint8_t> LastTapeUnit;
  TShared<uint8_t> SenseSwitches;  // bit 0 = A ... bit 6 = G

  // Counters a device stores during a request and the instruction reads afterwards.
  TShared<uint16_t> PrinterLineCount;
  TShared<uint32_t> TapeTransferCount;
  // The printer's carriage tape, once one is loaded: bit 0 says it is, bits 1 and 2 are the
  // channel 9 and channel 12 latches.  A skip to a channel the tape has no hole in leaves the
  // channel here (the carriage would run away), for the instruction to stop with a printer check.
  TShared<uint8_t> CarriageState;
  TShared<uint8_t> RunawayChannel;
  // With print storage, for how many more instructions the printer (B with d-character P) and
  // the carriage (R) are busy: a print and a carriage movement take their time while the
  // processor goes on.  Kept by the processor thread; the attention word's ARBusy is on while
  // either is not 0.
  TShared<uint16_t> PrintBusyLeft;
  TShared<uint16_t> CarriageBusyLeft;

  // Run control.  Every write of the watched values tells the run loop's attention word.
  TAttention Attention;
  TWatched<CpuState> State{&Attention, CpuState::ReaderEmpty};
  TWatched<bool> ResumePending{&Attention};
  // No instruction is pending although the registers still hold the last one: the debugger
  // stopped the run before a fetch, or after an instruction it watched, or stepped back.  Resume
  // and Step then begin with the fetch at IAR, not with the execution of what was last fetched.
  TShared<bool> FetchDue;
  TWatched<uint16_t> AddressStop{&Attention};
  TWatched<uint8_t> OpcodeStop{&Attention};
  TShared<bool> TurboMode;
  TStopMessage StopMessage;
  // The special features installed (TFeature bits): set by the configuration while the processor
  // is stopped, read by the dispatch.
  TShared<uint8_t> Features;

  bool SenseSwitch(int index) const { return (SenseSwitches >> index) & 1; }
  void SetSenseSwitch(int index, bool on) {
    uint8_t bits = SenseSwitches;
    SenseSwitches = static_cast<uint8_t>(on ? (bits | (1u << index)) : (bits & ~(1u << index)));
  }

  // A core read or write stop: the access completes; the run ends as after a single step.
  void RequestCoreStop(std::string message) {
    StopMessage.Set(std::move(message));
    State = CpuState::SingleStep;
  }
};

}  // namespace kestrel
