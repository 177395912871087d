// The editing moves that prepare numbers for printing: MCS moves a field and blanks its
// high-order zeros and commas; MCE fills the digit positions of an edit word from a data field in
// a forward scan, then blanks what lies left of the first significant digit in a reverse scan.
#include <string>
#include <string_view>

#include "core/Features.h"
#include "core/KestProc.h"
#include "instructions/Handlers.h"

namespace kestrel {

namespace {

bool SignificantDigit(uint8_t code) {
  return code >= 1 && code <= 9;
}

// The sign symbols CR and minus, which print only for negative data.
bool SignSymbol(uint8_t code) {
  return code == Bcd::Minus || code == Bcd::LetterC || code == Bcd::LetterR;
}

void TraceLine(TCPUThread& cpu, std::string_view text) {
  cpu.TraceAppend(text);
  cpu.TraceFlush();
}

std::string FromTo(const TCPUThread& cpu) {
  return Addr5(cpu.R.AAR) + " to " + Addr5(cpu.R.BAR);
}

// What MCE's scan lines show: the edit word is redrawn from its units position each time.
struct TEditView {
  uint16_t Start = 0;
  int Length = 0;
  uint8_t Data = 0;
  uint8_t Edit = 0;
  bool EditWordMark = false;
  bool Suppress = false;
};

// Forward and closing lines carry AR and CA; reverse-scan lines leave them out.
void ScanLine(TCPUThread& cpu, const TEditView& view, bool withData) {
  std::string line;
  if (withData) line += " AR=" + Addr5(cpu.R.AAR);
  line += " BR=" + Addr5(cpu.R.BAR);
  if (withData) {
    line += " CA=";
    line += BcdToChar(view.Data);
  }
  line += "   CB=";
  line += BcdToChar(view.Edit);
  char status[] = "     ";
  if (view.EditWordMark) status[1] = 'W';
  if (view.Suppress) status[3] = 'Z';
  line += status;
  line += " B=\"" + cpu.Core.FieldText(view.Start, view.Length) + "\"";
  TraceLine(cpu, line);
}

// The expanded print edit feature.  An asterisk or a dollar sign immediately left of the
// zero-suppression code is a digit position too, and asks for asterisk protection (the positions
// the reverse scan suppresses become asterisks) or a floating dollar sign (placed in the last
// suppressed position, just left of the first significant digit).
class TExpandedEdit {
 public:
  explicit TExpandedEdit(const TCPUThread& cpu)
      : installed_((cpu.R.Features & FEExpandedPrintEdit) != 0) {}
  // Forward scan: the zero-suppression code was found in round i.
  void SuppressCodeIn(int i) { markRound_ = i + 1; }
  // Forward scan: whether round i's edit character is the protection mark (a digit position).
  bool TakesMark(uint8_t edit, int i) {
    if (!installed_ || i != markRound_ || (edit != Bcd::Asterisk && edit != Bcd::Dollar))
      return false;
    mark_ = edit;
    return true;
  }
  // Reverse scan, on a position while suppression is on, after it has been suppressed.
  void Protect(TCoreStorage& core, uint16_t at) {
    if (mark_ == 0 || core.ReadChar(at) != Bcd::Blank) return;
    if (mark_ == Bcd::Asterisk) core.StoreChar(at, Bcd::Asterisk);
    lastSuppressed_ = at;
  }
  // After the reverse scan: the floating dollar sign, if one was asked for and has a place.
  void PlaceDollar(TCPUThread& cpu) {
    if (mark_ != Bcd::Dollar || lastSuppressed_ == 0) return;
    cpu.Core.StoreChar(lastSuppressed_, Bcd::Dollar);
    if (cpu.Tracing()) TraceLine(cpu, " Floating $ at " + Addr5(lastSuppressed_));
  }

 private:
  bool installed_;
  int markRound_ = -1;
  uint8_t mark_ = 0;
  uint16_t lastSuppressed_ = 0;
};

}  // namespace

// ---- MCS ----

void TraceMoveSuppress(TCPUThread& cpu) {
  if (cpu.Tracing()) cpu.TraceAppend(FromTo(cpu));
}

namespace {

// Pass 2 of MCS, one position: blanked when zeros and commas are being suppressed; a
// significant digit ends the suppression, any other character than blank, digit, comma or minus
// starts it again.
bool Suppressed(bool suppress, uint8_t code) {
  return suppress && (code == Bcd::Zero || code == Bcd::Comma);
}
bool SuppressAfter(bool suppress, uint8_t code) {
  if (SignificantDigit(code)) return false;
  if (code != Bcd::Blank && code != Bcd::Zero && code != Bcd::Comma && code != Bcd::Minus) {
    return true;
  }
  return suppress;
}

}  // namespace

void ExecMoveSuppress(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  TCoreStorage& core = cpu.Core;
  uint16_t aar = r.AAR;
  uint16_t bar = r.BAR;
  int count = 0;
  // AAR and BAR live in locals, stored at the end or where a check stops the move.  Pairs of
  // positions without trap bits are read and stored raw by loops of their own; the careful loops
  // go on from the first position with one.
  // Pass 1: the A-field moves to its word mark, the units sign dropped; B word marks go.
  bool moved = false;
  while (core.PlainPair(aar, bar)) {
    const uint16_t aWord = core.Word(aar);
    uint8_t code = static_cast<uint8_t>(aWord & CoreChar::CodeMask);
    if (count == 0) code &= Bcd::NumericMask;
    core.PutWord(bar, static_cast<uint16_t>(CoreChar::Changed | CoreChar::Written | code));
    --aar;
    --bar;
    ++count;
    if (aWord & CoreChar::WordMark) {
      moved = true;
      break;
    }
    if (TCoreStorage::WideAccess && count == 1) {
      // Past the units position the move is LCA's without the word marks: four at a time.
      const TMoved m = LoadGroups(core, aar, bar);
      aar = m.AAR;
      bar = m.BAR;
      count += m.Count;
    }
  }
  try {
    while (!moved) {
      TCharWM a = core.ReadCharWM(aar);
      uint8_t code = count == 0 ? static_cast<uint8_t>(a.Code & Bcd::NumericMask) : a.Code;
      core.StoreCharWM(bar, false, code);
      --aar;
      --bar;
      ++count;
      moved = a.WordMark;
    }
  } catch (...) {
    r.AAR = aar;
    r.BAR = bar;
    throw;
  }
  r.AAR = aar;
  // Pass 2, left to right over the positions moved.
  bool suppress = true;
  int k = 0;
  for (; k < count; ++k) {
    const uint16_t at = static_cast<uint16_t>(bar + 1);
    if (!core.PlainToStore(at)) break;
    bar = at;
    const uint8_t c = static_cast<uint8_t>(core.Word(at) & CoreChar::CodeMask);
    if (Suppressed(suppress, c)) {
      core.PutWord(at, static_cast<uint16_t>(CoreChar::Changed | CoreChar::Written));
    }
    suppress = SuppressAfter(suppress, c);
  }
  try {
    for (; k < count; ++k) {
      ++bar;
      uint8_t c;
      if (core.PlainToStore(bar)) {
        c = static_cast<uint8_t>(core.Word(bar) & CoreChar::CodeMask);
        if (Suppressed(suppress, c)) {
          core.PutWord(bar, static_cast<uint16_t>(CoreChar::Changed | CoreChar::Written));
        }
      } else {
        c = core.ReadChar(bar);
        if (Suppressed(suppress, c)) core.StoreCharWM(bar, false, Bcd::Blank);
      }
      suppress = SuppressAfter(suppress, c);
    }
  } catch (...) {
    r.BAR = bar;
    throw;
  }
  r.BAR = bar;
  if (cpu.TracingDetails()) cpu.TraceAppend("D          Chars moved=" + std::to_string(count));
}

// ---- MCE ----

void TraceMoveEdit(TCPUThread& cpu) {
  if (cpu.Tracing()) cpu.TraceAppend(FromTo(cpu));
}

void ExecMoveEdit(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  TCoreStorage& core = cpu.Core;
  const bool tracing = cpu.Tracing();
  uint16_t aar = r.AAR;
  uint16_t bar = r.BAR;
  TEditView view;
  view.Start = bar;
  TExpandedEdit expanded(cpu);
  if (tracing) {
    TraceLine(cpu, " MCE");
    TraceLine(cpu, " A=\"" + core.WordText(aar) + "\"");
    std::string editWord = core.WordText(bar);
    view.Length = static_cast<int>(editWord.size());
    TraceLine(cpu, " B=\"" + editWord + "\"");
    TraceLine(cpu, " Fwd scan");
  }

  // Forward scan, right to left, up to the edit word's word mark.  The data field's own word
  // mark is not looked at: data is taken for as many digit positions as the edit word has.
  // Right of the first digit position lies the sign part, whose CR or minus is blanked for
  // positive data; one inside the digits stays.
  bool needData = true;
  bool positive = true;
  bool inSignPart = true;
  uint8_t stored = 0;  // what the last round left in its edit position
  for (int i = 0;; ++i) {
    if (needData) {
      uint8_t data = core.ReadChar(aar);
      r.AAR = --aar;
      needData = false;
      // The sign of the units digit does not reach the edit word.
      if (i == 0) positive = (data & Bcd::ZoneMask) != Bcd::BZone;
      view.Data = i == 0 ? static_cast<uint8_t>(data & Bcd::NumericMask) : data;
    }
    TCharWM edit = core.ReadCharWM(bar);
    view.Edit = edit.Code;
    view.EditWordMark = edit.WordMark;
    if (tracing) ScanLine(cpu, view, true);
    stored = edit.Code;
    if (edit.Code == Bcd::Blank || edit.Code == Bcd::Zero) {
      if (edit.Code == Bcd::Zero && !view.Suppress) {
        if (tracing) TraceLine(cpu, " Suppress ON");
        view.Suppress = true;
        // The word mark remembers where suppression began; the reverse scan stops on it.
        core.SetWordMark(bar, true);
        expanded.SuppressCodeIn(i);
      }
      core.StoreChar(bar, view.Data);
      stored = view.Data;
      needData = true;
      inSignPart = false;
    } else if (expanded.TakesMark(edit.Code, i)) {
      core.StoreChar(bar, view.Data);
      stored = view.Data;
      needData = true;
      inSignPart = false;
    } else if (edit.Code == Bcd::Ampersand || (inSignPart && positive && SignSymbol(edit.Code))) {
      core.StoreChar(bar, Bcd::Blank);
      stored = Bcd::Blank;
    }
    r.BAR = --bar;
    if (edit.WordMark) break;
  }
  // Back on the high-order position: its word mark goes, and it keeps what the forward scan left
  // there, so a number that fills the whole edit word keeps all its digits.
  r.AAR = ++aar;
  r.BAR = ++bar;
  core.StoreCharWM(bar, false, stored);
  if (tracing) TraceLine(cpu, " Rev scan");

  // Reverse scan, left to right, up to the word mark set where suppression began (or past the
  // units position when there is none).
  while (true) {
    TCharWM edit = core.ReadCharWM(bar);
    view.Edit = edit.Code;
    view.EditWordMark = edit.WordMark;
    if (tracing) ScanLine(cpu, view, false);
    if (SignificantDigit(edit.Code)) {
      view.Suppress = false;
      if (tracing) TraceLine(cpu, " Suppress OFF");
    }
    if (view.Suppress && (edit.Code == Bcd::Zero || edit.Code == Bcd::Comma ||
                          edit.Code == Bcd::Minus || edit.Code == Bcd::Asterisk)) {
      core.StoreChar(bar, Bcd::Blank);
      if (tracing) TraceLine(cpu, " >>Suppressed");
    }
    if (view.Suppress) expanded.Protect(core, bar);
    if (edit.WordMark) core.SetWordMark(bar, false);
    r.BAR = ++bar;
    if (edit.WordMark || bar > view.Start) break;
  }
  expanded.PlaceDollar(cpu);
  if (tracing) {
    ScanLine(cpu, view, true);
    TraceLine(cpu, " End of MCE");
  }
}

}  // namespace kestrel
