#include "debug/DebugLists.h"

#include <algorithm>

namespace kestrel {

namespace {
std::string FirstWord(std::string_view text, std::string_view& rest) {
  const size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) {
    rest = {};
    return {};
  }
  const size_t end = std::min(text.find_first_of(" \t", start), text.size());
  rest = text.substr(end);
  std::string word(text.substr(start, end - start));
  for (char& c : word) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return word;
}
}  // namespace

void TBreakpointList::Refresh() {
  rows_.clear();
  for (const TBreakpoint& b : debugger_.Breakpoints()) {
    const char* kind = b.Kind == TBreakpoint::TKind::Address  ? "address"
                       : b.Kind == TBreakpoint::TKind::Opcode ? "op code"
                                                              : "condition";
    rows_.push_back({b.Id, kind, b.Spec, b.Enabled, b.Hits});
  }
  for (const TWatchpoint& w : debugger_.Watchpoints()) {
    const char* kind = w.Reads && w.Writes ? "watch access"
                       : w.Reads           ? "watch read"
                                           : "watch write";
    rows_.push_back({w.Id, kind, w.Spec, w.Enabled, w.Hits});
  }
  std::sort(rows_.begin(), rows_.end(),
            [](const TBreakpointRow& a, const TBreakpointRow& b) { return a.Id < b.Id; });
}

std::string TBreakpointList::Add(std::string_view text) {
  std::string_view rest;
  const std::string verb = FirstWord(text, rest);
  std::string error;
  if (verb.empty()) {
    error = "no breakpoint given";
  } else if (verb == "WATCH") {
    debugger_.AddWatchpoint(rest, error);
  } else {
    debugger_.AddBreakpoint(verb == "BREAK" ? rest : text, error);
  }
  Refresh();
  return error;
}

bool TBreakpointList::SetEnabled(size_t row, bool on) {
  const bool done = row < rows_.size() && debugger_.Enable(rows_[row].Id, on);
  Refresh();
  return done;
}

bool TBreakpointList::Delete(size_t row) {
  const bool done = row < rows_.size() && debugger_.Delete(rows_[row].Id);
  Refresh();
  return done;
}

void TBreakpointList::DeleteAll() {
  debugger_.DeleteAll();
  Refresh();
}

void THistoryList::Refresh() {
  size_ = debugger_.HistorySize();
  lines_ = debugger_.HistoryText(size_);
}

std::string THistoryList::Summary() const {
  if (size_ == 0) return "The history is off (DEBUG 'HISTORY N' or History=N in [Debugger])";
  return "The last " + std::to_string(lines_.size()) + " of up to " + std::to_string(size_) +
         " instructions, the registers after each";
}

std::string THistoryList::StepBack() {
  std::string error = debugger_.StepBack();
  Refresh();
  return error;
}

}  // namespace kestrel
