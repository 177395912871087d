#include "debug/Debugger.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace kestrel {

namespace {

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// Words separated by blanks; a quoted text ('...') is one word, quotes kept.
std::vector<std::string> Split(std::string_view text) {
  std::vector<std::string> words;
  size_t k = 0;
  while (k < text.size()) {
    if (text[k] == ' ' || text[k] == '\t') {
      ++k;
      continue;
    }
    size_t start = k;
    if (text[k] == '\'') {
      size_t close = text.find('\'', k + 1);
      k = close == std::string_view::npos ? text.size() : close + 1;
    } else {
      while (k < text.size() && text[k] != ' ' && text[k] != '\t')
        ++k;
    }
    words.emplace_back(text.substr(start, k - start));
  }
  return words;
}

bool IsCount(const std::string& text, unsigned& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return true;
}

// The op codes that move data to or from a unit: read, write, punch and their combinations,
// stacker select, carriage control, the tape control; a move or load with a % unit too.
bool DeviceOpcode(uint8_t code, bool ioFlag) {
  if (ioFlag) return true;
  if (code >= 1 && code <= 7) return true;
  return code == CharToBcd('K') || code == CharToBcd('F') || code == Opcode::Control;
}

}  // namespace

std::string TRegisterSet::Text() const {
  std::string text = "IAR " + Addr5(IAR) + " AAR " + Addr5(AAR) + " BAR " + Addr5(BAR);
  if (Equal) text += " EQ";
  if (Low) text += " LO";
  if (Overflow) text += " OV";
  return text;
}

std::string THistoryEntry::InstructionText() const {
  std::string text;
  for (uint8_t k = 0; k < Length; ++k) {
    if (k == 1 || k == 4 || (k == 7 && Length == 8)) text += ' ';
    text += BcdToChar(Codes[k]);
  }
  // A d-character right after the op code or the A-address stands apart too.
  return text;
}

TDebugger::TDebugger(TRegisters& registers, TCoreStorage& core) : r_(registers), core_(core) {
  core_.SetObserver(this);
}

TDebugger::~TDebugger() {
  core_.SetObserver(nullptr);
}

std::string TDebugger::LoadSymbols(const std::string& path) {
  std::lock_guard lock(mutex_);
  std::string error = symbols_.LoadFile(path);
  if (error.empty()) ++version_;
  return error;
}

std::string TDebugger::LoadSymbolText(std::string_view text) {
  std::lock_guard lock(mutex_);
  std::string error = symbols_.LoadText(text);
  if (error.empty()) ++version_;
  return error;
}

std::vector<uint16_t> TDebugger::BreakAddresses() const {
  std::lock_guard lock(mutex_);
  std::vector<uint16_t> addresses;
  for (const TBreakpoint& b : breaks_) {
    if (b.Enabled && b.Kind == TBreakpoint::TKind::Address) addresses.push_back(b.Address);
  }
  std::sort(addresses.begin(), addresses.end());
  addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());
  return addresses;
}

std::string TDebugger::ToggleBreakAt(uint16_t address) {
  std::lock_guard lock(mutex_);
  const size_t before = breaks_.size();
  std::erase_if(breaks_, [address](const TBreakpoint& b) {
    return b.Kind == TBreakpoint::TKind::Address && b.Address == address;
  });
  if (breaks_.size() != before) {
    Rearm();
    return {};
  }
  std::string error;
  AddBreakpoint(Addr5(address), error);
  return error;
}

std::string TDebugger::LabelOf(uint16_t address) const {
  std::lock_guard lock(mutex_);
  return symbols_.Describe(address);
}

std::string TDebugger::LabelTraceLine(const std::string& line) const {
  // "I" and five digits, then a blank: the address of a traced instruction.
  if (line.size() < 7 || line[0] != 'I' || line[6] != ' ') return line;
  unsigned address = 0;
  for (size_t k = 1; k <= 5; ++k) {
    if (line[k] < '0' || line[k] > '9') return line;
    address = address * 10 + static_cast<unsigned>(line[k] - '0');
  }
  std::lock_guard lock(mutex_);
  if (symbols_.Size() == 0 || address >= TCoreStorage::MaxSize) return line;
  std::string label = symbols_.Describe(static_cast<uint16_t>(address));
  label.resize(std::max(label.size() + 1, TraceLabelWidth), ' ');
  return line.substr(0, 7) + label + line.substr(7);
}

// ---- Breakpoints ----------------------------------------------------------------------------

std::string TDebugger::ParseOptions(std::vector<std::string>& words, size_t from, TBreakpoint& b,
                                    uint16_t size) const {
  for (size_t k = from; k < words.size(); ++k) {
    const std::string word = Upper(words[k]);
    if (word == "COUNT") {
      if (k + 1 >= words.size() || !IsCount(words[k + 1], b.Count) || b.Count == 0)
        return "COUNT needs a number of hits from 1";
      ++k;
    } else if (word == "PRINT") {
      b.Print = true;
    } else if (word == "GO") {
      b.Go = true;
    } else if (word == "DUMP") {
      if (k + 1 >= words.size()) return "DUMP needs a range FROM-TO";
      TSymbolTable::TRange range = symbols_.ResolveRange(words[k + 1], size);
      if (!range.Ok()) return range.Error;
      b.Dump = true;
      b.DumpFrom = range.From;
      b.DumpTo = range.To;
      ++k;
    } else {
      return "\"" + words[k] + "\" is not COUNT, PRINT, DUMP or GO";
    }
  }
  return {};
}

std::string TDebugger::ParseCondition(std::string_view text, TBreakpoint& b, uint16_t size) const {
  std::vector<std::string> words = Split(text);
  if (words.empty()) return "IF needs a condition";
  const std::string subject = Upper(words[0]);
  static const std::pair<const char*, TBreakpoint::TSubject> indicators[] = {
      {"EQUAL", TBreakpoint::TSubject::Equal},
      {"LOW", TBreakpoint::TSubject::Low},
      {"HIGH", TBreakpoint::TSubject::High},
      {"OVERFLOW", TBreakpoint::TSubject::Overflow}};
  for (const auto& [name, kind] : indicators) {
    if (subject != name) continue;
    b.Subject = kind;
    b.Compare = "=";
    b.Value = 1;
    if (words.size() == 1) return {};
    if (words.size() == 3 && words[1] == "=" &&
        (Upper(words[2]) == "ON" || Upper(words[2]) == "OFF")) {
      b.Value = Upper(words[2]) == "ON" ? 1 : 0;
      return {};
    }
    return "an indicator condition is NAME, NAME = ON or NAME = OFF";
  }
  if (words.size() != 3) return "a condition is SUBJECT COMPARISON VALUE";
  static const char* const compares[] = {"=", "<>", "<", ">", "<=", ">="};
  bool known = false;
  for (const char* c : compares)
    known = known || words[1] == c;
  if (!known) return "\"" + words[1] + "\" is not one of = <> < > <= >=";
  b.Compare = words[1];
  if (subject == "IAR" || subject == "AAR" || subject == "BAR") {
    b.Subject = subject == "IAR"   ? TBreakpoint::TSubject::IAR
                : subject == "AAR" ? TBreakpoint::TSubject::AAR
                                   : TBreakpoint::TSubject::BAR;
    TSymbolTable::TAddress value = symbols_.Resolve(words[2], size);
    if (!value.Ok()) return value.Error;
    b.Value = value.Address;
    return {};
  }
  TSymbolTable::TAddress field = symbols_.Resolve(words[0], size);
  if (!field.Ok()) return field.Error;
  const std::string& quoted = words[2];
  if (quoted.size() < 3 || quoted.front() != '\'' || quoted.back() != '\'')
    return "a field is compared with a quoted text: " + words[0] + " = 'TEXT'";
  if (b.Compare != "=" && b.Compare != "<>") return "a field is compared with = or <> only";
  const std::string chars = Upper(quoted.substr(1, quoted.size() - 2));
  if (chars.size() > field.Address)
    return "the field of " + std::to_string(chars.size()) + " characters would start before 1";
  b.Subject = TBreakpoint::TSubject::Field;
  b.Value = field.Address;
  for (char c : chars)
    b.Field.push_back(CharToBcd(c));
  return {};
}

int TDebugger::AddBreakpoint(std::string_view spec, std::string& error, uint16_t coreLimit) {
  std::lock_guard lock(mutex_);
  const uint16_t size = coreLimit != 0 ? coreLimit : core_.Size();
  TBreakpoint b;
  b.Spec = Trim(spec, " \t");
  std::vector<std::string> words = Split(b.Spec);
  error.clear();
  size_t options = 1;
  if (words.empty()) {
    error = "no breakpoint given";
  } else if (Upper(words[0]) == "OP") {
    b.Kind = TBreakpoint::TKind::Opcode;
    if (words.size() < 2 || words[1].size() > 2) {
      error = "OP needs an op code, with or without its d-character (OP B, OP BZ)";
    } else {
      const std::string code = Upper(words[1]);
      b.Opcode = CharToBcd(code[0]);
      if (b.Opcode == 0) error = "\"" + code.substr(0, 1) + "\" is no op code";
      if (code.size() == 2) b.DChar = CharToBcd(code[1]);
      options = 2;
    }
  } else if (Upper(words[0]) == "IF") {
    b.Kind = TBreakpoint::TKind::Condition;
    // The condition: an indicator alone or with "= ON|OFF", else three words.
    static const char* const indicatorNames[] = {"EQUAL", "LOW", "HIGH", "OVERFLOW"};
    bool indicator = false;
    for (const char* name : indicatorNames)
      indicator = indicator || (words.size() > 1 && Upper(words[1]) == name);
    size_t end = indicator && !(words.size() > 2 && words[2] == "=") ? 2 : 4;
    end = std::min(end, words.size());
    std::string condition;
    for (size_t k = 1; k < end; ++k)
      condition += (k > 1 ? " " : "") + words[k];
    error = ParseCondition(condition, b, size);
    options = end;
  } else {
    TSymbolTable::TAddress a = symbols_.Resolve(words[0], size);
    if (!a.Ok()) {
      error = a.Error;
    } else if (a.Address == 0) {
      error = "address 0 holds no instruction";
    }
    b.Address = a.Address;
  }
  if (error.empty()) error = ParseOptions(words, options, b, size);
  if (!error.empty()) return 0;
  b.Id = nextId_++;
  breaks_.push_back(b);
  Rearm();
  return b.Id;
}

int TDebugger::AddWatchpoint(std::string_view spec, std::string& error, uint16_t coreLimit) {
  std::lock_guard lock(mutex_);
  const uint16_t size = coreLimit != 0 ? coreLimit : core_.Size();
  TWatchpoint w;
  w.Spec = Trim(spec, " \t");
  std::vector<std::string> words = Split(w.Spec);
  error.clear();
  if (words.size() >= 2 && Upper(words[words.size() - 2]) == "ARM") {
    TSymbolTable::TAddress arm = symbols_.Resolve(words.back(), size);
    if (!arm.Ok()) {
      error = arm.Error;
      return 0;
    }
    w.ArmAt = arm.Address;
    words.resize(words.size() - 2);
  }
  if (words.empty() || words.size() > 2) {
    error = "a watchpoint is FROM-TO [READ|WRITE|ACCESS] [ARM ADDRESS]";
    return 0;
  }
  TSymbolTable::TRange range = symbols_.ResolveRange(words[0], size);
  if (!range.Ok()) {
    error = range.Error;
    return 0;
  }
  if (words.size() == 2) {
    const std::string kind = Upper(words[1]);
    if (kind != "READ" && kind != "WRITE" && kind != "ACCESS") {
      error = "\"" + words[1] + "\" is not READ, WRITE or ACCESS";
      return 0;
    }
    w.Reads = kind != "WRITE";
    w.Writes = kind != "READ";
  }
  w.From = range.From;
  w.To = range.To;
  w.Id = nextId_++;
  watches_.push_back(w);
  Rearm();
  return w.Id;
}

bool TDebugger::Enable(int id, bool on) {
  std::lock_guard lock(mutex_);
  for (TBreakpoint& b : breaks_) {
    if (b.Id == id) {
      b.Enabled = on;
      Rearm();
      return true;
    }
  }
  for (TWatchpoint& w : watches_) {
    if (w.Id == id) {
      w.Enabled = on;
      Rearm();
      return true;
    }
  }
  return false;
}

bool TDebugger::Delete(int id) {
  std::lock_guard lock(mutex_);
  const size_t before = breaks_.size() + watches_.size();
  std::erase_if(breaks_, [id](const TBreakpoint& b) { return b.Id == id; });
  std::erase_if(watches_, [id](const TWatchpoint& w) { return w.Id == id; });
  if (breaks_.size() + watches_.size() == before) return false;
  Rearm();
  return true;
}

void TDebugger::DeleteAll() {
  std::lock_guard lock(mutex_);
  breaks_.clear();
  watches_.clear();
  Rearm();
}

std::vector<TBreakpoint> TDebugger::Breakpoints() const {
  std::lock_guard lock(mutex_);
  return breaks_;
}

std::vector<TWatchpoint> TDebugger::Watchpoints() const {
  std::lock_guard lock(mutex_);
  return watches_;
}

std::vector<std::string> TDebugger::ListText() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  for (const TBreakpoint& b : breaks_) {
    std::string what = b.Kind == TBreakpoint::TKind::Address ? Where(b.Address) : b.Spec;
    lines.push_back(std::to_string(b.Id) + " break " + what + (b.Enabled ? "" : " (disabled)") +
                    " hits " + std::to_string(b.Hits));
  }
  for (const TWatchpoint& w : watches_) {
    lines.push_back(std::to_string(w.Id) + " watch " + Addr5(w.From) + "-" + Addr5(w.To) +
                    (w.Reads && w.Writes ? " access"
                     : w.Reads           ? " read"
                                         : " write") +
                    (w.Enabled ? "" : " (disabled)") + " hits " + std::to_string(w.Hits));
  }
  return lines;
}

std::string TDebugger::LastStop() const {
  std::lock_guard lock(mutex_);
  return lastStop_;
}

std::string TDebugger::CurrentStop() const {
  std::lock_guard lock(mutex_);
  if (lastStop_.empty() || r_.State != CpuState::StopCondition) return {};
  return r_.StopMessage.Get() == stopMessage_ ? lastStop_ : std::string();
}

// The fast tables and the attention bit after any change of the lists or the history.
void TDebugger::Rearm() {
  bool slow = false;
  std::array<bool, TCoreStorage::MaxSize> trap{};
  for (const TBreakpoint& b : breaks_) {
    if (!b.Enabled) continue;
    if (b.Kind == TBreakpoint::TKind::Address) {
      trap[b.Address] = true;
    } else {
      slow = true;
    }
  }
  std::array<uint8_t, TCoreStorage::MaxSize> watch{};
  for (const TWatchpoint& w : watches_) {
    if (!w.Enabled) continue;
    if (w.ArmAt >= 0) {
      trap[static_cast<size_t>(w.ArmAt)] = true;
      continue;
    }
    for (uint32_t a = w.From; a <= w.To; ++a)
      watch[a] |= static_cast<uint8_t>((w.Reads ? 1 : 0) | (w.Writes ? 2 : 0));
  }
  slowBreaks_ = slow;
  // With the history on every store is watched: the history keeps what it overwrote.
  const bool journal = historySize_ > 0;
  for (uint16_t a = 0; a < TCoreStorage::MaxSize; ++a) {
    breakAt_[a].store(trap[a] ? 1 : 0, std::memory_order_relaxed);
    core_.SetBreakTrap(a, trap[a]);
    core_.WatchPosition(a, (watch[a] & 1) != 0, (watch[a] & 2) != 0 || journal);
  }
  watchAt_ = watch;
  core_.WatchChanged();
  ++version_;
  attention_ = slow || journal;
  r_.Attention.Assign(TAttention::ARDebugger, attention_ || skipOnce_ >= 0);
}

// ---- The run --------------------------------------------------------------------------------

TRegisterSet TDebugger::Current() const {
  TRegisterSet s;
  s.IAR = r_.IAR;
  s.AAR = r_.AAR;
  s.BAR = r_.BAR;
  s.Equal = r_.EqualIndicator;
  s.Low = r_.LowIndicator;
  s.Overflow = r_.OverflowIndicator;
  return s;
}

bool TDebugger::ConditionTrue(const TBreakpoint& b) {
  int64_t left = 0;
  switch (b.Subject) {
    case TBreakpoint::TSubject::IAR:
      left = r_.IAR;
      break;
    case TBreakpoint::TSubject::AAR:
      left = r_.AAR;
      break;
    case TBreakpoint::TSubject::BAR:
      left = r_.BAR;
      break;
    case TBreakpoint::TSubject::Equal:
      left = r_.EqualIndicator;
      break;
    case TBreakpoint::TSubject::Low:
      left = r_.LowIndicator;
      break;
    case TBreakpoint::TSubject::High:
      left = !r_.LowIndicator && !r_.EqualIndicator;
      break;
    case TBreakpoint::TSubject::Overflow:
      left = r_.OverflowIndicator;
      break;
    case TBreakpoint::TSubject::Field: {
      // Raw words: the look must neither raise a check nor stop.
      bool same = true;
      const size_t n = b.Field.size();
      for (size_t k = 0; k < n; ++k) {
        const uint16_t at = static_cast<uint16_t>(b.Value - (n - 1 - k));
        same = same && (core_.Word(at) & CoreChar::CodeMask) == b.Field[k];
      }
      return b.Compare == "=" ? same : !same;
    }
  }
  const int64_t right = b.Value;
  if (b.Compare == "=") return left == right;
  if (b.Compare == "<>") return left != right;
  if (b.Compare == "<") return left < right;
  if (b.Compare == ">") return left > right;
  if (b.Compare == "<=") return left <= right;
  return left >= right;
}

bool TDebugger::Fires(TBreakpoint& b, uint16_t iar) {
  if (!b.Enabled) return false;
  bool reached = false;
  switch (b.Kind) {
    case TBreakpoint::TKind::Address:
      reached = b.Address == iar;
      break;
    case TBreakpoint::TKind::Opcode: {
      const uint16_t size = core_.Size();
      if (iar == 0 || iar >= size || !(core_.Word(iar) & CoreChar::WordMark)) break;
      if ((core_.Word(iar) & CoreChar::CodeMask) != b.Opcode) break;
      if (b.DChar < 0) {
        reached = true;
        break;
      }
      // The d-character stands before the next word mark, after 1, 4 or 7 positions.
      unsigned length = 1;
      while (length < 8 && iar + length < size &&
             !(core_.Word(static_cast<uint16_t>(iar + length)) & CoreChar::WordMark))
        ++length;
      reached =
          (length == 2 || length == 5 || length == 8) &&
          (core_.Word(static_cast<uint16_t>(iar + length - 1)) & CoreChar::CodeMask) == b.DChar;
      break;
    }
    case TBreakpoint::TKind::Condition: {
      const bool now = ConditionTrue(b);
      reached = now && !b.WasTrue;
      b.WasTrue = now;
      break;
    }
  }
  if (!reached) return false;
  ++b.Hits;
  return b.Count == 0 || b.Hits == b.Count;
}

void TDebugger::Say(const std::string& line) {
  if (output_) {
    output_(line);
  } else {
    kept_.push_back(line);
  }
}

void TDebugger::Act(const TBreakpoint& b) {
  if (b.Print) Say("Breakpoint " + std::to_string(b.Id) + ": " + Current().Text());
  if (b.Dump) {
    for (uint32_t from = b.DumpFrom; from <= b.DumpTo; from += 50) {
      const uint32_t to = std::min<uint32_t>(from + 49, b.DumpTo);
      std::string chars, marks;
      for (uint32_t a = from; a <= to; ++a) {
        const uint16_t word = core_.Word(static_cast<uint16_t>(a));
        chars += BcdToChar(static_cast<uint8_t>(word & CoreChar::CodeMask));
        marks += (word & CoreChar::WordMark) ? '1' : ' ';
      }
      Say(Addr5(from) + " " + chars);
      // The word marks under their characters.
      if (marks.find('1') != std::string::npos)
        Say("      " + marks.substr(0, marks.find_last_of('1') + 1));
    }
  }
}

void TDebugger::FinishLast() {
  if (!entryOpen_ || history_.empty()) return;
  THistoryEntry& e = history_.back();
  e.After = Current();
  e.Done = true;
  if (e.Length > 0) e.Device = DeviceOpcode(e.Codes[0], r_.IOFlag && r_.InstrAddr == e.Address);
  entryOpen_ = false;
}

void TDebugger::OpenEntry(uint16_t iar) {
  const size_t size = historySize_;
  dropped_ = false;
  while (history_.size() >= size && !history_.empty()) {
    dropped_ = true;
    droppedEntry_ = std::move(history_.front());
    history_.pop_front();
  }
  THistoryEntry e;
  e.Address = iar;
  e.Before = Current();
  const uint16_t coreSize = core_.Size();
  for (unsigned k = 0; k < 8 && iar + k < coreSize; ++k) {
    const uint16_t word = core_.Word(static_cast<uint16_t>(iar + k));
    if (k > 0 && (word & CoreChar::WordMark)) break;
    e.Codes[k] = static_cast<uint8_t>(word & CoreChar::CodeMask);
    e.Length = static_cast<uint8_t>(k + 1);
  }
  history_.push_back(std::move(e));
  entryOpen_ = true;
}

bool TDebugger::Evaluate(uint16_t iar, bool addressOnes) {
  bool stop = false;
  for (TBreakpoint& b : breaks_) {
    if ((b.Kind == TBreakpoint::TKind::Address) != addressOnes || !Fires(b, iar)) continue;
    Act(b);
    if (b.Go || stop) continue;
    stop = true;
    std::string label = b.Kind == TBreakpoint::TKind::Address ? symbols_.Describe(iar) : b.Spec;
    lastStop_ = "Breakpoint " + std::to_string(b.Id) + (label.empty() ? "" : " (" + label + ")") +
                " at " + Addr5(iar);
  }
  return stop;
}

void TDebugger::StopAt(uint16_t iar) {
  skipOnce_ = iar;
  skipNow_ = -1;
  // The next run's first look moves the skip over.
  r_.Attention.Set(TAttention::ARDebugger);
  // The panel's stop line ends with the instruction's address: the one the run stopped at.
  stopMessage_ = lastStop_.substr(0, lastStop_.size() - 6);
  r_.StopMessage.Set(stopMessage_);
  r_.InstrAddr = iar;
  r_.FetchDue = true;
  r_.State = CpuState::StopCondition;
}

bool TDebugger::StopBeforeFetch() {
  const uint16_t iar = r_.IAR;
  std::lock_guard lock(mutex_);
  if (skipOnce_ >= 0) {
    skipNow_ = skipOnce_ == iar ? iar : -1;
    skipOnce_ = -1;
    r_.Attention.Assign(TAttention::ARDebugger, attention_);
  } else if (skipNow_ != iar) {
    skipNow_ = -1;
  }
  if (!attention_) return false;
  FinishLast();
  if (skipNow_ != iar && slowBreaks_ && Evaluate(iar, false)) {
    StopAt(iar);
    return true;
  }
  if (historySize_ > 0) OpenEntry(iar);
  return false;
}

bool TDebugger::StopAtBreak(uint16_t iar) {
  // Only a run stops here; a single step goes on.
  if (r_.State != CpuState::Running) return false;
  std::lock_guard lock(mutex_);
  bool armed = false;
  for (TWatchpoint& w : watches_) {
    if (w.Enabled && w.ArmAt == iar) {
      w.ArmAt = -1;
      armed = true;
    }
  }
  if (armed) Rearm();
  if (skipNow_ == iar) {
    skipNow_ = -1;
    return false;
  }
  if (!Evaluate(iar, true)) return false;
  // The history's entry for the instruction that now does not run yet.
  if (entryOpen_ && !history_.empty() && history_.back().Address == iar &&
      history_.back().Undo.empty()) {
    history_.pop_back();
    entryOpen_ = false;
    // The ring made room for it: the oldest comes back, so the history still holds its size.
    if (dropped_) history_.push_front(std::move(droppedEntry_));
    dropped_ = false;
  }
  StopAt(iar);
  return true;
}

void TDebugger::WatchHit(uint16_t address, bool write) {
  // The first access of the instruction tells; the run ends after it anyway.
  if (r_.State == CpuState::StopCondition) return;
  for (TWatchpoint& w : watches_) {
    if (!w.Enabled || address < w.From || address > w.To || !(write ? w.Writes : w.Reads)) continue;
    ++w.Hits;
    const uint16_t by = r_.InstrAddr;
    lastStop_ = "Watchpoint " + std::to_string(w.Id) + " (" + Addr5(w.From) + "-" + Addr5(w.To) +
                "): " + Where(address) + (write ? " written" : " read") +
                " by the instruction at " + Where(by);
    // The access completes; the run ends after this instruction.  The panel's stop line ends
    // with the instruction's address.
    stopMessage_ = lastStop_.substr(0, lastStop_.size() - Where(by).size() - 1);
    r_.StopMessage.Set(stopMessage_);
    if (r_.State == CpuState::Running) {
      r_.FetchDue = true;
      r_.State = CpuState::StopCondition;
    }
    return;
  }
}

void TDebugger::CoreRead(uint16_t address) {
  if (address >= TCoreStorage::MaxSize || !(watchAt_[address] & 1)) return;
  std::lock_guard lock(mutex_);
  WatchHit(address, false);
}

void TDebugger::CoreWritten(uint16_t address, uint16_t before) {
  if (address >= TCoreStorage::MaxSize) return;
  const bool watched = (watchAt_[address] & 2) != 0;
  const bool running = r_.State == CpuState::Running;
  if (!watched && !(running && entryOpen_)) return;
  std::lock_guard lock(mutex_);
  if (running && entryOpen_ && !history_.empty())
    history_.back().Undo.emplace_back(address, before);
  if (watched) WatchHit(address, true);
}

// ---- History --------------------------------------------------------------------------------

void TDebugger::SetHistorySize(size_t size) {
  std::lock_guard lock(mutex_);
  historySize_ = size;
  while (history_.size() > size)
    history_.pop_front();
  if (size == 0) entryOpen_ = false;
  dropped_ = false;
  Rearm();
}

std::vector<THistoryEntry> TDebugger::History() const {
  std::lock_guard lock(mutex_);
  std::vector<THistoryEntry> entries(history_.begin(), history_.end());
  // The last one, when the run has ended after it, has the registers as they are now.
  if (!entries.empty() && !entries.back().Done && r_.State != CpuState::Running) {
    entries.back().After = Current();
    entries.back().Done = true;
  }
  return entries;
}

std::string TDebugger::HistoryLine(const THistoryEntry& e) const {
  std::string label = symbols_.Describe(e.Address);
  std::string text = Addr5(e.Address) + " " + (label.empty() ? std::string(10, ' ') : label);
  if (text.size() < 16) text.resize(16, ' ');
  std::string instruction = e.InstructionText();
  instruction.resize(std::max<size_t>(instruction.size(), 12), ' ');
  text += " " + instruction + "  ";
  text += e.Done ? e.After.Text() : std::string("(executing)");
  if (e.Device) text += " [device]";
  return text;
}

std::vector<std::string> TDebugger::HistoryText(size_t count) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  const size_t size = history_.size();
  const size_t from = size > count ? size - count : 0;
  lines.reserve(size - from);
  for (size_t k = from; k < size; ++k) {
    const THistoryEntry& e = history_[k];
    if (k + 1 == size && !e.Done && r_.State != CpuState::Running) {
      // The last one, when the run has ended after it, has the registers as they are now.
      THistoryEntry last = e;
      last.After = Current();
      last.Done = true;
      lines.push_back(HistoryLine(last));
    } else {
      lines.push_back(HistoryLine(e));
    }
  }
  return lines;
}

std::string TDebugger::SaveHistory(const std::string& path) const {
  std::vector<std::string> lines = HistoryText(SIZE_MAX);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return "cannot write the history to " + path;
  for (const std::string& line : lines)
    out << line << '\n';
  out.flush();
  if (!out) return "cannot write the history to " + path;
  return {};
}

std::string TDebugger::StepBack() {
  std::lock_guard lock(mutex_);
  if (r_.State == CpuState::Running) return "cannot step back while the machine runs";
  if (historySize_ == 0) return "cannot step back: the history is off";
  if (history_.empty()) return "cannot step back: no instruction in the history";
  FinishLast();
  THistoryEntry& e = history_.back();
  if (!e.Done) {
    e.After = Current();
    e.Done = true;
    e.Device = e.Length > 0 && DeviceOpcode(e.Codes[0], r_.IOFlag && r_.InstrAddr == e.Address);
  }
  if (e.Device) {
    return "cannot step back over the instruction at " + Where(e.Address) + " (" +
           e.InstructionText() + "): it used a device, and the devices are not rewound";
  }
  for (auto undo = e.Undo.rbegin(); undo != e.Undo.rend(); ++undo)
    core_.PutWord(undo->first, undo->second | CoreChar::Changed);
  core_.WatchChanged();
  r_.IAR = e.Before.IAR;
  r_.AAR = e.Before.AAR;
  r_.BAR = e.Before.BAR;
  r_.EqualIndicator = e.Before.Equal;
  r_.LowIndicator = e.Before.Low;
  r_.OverflowIndicator = e.Before.Overflow;
  skipOnce_ = e.Before.IAR;
  r_.Attention.Set(TAttention::ARDebugger);
  r_.FetchDue = true;
  history_.pop_back();
  entryOpen_ = false;
  return {};
}

std::string TDebugger::Command(std::string_view text) {
  const std::string line = Trim(text, " \t");
  const size_t blank = line.find(' ');
  const std::string verb = Upper(line.substr(0, blank));
  const std::string rest = blank == std::string::npos ? "" : Trim(line.substr(blank + 1), " \t");
  std::vector<std::string> words = Split(rest);
  auto number = [&](int& id) {
    unsigned n = 0;
    if (words.size() != 1 || !IsCount(words[0], n)) return false;
    id = static_cast<int>(n);
    return true;
  };
  std::string error;
  int id = 0;
  if (verb == "BREAK") {
    AddBreakpoint(rest, error);
  } else if (verb == "WATCH") {
    AddWatchpoint(rest, error);
  } else if (verb == "SYMBOLS") {
    if (rest.empty()) return "SYMBOLS needs a file";
    error = LoadSymbols(rest);
  } else if (verb == "ENABLE" || verb == "DISABLE") {
    if (!number(id)) return verb + " needs the number of a breakpoint or watchpoint";
    if (!Enable(id, verb == "ENABLE")) error = "no breakpoint or watchpoint " + words[0];
  } else if (verb == "DELETE") {
    if (words.size() == 1 && Upper(words[0]) == "ALL") {
      DeleteAll();
    } else if (!number(id)) {
      return "DELETE needs the number of a breakpoint or watchpoint, or ALL";
    } else if (!Delete(id)) {
      error = "no breakpoint or watchpoint " + words[0];
    }
  } else if (verb == "LIST") {
    for (const std::string& entry : ListText())
      Say(entry);
  } else if (verb == "HISTORY") {
    if (!number(id) || id > 1000000) return "HISTORY needs a number of instructions (0 = off)";
    SetHistorySize(static_cast<size_t>(id));
  } else if (verb == "SHOW" && !words.empty() && Upper(words[0]) == "HISTORY") {
    unsigned count = HeadlessHistoryLines;
    if (words.size() > 2 || (words.size() == 2 && !IsCount(words[1], count)))
      return "SHOW HISTORY takes a number of instructions";
    for (const std::string& entry : HistoryText(count))
      Say(entry);
  } else if (verb == "SAVE" && words.size() == 2 && Upper(words[0]) == "HISTORY") {
    error = SaveHistory(words[1]);
  } else if (verb == "STEPBACK") {
    error = StepBack();
  } else {
    return "unknown debugger command \"" + verb +
           "\" (BREAK, WATCH, SYMBOLS, ENABLE, DISABLE, DELETE, LIST, HISTORY, SHOW HISTORY, "
           "SAVE HISTORY, STEPBACK)";
  }
  return error;
}

void TDebugger::SetOutput(std::function<void(const std::string&)> output) {
  std::lock_guard lock(mutex_);
  output_ = std::move(output);
}

std::vector<std::string> TDebugger::Output() const {
  std::lock_guard lock(mutex_);
  return kept_;
}

}  // namespace kestrel
