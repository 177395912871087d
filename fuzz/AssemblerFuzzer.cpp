// Autocoder sources: any text either assembles into a deck of 80-column cards written in the
// chosen convention, with a listing that ends with its symbol table, or gives errors that name
// a line and column of the source and no deck.  The same source always gives the same result.
//
// Input: one options byte (bits 0-1 the convention, bit 2 a 4,000-position core, else as small
// as the program), then the source.
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "assembler/Autocoder.h"

using namespace kestrel;
using namespace kestrel::fuzz;

namespace {

int LineCount(const std::string& source) {
  int lines = 0;
  for (char c : source)
    lines += c == '\n';
  return lines + 1;
}

void CheckAssembly(const std::string& source, const TAsmOptions& options, const TAssembly& a) {
  const std::string_view map = options.Convention->Mapping;
  if (a.Ok()) {
    Require(a.Deck.size() >= 4, "a deck without its loader cards");
    for (const std::string& card : a.Deck) {
      Require(card.size() <= 80, "a card longer than 80 columns: " + card);
      for (char c : card) {
        Require(c == ' ' || map.find(c) != std::string_view::npos,
                std::string("a card character outside the convention: ") + c);
      }
    }
    Require(a.StartAddress >= 0 && a.StartAddress <= 15999, "no start address");
  } else {
    Require(a.Deck.empty(), "a deck beside errors");
    const int lines = LineCount(source);
    for (const TAsmError& e : a.Errors) {
      Require(!e.Message.empty(), "an error without a message");
      // Line 0 is the deck itself (a code its convention cannot punch).
      Require(e.Line >= 0 && e.Line <= lines + 1, "an error outside the source: " + e.Message);
      Require(e.Line == 0 || (e.Column >= 1 && e.Column <= 81),
              "an error outside the card's columns: " + e.Message);
    }
  }
  Require(a.Listing.find("SYMBOL TABLE") != std::string::npos, "a listing without its symbols");
  for (size_t i = 1; i < a.Symbols.size(); ++i) {
    Require(a.Symbols[i - 1].first < a.Symbols[i].first, "the symbols out of order");
  }
  for (const auto& [name, address] : a.Symbols) {
    Require(address >= 0 && address <= 15999, "a symbol outside core: " + name);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 20000) return 0;
  TAsmOptions options;
  options.Convention = &CharConventions[(data[0] & 3) % CharConventions.size()];
  options.CoreSize = (data[0] & 4) != 0 ? 4000 : 0;
  const std::string source(reinterpret_cast<const char*>(data + 1), size - 1);
  const TAssembly first = AssembleAutocoder(source, options);
  CheckAssembly(source, options, first);
  const TAssembly again = AssembleAutocoder(source, options);
  Require(again.Deck == first.Deck && again.Listing == first.Listing,
          "the same source assembled twice differently");
  if (Verbose()) {
    Report(first.Ok() ? std::to_string(first.Deck.size()) + " cards"
                      : std::to_string(first.Errors.size()) + " errors");
  }
  return 0;
}
