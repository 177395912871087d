// The instruction set as one table: op code, the title that begins its trace text, and its pair
// of handlers.  The trace handler only describes the instruction; the execute handler does it.
#pragma once

#include <cstdint>

namespace kestrel {

class TCPUThread;
using THandler = void (*)(TCPUThread& cpu);

struct TOpcodeEntry {
  uint8_t Code = 0;
  const char* Title = nullptr;  // mnemonic and title, blanks included ("MCW Move chars from ")
  THandler Trace = nullptr;
  THandler Execute = nullptr;
};

// The entry of an op code, or null when the code is not an instruction.
const TOpcodeEntry* FindOpcode(uint8_t code);
// The entry every instruction with a % A-address goes to, whatever its op code.
const TOpcodeEntry* IOUnitEntry();

}  // namespace kestrel
