// The instruction set as one table: op code, the title that begins its trace text, and its pair
// of handlers (one family of instructions per file beside this one).
#pragma once

#include "core/Features.h"
#include "core/InstructionSet.h"

namespace kestrel {

// The entry of an op code on a machine with these features, or null when it is not an
// instruction there.  `dChar` is the d-character of an 8-character instruction, else 0.
const TOpcodeEntry* FindOpcode(uint8_t code, TFeatureSet features, uint8_t dChar = 0);
// The entry every instruction with a % A-address goes to, whatever its op code.
const TOpcodeEntry* IOUnitEntry();
// The whole set, as the processor is given it.
const TInstructionSet& InstructionSet();

}  // namespace kestrel
