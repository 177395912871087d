// The symbol loader and the address expressions: whatever the text, a load either adds every
// symbol it read or reports an error naming a line and changes nothing; each loaded symbol
// resolves to its own address; an expression resolves inside core or gives an error, and a range
// never ends before it starts.
//
// Input: the first line is an address expression (and a range), the rest a listing or a symbol
// file.
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "debug/Symbols.h"

using namespace kestrel;
using namespace kestrel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TInput in(data, size);
  const std::string text(in.Rest());
  const size_t newline = text.find('\n');
  const std::string expression = text.substr(0, newline);
  const std::string listing = newline == std::string::npos ? "" : text.substr(newline + 1);

  TSymbolTable table;
  Require(table.LoadText("KEPT 77\n").empty(), "a plain line was refused");
  const std::string error = table.LoadText(listing);
  Report(error.empty() ? "loaded " + std::to_string(table.Size()) : "refused: " + error);
  if (!error.empty()) {
    Require(error.starts_with("line "), "an error that names no line: " + error);
    Require(table.Size() == 1 && table.Find("KEPT") == 77, "a refused load changed the table");
  }
  for (const auto& [name, address] : table.Symbols()) {
    Require(address < 16000, "a symbol outside the largest core: " + name);
    TSymbolTable::TAddress a = table.Resolve(name, 16000);
    Require(a.Ok() && a.Address == address, "symbol " + name + " does not resolve to itself");
  }
  for (uint16_t coreSize : {uint16_t{1400}, uint16_t{16000}}) {
    TSymbolTable::TAddress a = table.Resolve(expression, coreSize);
    Require(a.Ok() != !a.Error.empty(), "an address both resolved and refused");
    if (a.Ok()) Require(a.Address < coreSize, "an address outside core resolved");
    TSymbolTable::TRange r = table.ResolveRange(expression, coreSize);
    if (r.Ok()) Require(r.From <= r.To && r.To < coreSize, "a range outside core or backwards");
    (void)table.Describe(a.Address);
  }
  return 0;
}
