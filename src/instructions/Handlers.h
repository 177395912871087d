// The instruction handlers, one family per source file.
#pragma once

#include <cstdint>

#include "core/KestCore.h"

namespace kestrel {

class TCPUThread;

// Four positions at a time from (aar, bar) down (`TCoreStorage::Words4`), each A character moved
// to B as its code, B's word marks dropped: LCA's and MCS's first pass while no word mark is
// among the A-field's four, both groups are untrapped and A is not one to three positions above
// B (A would read what the group stores).  Gives the registers after the positions done and
// their count (DataMove.cpp).
struct TMoved {
  uint16_t AAR;
  uint16_t BAR;
  int Count;
};
TMoved LoadGroups(TCoreStorage& core, uint16_t aar, uint16_t bar);

// The value the adder takes a numeric position for (A, S, M, D alike).  The blank and the zero
// character are both 0.  The codes 11 to 15 are no digits, but the adder takes each as its code
// minus 8 (the 8 bit dropped from 8-4, 8-4-1, ...; 8-2-1 as 3).
constexpr int AdderDigit(uint8_t code) {
  const int numeric = code & Bcd::NumericMask;
  if (numeric == Bcd::Zero) return 0;
  return numeric > 9 ? numeric - 8 : numeric;
}

// Data movement and word marks (DataMove.cpp).
void TraceMoveChars(TCPUThread& cpu);
void ExecMoveChars(TCPUThread& cpu);
void TraceLoadChars(TCPUThread& cpu);
void ExecLoadChars(TCPUThread& cpu);
void TraceMoveZone(TCPUThread& cpu);
void ExecMoveZone(TCPUThread& cpu);
void TraceMoveNumeric(TCPUThread& cpu);
void ExecMoveNumeric(TCPUThread& cpu);
void TraceSetWordMark(TCPUThread& cpu);
void ExecSetWordMark(TCPUThread& cpu);
void TraceClearWordMark(TCPUThread& cpu);
void ExecClearWordMark(TCPUThread& cpu);
void TraceClearStorage(TCPUThread& cpu);
void ExecClearStorage(TCPUThread& cpu);
void TraceModifyAddress(TCPUThread& cpu);
void ExecModifyAddress(TCPUThread& cpu);
void TraceStoreAAR(TCPUThread& cpu);
void ExecStoreAAR(TCPUThread& cpu);
void TraceStoreBAR(TCPUThread& cpu);
void ExecStoreBAR(TCPUThread& cpu);
void TraceNoOperation(TCPUThread& cpu);
void ExecNoOperation(TCPUThread& cpu);

// Compare, branch and halt (CompareBranch.cpp).
void TraceCompare(TCPUThread& cpu);
void ExecCompare(TCPUThread& cpu);
void TraceBranch(TCPUThread& cpu);
void ExecBranch(TCPUThread& cpu);
void TraceBranchWMZone(TCPUThread& cpu);
void ExecBranchWMZone(TCPUThread& cpu);
void TraceHalt(TCPUThread& cpu);
void ExecHalt(TCPUThread& cpu);

// Unit-record instructions (UnitRecord.cpp).
void TraceCardOperation(TCPUThread& cpu);  // R, WR, P, RP, WP, WRP
void ExecReadCard(TCPUThread& cpu);
void TraceWriteLine(TCPUThread& cpu);
void ExecWriteLine(TCPUThread& cpu);
void ExecWriteRead(TCPUThread& cpu);
void ExecPunchCard(TCPUThread& cpu);
void ExecReadColumnBinary(TCPUThread& cpu);   // RCB (1 with d-character C)
void ExecPunchColumnBinary(TCPUThread& cpu);  // PCB (4 with d-character C)
void ExecReadPunch(TCPUThread& cpu);
void ExecWritePunch(TCPUThread& cpu);
void ExecWriteReadPunch(TCPUThread& cpu);
void TraceStartFeed(TCPUThread& cpu);
void ExecStartFeed(TCPUThread& cpu);
void TraceControlCarriage(TCPUThread& cpu);
void ExecControlCarriage(TCPUThread& cpu);
void TraceSelectStacker(TCPUThread& cpu);
void ExecSelectStacker(TCPUThread& cpu);

// I/O-unit instructions, whose A-address begins with % (TapeIO.cpp).
void TraceIOUnit(TCPUThread& cpu);
void ExecIOUnit(TCPUThread& cpu);

// Arithmetic (Arithmetic.cpp).
void TraceAdd(TCPUThread& cpu);
void ExecAdd(TCPUThread& cpu);
void TraceSubtract(TCPUThread& cpu);
void ExecSubtract(TCPUThread& cpu);
void TraceZeroAdd(TCPUThread& cpu);
void ExecZeroAdd(TCPUThread& cpu);
void TraceZeroSubtract(TCPUThread& cpu);
void ExecZeroSubtract(TCPUThread& cpu);

// Editing moves (Editing.cpp).
void TraceMoveSuppress(TCPUThread& cpu);
void ExecMoveSuppress(TCPUThread& cpu);
void TraceMoveEdit(TCPUThread& cpu);
void ExecMoveEdit(TCPUThread& cpu);

// Special features: multiply and divide (MultiplyDivide.cpp); move record, binary code and
// decode (FeatureMoves.cpp); branch if bit equal (BitTest.cpp).  The expanded print edit is a
// form of MCE (Editing.cpp).
void TraceMultiplyDivide(TCPUThread& cpu);  // M and D
void ExecMultiply(TCPUThread& cpu);
void ExecDivide(TCPUThread& cpu);
void TraceFeatureMove(TCPUThread& cpu);  // MCM, MBD and MBC
void ExecMoveRecord(TCPUThread& cpu);
void ExecBinaryCode(TCPUThread& cpu);
void ExecBinaryDecode(TCPUThread& cpu);
void TraceBitEqual(TCPUThread& cpu);
void ExecBitEqual(TCPUThread& cpu);

}  // namespace kestrel
