// Compare, branch and halt: C, B in its four forms, BWZ and the halt.  Every taken branch ends
// with TakeBranch, so BAR holds the return address.
#include <array>
#include <bit>
#include <string>

#include "core/KestProc.h"
#include "devices/IBM1403.h"
#include "instructions/Handlers.h"

namespace kestrel {

namespace {

// Collating weights by code: a smaller weight collates higher.  Ascending: blank . lozenge [ <
// group mark & $ * ] ; delta - / , % (29) (30) (31) (16) # @ : > (15) ? A-I ! J-R record mark
// S-Z 0 1-9, every code in a place of its own.
constexpr std::array<uint8_t, 64> CollatingWeight = {
    63, 8,  7,  6,  5,  4,  3,  2,   // 0-7
    1,  0,  9,  43, 42, 41, 40, 39,  // 8-15
    44, 50, 17, 16, 15, 14, 13, 12,  // 16-23
    11, 10, 18, 49, 48, 47, 46, 45,  // 24-31
    51, 27, 26, 25, 24, 23, 22, 21,  // 32-39
    20, 19, 28, 56, 55, 54, 53, 52,  // 40-47
    57, 37, 36, 35, 34, 33, 32, 31,  // 48-55
    30, 29, 38, 62, 61, 60, 59, 58,  // 56-63
};

std::string Quoted(uint8_t code) {
  return std::string("\"") + BcdToChar(code) + "\"";
}

// ---- Branch on indicator ----

// The indicator a 5-character branch tests; null name for a d-modifier that is none.
const char* IndicatorName(uint8_t d) {
  switch (d) {
    case 9:
      return "Carriage Channel 9";
    case 12:
      return "Carriage Channel 12";
    case 17:
      return "Unequal";
    case 18:
      return "Equal";
    case 19:
      return "Low";
    case 20:
      return "High";
    case 25:
      return "Overflow";
    case 26:
      return "Printer Error";
    case 28:
      return "Process Error";
    case 42:
      return "Punch Error";
    case 58:
      return "Reader Error";
    case 34:
      return "End of Reel";
    case 33:
      return "Tape Busy";
    case 35:
      return "Tape Error";
    case 39:
      return "Printer Busy";
    case 41:
      return "Printer Carriage Busy";
    default:
      return nullptr;
  }
}

bool IsSwitch(uint8_t d) {
  return d >= 49 && d <= 55;
}

uint16_t PrinterLineCount(TCPUThread& cpu) {
  DeviceCommand command;
  command.Operation = PrnLineCount;
  cpu.SendDevice(TReceiver::Printer, command);
  return cpu.R.PrinterLineCount;
}

bool IndicatorOn(TCPUThread& cpu, uint8_t d) {
  TRegisters& r = cpu.R;
  switch (d) {
    case 9:
      if (r.CarriageState & TPrinter::TapeLoaded) return r.CarriageState & TPrinter::Latch9;
      return PrinterLineCount(cpu) % 50 == 0;
    case 12:
      if (r.CarriageState & TPrinter::TapeLoaded) return r.CarriageState & TPrinter::Latch12;
      return PrinterLineCount(cpu) % 66 == 0;
    case 17:
      return !r.EqualIndicator;
    case 18:
      return r.EqualIndicator;
    case 19:
      return r.LowIndicator;
    case 20:
      return !r.LowIndicator && !r.EqualIndicator;
    case 25:
      return r.OverflowIndicator.Exchange(false);
    // The error indicators, like Overflow, go off when tested.
    case 26:
      return r.PrinterErrorIndicator.Exchange(false);
    case 28:
      return r.ProcessErrorIndicator.Exchange(false);
    case 42:
      return r.PunchErrorIndicator.Exchange(false);
    case 58:
      return r.ReaderErrorIndicator.Exchange(false);
    case 49:
      // A is the last card switch: on by the operator, or once the hopper's last card is read.
      return r.SenseSwitch(0) || r.LastCardIndicator;
    case 34: {
      // End of Reel follows the unit last read or written, and the test clears that unit.
      bool on = r.EndOfReelIndicator;
      uint8_t unit = r.LastTapeUnit;
      DeviceCommand command;
      command.Operation = Operation(TTapeOp::TapeClearIndicate);
      command.Selector = unit != 0 ? unit : 1;
      cpu.SendDevice(TReceiver::TapeUnits, command);
      return on;
    }
    case 35:
      // The test turns the indicator off, as the 1401 does.
      return r.TapeErrorIndicator.Exchange(false);
    // A tape operation is done when its instruction ends: a tape is never still busy when a
    // branch tests it.
    case 33:
      return false;
    // Printer and carriage busy: only print storage lets the processor go on while they work.
    case 39:
      return (r.Features & FEPrintStorage) && r.PrintBusyLeft != 0;
    case 41:
      return (r.Features & FEPrintStorage) && r.CarriageBusyLeft != 0;
    default:
      return r.SenseSwitch(d - 49);
  }
}

// ---- Branch if word mark and/or zone ----

// The d-character is decoded by its bits, as the machine does: the 1 bit asks for a word mark,
// the 2 bit for the zone the d-character's own zone bits name (so 2 is no zone, S the A zone, K
// the B zone, B both); the other bits do not count.
constexpr uint8_t TestWordMark = 1;
constexpr uint8_t TestZone = 2;

std::string WMZoneName(uint8_t d) {
  static constexpr const char* ZoneNames[] = {"No Zone", "A-Zone", "B-Zone", "AB-Zone"};
  std::string zone = ZoneNames[(d & Bcd::ZoneMask) / Bcd::AZone];
  switch (d & (TestWordMark | TestZone)) {
    case TestWordMark:
      return "Word Mark";
    case TestZone:
      return zone;
    case TestWordMark | TestZone:
      return zone + " or WM";
    default:
      return "Nothing";
  }
}

bool WMZoneMatches(uint8_t d, TCharWM c) {
  bool zoneMatches = (c.Code & Bcd::ZoneMask) == (d & Bcd::ZoneMask);
  return ((d & TestWordMark) && c.WordMark) || ((d & TestZone) && zoneMatches);
}

// C, four pairs at a time (`TCoreStorage::Words4`) while both groups of four are untrapped and
// no word mark is among them; the highest-order unequal pair of a group, the last the loop of one
// pair at a time would meet, decides high or low.  A function of its own, taking and giving
// values, so that the one-at-a-time loop keeps its registers.
struct TCompared {
  uint16_t AAR;
  uint16_t BAR;
  bool Equal;
  bool Low;
};
[[gnu::noinline]] TCompared CompareGroups(TCoreStorage& core, uint16_t aar, uint16_t bar) {
  TCompared c{aar, bar, true, false};
  while (c.AAR >= 4 && c.BAR >= 4 && core.Plain4(static_cast<uint16_t>(c.AAR - 3)) &&
         core.Plain4(static_cast<uint16_t>(c.BAR - 3))) {
    const uint64_t aWords = core.Words4(static_cast<uint16_t>(c.AAR - 3));
    const uint64_t bWords = core.Words4(static_cast<uint16_t>(c.BAR - 3));
    if ((aWords | bWords) & TCoreStorage::Lanes(CoreChar::WordMark)) break;
    if (const uint64_t differ = (aWords ^ bWords) & TCoreStorage::Lanes(CoreChar::CodeMask)) {
      const int shift = std::countr_zero(differ) & ~15;
      c.Equal = false;
      c.Low = CollatingWeight[(aWords >> shift) & CoreChar::CodeMask] <
              CollatingWeight[(bWords >> shift) & CoreChar::CodeMask];
    }
    c.AAR = static_cast<uint16_t>(c.AAR - 4);
    c.BAR = static_cast<uint16_t>(c.BAR - 4);
  }
  return c;
}

}  // namespace

// ---- C ----

void TraceCompare(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  std::string a = cpu.Core.WordText(r.AAR);
  std::string b = cpu.Core.WordText(r.BAR);
  cpu.TraceAppend(Addr5(r.AAR) + " to " + Addr5(r.BAR) + " \"" + a + "\" \"" + b + "\"");
}

template <bool Details>
static void Compare(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  TCoreStorage& core = cpu.Core;
  const bool details = Details;
  bool equal = true;
  bool low = false;
  uint16_t aar = r.AAR;
  uint16_t bar = r.BAR;
  bool ended = false;
  if (!details) {
    if (TCoreStorage::WideAccess) {
      const TCompared c = CompareGroups(core, aar, bar);
      aar = c.AAR;
      bar = c.BAR;
      equal = c.Equal;
      low = c.Low;
    }
    // Untraced, pairs of positions without trap bits are compared raw in a loop of their own,
    // its state in registers; the careful loop below goes on from the first pair with one.
    while (core.PlainToRead(aar, bar)) {
      const uint16_t aWord = core.Word(aar);
      const uint16_t bWord = core.Word(bar);
      if (aWord & ~bWord & CoreChar::WordMark) {
        equal = false;
        --aar;
        --bar;
        ended = true;
        break;
      }
      const uint8_t aCode = static_cast<uint8_t>(aWord & CoreChar::CodeMask);
      const uint8_t bCode = static_cast<uint8_t>(bWord & CoreChar::CodeMask);
      if (aCode != bCode) {
        equal = false;
        low = CollatingWeight[aCode] < CollatingWeight[bCode];
      }
      --aar;
      --bar;
      if (bWord & CoreChar::WordMark) {
        ended = true;
        break;
      }
    }
  }
  // AAR and BAR live in locals, one step behind the positions read: stored at the end or where a
  // check stops a read.
  try {
    while (!ended) {
      TCharWM a = core.ReadCharWM(aar);
      TCharWM b = core.ReadCharWM(bar);
      if (a.WordMark && !b.WordMark) {
        // The A-field is shorter: unequal, and this position is not compared.
        equal = false;
        --aar;
        --bar;
        break;
      }
      if (a.Code != b.Code) {
        // Fields are compared from the units position up, so the high-order unequal position,
        // the last one met, decides between high and low.
        equal = false;
        low = CollatingWeight[a.Code] < CollatingWeight[b.Code];
      }
      if (details) {
        r.AAR = static_cast<uint16_t>(aar - 1);
        r.BAR = static_cast<uint16_t>(bar - 1);
        cpu.TraceAppend("D          " + Addr5(aar) + " " + Addr5(bar) + " \"" + BcdToChar(a.Code) +
                        " " + BcdToChar(b.Code) + "\" -> " + (equal ? " Equal" : " Unequal") +
                        (low ? " Low" : " High"));
        cpu.TraceFlush();
      }
      --aar;
      --bar;
      if (b.WordMark) break;
    }
  } catch (...) {
    r.AAR = aar;
    r.BAR = bar;
    throw;
  }
  r.AAR = aar;
  r.BAR = bar;
  r.EqualIndicator = equal;
  r.LowIndicator = low;
}

// The loop without detail lines is compiled apart, so that nothing of their texts weighs on it.
void ExecCompare(TCPUThread& cpu) {
  if (cpu.TracingDetails()) {
    Compare<true>(cpu);
  } else {
    Compare<false>(cpu);
  }
}

// ---- B ----

void TraceBranch(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  std::string text;
  switch (r.ILen) {
    case 1:
    case 8:
      text = "if Character Equal at " + Addr5(r.BAR) + " (" + Quoted(cpu.Core.ReadChar(r.BAR)) +
             ") to " + Quoted(r.DMod) + " to " + Addr5(r.AAR);
      break;
    case 4:
      text = " to " + Addr5(r.AAR);
      break;
    case 5: {
      uint8_t d = r.DMod;
      const char* name = IndicatorName(d);
      if (name == nullptr && !IsSwitch(d)) {
        text = std::string("INVALID d-char: ") + BcdToChar(d);
      } else {
        std::string shown = name != nullptr ? name : std::string("Switch ") + BcdToChar(d);
        text = "if Indicator On " + Quoted(d) + " (" + shown + ") to " + Addr5(r.AAR);
      }
      break;
    }
    case 7:
      text = " (3 extra characters will be ignored) to " + Addr5(r.AAR);
      break;
    default:
      text = "Invalid Branch instruction length";
      break;
  }
  cpu.TraceAppend(text);
}

void ExecBranch(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  bool taken = false;
  switch (r.ILen) {
    case 1:
    case 8: {
      uint8_t code = cpu.Core.ReadChar(r.BAR);
      r.BAR = static_cast<uint16_t>(r.BAR - 1);
      taken = code == r.DMod;
      break;
    }
    case 4:
    case 7:
      taken = true;
      break;
    case 5: {
      uint8_t d = r.DMod;
      if (IndicatorName(d) == nullptr && !IsSwitch(d)) {
        RaiseProcessCheck(std::string("Invalid d-char: ") + BcdToChar(d) + " at ",
                          static_cast<uint16_t>(r.IAR - 1));
      }
      taken = IndicatorOn(cpu, d);
      r.BAR = static_cast<uint16_t>(d * 100);
      break;
    }
    default:
      RaiseProcessCheck("Invalid Branch instruction length at ", r.InstrAddr);
  }
  if (taken) cpu.TakeBranch();
}

// ---- BWZ ----

void TraceBranchWMZone(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  TCharWM c = cpu.Core.ReadCharWM(r.BAR);
  std::string mark = "(...)";
  if (c.WordMark) mark[1] = 'W';
  if (c.Code & Bcd::BZone) mark[2] = 'B';
  if (c.Code & Bcd::AZone) mark[3] = 'A';
  cpu.TraceAppend(Addr5(r.AAR) + " If WM/Z at " + Addr5(r.BAR) + mark +
                  " matches: " + WMZoneName(r.DMod));
}

void ExecBranchWMZone(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  TCharWM c = cpu.Core.ReadCharWM(r.BAR);
  r.BAR = static_cast<uint16_t>(r.BAR - 1);
  if (WMZoneMatches(r.DMod, c)) cpu.TakeBranch();
}

// ---- H ----

void TraceHalt(TCPUThread& cpu) {
  if (cpu.R.ILen == 4) cpu.TraceAppend(" Resume at " + Addr5(cpu.R.AAR));
}

void ExecHalt(TCPUThread& cpu) {
  if (cpu.R.ILen == 4) cpu.TakeBranch();
  cpu.R.StopMessage.Set("Program Halt at");
  cpu.R.State = CpuState::ProgramHalt;
}

}  // namespace kestrel
