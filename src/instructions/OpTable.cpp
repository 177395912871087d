#include "instructions/OpTable.h"

#include <initializer_list>

#include "instructions/Handlers.h"

namespace kestrel {

namespace {

constexpr std::initializer_list<TOpcodeEntry> Instructions = {
    {1, "R   Read Card", TraceCardOperation, ExecReadCard},
    {2, "W   Write ", TraceWriteLine, ExecWriteLine},
    {3, "WR  Write line and Read card", TraceCardOperation, ExecWriteRead},
    {4, "P   Punch Card", TraceCardOperation, ExecPunchCard},
    {5, "RP  Read card and Punch card", TraceCardOperation, ExecReadPunch},
    {6, "WP  Write line and Punch card", TraceCardOperation, ExecWritePunch},
    {7, "WRP Write line, Read Card and Punch card", TraceCardOperation, ExecWriteReadPunch},
    {8, "SRF Start Read Feed", TraceStartFeed, ExecStartFeed},
    {9, "SPF Start Punch Feed", TraceStartFeed, ExecStartFeed},
    {11, "MA  Modify Address at ", TraceModifyAddress, ExecModifyAddress},
    {17, "CS  Clear Storage from ", TraceClearStorage, ExecClearStorage},
    {21, "BWZ Branch to ", TraceBranchWMZone, ExecBranchWMZone},
    {24, "MZ  Move zone bits from ", TraceMoveZone, ExecMoveZone},
    {27, "SW  Set WM at ", TraceSetWordMark, ExecSetWordMark},
    {35, "LCA Load chars from ", TraceLoadChars, ExecLoadChars},
    {36, "MCW Move chars from ", TraceMoveChars, ExecMoveChars},
    {37, "NOP No Operation", TraceNoOperation, ExecNoOperation},
    {40, "SAR Store A-Address Register (", TraceStoreAAR, ExecStoreAAR},
    {50, "B   Branch ", TraceBranch, ExecBranch},
    {51, "C   Compare ", TraceCompare, ExecCompare},
    {52, "MN  Move numeric bits from ", TraceMoveNumeric, ExecMoveNumeric},
    {56, "SBR Store B-Address Register (", TraceStoreBAR, ExecStoreBAR},
    {59, "H   HALT", TraceHalt, ExecHalt},
    {60, "CW  Clear WM at ", TraceClearWordMark, ExecClearWordMark},
    {34, "SS  Select Stacker: ", TraceSelectStacker, ExecSelectStacker},
    {54, "CC  Control Carriage - ", TraceControlCarriage, ExecControlCarriage},
    {18, "S   Subtract [", TraceSubtract, ExecSubtract},
    {42, "ZS  Zero and Subtract ", TraceZeroSubtract, ExecZeroSubtract},
    {49, "A   Add [", TraceAdd, ExecAdd},
    {58, "ZA  Zero and Add ", TraceZeroAdd, ExecZeroAdd},
    {25, "MCS Move Characters and Suppress Zeros from ", TraceMoveSuppress, ExecMoveSuppress},
    {53, "MCE Move Characters and Edit from ", TraceMoveEdit, ExecMoveEdit},
    // The special features.
    {12, "M   Multiply [", TraceMultiplyDivide, ExecMultiply, FEMultiplyDivide},
    {28, "D   Divide [", TraceMultiplyDivide, ExecDivide, FEMultiplyDivide},
    {39, "MCM Move chars to Record or Group Mark from ", TraceFeatureMove, ExecMoveRecord,
     FEMoveRecord},
    {22, "BBE Branch if Bit Equal at ", TraceBitEqual, ExecBitEqual, FEBitTest},
    {36, "MBD Move and Binary Decode from ", TraceFeatureMove, ExecBinaryDecode, FEBinaryCode, 49},
    {36, "MBC Move and Binary Code from ", TraceFeatureMove, ExecBinaryCode, FEBinaryCode, 50},
    {1, "RCB Read Column Binary", TraceCardOperation, ExecReadColumnBinary, FEBinaryCode, 51},
    {4, "PCB Punch Column Binary", TraceCardOperation, ExecPunchColumnBinary, FEBinaryCode, 51},
};

// The op codes' own entries, by code.
constexpr std::array<TOpcodeEntry, 64> MakeTable() {
  std::array<TOpcodeEntry, 64> table{};
  for (const TOpcodeEntry& entry : Instructions)
    if (entry.DChar == 0) table[entry.Code] = entry;
  return table;
}

// The op codes that have forms selected by their d-character.
constexpr uint64_t MakeDCharCodes() {
  uint64_t codes = 0;
  for (const TOpcodeEntry& entry : Instructions)
    if (entry.DChar != 0) codes |= uint64_t{1} << entry.Code;
  return codes;
}

constexpr std::array<TOpcodeEntry, 64> Table = MakeTable();
constexpr uint64_t DCharCodes = MakeDCharCodes();

bool Installed(const TOpcodeEntry& entry, TFeatureSet features) {
  return entry.Feature == 0 || (entry.Feature & features) != 0;
}

}  // namespace

const TOpcodeEntry* FindOpcode(uint8_t code, TFeatureSet features, uint8_t dChar) {
  code &= 63;
  if (dChar != 0 && ((DCharCodes >> code) & 1) != 0) {
    for (const TOpcodeEntry& entry : Instructions) {
      if (entry.Code == code && entry.DChar == dChar && Installed(entry, features)) return &entry;
    }
  }
  const TOpcodeEntry& entry = Table[code];
  return entry.Execute != nullptr && Installed(entry, features) ? &entry : nullptr;
}

const TOpcodeEntry* IOUnitEntry() {
  // The handlers write the whole text, so the title is empty.
  static constexpr TOpcodeEntry IOUnit{0, "", TraceIOUnit, ExecIOUnit};
  return &IOUnit;
}

const TInstructionSet& InstructionSet() {
  static constexpr TInstructionSet Set{FindOpcode, IOUnitEntry};
  return Set;
}

}  // namespace kestrel
