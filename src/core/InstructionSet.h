// What the processor dispatches on: for each op code (and the features that add it), the title
// that begins its trace text and a pair of handlers.  The trace handler only describes the
// instruction; the execute handler does it.  The table itself is built by the instructions
// (instructions/OpTable.h) and handed to the processor by the one who builds the machine.
#pragma once

#include <array>
#include <cstdint>

#include "core/Features.h"

namespace kestrel {

class TCPUThread;
using THandler = void (*)(TCPUThread& cpu);

struct TOpcodeEntry {
  uint8_t Code = 0;
  const char* Title = nullptr;  // mnemonic and title, blanks included ("MCW Move chars from ")
  THandler Trace = nullptr;
  THandler Execute = nullptr;
  // The special feature that adds the instruction; 0 for the basic machine.
  TFeatureSet Feature = 0;
  // Non-zero: a form of the op code written with this d-character, which the feature adds
  // beside the op code's own entry.
  uint8_t DChar = 0;
};

// The d-character that selects a form of an op code: that of an instruction of 2, 5 or 8
// characters, else 0.
constexpr uint8_t FormDChar(int length, uint8_t dMod) {
  return length == 2 || length == 5 || length == 8 ? dMod : uint8_t{0};
}

struct TInstructionSet {
  // The entry of an op code on a machine with these features, or null when it is not an
  // instruction there; `dChar` is FormDChar of the instruction.
  const TOpcodeEntry* (*Find)(uint8_t code, TFeatureSet features, uint8_t dChar) = nullptr;
  // The entry every instruction with a % A-address goes to, whatever its op code.
  const TOpcodeEntry* (*IOUnit)() = nullptr;
};

}  // namespace kestrel
