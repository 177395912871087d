// The debugger's symbol table: labels and their addresses, loaded from an SPS listing, from the
// assembler's listing (its SYMBOL TABLE) or from a plain file of `NAME ADDRESS` lines, and the
// address expressions every address field of the debugger accepts: `LABEL`, `LABEL+4`,
// `LABEL-2`, a decimal address, or a three-character 1401 address.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

class TSymbolTable {
 public:
  // What a load read: the symbols, or the first error (naming its line) and none of them.
  struct TLoad {
    std::map<std::string, uint16_t> Symbols;
    std::string Error;
    bool Ok() const { return Error.empty(); }
  };
  // Reads any of the three forms; nothing in the table changes (see Merge).
  // Every address must be one of a 16,000-position core.
  static TLoad Parse(std::string_view text);

  // Loads a file or a text: on success the symbols are added (a name given again takes its new
  // address) and "" is returned; else the error, and the table is as it was.
  std::string LoadFile(const std::string& path);
  std::string LoadText(std::string_view text);
  void Clear() { byName_.clear(); }
  size_t Size() const { return byName_.size(); }
  const std::map<std::string, uint16_t>& Symbols() const { return byName_; }

  std::optional<uint16_t> Find(std::string_view name) const;
  // The label at `address`, or "" (the first by name when several share it).
  std::string LabelAt(uint16_t address) const;
  // The nearest label at or below `address` within `reach` positions, as `LABEL` or `LABEL+N`;
  // "" when there is none.
  std::string Describe(uint16_t address, unsigned reach = 100) const;
  // `address` as five digits, followed by " (LABEL+N)" when a label is near.
  std::string AddressText(uint16_t address) const;

  // An address expression, resolved against the table: the address, or an error naming the
  // expression ("no label ZORK", "address 16005 is outside core (0-15999)").
  struct TAddress {
    uint16_t Address = 0;
    std::string Error;
    bool Ok() const { return Error.empty(); }
  };
  TAddress Resolve(std::string_view expression, uint16_t coreSize) const;
  // `FROM-TO` (each an address expression; "FROM" alone is one position): the error also when
  // the end comes before the start.
  struct TRange {
    uint16_t From = 0;
    uint16_t To = 0;
    std::string Error;
    bool Ok() const { return Error.empty(); }
  };
  TRange ResolveRange(std::string_view expression, uint16_t coreSize) const;

 private:
  std::map<std::string, uint16_t> byName_;
};

// The value of a three-character 1401 address (hundreds with the thousands in its zone, tens,
// units with the four-thousands in its zone), or none when the characters are not one.
std::optional<uint16_t> DecodeAddressText(std::string_view text);

}  // namespace kestrel
