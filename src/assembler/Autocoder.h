// The Autocoder assembler: a 1401 source on the coding sheet's columns (label 6-15, operation
// 16-20, operand 21-72) becomes a self-loading object deck (clear-storage cards, bootstrap, text
// cards, a last card that branches to the start) and a listing that ends with its symbol table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "charset/IBMChars.h"

namespace kestrel {

// What the source cannot mean, where it stands: line and column count from 1.
struct TAsmError {
  int Line = 0;
  int Column = 0;
  std::string Message;
};

struct TAsmOptions {
  // The convention the source's characters and the deck's cards are written in.
  const TCharConvention* Convention = &CharConventions[0];
  // The core size the deck clears from its top; 0 clears only up to the end of the program.
  int CoreSize = 0;
};

struct TAssembly {
  std::vector<TAsmError> Errors;  // in line order; with any of them no deck is made
  std::vector<std::string> Deck;  // the object deck, one card per line, trailing blanks cut
  std::string Listing;            // lines separated by '\n'
  // Every label with its address, by name.
  std::vector<std::pair<std::string, int>> Symbols;
  int StartAddress = -1;  // END's operand
  int ProgramEnd = -1;    // the highest position the program defines
  bool Ok() const { return Errors.empty(); }
  // "LINE N COLUMN C: MESSAGE" lines, one per error.
  std::string ErrorText() const;
};

TAssembly AssembleAutocoder(std::string_view source, const TAsmOptions& options = {});

// The three characters of an address (codes): hundreds and units carry the thousands in their
// zone bits; `index` 1-3 is an index register in the tens position's zones.
void EncodeAddress(int address, int index, uint8_t out[3]);

// Reads an Autocoder source, assembles it and writes OUTPUT.cd and OUTPUT.lst beside it (the
// source's name without its extension).  Returns what went wrong, an empty text when the deck
// was written; `deckFile` gets the deck's name and `assembly` the result.
std::string AssembleFile(const std::string& sourceFile, const TAsmOptions& options,
                         std::string& deckFile, TAssembly& assembly);

}  // namespace kestrel
