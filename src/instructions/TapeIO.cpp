// The I/O-unit instructions: every instruction whose A-address begins with % comes here, whatever
// its op code.  M and L read or write one tape record at BAR (L in load mode, word separators on
// tape standing for word marks in core; M in move mode, characters only), U rewinds, unloads or
// writes a tape mark; the disk form is checked and moves nothing.  The tape units do the work
// during a synchronous request and leave the count in TapeTransferCount.
#include <string>

#include "core/KestProc.h"
#include "devices/IBM729IV.h"
#include "instructions/Handlers.h"

namespace kestrel {

namespace {

// Unit types.
constexpr uint8_t UnitTapeEven = 20;  // U
constexpr uint8_t UnitTapeOdd = 50;   // B
constexpr uint8_t UnitDisk = 54;      // F

// d-modifiers.
constexpr uint8_t DRead = 41;       // R: read; with U, rewind
constexpr uint8_t DWrite = 22;      // W
constexpr uint8_t DUnload = 20;     // U
constexpr uint8_t DTapeMark = 36;   // M
constexpr uint8_t DBackspace = 50;  // B
constexpr uint8_t DSkip = 53;       // E

std::string Char(uint8_t code) {
  return std::string(1, BcdToChar(code));
}

const char* ControlText(uint8_t d) {
  switch (d) {
    case DRead:
      return "Rewind Tape";
    case DUnload:
      return "Rewind Tape and Unload";
    case DTapeMark:
      return "Write Tape Mark";
    case DBackspace:
      return "BackSpace Record";
    case DSkip:
      return "Skip and Blank Tape";
    default:
      return nullptr;
  }
}

bool IsDiskUnit(uint8_t unit) {
  return unit == 1 || unit == 2 || unit == 3 || unit == Bcd::Zero;
}

void SendTape(TCPUThread& cpu, TTapeOp operation, uint8_t mode) {
  DeviceCommand command;
  command.Operation = static_cast<uint16_t>(operation);
  command.Selector = cpu.R.IOUnitNum;
  command.Flag = mode;
  cpu.SendDevice(TReceiver::TapeUnits, command);
}

std::string ReadOrWrite(const TCPUThread& cpu) {
  return (cpu.R.DMod == DRead ? " Read into " : " Write from ") + Addr5(cpu.R.BAR);
}

}  // namespace

void TraceIOUnit(TCPUThread& cpu) {
  if (!cpu.Tracing()) return;
  const TRegisters& r = cpu.R;
  uint8_t op = r.Opcode;
  uint8_t d = r.DMod;
  uint8_t type = r.IOUnitType;
  uint8_t unit = r.IOUnitNum;
  std::string text;
  if (op == Opcode::Control) {
    const char* control = ControlText(d);
    text = "Tape Unit " + Char(unit) + "  " +
           (control != nullptr ? std::string(control) : "Invalid Tape Control command: " + Char(d));
  } else if (op != Opcode::LoadChars && op != Opcode::MoveChars) {
    text = "Invalid I/O command: " + Char(op);
  } else if (d != DRead && d != DWrite) {
    text = "Invalid R/W Option: " + Char(d);
  } else if (type == UnitTapeEven || type == UnitTapeOdd) {
    text = "Tape Unit " + Char(unit) + ReadOrWrite(cpu) +
           (op == Opcode::LoadChars ? " With WordMarks " : "") +
           (type == UnitTapeEven ? " Even Parity" : " Odd Parity");
  } else if (type == UnitDisk) {
    if (unit == 1) {
      text = "Disk " + ReadOrWrite(cpu) + " Single Record";
    } else if (unit == 2) {
      text = "Disk " + ReadOrWrite(cpu) + " Full Track";
    } else if (!IsDiskUnit(unit)) {
      text = "Invalid Disk Command: " + Char(unit);
    }
  } else {
    text = "Invalid I/O Option: " + Char(type);
  }
  cpu.TraceAppend(text);
}

void ExecIOUnit(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  uint8_t op = r.Opcode;
  uint8_t d = r.DMod;
  uint8_t type = r.IOUnitType;
  if (op == Opcode::Control) {
    switch (d) {
      case DRead:
        SendTape(cpu, TTapeOp::TapeRewind, 0);
        break;
      case DUnload:
        SendTape(cpu, TTapeOp::TapeUnload, 0);
        break;
      case DTapeMark:
        SendTape(cpu, TTapeOp::TapeWriteMark, type == UnitTapeOdd ? TapeMode::OddParity : 0);
        break;
      case DBackspace:
        SendTape(cpu, TTapeOp::TapeBackspace, 0);
        break;
      case DSkip:
        SendTape(cpu, TTapeOp::TapeSkipBlank, 0);
        break;
      default:
        RaiseProcessCheck("Invalid Tape Control command: " + Char(d) + " at ", r.InstrAddr);
    }
    return;
  }
  if (op != Opcode::LoadChars && op != Opcode::MoveChars) {
    RaiseProcessCheck("Invalid I/O command: " + Char(op) + " at ", r.InstrAddr);
  }
  if (d != DRead && d != DWrite) {
    RaiseProcessCheck("Invalid R/W Option: " + Char(d) + " at ", r.InstrAddr);
  }
  if (type == UnitTapeEven || type == UnitTapeOdd) {
    uint8_t mode =
        static_cast<uint8_t>((op == Opcode::LoadChars ? TapeMode::WordMarks : 0) +
                             (type == UnitTapeEven ? TapeMode::EvenParity : TapeMode::OddParity));
    SendTape(cpu, d == DRead ? TTapeOp::TapeRead : TTapeOp::TapeWrite, mode);
  } else if (type == UnitDisk) {
    // No disk is attached: the form is checked and nothing moves.
    if (!IsDiskUnit(r.IOUnitNum)) {
      RaiseProcessCheck("Invalid Disk Command: " + Char(r.IOUnitNum) + " at ", r.InstrAddr);
    }
  } else {
    RaiseProcessCheck("Invalid I/O Option: " + Char(type) + " at ", r.InstrAddr);
  }
  if (cpu.Tracing()) {
    cpu.TraceAppend("I          " + std::to_string(r.TapeTransferCount) + " chars transfered");
  }
}

}  // namespace kestrel
