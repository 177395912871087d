// The instruction set as one table: op code, the title that begins its trace text, and its pair
// of handlers (one family of instructions per file beside this one).
#pragma once

#include "core/InstructionSet.h"

namespace kestrel {

const TInstructionSet& InstructionSet();

}  // namespace kestrel
