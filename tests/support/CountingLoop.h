// The counting loop the debugger's tests run: COUNT (800) goes up by ONE (700) until it equals
// LIMIT (900), then a halt.
//   500 LOOP  A ONE COUNT      507 CHECK C COUNT LIMIT     514 B LOOP /      519 DONE .
#pragma once

#include "support/TestMachine.h"

namespace kestrel::test {

inline void PlaceCountingLoop(TTestMachine& t) {
  t.Instructions(
      500, {"A" + Addr(700) + Addr(800), "C" + Addr(800) + Addr(900), "B" + Addr(500) + "/", "."});
  t.Field(700, "001");
  t.Field(800, "000");
  t.Field(900, "005");
}

}  // namespace kestrel::test
