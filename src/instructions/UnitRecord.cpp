// Unit-record instructions: R, W, WR, P, RP, WP, WRP, SRF, SPF, CC and SS.  They move no data
// themselves: each sends its device commands (print first, then read, then punch) and then sets
// the registers, a branch when the instruction carries an address, else BAR past the area used.
// RCB and PCB (the column binary feature) are R and P with the d-character C.
#include <string>

#include "core/KestProc.h"
#include "devices/IBM1402.h"
#include "devices/IBM1403.h"
#include "instructions/Handlers.h"

namespace kestrel {

namespace {

// The position after each area: read 1-80, punch 101-180, print 201-332, and the column binary
// image 401-480 and 501-580.
constexpr uint16_t AfterRead = 81;
constexpr uint16_t AfterPunch = 181;
constexpr uint16_t AfterPrint = 333;
constexpr uint16_t AfterColumnBinary = 581;

void Send(TCPUThread& cpu, TReceiver receiver, uint16_t operation, uint16_t selector = 0) {
  DeviceCommand command;
  command.Operation = operation;
  command.Selector = selector;
  cpu.SendDevice(receiver, command);
}

// The real reader is not ready with its hopper empty: with the reader's wait on, the instruction
// is not done at all (nothing printed, read or punched) and the machine stops at it, so that
// Start, once the operator has put cards in, reads them.
bool ReaderReady(TCPUThread& cpu) {
  if (!cpu.R.ReaderWaits) return true;
  Send(cpu, TReceiver::ReaderPunch, RdrCheckReady);
  if (!cpu.R.ReaderNotReady) return true;
  cpu.R.ReaderNotReady = false;
  cpu.R.IAR = cpu.R.InstrAddr.Get();
  // A halt's state: Start goes on, at the instruction.
  cpu.R.StopMessage.Set("Card reader empty");
  cpu.R.State = CpuState::ProgramHalt;
  return false;
}

void Read(TCPUThread& cpu, uint16_t selector = 0) {
  Send(cpu, TReceiver::ReaderPunch, RdrRead, selector);
}
void Punch(TCPUThread& cpu, uint16_t selector = 0) {
  Send(cpu, TReceiver::ReaderPunch, RdrPunch, selector);
}
// A skip to a channel the carriage tape has no hole in would run the carriage away: the printer
// stops it and the machine stops with a printer check.
void CheckCarriage(TCPUThread& cpu) {
  uint8_t channel = cpu.R.RunawayChannel;
  if (channel == 0) return;
  cpu.R.RunawayChannel = 0;
  RaiseIOCheck("Printer check: runaway carriage, no hole in channel " + std::to_string(channel) +
                   " of the carriage tape, at ",
               cpu.R.InstrAddr);
}

// With print storage the line goes to the print buffer and the processor goes on while the
// printer prints it and then the carriage moves; time is counted in instructions, about ten
// storage cycles of 11.5 microseconds each.  A print takes some 80 ms, a carriage movement some
// 17 ms after it.  (An operation that finds the printer busy waits for it; the wait takes no
// instructions.)
constexpr uint16_t PrintInstructions = 690;
constexpr uint16_t CarriageInstructions = 150;

bool PrintStorage(const TCPUThread& cpu) {
  return (cpu.R.Features & FEPrintStorage) != 0;
}

void Busy(TCPUThread& cpu, uint16_t print, uint16_t carriage) {
  if (print != 0) cpu.R.PrintBusyLeft = print;
  cpu.R.CarriageBusyLeft = carriage;
  cpu.R.Attention.Set(TAttention::ARBusy);
}

void PrintBusy(TCPUThread& cpu) {
  if (PrintStorage(cpu)) Busy(cpu, PrintInstructions, PrintInstructions + CarriageInstructions);
}

void Print(TCPUThread& cpu, uint16_t mode = 0) {
  Send(cpu, TReceiver::Printer, PrnPrint, mode);
  CheckCarriage(cpu);
  PrintBusy(cpu);
}

// An address (length 4, or 5 with a d-character) branches; any other length leaves BAR after the
// area used.
bool Branches(const TCPUThread& cpu) {
  return cpu.R.ILen == 4 || cpu.R.ILen == 5;
}

void BranchOrSetBAR(TCPUThread& cpu, uint16_t bar) {
  if (Branches(cpu)) {
    cpu.TakeBranch();
  } else {
    cpu.R.BAR = bar;
  }
}

void TraceBranchSuffix(TCPUThread& cpu, int length) {
  if (cpu.Tracing()) cpu.TraceAppend(cpu.BranchSuffix(length));
}

// ---- Carriage control ----

struct TCarriage {
  bool Valid;
  bool Immediate;
  bool Skip;       // to a channel, else space lines
  uint16_t Count;  // channel or lines
};

TCarriage Carriage(uint8_t d) {
  if (d >= 1 && d <= 12) return {true, true, true, d};
  if (d >= 17 && d <= 19) return {true, false, false, static_cast<uint16_t>(d - 16)};
  if (d >= 33 && d <= 35) return {true, true, false, static_cast<uint16_t>(d - 32)};
  if (d >= 49 && d <= 60) return {true, false, true, static_cast<uint16_t>(d - 48)};
  // A space counts lines with the 1 and 2 bits alone: with the 8 bit too, the A zone still
  // spaces after the print (Z spaces one line, as / does) and the B zone at once.
  const uint8_t zone = d & Bcd::ZoneMask;
  if ((zone == Bcd::AZone || zone == Bcd::BZone) && (d & Bcd::NumericMask) > 8 && (d & 3) != 0)
    return {true, zone == Bcd::BZone, false, static_cast<uint16_t>(d & 3)};
  return {false, false, false, 0};
}

bool IsPocketCode(uint8_t d) {
  return d == 1 || d == 2 || d == 4 || d == 8;
}

}  // namespace

// ---- R, P and their combinations with W ----

// The card instructions name the branch when written with an address.
void TraceCardOperation(TCPUThread& cpu) {
  if (Branches(cpu)) TraceBranchSuffix(cpu, cpu.R.ILen);
}

void ExecReadCard(TCPUThread& cpu) {
  if (!ReaderReady(cpu)) return;
  Read(cpu);
  BranchOrSetBAR(cpu, AfterRead);
}

void ExecWriteRead(TCPUThread& cpu) {
  if (!ReaderReady(cpu)) return;
  Print(cpu);
  Read(cpu);
  BranchOrSetBAR(cpu, AfterRead);
}

void ExecPunchCard(TCPUThread& cpu) {
  Punch(cpu);
  BranchOrSetBAR(cpu, AfterPunch);
}

void ExecReadColumnBinary(TCPUThread& cpu) {
  if (!ReaderReady(cpu)) return;
  Read(cpu, RdrColumnBinary);
  BranchOrSetBAR(cpu, AfterColumnBinary);
}

void ExecPunchColumnBinary(TCPUThread& cpu) {
  Punch(cpu, RdrColumnBinary);
  BranchOrSetBAR(cpu, AfterColumnBinary);
}

void ExecReadPunch(TCPUThread& cpu) {
  if (!ReaderReady(cpu)) return;
  Read(cpu);
  Punch(cpu);
  BranchOrSetBAR(cpu, AfterPunch);
}

void ExecWritePunch(TCPUThread& cpu) {
  Print(cpu);
  Punch(cpu);
  BranchOrSetBAR(cpu, AfterPunch);
}

void ExecWriteReadPunch(TCPUThread& cpu) {
  if (!ReaderReady(cpu)) return;
  Print(cpu);
  Read(cpu);
  Punch(cpu);
  BranchOrSetBAR(cpu, AfterPunch);
}

// ---- W ----

void TraceWriteLine(TCPUThread& cpu) {
  if (!cpu.Tracing()) return;
  if (cpu.R.ILen == 2) {
    cpu.TraceAppend("Word Marks");
  } else {
    cpu.TraceAppend("Print line");
    if (Branches(cpu)) cpu.TraceAppend(cpu.BranchSuffix(cpu.R.ILen));
  }
}

void ExecWriteLine(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  uint16_t mode = 0;
  if (r.ILen == 2) {
    // Written with a d-modifier, W prints the word marks, and the lozenge is the only one.
    uint8_t d = r.DMod;
    if (d != Bcd::Lozenge) {
      RaiseProcessCheck("Invalid Print Modifier: $" + Hex2(d) + " at ",
                        static_cast<uint16_t>(r.InstrAddr + 1));
    }
    mode = 1;
  }
  Print(cpu, mode);
  BranchOrSetBAR(cpu, AfterPrint);
}

// ---- SRF, SPF ----

void TraceStartFeed(TCPUThread&) {}
void ExecStartFeed(TCPUThread&) {}

// ---- CC ----

void TraceControlCarriage(TCPUThread& cpu) {
  if (!cpu.Tracing()) return;
  TCarriage c = Carriage(cpu.R.DMod);
  if (c.Valid) {
    std::string count = std::to_string(c.Count);
    if (c.Immediate) {
      cpu.TraceAppend(c.Skip ? "Immediate skip to channel " + count
                             : "Immediate space " + count + " lines");
    } else {
      cpu.TraceAppend(c.Skip ? "After print, skip to channel " + count
                             : "After print, space " + count + " lines");
    }
  }
  cpu.TraceAppend(cpu.BranchSuffix(5));
}

void ExecControlCarriage(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  uint8_t d = r.DMod;
  TCarriage c = Carriage(d);
  if (!c.Valid) {
    // At the position of the d-modifier, as the other d-modifier checks are.
    RaiseProcessCheck(std::string("Invalid Carriage Control char: \"") + BcdToChar(d) + "\" at ",
                      static_cast<uint16_t>(r.IAR - 1));
  }
  // With a carriage tape a skip says so; without one every operation is a count of lines.
  bool tape = (r.CarriageState & TPrinter::TapeLoaded) != 0;
  Send(cpu, TReceiver::Printer, PrnCarriage,
       static_cast<uint16_t>(c.Count + (c.Immediate ? TPrinter::Immediate : 0) +
                             (tape && c.Skip ? TPrinter::Skip : 0)));
  CheckCarriage(cpu);
  if (c.Immediate && PrintStorage(cpu)) Busy(cpu, 0, CarriageInstructions);
  if (r.ILen == 5) cpu.TakeBranch();
}

// ---- SS ----

void TraceSelectStacker(TCPUThread& cpu) {
  if (!cpu.Tracing()) return;
  cpu.TraceAppend(std::string(1, BcdToChar(cpu.R.DMod)));
  cpu.TraceAppend(cpu.BranchSuffix(5));
}

void ExecSelectStacker(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  uint8_t d = r.DMod;
  if (!IsPocketCode(d)) {
    RaiseProcessCheck(std::string("Invalid Select Stacker char: ") + BcdToChar(d) + " at ",
                      static_cast<uint16_t>(r.IAR - 1));
  }
  Send(cpu, TReceiver::ReaderPunch, RdrSelectStacker, d);
  if (r.ILen == 5) cpu.TakeBranch();
}

}  // namespace kestrel
