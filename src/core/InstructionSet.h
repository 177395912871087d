// What the processor dispatches on: for each op code, the title that begins its trace text and a
// pair of handlers.  The trace handler only describes the instruction; the execute handler does
// it.  The table itself is built by the instructions (instructions/OpTable.h) and handed to the
// processor by the one who builds the machine.
#pragma once

#include <array>
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

struct TInstructionSet {
  // Indexed by the op code; an entry without an execute handler is not an instruction.
  std::array<TOpcodeEntry, 64> ByCode{};
  // The entry every instruction with a % A-address goes to, whatever its op code.
  TOpcodeEntry IOUnit{};
};

}  // namespace kestrel
