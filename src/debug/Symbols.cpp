#include "debug/Symbols.h"

#include <fstream>
#include <sstream>
#include <vector>

#include "core/KestCore.h"

namespace kestrel {

namespace {

constexpr uint16_t LargestCore = TCoreStorage::MaxSize;

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
  return c >= 'A' && c <= 'Z';
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

bool AllLetters(std::string_view text) {
  for (char c : text) {
    if (!IsLetter(c)) return false;
  }
  return true;
}

// A label: a letter, then letters and digits (upper case).
bool IsName(std::string_view text) {
  if (text.empty() || text.size() > 32 || !IsLetter(text[0])) return false;
  for (char c : text) {
    if (!IsLetter(c) && !IsDigit(c)) return false;
  }
  return true;
}

// A decimal number below `limit`, or none (also when it has too many digits).
std::optional<uint32_t> Decimal(std::string_view text, uint32_t limit) {
  if (!AllDigits(text) || text.size() > 6) return std::nullopt;
  uint32_t value = 0;
  for (char c : text)
    value = value * 10 + static_cast<uint32_t>(c - '0');
  if (value >= limit) return std::nullopt;
  return value;
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(start, end - start));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  std::string word;
  while (in >> word)
    words.push_back(word);
  return words;
}

std::string Column(const std::string& line, size_t from, size_t count) {
  if (from >= line.size()) return {};
  return Trim(line.substr(from, count));
}

std::string LineError(size_t index, const std::string& what) {
  return "line " + std::to_string(index + 1) + ": " + what;
}

// One symbol into the map: the name must be a label and the address inside the largest core.
std::string Define(std::map<std::string, uint16_t>& symbols, size_t index, const std::string& name,
                   const std::string& addressText) {
  if (!IsName(name)) return LineError(index, "\"" + name + "\" is not a label");
  std::optional<uint32_t> address = Decimal(addressText, LargestCore);
  if (!address && addressText.size() == 3 && !AllDigits(addressText)) {
    if (std::optional<uint16_t> coded = DecodeAddressText(addressText)) address = *coded;
  }
  if (!address) {
    return LineError(index, "\"" + addressText + "\" is not an address of " + name + " (0-" +
                                std::to_string(LargestCore - 1) + ")");
  }
  symbols[name] = static_cast<uint16_t>(*address);
  return {};
}

// An SPS listing line: the page in columns 1-2, the line number in 4-6, the label in 11-16 and
// the location in 67-71.
bool IsSpsStatement(const std::string& line) {
  if (line.size() < 6) return false;
  for (size_t k = 0; k < 2; ++k) {
    if (line[k] != ' ' && !IsDigit(line[k])) return false;
  }
  return line[2] == ' ' && IsDigit(line[3]) && IsDigit(line[4]) && IsDigit(line[5]) &&
         (line.size() == 6 || line[6] == ' ');
}

std::string ParseSps(const std::vector<std::string>& lines,
                     std::map<std::string, uint16_t>& symbols) {
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (!IsSpsStatement(line)) continue;
    const std::string label = Column(line, 10, 6);
    if (label.empty()) continue;
    std::string location = Column(line, 66, 5);
    if (size_t blank = location.find(' '); blank != std::string::npos) location.resize(blank);
    if (location.empty()) continue;  // a label the assembler did not store
    if (std::string error = Define(symbols, i, Upper(label), location); !error.empty())
      return error;
  }
  return {};
}

std::string ParseAssemblerTable(const std::vector<std::string>& lines, size_t heading,
                                std::map<std::string, uint16_t>& symbols) {
  for (size_t i = heading + 1; i < lines.size() && !lines[i].empty(); ++i) {
    std::vector<std::string> words = Words(lines[i]);
    if (words.size() != 2) return LineError(i, "\"" + lines[i] + "\" is not NAME ADDRESS");
    if (std::string error = Define(symbols, i, Upper(words[0]), words[1]); !error.empty())
      return error;
  }
  return {};
}

std::string ParsePlain(const std::vector<std::string>& lines,
                       std::map<std::string, uint16_t>& symbols) {
  for (size_t i = 0; i < lines.size(); ++i) {
    std::vector<std::string> words = Words(lines[i]);
    if (words.empty() || words[0][0] == '*' || words[0][0] == '#') continue;
    if (words.size() != 2) return LineError(i, "\"" + lines[i] + "\" is not NAME ADDRESS");
    if (std::string error = Define(symbols, i, Upper(words[0]), words[1]); !error.empty())
      return error;
  }
  return {};
}

}  // namespace

std::optional<uint16_t> DecodeAddressText(std::string_view text) {
  if (text.size() != 3) return std::nullopt;
  for (char c : text) {
    // Blanks and characters outside the code are no address characters.
    if (c == ' ' || static_cast<unsigned char>(c) >= 128) return std::nullopt;
  }
  const int32_t h = HundredsTable[CharToBcd(text[0])];
  const int32_t t = TensTable[CharToBcd(text[1])];
  const int32_t u = UnitsTable[CharToBcd(text[2])];
  if (h < 0 || t < 0 || u < 0) return std::nullopt;
  // CharToBcd gives the blank's code for a character it does not know: only a real blank may be
  // read as one, and none is allowed here.
  if (CharToBcd(text[0]) == 0 || CharToBcd(text[1]) == 0 || CharToBcd(text[2]) == 0)
    return std::nullopt;
  return static_cast<uint16_t>(h + t + u);
}

TSymbolTable::TLoad TSymbolTable::Parse(std::string_view text) {
  TLoad load;
  const std::vector<std::string> lines = Lines(text);
  bool sps = false;
  size_t table = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find("PG LIN CT  LABEL") != std::string::npos) sps = true;
    if (Trim(lines[i]) == "SYMBOL TABLE") table = i;
  }
  if (table < lines.size()) {
    load.Error = ParseAssemblerTable(lines, table, load.Symbols);
  } else if (sps) {
    load.Error = ParseSps(lines, load.Symbols);
  } else {
    load.Error = ParsePlain(lines, load.Symbols);
  }
  if (!load.Ok()) load.Symbols.clear();
  return load;
}

std::string TSymbolTable::LoadText(std::string_view text) {
  TLoad load = Parse(text);
  if (!load.Ok()) return load.Error;
  for (const auto& [name, address] : load.Symbols)
    byName_[name] = address;
  return {};
}

std::string TSymbolTable::LoadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot read symbols from " + path;
  std::ostringstream text;
  text << in.rdbuf();
  std::string error = LoadText(text.str());
  return error.empty() ? error : path + ": " + error;
}

std::optional<uint16_t> TSymbolTable::Find(std::string_view name) const {
  auto found = byName_.find(Upper(name));
  if (found == byName_.end()) return std::nullopt;
  return found->second;
}

std::string TSymbolTable::LabelAt(uint16_t address) const {
  for (const auto& [name, value] : byName_) {
    if (value == address) return name;
  }
  return {};
}

std::string TSymbolTable::Describe(uint16_t address, unsigned reach) const {
  std::string best;
  unsigned bestDistance = reach + 1;
  for (const auto& [name, value] : byName_) {
    if (value <= address && static_cast<unsigned>(address - value) < bestDistance) {
      bestDistance = static_cast<unsigned>(address - value);
      best = name;
    }
  }
  if (best.empty()) return best;
  return bestDistance == 0 ? best : best + "+" + std::to_string(bestDistance);
}

std::string TSymbolTable::AddressText(uint16_t address) const {
  std::string label = Describe(address);
  return label.empty() ? Addr5(address) : Addr5(address) + " (" + label + ")";
}

TSymbolTable::TAddress TSymbolTable::Resolve(std::string_view expression, uint16_t coreSize) const {
  TAddress result;
  const std::string text = Upper(Trim(expression, " \t"));
  const std::string outside = " is outside core (0-" + std::to_string(coreSize - 1) + ")";
  if (text.empty()) {
    result.Error = "no address given";
    return result;
  }
  // A label with an offset: LABEL+N or LABEL-N.
  size_t sign = text.find_first_of("+-", 1);
  std::string base = sign == std::string::npos ? text : Trim(text.substr(0, sign), " \t");
  int64_t offset = 0;
  if (sign != std::string::npos) {
    std::string digits = Trim(text.substr(sign + 1), " \t");
    std::optional<uint32_t> n = Decimal(digits, 100000);
    if (!n) {
      result.Error = "\"" + text + "\" has no number after its " + text[sign];
      return result;
    }
    offset = text[sign] == '-' ? -static_cast<int64_t>(*n) : *n;
  }
  int64_t value = -1;
  if (std::optional<uint16_t> label = Find(base)) {
    value = *label;
  } else if (AllDigits(base)) {
    std::optional<uint32_t> n = Decimal(base, 1000000);
    if (!n) {
      result.Error = "address " + base + outside;
      return result;
    }
    value = *n;
  } else if (std::optional<uint16_t> coded = DecodeAddressText(base); coded && !AllLetters(base)) {
    // Three letters are a label, never an address.
    value = *coded;
  } else if (IsName(base)) {
    result.Error = byName_.empty() ? "no label " + base + " (no symbols are loaded)"
                                   : "no label " + base + " in the loaded symbols";
    return result;
  } else {
    result.Error = "\"" + base + "\" is neither an address nor a label";
    return result;
  }
  value += offset;
  if (value < 0 || value >= coreSize) {
    result.Error = "address " + std::to_string(value) + " (" + text + ")" + outside;
    return result;
  }
  result.Address = static_cast<uint16_t>(value);
  return result;
}

TSymbolTable::TRange TSymbolTable::ResolveRange(std::string_view expression,
                                                uint16_t coreSize) const {
  TRange range;
  const std::string text = Trim(expression, " \t");
  // The dash between the two ends: the first one that is not part of an offset (a dash right
  // after the start's label and a number is the separator when a second end follows).
  size_t dash = std::string::npos;
  for (size_t k = 1; k < text.size(); ++k) {
    if (text[k] != '-') continue;
    TAddress from = Resolve(text.substr(0, k), coreSize);
    TAddress to = Resolve(text.substr(k + 1), coreSize);
    if (from.Ok() && to.Ok()) {
      dash = k;
      break;
    }
    if (dash == std::string::npos && from.Ok()) dash = k;
  }
  TAddress from = Resolve(dash == std::string::npos ? text : text.substr(0, dash), coreSize);
  if (!from.Ok()) {
    range.Error = from.Error;
    return range;
  }
  TAddress to = dash == std::string::npos ? from : Resolve(text.substr(dash + 1), coreSize);
  if (!to.Ok()) {
    range.Error = to.Error;
    return range;
  }
  if (to.Address < from.Address) {
    range.Error = "range " + text + " ends (" + std::to_string(to.Address) +
                  ") before it starts (" + std::to_string(from.Address) + ")";
    return range;
  }
  range.From = from.Address;
  range.To = to.Address;
  return range;
}

}  // namespace kestrel
