// The moves the special features add.  MCM (P, move record) moves left to right, from the
// high-order positions given by AAR and BAR, up to a record mark or a group mark with a word mark
// in the A-field.  MBC and MBD (MCW with d-character B or A, the column binary feature) turn a
// card's column binary image into characters and back.
#include <algorithm>
#include <string>

#include "core/KestProc.h"
#include "instructions/Handlers.h"

namespace kestrel {

namespace {

// The address n positions away; off either end of the address range it becomes 0 or the
// largest value, which the address check refuses.
uint16_t Offset(uint16_t address, int n) {
  return static_cast<uint16_t>(std::clamp(int{address} + n, 0, 0xFFFF));
}

std::string FromTo(const TCPUThread& cpu) {
  return Addr5(cpu.R.AAR) + " to " + Addr5(cpu.R.BAR);
}

}  // namespace

// ---- MCM ----

void ExecMoveRecord(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  TCoreStorage& core = cpu.Core;
  const bool details = cpu.TracingDetails();
  uint16_t aar = r.AAR;
  uint16_t bar = r.BAR;
  int count = 0;
  // The mark that ends the move is moved too; word marks stay where they are in both fields.
  // Both registers end one past it, where a chained MCM goes on.
  while (true) {
    TCharWM a = core.ReadCharWM(aar);
    if (details) {
      cpu.TraceAppend("D          => " + Addr5(aar) + " \"" + BcdToChar(a.Code) + "\" to " +
                      Addr5(bar));
      cpu.TraceFlush();
    }
    core.StoreChar(bar, a.Code);
    r.AAR = aar = Offset(aar, 1);
    r.BAR = bar = Offset(bar, 1);
    ++count;
    if (a.Code == Bcd::RecordMark || (a.Code == Bcd::GroupMark && a.WordMark)) break;
  }
  if (details) cpu.TraceAppend("D          Chars moved=" + std::to_string(count));
}

// ---- MBC and MBD ----
//
// The column binary image of a card is two rows of 80 characters a hundred positions apart (the
// upper rows of the columns in the first, the lower rows in the second), addressed by the units
// position of the second row.  The character form is 160 positions with each column's two
// characters side by side.  Word marks in the receiving positions stay.

namespace {

constexpr int Columns = 80;

// The first row's and the second row's character of column k (0 to 79) of an image ending at
// `units`.
uint16_t UpperRow(uint16_t units, int k) {
  return Offset(units, k - 179);
}
uint16_t LowerRow(uint16_t units, int k) {
  return Offset(units, k - 79);
}
// Column k's first character in a 160-position field ending at `units`; the second follows it.
uint16_t Pair(uint16_t units, int k) {
  return Offset(units, 2 * k - 159);
}

void TraceColumns(TCPUThread& cpu) {
  if (cpu.TracingDetails()) cpu.TraceAppend("D          Columns moved=80");
}

}  // namespace

// MCM, MBD and MBC: "A to B".
void TraceFeatureMove(TCPUThread& cpu) {
  if (cpu.Tracing()) cpu.TraceAppend(FromTo(cpu));
}

void ExecBinaryDecode(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  TCoreStorage& core = cpu.Core;
  const uint16_t image = r.AAR;
  const uint16_t chars = r.BAR;
  for (int k = 0; k < Columns; ++k) {
    core.StoreChar(Pair(chars, k), core.ReadChar(UpperRow(image, k)));
    core.StoreChar(Offset(Pair(chars, k), 1), core.ReadChar(LowerRow(image, k)));
  }
  r.AAR = UpperRow(image, -1);
  r.BAR = Offset(chars, -160);
  TraceColumns(cpu);
}

void ExecBinaryCode(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  TCoreStorage& core = cpu.Core;
  const uint16_t chars = r.AAR;
  const uint16_t image = r.BAR;
  for (int k = 0; k < Columns; ++k) {
    core.StoreChar(UpperRow(image, k), core.ReadChar(Pair(chars, k)));
    core.StoreChar(LowerRow(image, k), core.ReadChar(Offset(Pair(chars, k), 1)));
  }
  r.AAR = Offset(chars, -160);
  r.BAR = UpperRow(image, -1);
  TraceColumns(cpu);
}

}  // namespace kestrel
