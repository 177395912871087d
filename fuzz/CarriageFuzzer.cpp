// The carriage tape file: whatever the text, reading it gives a tape of 1 to 132 lines, or an
// error that names the file and leaves the tape as it was.  A tape read reads back the same from
// its own text, and the carriage on it moves as promised: a space of n moves n lines, a skip to
// a channel the tape has reaches a line punched in it within one turn, a skip to one it lacks
// moves nothing.
//
// Input: the file's text; its first byte also chooses the operations tried after a good read.
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "devices/CarriageTape.h"

using namespace kestrel;
using namespace kestrel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TCarriageTape tape;
  const std::string before = tape.Text();
  std::string error = TCarriageTape::Parse(text, "F", tape);
  if (Verbose()) Report(error.empty() ? "read " + std::to_string(tape.Length()) + " lines" : error);
  if (!error.empty()) {
    Require(error.rfind("Carriage tape F", 0) == 0, "an error that does not name the file");
    Require(tape.Text() == before, "a refused file changed the tape");
    return 0;
  }
  Require(tape.Length() >= 1 && tape.Length() <= TCarriageTape::MaxLines, "a tape's length");
  TCarriageTape again;
  Require(TCarriageTape::Parse(tape.Text(), "F", again).empty(), "a tape's own text refused");
  Require(again.Text() == tape.Text(), "a tape's own text read back differently");
  uint8_t ops = size > 0 ? data[0] : 0;
  for (int i = 0; i < 8; ++i) {
    int channel = (ops + i * 5) % 14;  // 0 and 13 are never punched
    int from = tape.Position();
    int moved = tape.Skip(channel);
    if (tape.HasChannel(channel)) {
      Require(moved >= 1 && moved <= tape.Length(), "a skip longer than a turn");
      Require(tape.Punched(tape.Position(), channel), "a skip that stopped off its channel");
      Require((from + moved) % tape.Length() == tape.Position(), "a skip's count");
    } else {
      Require(moved == -1 && tape.Position() == from, "a runaway skip moved the carriage");
    }
    from = tape.Position();
    int lines = (ops >> (i % 8)) & 3;
    Require(tape.Space(lines) == lines, "a space's count");
    Require((from + lines) % tape.Length() == tape.Position(), "a space moved elsewhere");
  }
  return 0;
}
