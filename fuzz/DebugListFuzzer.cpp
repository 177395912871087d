// The breakpoint list window's add field, the core display's click and the trace window's label
// column: whatever the text, an add either adds exactly one row holding the text as given or
// reports an error and changes nothing; a click twice on a position leaves the breakpoints as
// they were; a trace line with a label column is the line with the column put in after its
// address, and without symbols every line stays as it is.
//
// Input: the first line is what is typed into the add field, the second a trace line, the rest
// a symbol file (`NAME ADDRESS` lines) or a listing.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "debug/DebugLists.h"

using namespace kestrel;
using namespace kestrel::fuzz;

namespace {
std::string Line(std::string& text) {
  const size_t newline = text.find('\n');
  std::string line = text.substr(0, newline);
  text = newline == std::string::npos ? "" : text.substr(newline + 1);
  return line;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TInput in(data, size);
  std::string text(in.Rest());
  const std::string typed = Line(text);
  const std::string trace = Line(text);

  TRegisters registers;
  TCoreStorage core(registers);
  core.SetCoreSize(4000);
  TDebugger debugger(registers, core);
  Require(debugger.LabelTraceLine(trace) == trace, "a trace line changed without symbols");
  const std::string loaded = debugger.LoadSymbolText(text);
  Report(loaded.empty() ? "symbols loaded" : "symbols refused: " + loaded);

  TBreakpointList list(debugger);
  Require(list.Add("BREAK 333").empty(), "a plain breakpoint was refused");
  const std::vector<TBreakpointRow> before = list.Rows();
  const std::vector<std::string> listed = debugger.ListText();
  const std::string error = list.Add(typed);
  Report(error.empty() ? "added" : "refused: " + error);
  if (error.empty()) {
    Require(list.Rows().size() == before.size() + 1, "an add without one row more");
  } else {
    Require(list.Rows().size() == before.size() && debugger.ListText() == listed,
            "a refused add changed the list");
  }

  const std::vector<uint16_t> marks = debugger.BreakAddresses();
  const uint16_t position = static_cast<uint16_t>((typed.size() * 131 + trace.size()) % 4000);
  const std::string first = debugger.ToggleBreakAt(position);
  if (first.empty()) {
    // Every breakpoint here is enabled: the second click puts back what the first took.
    Require(debugger.ToggleBreakAt(position).empty(), "a second click was refused");
    Require(debugger.BreakAddresses() == marks, "two clicks changed the breakpoints");
  } else {
    Require(debugger.BreakAddresses() == marks, "a refused click changed the breakpoints");
  }

  const std::string labelled = debugger.LabelTraceLine(trace);
  if (labelled != trace) {
    Require(trace.size() >= 7 && trace[0] == 'I', "a line that is no instruction's was labelled");
    Require(labelled.size() >= trace.size() + TDebugger::TraceLabelWidth &&
                labelled.compare(0, 7, trace, 0, 7) == 0 &&
                labelled.compare(labelled.size() - (trace.size() - 7), std::string::npos, trace,
                                 7) == 0,
            "a label column that is not put in after the address");
  }
  return 0;
}
