// The bit test feature: BBE (W, branch if bit equal) branches when the character at BAR has any
// of the bits (B, A, 8, 4, 2, 1) of the d-character.  The word mark takes no part.
#include <string>

#include "core/KestProc.h"
#include "instructions/Handlers.h"

namespace kestrel {

void TraceBitEqual(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  uint8_t c = cpu.Core.ReadChar(r.BAR);
  if (!cpu.Tracing()) return;
  cpu.TraceAppend(Addr5(r.BAR) + " (\"" + BcdToChar(c) + "\") to \"" + BcdToChar(r.DMod) +
                  "\" to " + Addr5(r.AAR));
}

void ExecBitEqual(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  uint8_t c = cpu.Core.ReadChar(r.BAR);
  r.BAR = static_cast<uint16_t>(r.BAR - 1);
  if ((c & r.DMod & 63) != 0) cpu.TakeBranch();
}

}  // namespace kestrel
