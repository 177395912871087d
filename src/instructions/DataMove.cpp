// Data movement and word marks: MCW, LCA, MZ, MN, SW, CW, CS, MA, SAR, SBR, NOP.  Fields run
// leftward from AAR and BAR; the registers each leaves behind matter, because a following short
// instruction chains on them.
#include <string>

#include "core/KestProc.h"
#include "instructions/Handlers.h"

namespace kestrel {

namespace {

std::string FromTo(const TCPUThread& cpu) {
  return Addr5(cpu.R.AAR) + " to " + Addr5(cpu.R.BAR);
}

bool TwoPositions(const TCPUThread& cpu) {
  return cpu.R.ILen == 1 || cpu.R.ILen == 7;
}

// One moved character, as its own detail line.
void TraceMovedChar(TCPUThread& cpu, uint16_t from, uint8_t code, uint16_t to, bool withWM) {
  std::string line =
      "D          => " + Addr5(from) + " \"" + BcdToChar(code) + "\" to " + Addr5(to);
  if (withWM) line += " plus WM";
  cpu.TraceAppend(line);
  cpu.TraceFlush();
}

void SetOrClearWordMarks(TCPUThread& cpu, bool on) {
  TRegisters& r = cpu.R;
  cpu.Core.SetWordMark(r.AAR, on);
  r.AAR = static_cast<uint16_t>(r.AAR - 1);
  if (TwoPositions(cpu)) {
    cpu.Core.SetWordMark(r.BAR, on);
    r.BAR = static_cast<uint16_t>(r.BAR - 1);
  } else {
    r.BAR = r.AAR.Get();
  }
}

void TraceWordMarks(TCPUThread& cpu) {
  if (!cpu.Tracing()) return;
  std::string text = Addr5(cpu.R.AAR);
  if (TwoPositions(cpu)) text += " and " + Addr5(cpu.R.BAR);
  cpu.TraceAppend(text);
}

uint16_t ClearStart(const TCPUThread& cpu) {
  return TwoPositions(cpu) ? cpu.R.BAR.Get() : cpu.R.AAR.Get();
}

// The position whose address MA modifies: AAR itself for the one-address form.
uint16_t ModifyTarget(const TCPUThread& cpu) {
  return cpu.R.ILen == 4 ? cpu.R.AAR.Get() : cpu.R.BAR.Get();
}

// One position: the bits of `fromA` come from the A character, the rest stay as in B.
void MoveBits(TCPUThread& cpu, uint8_t fromA) {
  TRegisters& r = cpu.R;
  uint8_t a = cpu.Core.ReadChar(r.AAR);
  uint8_t b = cpu.Core.ReadChar(r.BAR);
  cpu.Core.StoreChar(r.BAR, static_cast<uint8_t>((a & fromA) | (b & ~fromA & 63)));
  r.AAR = static_cast<uint16_t>(r.AAR - 1);
  r.BAR = static_cast<uint16_t>(r.BAR - 1);
}

// Four positions at a time (`TCoreStorage::Words4`) from A to B while both groups of four are
// untrapped and A's four hold no word mark; with `BMarksEnd` (MCW) B's four hold none either and
// AAR stays above 0.  A is not one to three positions above B (A would read what the group stores).
template <bool BMarksEnd>
[[gnu::always_inline]] inline TMoved MoveFours(TCoreStorage& core, uint16_t aar, uint16_t bar) {
  TMoved m{aar, bar, 0};
  if (static_cast<uint16_t>(aar - bar - 1) < 3) return m;
  constexpr uint16_t LowestAAR = BMarksEnd ? 5 : 4;
  while (m.AAR >= LowestAAR && m.BAR >= 4 && core.Plain4(static_cast<uint16_t>(m.AAR - 3)) &&
         core.Plain4ToStore(static_cast<uint16_t>(m.BAR - 3))) {
    const uint64_t aWords = core.Words4(static_cast<uint16_t>(m.AAR - 3));
    uint64_t marks = aWords;
    if constexpr (BMarksEnd) marks |= core.Words4(static_cast<uint16_t>(m.BAR - 3));
    if (marks & TCoreStorage::Lanes(CoreChar::WordMark)) break;
    core.PutWords4(static_cast<uint16_t>(m.BAR - 3),
                   (aWords & TCoreStorage::Lanes(CoreChar::CodeMask)) |
                       TCoreStorage::Lanes(CoreChar::Changed | CoreChar::Written));
    m.AAR = static_cast<uint16_t>(m.AAR - 4);
    m.BAR = static_cast<uint16_t>(m.BAR - 4);
    m.Count += 4;
  }
  return m;
}

// MCW, four at a time: the registers after the positions done and their count.  A function of
// its own, taking and giving values, as LoadGroups is, so that the one-at-a-time loop keeps its
// registers.
[[gnu::noinline]] TMoved MoveGroups(TCoreStorage& core, uint16_t aar, uint16_t bar) {
  return MoveFours<true>(core, aar, bar);
}

}  // namespace

TMoved LoadGroups(TCoreStorage& core, uint16_t aar, uint16_t bar) {
  return MoveFours<false>(core, aar, bar);
}

// ---- MCW ----

void TraceMoveChars(TCPUThread& cpu) {
  cpu.TraceAppend(FromTo(cpu));
}

template <bool Details>
static void MoveChars(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  TCoreStorage& core = cpu.Core;
  const bool details = Details;
  uint16_t aar = r.AAR;
  uint16_t bar = r.BAR;
  int count = 0;
  bool last = false;
  // AAR and BAR live in locals while the fields run, stored at the end or where a check stops
  // them.  Untraced, pairs of positions without trap bits are moved raw by a loop of its own; the
  // careful loop goes on from the first pair with one.
  if (!details) {
    if (TCoreStorage::WideAccess) {
      const TMoved m = MoveGroups(core, aar, bar);
      aar = m.AAR;
      bar = m.BAR;
      count = m.Count;
    }
    while (core.PlainPair(aar, bar)) {
      const uint16_t aWord = core.Word(aar);
      const uint16_t bWord = core.Word(bar);
      core.PutWord(bar, TCoreStorage::StoredWord(bWord, aWord & CoreChar::CodeMask));
      --aar;
      --bar;
      ++count;
      if (((aWord | bWord) & CoreChar::WordMark) || aar == 0) {
        last = true;
        break;
      }
    }
  }
  try {
    while (!last) {
      TCharWM a = core.ReadCharWM(aar);
      TCharWM b = core.ReadCharWM(bar);
      if (details) TraceMovedChar(cpu, aar, a.Code, bar, false);
      core.StoreChar(bar, a.Code);
      --aar;
      --bar;
      ++count;
      last = a.WordMark || b.WordMark || aar == 0;
    }
  } catch (...) {
    r.AAR = aar;
    r.BAR = bar;
    throw;
  }
  r.AAR = aar;
  r.BAR = bar;
  if (details) cpu.TraceAppend("D          Chars moved=" + std::to_string(count));
  if (aar == 0) {
    cpu.TraceFlush();
    cpu.TraceAppend("I          *** Stopped at location 0 ***");
  }
}

// The loop without detail lines is compiled apart, so that nothing of their texts weighs on it.
void ExecMoveChars(TCPUThread& cpu) {
  if (cpu.TracingDetails()) {
    MoveChars<true>(cpu);
  } else {
    MoveChars<false>(cpu);
  }
}

// ---- LCA ----

void TraceLoadChars(TCPUThread& cpu) {
  cpu.TraceAppend(FromTo(cpu));
}

template <bool Details>
static void LoadChars(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  TCoreStorage& core = cpu.Core;
  const bool details = Details;
  uint16_t aar = r.AAR;
  uint16_t bar = r.BAR;
  int count = 0;
  bool last = false;
  // Untraced, pairs of positions without trap bits are moved raw by a loop of its own; the
  // careful loop goes on from the first pair with one.
  if (!details) {
    if (TCoreStorage::WideAccess) {
      const TMoved m = LoadGroups(core, aar, bar);
      aar = m.AAR;
      bar = m.BAR;
      count = m.Count;
    }
    while (core.PlainPair(aar, bar)) {
      const uint16_t aWord = core.Word(aar);
      core.PutWord(bar, static_cast<uint16_t>((aWord & (CoreChar::CodeMask | CoreChar::WordMark)) |
                                              CoreChar::Changed | CoreChar::Written));
      --aar;
      --bar;
      ++count;
      if (aWord & CoreChar::WordMark) {
        last = true;
        break;
      }
    }
  }
  try {
    while (!last) {
      TCharWM a = core.ReadCharWM(aar);
      if (details) TraceMovedChar(cpu, aar, a.Code, bar, a.WordMark);
      core.StoreCharWM(bar, a.WordMark, a.Code);
      last = a.WordMark;
      --aar;
      --bar;
      ++count;
    }
  } catch (...) {
    r.AAR = aar;
    r.BAR = bar;
    throw;
  }
  r.AAR = aar;
  r.BAR = bar;
  if (details) cpu.TraceAppend("D          Chars moved=" + std::to_string(count));
}

// The loop without detail lines is compiled apart, so that nothing of their texts weighs on it.
void ExecLoadChars(TCPUThread& cpu) {
  if (cpu.TracingDetails()) {
    LoadChars<true>(cpu);
  } else {
    LoadChars<false>(cpu);
  }
}

// ---- MZ and MN ----

void TraceMoveZone(TCPUThread& cpu) {
  cpu.TraceAppend(FromTo(cpu));
}

void ExecMoveZone(TCPUThread& cpu) {
  MoveBits(cpu, Bcd::ZoneMask);
}

void TraceMoveNumeric(TCPUThread& cpu) {
  cpu.TraceAppend(FromTo(cpu));
}

void ExecMoveNumeric(TCPUThread& cpu) {
  MoveBits(cpu, Bcd::NumericMask);
}

// ---- SW and CW ----

void TraceSetWordMark(TCPUThread& cpu) {
  TraceWordMarks(cpu);
}
void ExecSetWordMark(TCPUThread& cpu) {
  SetOrClearWordMarks(cpu, true);
}
void TraceClearWordMark(TCPUThread& cpu) {
  TraceWordMarks(cpu);
}
void ExecClearWordMark(TCPUThread& cpu) {
  SetOrClearWordMarks(cpu, false);
}

// ---- CS ----

void TraceClearStorage(TCPUThread& cpu) {
  if (!cpu.Tracing()) return;
  uint16_t start = ClearStart(cpu);
  std::string text = Addr5(start) + " downto " + Addr5(start - start % 100);
  if (cpu.R.ILen == 7) text += ", Branch to " + Addr5(cpu.R.AAR);
  cpu.TraceAppend(text);
}

void ExecClearStorage(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  uint16_t start = ClearStart(cpu);
  uint16_t low = static_cast<uint16_t>(start - start % 100);
  uint16_t address = start;
  // Down to the hundreds boundary; position 0 is never cleared.
  while (address != 0 && address >= low) {
    cpu.Core.StoreCharWM(address, false, Bcd::Blank);
    --address;
  }
  r.BAR = address;
  // Like every branch, the branching form leaves the next instruction's address in BAR, where a
  // subroutine entered this way finds its return address.
  if (r.ILen == 7) cpu.TakeBranch();
}

// ---- MA ----

void TraceModifyAddress(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  uint16_t target = ModifyTarget(cpu);
  uint16_t a = cpu.Core.ReadAddress(r.AAR);
  uint16_t t = r.ILen == 4 ? a : cpu.Core.ReadAddress(target);
  uint32_t sum = uint32_t{a} + t;
  bool wrapped = sum >= 16000;
  if (wrapped) sum -= 16000;
  if (!cpu.Tracing()) return;
  std::string text = Addr5(target) + " with " + Addr5(r.AAR) + "          " + Addr5(t) + "+" +
                     Addr5(a) + "=>" + Addr5(sum);
  if (wrapped) text += "(wrap)";
  cpu.TraceAppend(text);
}

void ExecModifyAddress(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  uint16_t target = ModifyTarget(cpu);
  uint16_t a = cpu.Core.ReadAddress(r.AAR);
  uint16_t t = r.ILen == 4 ? a : cpu.Core.ReadAddress(target);
  uint32_t sum = uint32_t{a} + t;
  if (sum >= 16000) sum -= 16000;
  cpu.Core.StoreAddress(target, sum);
  r.AAR = static_cast<uint16_t>(r.AAR - 3);
  r.BAR = static_cast<uint16_t>(r.BAR - (r.ILen == 4 ? 1 : 3));
}

// ---- SAR, SBR, NOP ----

void TraceStoreAAR(TCPUThread& cpu) {
  cpu.TraceAppend(Addr5(cpu.R.AAR) + ") to " + Addr5(cpu.R.BAR));
}

void ExecStoreAAR(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  cpu.Core.StoreAddress(r.BAR, r.AAR);
  r.BAR = r.AAR.Get();
  r.AAR = static_cast<uint16_t>(r.AAR - 3);
}

void TraceStoreBAR(TCPUThread& cpu) {
  cpu.TraceAppend(Addr5(cpu.R.BAR) + ") to " + Addr5(cpu.R.AAR));
}

void ExecStoreBAR(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  cpu.Core.StoreAddress(r.AAR, r.BAR);
  r.AAR = static_cast<uint16_t>(r.AAR - 3);
}

void TraceNoOperation(TCPUThread&) {}

void ExecNoOperation(TCPUThread& cpu) {
  if (!cpu.TracingDetails()) return;
  int skipped = cpu.R.IAR - cpu.R.InstrAddr - 1;
  if (skipped != 0)
    cpu.TraceAppend("D          " + std::to_string(skipped) + " extra chars skipped");
}

}  // namespace kestrel
