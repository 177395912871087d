#include "assembler/Autocoder.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "core/KestCore.h"

namespace kestrel {

namespace {

constexpr int MaxAddress = 15999;
constexpr int DefaultOrigin = 333;  // past the read, punch and print areas
constexpr int CardTextColumns = 39;
constexpr int SetMarksPerCard = 6;  // three SW instructions of two addresses each
constexpr int LoaderArea = 80;      // the loader's cards are read into 001-080

// The forms the operand of an operation takes.
enum TForm {
  FAddresses,  // up to MaxAddr addresses (A, MCW, CS ...)
  FBranch,     // B: I; I,d; or I,B,d
  FIBd,        // I,B,d (BCE, BWZ, BBE)
  FFixedD,     // I with the d-character the mnemonic stands for (BE, BAV ...)
  FId,         // I,d (BIN)
  FDChar,      // d; or I,d (CC, SS)
  FTape,       // a tape unit 1-6 and, with MaxAddr 1, the area: %Un in the A-address
};

struct TMnemonic {
  std::string_view Name;
  uint8_t Code;
  TForm Form;
  int MinAddr;
  int MaxAddr;
  char DChar;  // FFixedD
};

// Op codes are given as their characters in the machine's own character set.
constexpr uint8_t Op(char c) {
  for (int i = 0; i < 64; ++i)
    if (InternalCharSet[i] == c) return static_cast<uint8_t>(i);
  return 0;
}

constexpr TMnemonic Mnemonics[] = {
    {"A", Op('A'), FAddresses, 0, 2, 0},   {"S", Op('S'), FAddresses, 0, 2, 0},
    {"ZA", Op('?'), FAddresses, 0, 2, 0},  {"ZS", Op('!'), FAddresses, 0, 2, 0},
    {"M", Op('@'), FAddresses, 0, 2, 0},   {"D", Op('%'), FAddresses, 0, 2, 0},
    {"MCW", Op('M'), FAddresses, 0, 2, 0}, {"MLC", Op('M'), FAddresses, 0, 2, 0},
    {"LCA", Op('L'), FAddresses, 0, 2, 0}, {"MCS", Op('Z'), FAddresses, 0, 2, 0},
    {"MCE", Op('E'), FAddresses, 0, 2, 0}, {"MN", Op('D'), FAddresses, 0, 2, 0},
    {"MZ", Op('Y'), FAddresses, 0, 2, 0},  {"MCM", Op('P'), FAddresses, 0, 2, 0},
    {"C", Op('C'), FAddresses, 0, 2, 0},   {"MA", Op('#'), FAddresses, 1, 2, 0},
    {"SW", Op(','), FAddresses, 1, 2, 0},  {"CW", Op('o'), FAddresses, 1, 2, 0},
    {"CS", Op('/'), FAddresses, 0, 2, 0},  {"NOP", Op('N'), FAddresses, 0, 2, 0},
    {"SAR", Op('Q'), FAddresses, 1, 1, 0}, {"SBR", Op('H'), FAddresses, 1, 1, 0},
    {"H", Op('.'), FAddresses, 0, 2, 0},   {"R", Op('1'), FAddresses, 0, 1, 0},
    {"W", Op('2'), FAddresses, 0, 1, 0},   {"WR", Op('3'), FAddresses, 0, 1, 0},
    {"P", Op('4'), FAddresses, 0, 1, 0},   {"RP", Op('5'), FAddresses, 0, 1, 0},
    {"WP", Op('6'), FAddresses, 0, 1, 0},  {"WRP", Op('7'), FAddresses, 0, 1, 0},
    {"SRF", Op('8'), FAddresses, 0, 0, 0}, {"SPF", Op('9'), FAddresses, 0, 0, 0},
    {"B", Op('B'), FBranch, 1, 2, 0},      {"BCE", Op('B'), FIBd, 2, 2, 0},
    {"BWZ", Op('V'), FIBd, 2, 2, 0},       {"BBE", Op('W'), FIBd, 2, 2, 0},
    {"BIN", Op('B'), FId, 1, 1, 0},        {"BE", Op('B'), FFixedD, 1, 1, 'S'},
    {"BU", Op('B'), FFixedD, 1, 1, '/'},   {"BH", Op('B'), FFixedD, 1, 1, 'U'},
    {"BL", Op('B'), FFixedD, 1, 1, 'T'},   {"BAV", Op('B'), FFixedD, 1, 1, 'Z'},
    {"BLC", Op('B'), FFixedD, 1, 1, 'A'},  {"BC9", Op('B'), FFixedD, 1, 1, '9'},
    {"BCV", Op('B'), FFixedD, 1, 1, '@'},  {"BEF", Op('B'), FFixedD, 1, 1, 'K'},
    {"BER", Op('B'), FFixedD, 1, 1, 'L'},  {"CC", Op('F'), FDChar, 0, 1, 0},
    {"SS", Op('K'), FDChar, 0, 1, 0},      {"SSF", Op('K'), FDChar, 0, 1, 0},
    {"RT", Op('M'), FTape, 1, 1, 'R'},     {"RTW", Op('L'), FTape, 1, 1, 'R'},
    {"WT", Op('M'), FTape, 1, 1, 'W'},     {"WTW", Op('L'), FTape, 1, 1, 'W'},
    {"RWD", Op('U'), FTape, 0, 0, 'R'},    {"RWU", Op('U'), FTape, 0, 0, 'U'},
    {"BSP", Op('U'), FTape, 0, 0, 'B'},    {"SKP", Op('U'), FTape, 0, 0, 'E'},
    {"WTM", Op('U'), FTape, 0, 0, 'M'},
};

const TMnemonic* FindMnemonic(std::string_view name) {
  for (const TMnemonic& m : Mnemonics)
    if (m.Name == name) return &m;
  return nullptr;
}

enum TKind { KNone, KInstruction, KDCW, KDC, KDS, KDSA, KEQU, KORG, KLTORG, KEX, KEND };

TKind DeclarativeKind(std::string_view op) {
  if (op == "DCW") return KDCW;
  if (op == "DC") return KDC;
  if (op == "DS") return KDS;
  if (op == "DSA") return KDSA;
  if (op == "EQU") return KEQU;
  if (op == "ORG") return KORG;
  if (op == "LTORG") return KLTORG;
  if (op == "EX") return KEX;
  if (op == "END") return KEND;
  return KNone;
}

// An address as written: a base (number, `*`, symbol or literal), an adjustment, an index.
struct TExpr {
  enum TBase { BNumber, BStar, BSymbol, BLiteral } Base = BNumber;
  int Number = 0;
  std::string Symbol;
  int Literal = -1;
  int Adjust = 0;
  int Index = 0;
  int Column = 0;
};

struct TItem {
  std::string Text;
  int Column = 0;
};

struct TLiteral {
  std::string Key;  // as written
  std::vector<uint8_t> Codes;
  int Address = -1;  // its low-order position once placed
};

struct TStatement {
  int Line = 0;
  std::string Text;  // the line as read (columns 1-80)
  std::string Label, Op, Comment;
  std::vector<TItem> Items;
  TKind Kind = KNone;
  const TMnemonic* Mnemonic = nullptr;
  std::vector<TExpr> Addresses;
  std::optional<TItem> DItem;
  int Location = -1;  // first position it occupies
  int Length = 0;
  std::vector<uint8_t> Codes;  // what it loads (empty: nothing)
  bool WordMark = false;       // a word mark on its first position
  std::vector<int> Pool;       // literals placed after it (LTORG, END)
  int Value = -1;              // EQU, EX, END
  char TapeUnit = 0;           // RT, WT ...: the unit's digit
  bool OperandBad = false;     // reported while splitting it
};

std::string Column(const std::string& line, int first, int last) {
  if (static_cast<int>(line.size()) < first) return {};
  return line.substr(first - 1, last - first + 1);
}

std::string TrimRight(std::string text) {
  while (!text.empty() && text.back() == ' ')
    text.pop_back();
  return text;
}

bool IsLetter(char c) {
  return c >= 'A' && c <= 'Z';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

class TAssembler {
 public:
  TAssembler(std::string_view source, const TAsmOptions& options)
      : source_(source),
        convention_(options.Convention != nullptr ? options.Convention : &CharConventions[0]),
        coreSize_(options.CoreSize) {}

  TAssembly Run() {
    ReadLines();
    for (TStatement& s : statements_)
      PassOne(s);
    if (!ended_) Error(lastLine_ + 1, 1, "no END statement");
    for (TStatement& s : statements_)
      PassTwo(s);
    std::stable_sort(result_.Errors.begin(), result_.Errors.end(),
                     [](const TAsmError& a, const TAsmError& b) { return a.Line < b.Line; });
    for (const auto& [name, address] : symbols_)
      result_.Symbols.emplace_back(name, address);
    result_.ProgramEnd = programEnd_;
    result_.StartAddress = start_;
    if (result_.Errors.empty()) MakeDeck();
    MakeListing();
    if (!result_.Errors.empty()) result_.Deck.clear();
    return std::move(result_);
  }

 private:
  void Error(int line, int column, std::string message) {
    result_.Errors.push_back({line, column, std::move(message)});
  }

  // The code of a source character in the convention; the plus sign, which the 1401 keeps as
  // the ampersand, is taken as one where the convention has no character of its own for it.
  int CodeOf(char c) const {
    if (c == ' ') return Bcd::Blank;
    const std::string_view map = convention_->Mapping;
    for (size_t i = 1; i < map.size(); ++i)
      if (map[i] == c) return static_cast<int>(i);
    if (c == '+') return Bcd::Ampersand;
    return -1;
  }

  void ReadLines() {
    size_t pos = 0;
    int line = 0;
    while (pos < source_.size()) {
      size_t end = source_.find('\n', pos);
      if (end == std::string_view::npos) end = source_.size();
      std::string text(source_.substr(pos, end - pos));
      pos = end + 1;
      ++line;
      if (!text.empty() && text.back() == '\r') text.pop_back();
      lastLine_ = line;
      TStatement s;
      s.Line = line;
      // A line past the card is one error, whatever its columns beyond 80 hold.
      bool bad = false;
      if (text.size() > 80) {
        Error(line, 81, "the line is longer than 80 columns");
        bad = true;
      }
      for (size_t i = 0; i < text.size() && !bad; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\t') {
          Error(line, static_cast<int>(i) + 1, "a tab: the columns are reached with blanks");
          bad = true;
        } else if (c < 32 || c > 126) {
          Error(line, static_cast<int>(i) + 1, "a character that is not 1401 text");
          bad = true;
        }
      }
      if (bad) text.clear();
      s.Text = text;
      statements_.push_back(std::move(s));
    }
  }

  // ---- pass one: fields, lengths, locations, labels ----

  void PassOne(TStatement& s) {
    const std::string& t = s.Text;
    if (TrimRight(t).empty() || Column(t, 6, 6) == "*") return;
    if (ended_) {
      Error(s.Line, 6, "a statement after END");
      return;
    }
    s.Label = TrimRight(Column(t, 6, 15));
    s.Op = TrimRight(Column(t, 16, 20));
    const std::string operand = Column(t, 21, 72);
    if (s.Op.empty()) {
      Error(s.Line, 16, "no operation in columns 16-20");
      return;
    }
    if (s.Op.find(' ') != std::string::npos || s.Op.front() == ' ') {
      Error(s.Line, 16, "the operation \"" + Trim(s.Op) + "\" must begin in column 16");
      return;
    }
    if (!s.Label.empty() && !CheckLabel(s)) s.Label.clear();
    SplitOperand(s, operand);
    s.Kind = DeclarativeKind(s.Op);
    if (s.Kind == KNone) {
      s.Mnemonic = FindMnemonic(s.Op);
      if (s.Mnemonic == nullptr) {
        Error(s.Line, 16, "unknown operation \"" + s.Op + "\"");
        return;
      }
      s.Kind = KInstruction;
    }
    switch (s.Kind) {
      case KInstruction:
        PassOneInstruction(s);
        break;
      case KDCW:
      case KDC:
        PassOneConstant(s);
        break;
      case KDS:
        PassOneStorage(s);
        break;
      case KDSA:
        PassOneAddressConstant(s);
        break;
      case KEQU:
        PassOneEqu(s);
        break;
      case KORG:
        PassOneOrg(s);
        break;
      case KLTORG:
        NoLabel(s);
        PlacePool(s);
        break;
      case KEX:
      case KEND:
        PassOneEnd(s);
        break;
      case KNone:
        break;
    }
  }

  bool CheckLabel(const TStatement& s) {
    const std::string& l = s.Label;
    if (l.front() == ' ') {
      Error(s.Line, 6, "a label must begin in column 6");
      return false;
    }
    if (!IsLetter(l.front())) {
      Error(s.Line, 6, "a label begins with a letter");
      return false;
    }
    for (size_t i = 0; i < l.size(); ++i) {
      if (!IsLetter(l[i]) && !IsDigit(l[i])) {
        Error(s.Line, 6 + static_cast<int>(i), "a label is letters and digits only");
        return false;
      }
    }
    if (l.size() > 6) {
      Error(s.Line, 12, "a label has at most 6 characters");
      return false;
    }
    if (l == "X1" || l == "X2" || l == "X3") {
      Error(s.Line, 6, "X1, X2 and X3 name the index registers");
      return false;
    }
    return true;
  }

  void NoLabel(TStatement& s) {
    if (s.Label.empty()) return;
    Error(s.Line, 6, s.Op + " takes no label");
    s.Label.clear();
  }

  // The operand ends at the first blank outside an @...@ text; the rest is comment.
  void SplitOperand(TStatement& s, const std::string& operand) {
    size_t i = 0;
    bool inText = false;
    std::string item;
    int itemColumn = 21;
    for (; i < operand.size(); ++i) {
      char c = operand[i];
      if (c == '@') inText = !inText;
      if (!inText && c == ' ') break;
      if (!inText && c == ',') {
        s.Items.push_back({item, itemColumn});
        item.clear();
        itemColumn = 21 + static_cast<int>(i) + 1;
        continue;
      }
      item += c;
    }
    if (inText) {
      Error(s.Line, itemColumn, "the text has no closing @");
      s.OperandBad = true;
    }
    if (!item.empty() || !s.Items.empty()) s.Items.push_back({item, itemColumn});
    s.Comment = Trim(operand.substr(std::min(i, operand.size())));
  }

  void Define(const TStatement& s, int address) {
    if (s.Label.empty()) return;
    if (symbols_.count(s.Label) != 0) {
      Error(s.Line, 6, "\"" + s.Label + "\" is defined twice");
      return;
    }
    symbols_[s.Label] = address;
  }

  bool Place(TStatement& s, int length) {
    s.Location = location_;
    s.Length = length;
    if (location_ + length - 1 > MaxAddress) {
      Error(s.Line, 16, "the program runs past 15999");
      location_ = MaxAddress + 1;
      return false;
    }
    location_ += length;
    programEnd_ = std::max(programEnd_, location_ - 1);
    return true;
  }

  void PassOneInstruction(TStatement& s) {
    const TMnemonic& m = *s.Mnemonic;
    if (m.Form == FTape) {
      PassOneTape(s);
      return;
    }
    std::vector<TItem> addresses = s.Items;
    bool hasD = false;
    bool formRight = true;
    switch (m.Form) {
      case FAddresses:
      case FTape:  // taken above
        break;
      case FBranch:
        if (addresses.size() >= 2) hasD = true;
        break;
      case FIBd:
      case FId:
        hasD = true;
        if (addresses.size() != static_cast<size_t>(m.MinAddr) + 1) {
          Error(s.Line, 21,
                m.Form == FIBd ? s.Op + " needs a branch address, an address and a d-character"
                               : s.Op + " needs a branch address and a d-character");
          addresses.clear();
          hasD = false;
          formRight = false;
        }
        break;
      case FFixedD:
        hasD = true;
        break;
      case FDChar:
        hasD = true;
        if (addresses.empty()) {
          Error(s.Line, 21, s.Op + " needs a d-character");
          hasD = false;
          formRight = false;
        }
        break;
    }
    if (hasD && m.Form != FFixedD) {
      s.DItem = addresses.back();
      addresses.pop_back();
    }
    const int count = static_cast<int>(addresses.size());
    bool countRight = true;
    if (!formRight) {
      countRight = false;
    } else if (count < m.MinAddr || count > m.MaxAddr) {
      countRight = false;
      std::string wanted = m.MinAddr == m.MaxAddr
                               ? std::to_string(m.MinAddr)
                               : std::to_string(m.MinAddr) + " to " + std::to_string(m.MaxAddr);
      Error(s.Line, 21,
            s.Op + " takes " + wanted +
                (m.MaxAddr == 1 && m.MinAddr == 1 ? " address" : " addresses") + ", not " +
                std::to_string(count));
    }
    for (const TItem& item : addresses) {
      TExpr e;
      if (countRight && !s.OperandBad && ParseExpr(s, item, e)) s.Addresses.push_back(e);
    }
    if (s.DItem && s.DItem->Text.size() != 1) {
      Error(s.Line, s.DItem->Column, "the d-character is one character");
      s.DItem.reset();
    }
    const int length = 1 + 3 * count + (hasD ? 1 : 0);
    s.WordMark = true;
    if (Place(s, length)) Define(s, s.Location);
  }

  // RT 1,AREA is M %U1 AREA R: the unit as the A-address's three characters, then the area.
  void PassOneTape(TStatement& s) {
    const TMnemonic& m = *s.Mnemonic;
    const size_t wanted = 1 + static_cast<size_t>(m.MaxAddr);
    if (s.Items.size() != wanted) {
      Error(s.Line, 21,
            m.MaxAddr == 1 ? s.Op + " needs a tape unit and an area" : s.Op + " needs a tape unit");
    } else {
      const TItem& unit = s.Items.front();
      if (unit.Text.size() != 1 || unit.Text[0] < '1' || unit.Text[0] > '6') {
        Error(s.Line, unit.Column, "a tape unit is 1 to 6");
      } else {
        s.TapeUnit = unit.Text[0];
      }
      TExpr e;
      if (m.MaxAddr == 1 && !s.OperandBad && ParseExpr(s, s.Items[1], e)) s.Addresses.push_back(e);
    }
    s.WordMark = true;
    if (Place(s, 5 + 3 * m.MaxAddr)) Define(s, s.Location);
  }

  // An address term: symbol, actual address, `*` or a literal, then +N or -N, then +X1..+X3.
  bool ParseExpr(const TStatement& s, const TItem& item, TExpr& e) {
    const std::string& t = item.Text;
    e.Column = item.Column;
    if (t.empty()) {
      Error(s.Line, item.Column, "an address is missing");
      return false;
    }
    size_t i = 0;
    auto fail = [&](const std::string& message) {
      Error(s.Line, item.Column + static_cast<int>(i), message);
      return false;
    };
    if (t[0] == '@') {
      size_t close = t.find('@', 1);
      if (close == std::string::npos) return fail("the text has no closing @");
      std::string text = t.substr(1, close - 1);
      if (text.empty()) return fail("an empty text literal");
      std::vector<uint8_t> codes;
      for (size_t k = 0; k < text.size(); ++k) {
        int code = CodeOf(text[k]);
        if (code < 0) {
          i = k + 1;
          return fail(std::string("'") + text[k] + "' is no character of the convention " +
                      std::string(convention_->Name));
        }
        codes.push_back(static_cast<uint8_t>(code));
      }
      e.Base = TExpr::BLiteral;
      e.Literal = AddLiteral(t.substr(0, close + 1), std::move(codes));
      i = close + 1;
    } else if ((t[0] == '+' || t[0] == '-') && t.size() > 1 && IsDigit(t[1])) {
      size_t k = 1;
      while (k < t.size() && IsDigit(t[k]))
        ++k;
      std::vector<uint8_t> codes;
      if (!NumericCodes(t.substr(0, k), codes)) return fail("a numeric literal is too long");
      e.Base = TExpr::BLiteral;
      e.Literal = AddLiteral(t.substr(0, k), std::move(codes));
      i = k;
    } else if (t[0] == '*') {
      e.Base = TExpr::BStar;
      i = 1;
    } else if (IsDigit(t[0])) {
      size_t k = 0;
      while (k < t.size() && IsDigit(t[k]))
        ++k;
      if (k > 5 || std::stoi(t.substr(0, k)) > MaxAddress) {
        return fail("an actual address is 0 to 15999");
      }
      e.Base = TExpr::BNumber;
      e.Number = std::stoi(t.substr(0, k));
      i = k;
    } else if (IsLetter(t[0])) {
      size_t k = 0;
      while (k < t.size() && (IsLetter(t[k]) || IsDigit(t[k])))
        ++k;
      e.Symbol = t.substr(0, k);
      e.Base = TExpr::BSymbol;
      if (e.Symbol == "X1" || e.Symbol == "X2" || e.Symbol == "X3") {
        e.Base = TExpr::BNumber;
        e.Number = 84 + 5 * (e.Symbol[1] - '0');
      }
      i = k;
    } else {
      return fail("cannot read the address \"" + t + "\"");
    }
    while (i < t.size()) {
      const char sign = t[i];
      if (sign != '+' && sign != '-') return fail("cannot read \"" + t.substr(i) + "\"");
      if (sign == '+' && i + 2 < t.size() + 0 && t[i + 1] == 'X' && i + 3 == t.size() &&
          t[i + 2] >= '1' && t[i + 2] <= '3') {
        e.Index = t[i + 2] - '0';
        i = t.size();
        break;
      }
      size_t k = i + 1;
      while (k < t.size() && IsDigit(t[k]))
        ++k;
      if (k == i + 1) return fail("an adjustment is a number of positions");
      if (k - i - 1 > 5) return fail("the adjustment is too large");
      const int n = std::stoi(t.substr(i + 1, k - i - 1));
      e.Adjust += sign == '+' ? n : -n;
      i = k;
    }
    return true;
  }

  // A signed number's digits, the sign in the units position's zones: plus A and B, minus B.
  bool NumericCodes(const std::string& text, std::vector<uint8_t>& codes) {
    size_t k = text[0] == '+' || text[0] == '-' ? 1 : 0;
    if (text.size() - k > 51) return false;
    for (; k < text.size(); ++k)
      codes.push_back(static_cast<uint8_t>(text[k] == '0' ? Bcd::Zero : text[k] - '0'));
    if (text[0] == '+') codes.back() |= Bcd::ZoneMask;
    if (text[0] == '-') codes.back() |= Bcd::BZone;
    return true;
  }

  int AddLiteral(const std::string& key, std::vector<uint8_t> codes) {
    for (size_t i = 0; i < literals_.size(); ++i)
      if (literals_[i].Key == key) return static_cast<int>(i);
    literals_.push_back({key, std::move(codes), -1});
    return static_cast<int>(literals_.size()) - 1;
  }

  void PlacePool(TStatement& s) {
    for (size_t i = 0; i < literals_.size(); ++i) {
      TLiteral& lit = literals_[i];
      if (lit.Address >= 0) continue;
      const int length = static_cast<int>(lit.Codes.size());
      if (location_ + length - 1 > MaxAddress) {
        Error(s.Line, 16, "the literals run past 15999");
        return;
      }
      lit.Address = location_ + length - 1;
      location_ += length;
      programEnd_ = std::max(programEnd_, location_ - 1);
      s.Pool.push_back(static_cast<int>(i));
    }
  }

  // DCW and DC: @text@, a number with or without a sign, or #N blanks.
  void PassOneConstant(TStatement& s) {
    if (s.OperandBad) return;
    if (s.Items.size() != 1) {
      Error(s.Line, 21, s.Op + " needs one constant");
      return;
    }
    const TItem& item = s.Items.front();
    const std::string& t = item.Text;
    std::vector<uint8_t> codes;
    if (t.size() >= 2 && t.front() == '@' && t.back() == '@') {
      for (size_t k = 1; k + 1 < t.size(); ++k) {
        int code = CodeOf(t[k]);
        if (code < 0) {
          Error(s.Line, item.Column + static_cast<int>(k),
                std::string("'") + t[k] + "' is no character of the convention " +
                    std::string(convention_->Name));
          return;
        }
        codes.push_back(static_cast<uint8_t>(code));
      }
    } else if (t.size() >= 2 && t[0] == '#') {
      int n = 0;
      if (!ParseCount(t.substr(1), n)) {
        Error(s.Line, item.Column + 1, "#N gives N blanks, N from 1 to 15999");
        return;
      }
      codes.assign(static_cast<size_t>(n), Bcd::Blank);
    } else {
      size_t k = !t.empty() && (t[0] == '+' || t[0] == '-') ? 1 : 0;
      bool digits = k < t.size();
      for (size_t j = k; j < t.size(); ++j)
        digits = digits && IsDigit(t[j]);
      if (!digits) {
        Error(s.Line, item.Column,
              "a constant is @TEXT@, a number (+12, -5, 300) or #N for N blanks");
        return;
      }
      if (!NumericCodes(t, codes)) {
        Error(s.Line, item.Column, "a numeric constant has at most 51 digits");
        return;
      }
    }
    if (codes.empty()) {
      Error(s.Line, item.Column, "an empty constant");
      return;
    }
    s.Codes = std::move(codes);
    s.WordMark = s.Kind == KDCW;
    if (Place(s, static_cast<int>(s.Codes.size()))) Define(s, s.Location + s.Length - 1);
  }

  static bool ParseCount(const std::string& text, int& n) {
    if (text.empty() || text.size() > 5) return false;
    for (char c : text)
      if (!IsDigit(c)) return false;
    n = std::stoi(text);
    return n >= 1 && n <= MaxAddress;
  }

  void PassOneStorage(TStatement& s) {
    int n = 0;
    if (s.Items.size() != 1 ||
        !ParseCount(
            s.Items.front().Text[0] == '#' ? s.Items.front().Text.substr(1) : s.Items.front().Text,
            n)) {
      Error(s.Line, 21, "DS needs a number of positions, 1 to 15999");
      return;
    }
    if (Place(s, n)) Define(s, s.Location + n - 1);
  }

  void PassOneAddressConstant(TStatement& s) {
    if (s.Items.size() != 1) {
      Error(s.Line, 21, "DSA needs one address");
      return;
    }
    TExpr e;
    if (!s.OperandBad && ParseExpr(s, s.Items.front(), e)) s.Addresses.push_back(e);
    s.WordMark = true;
    if (Place(s, 3)) Define(s, s.Location + 2);
  }

  // An address that must be known where it stands (EQU, ORG): symbols defined above it.
  bool ValueNow(TStatement& s, int& value) {
    if (s.OperandBad) return false;
    if (s.Items.size() != 1) {
      Error(s.Line, 21, s.Op + " needs one address");
      return false;
    }
    TExpr e;
    if (!ParseExpr(s, s.Items.front(), e)) return false;
    if (e.Base == TExpr::BLiteral) {
      Error(s.Line, e.Column, s.Op + " takes no literal");
      return false;
    }
    if (e.Index != 0) {
      Error(s.Line, e.Column, s.Op + " takes no index register");
      return false;
    }
    if (e.Base == TExpr::BSymbol && symbols_.count(e.Symbol) == 0) {
      Error(s.Line, e.Column, "\"" + e.Symbol + "\" must be defined above " + s.Op);
      return false;
    }
    return Evaluate(s, e, location_, value);
  }

  void PassOneEqu(TStatement& s) {
    if (s.Label.empty()) {
      Error(s.Line, 6, "EQU needs a label");
      return;
    }
    int value = 0;
    if (!ValueNow(s, value)) return;
    s.Value = value;
    Define(s, value);
  }

  void PassOneOrg(TStatement& s) {
    NoLabel(s);
    int value = 0;
    if (!ValueNow(s, value)) return;
    location_ = value;
    s.Location = value;
  }

  void PassOneEnd(TStatement& s) {
    NoLabel(s);
    if (s.Kind == KEND) {
      PlacePool(s);
      ended_ = true;
    }
    if (s.Items.size() != 1) {
      Error(s.Line, 21, s.Op + (s.Kind == KEND ? " needs the start address" : " needs an address"));
      return;
    }
    TExpr e;
    if (!s.OperandBad && ParseExpr(s, s.Items.front(), e)) s.Addresses.push_back(e);
  }

  // ---- pass two: addresses ----

  bool Evaluate(const TStatement& s, const TExpr& e, int star, int& value) {
    int base = 0;
    switch (e.Base) {
      case TExpr::BNumber:
        base = e.Number;
        break;
      case TExpr::BStar:
        base = star;
        break;
      case TExpr::BLiteral:
        base = literals_[static_cast<size_t>(e.Literal)].Address;
        break;
      case TExpr::BSymbol: {
        auto found = symbols_.find(e.Symbol);
        if (found == symbols_.end()) {
          Error(s.Line, e.Column, "\"" + e.Symbol + "\" is not defined");
          return false;
        }
        base = found->second;
        break;
      }
    }
    if (base < 0) return false;  // a literal that found no place, reported there
    value = base + e.Adjust;
    if (value < 0 || value > MaxAddress) {
      Error(s.Line, e.Column, "the address " + std::to_string(value) + " is outside 0 to 15999");
      return false;
    }
    return true;
  }

  void PassTwo(TStatement& s) {
    if (s.Kind == KInstruction) {
      s.Codes.assign(static_cast<size_t>(s.Length), Bcd::Blank);
      s.Codes[0] = s.Mnemonic->Code;
      const int star = s.Location + s.Length - 1;
      const size_t first = s.Mnemonic->Form == FTape ? 1 : 0;
      if (first == 1 && s.TapeUnit != 0) {
        s.Codes[1] = Op('%');
        s.Codes[2] = Op('U');
        s.Codes[3] = Op(s.TapeUnit);
      }
      for (size_t k = 0; k < s.Addresses.size(); ++k) {
        int value = 0;
        if (!Evaluate(s, s.Addresses[k], star, value)) continue;
        if (1 + 3 * (k + first) + 3 <= s.Codes.size()) {
          EncodeAddress(value, s.Addresses[k].Index, &s.Codes[1 + 3 * (k + first)]);
        }
      }
      int d = -1;
      if (s.Mnemonic->Form == FFixedD || s.Mnemonic->Form == FTape) {
        d = CodeOf(s.Mnemonic->DChar);
      } else if (s.DItem) {
        d = CodeOf(s.DItem->Text[0]);
        if (d < 0) {
          Error(s.Line, s.DItem->Column,
                "the d-character is no character of the convention " +
                    std::string(convention_->Name));
        }
      }
      if (d >= 0) s.Codes.back() = static_cast<uint8_t>(d);
    } else if (s.Kind == KDSA && s.Location >= 0 && !s.Addresses.empty()) {
      int value = 0;
      s.Codes.assign(3, Bcd::Blank);
      if (Evaluate(s, s.Addresses[0], s.Location + 2, value)) {
        EncodeAddress(value, s.Addresses[0].Index, s.Codes.data());
      }
    } else if ((s.Kind == KEND || s.Kind == KEX) && !s.Addresses.empty()) {
      int value = 0;
      if (Evaluate(s, s.Addresses[0], location_, value)) {
        s.Value = value;
        if (s.Kind == KEND) start_ = value;
      }
    }
    if (!s.Codes.empty() && s.Location >= 1 && s.Location <= LoaderArea) {
      Error(s.Line, 16,
            "001-080 hold the loader while the deck loads: nothing can be loaded there");
    }
    if (coreSize_ > 0 && !s.Codes.empty() && s.Location + s.Length > coreSize_) {
      Error(s.Line, 16, "the program does not fit in " + std::to_string(coreSize_) + " positions");
    }
  }

  // ---- the deck ----

  // A card: 80 codes, the sequence number in columns 72-75.
  struct TCard {
    uint8_t Cols[80] = {};
  };

  void Put(TCard& card, int column, std::string_view chars) {
    for (char c : chars)
      card.Cols[column++ - 1] = static_cast<uint8_t>(Op(c));
  }
  void PutAddress(TCard& card, int column, int address) {
    EncodeAddress(address, 0, &card.Cols[column - 1]);
  }
  void PutInstr(TCard& card, int column, char op, int a, int b = -1) {
    Put(card, column, std::string(1, op));
    PutAddress(card, column + 1, a);
    if (b >= 0) PutAddress(card, column + 4, b);
  }

  void MakeDeck() {
    std::vector<TCard> cards;
    const int top =
        coreSize_ > 0 ? coreSize_ - 1 : std::max(199, (std::max(programEnd_, 0) / 100) * 100 + 99);
    // Clear storage, first card: word marks for both clear cards, then read the second.
    TCard c1;
    PutInstr(c1, 1, ',', 8, 15);
    PutInstr(c1, 8, ',', 22, 26);
    PutInstr(c1, 15, ',', 30, 37);
    PutInstr(c1, 22, ',', 44);
    PutInstr(c1, 26, ',', 49);
    PutInstr(c1, 30, ',', 53, 53);
    PutInstr(c1, 37, 'N', 0, 0);
    PutInstr(c1, 44, 'N', 0);
    Put(c1, 48, "0");
    PutInstr(c1, 49, '1', 26);
    cards.push_back(c1);
    // Second: clear from the top down a hundred at a time (adding 15900 is taking 100) until
    // the clear address is 099; then a routine moved to 101-116 clears 000-099, reads the
    // bootstrap and clears itself.
    TCard c2;
    PutInstr(c2, 1, 'L', 68, 116);
    PutInstr(c2, 8, ',', 105, 106);
    PutInstr(c2, 15, ',', 110, 117);
    PutInstr(c2, 22, 'B', 101);
    PutInstr(c2, 26, '/', top);
    PutInstr(c2, 30, '#', 71, 29);
    PutInstr(c2, 37, 'C', 29, 56);
    PutInstr(c2, 44, 'B', 26);
    Put(c2, 48, "/");
    PutInstr(c2, 49, 'B', 1);
    PutInstr(c2, 53, '/', 99);
    Put(c2, 57, "1");
    PutInstr(c2, 58, ',', 1);
    PutInstr(c2, 62, '/', 1, 117);
    PutAddress(c2, 69, 15900);
    cards.push_back(c2);
    // The bootstrap: the word marks of the text cards' loader instructions at 040, 047, 054,
    // 061 and 068, the text's own at 001; then it reads the first text card.
    TCard c3;
    PutInstr(c3, 1, ',', 8, 15);
    PutInstr(c3, 8, ',', 22, 29);
    PutInstr(c3, 15, ',', 36, 40);
    PutInstr(c3, 22, ',', 47, 54);
    PutInstr(c3, 29, ',', 61, 68);
    PutInstr(c3, 36, ',', 72);
    PutInstr(c3, 40, '/', 61, 39);
    PutInstr(c3, 61, ',', 1, 1);
    PutInstr(c3, 68, '1', 40);
    cards.push_back(c3);

    // Text cards: up to 39 positions each, contiguous, with at most six word marks besides
    // the first position's (which LCA brings from column 1).
    struct TRun {
      int Start = 0;
      std::vector<uint8_t> Codes;
      std::vector<bool> Marks;
    };
    std::vector<TRun> runs;
    auto flush = [&] {
      for (const TRun& run : runs)
        TextCards(run.Start, run.Codes, run.Marks, cards);
      runs.clear();
    };
    auto add = [&](int start, const std::vector<uint8_t>& codes, bool mark) {
      if (runs.empty() || runs.back().Start + static_cast<int>(runs.back().Codes.size()) != start) {
        runs.push_back({start, {}, {}});
      }
      TRun& run = runs.back();
      for (size_t k = 0; k < codes.size(); ++k) {
        run.Codes.push_back(codes[k]);
        run.Marks.push_back(mark && k == 0);
      }
    };
    for (const TStatement& s : statements_) {
      if (!s.Codes.empty()) add(s.Location, s.Codes, s.WordMark);
      for (int index : s.Pool) {
        const TLiteral& lit = literals_[static_cast<size_t>(index)];
        add(lit.Address - static_cast<int>(lit.Codes.size()) + 1, lit.Codes, true);
      }
      if (s.Kind == KEX && s.Value >= 0) {
        flush();
        // Loading stops to run a routine; it goes on loading with R 040.
        TCard ex;
        for (int col : {40, 47, 54, 61})
          PutInstr(ex, col, ',', 40, 40);
        PutInstr(ex, 68, 'B', s.Value);
        cards.push_back(ex);
      }
    }
    flush();
    // The last card clears the loader's area and branches to the start.
    TCard last;
    PutInstr(last, 40, '/', start_, 80);
    cards.push_back(last);

    const std::string_view map = convention_->Mapping;
    for (size_t n = 0; n < cards.size(); ++n) {
      char seq[8];
      std::snprintf(seq, sizeof seq, "%04zu", (n + 1) % 10000);
      Put(cards[n], 72, seq);
      std::string text;
      for (uint8_t code : cards[n].Cols) {
        const char c = map[code];
        if (CodeOf(c) != code) {
          Error(0, 0,
                "the convention " + std::string(convention_->Name) +
                    " has no character of its own for the code " + std::to_string(code) + " (\"" +
                    BcdToChar(code) + "\"); choose another");
          result_.Deck.clear();
          return;
        }
        text += c;
      }
      result_.Deck.push_back(TrimRight(text));
    }
  }

  void TextCards(int start, const std::vector<uint8_t>& codes, const std::vector<bool>& marks,
                 std::vector<TCard>& cards) {
    size_t pos = 0;
    while (pos < codes.size()) {
      size_t n = 0;
      int wordMarks = 0;
      while (pos + n < codes.size() && n < CardTextColumns) {
        if (marks[pos + n] && n > 0) {
          if (wordMarks == SetMarksPerCard) break;
          ++wordMarks;
        }
        ++n;
      }
      TCard card;
      for (size_t k = 0; k < n; ++k)
        card.Cols[k] = codes[pos + k];
      const int first = start + static_cast<int>(pos);
      PutInstr(card, 40, marks[pos] ? 'L' : 'M', static_cast<int>(n),
               first + static_cast<int>(n) - 1);
      std::vector<int> set;
      for (size_t k = 1; k < n; ++k)
        if (marks[pos + k]) set.push_back(first + static_cast<int>(k));
      while (set.size() < 6)
        set.push_back(40);
      for (int k = 0; k < 3; ++k)
        PutInstr(card, 47 + 7 * k, ',', set[2 * k], set[2 * k + 1]);
      PutInstr(card, 68, '1', 40);
      cards.push_back(card);
      pos += n;
    }
  }

  // ---- the listing ----

  static std::string Pad(std::string text, size_t width) {
    if (text.size() < width) text.resize(width, ' ');
    return text;
  }

  std::string Shown(const std::vector<uint8_t>& codes) {
    std::string text;
    for (uint8_t c : codes)
      text += BcdToChar(c);
    return text;
  }

  // The instruction as a programmer reads it: op code, addresses in decimal, d-character.
  static std::string ShownAddresses(const uint8_t* codes, size_t addresses) {
    std::string text;
    for (size_t k = 0; k < addresses; ++k) {
      const uint8_t* a = &codes[3 * k];
      int index = (a[1] & Bcd::ZoneMask) >> 4;
      uint8_t plain[3] = {a[0], static_cast<uint8_t>(a[1] & Bcd::NumericMask), a[2]};
      int value = HundredsTable[plain[0]] + TensTable[plain[1]] + UnitsTable[plain[2]];
      char buf[16];
      std::snprintf(buf, sizeof buf, " %04d", value);
      text += buf;
      if (index != 0) text += "+X" + std::to_string(index);
    }
    return text;
  }

  std::string ShownInstruction(const TStatement& s) {
    if (s.Codes.empty()) return {};
    std::string text(1, BcdToChar(s.Codes[0]));
    if (s.Mnemonic != nullptr && s.Mnemonic->Form == FTape) {
      // The unit as written: %U1, not an address.
      text +=
          std::string(" ") + BcdToChar(s.Codes[1]) + BcdToChar(s.Codes[2]) + BcdToChar(s.Codes[3]);
      text += ShownAddresses(&s.Codes[4], (s.Codes.size() - 4) / 3);
      text += std::string(" ") + BcdToChar(s.Codes.back());
      return text;
    }
    text += ShownAddresses(&s.Codes[1], (s.Codes.size() - 1) / 3);
    if ((s.Codes.size() - 1) % 3 == 1) text += std::string(" ") + BcdToChar(s.Codes.back());
    return text;
  }

  void MakeListing() {
    std::ostringstream out;
    out << "LINE  SEQ   LABEL      OP    OPERAND                         LOC    INSTRUCTION"
           "           COMMENTS\n";
    std::multimap<int, const TAsmError*> errorsByLine;
    for (const TAsmError& e : result_.Errors)
      errorsByLine.emplace(e.Line, &e);
    for (const TStatement& s : statements_) {
      char line[8];
      std::snprintf(line, sizeof line, "%4d", s.Line);
      std::string text = line;
      text += "  " + Pad(Column(s.Text, 1, 5), 5) + " ";
      if (Column(s.Text, 6, 6) == "*") {
        text += TrimRight(Column(s.Text, 6, 80));
      } else if (!TrimRight(s.Text).empty()) {
        std::string operand;
        for (size_t k = 0; k < s.Items.size(); ++k)
          operand += (k ? "," : "") + s.Items[k].Text;
        text += Pad(TrimRight(Column(s.Text, 6, 15)), 10) + " " +
                Pad(TrimRight(Column(s.Text, 16, 20)), 5) + " " + Pad(operand, 31) + " ";
        std::string loc;
        if (s.Kind == KInstruction && s.Location >= 0) {
          loc = Addr5(static_cast<uint32_t>(s.Location));
        } else if ((s.Kind == KDCW || s.Kind == KDC || s.Kind == KDS || s.Kind == KDSA) &&
                   s.Location >= 0) {
          loc = Addr5(static_cast<uint32_t>(s.Location + s.Length - 1));
        } else if ((s.Kind == KEQU || s.Kind == KEX || s.Kind == KEND) && s.Value >= 0) {
          loc = Addr5(static_cast<uint32_t>(s.Value));
        } else if (s.Kind == KORG && s.Location >= 0) {
          loc = Addr5(static_cast<uint32_t>(s.Location));
        }
        std::string shown = s.Kind == KInstruction ? ShownInstruction(s)
                            : s.Kind == KDSA && s.Codes.size() == 3
                                ? Trim(ShownAddresses(s.Codes.data(), 1))
                            : s.Codes.empty() ? std::string()
                                              : Shown(s.Codes);
        if (shown.size() > 21) shown = shown.substr(0, 18) + "...";
        text += Pad(loc, 6) + " " + Pad(shown, 21) + " " + s.Comment;
      }
      out << TrimRight(text) << '\n';
      auto [from, to] = errorsByLine.equal_range(s.Line);
      for (auto e = from; e != to; ++e)
        out << "      ***** COLUMN " << e->second->Column << ": " << e->second->Message << '\n';
      if (!s.Pool.empty()) {
        out << "      LITERAL POOL\n";
        for (int index : s.Pool) {
          const TLiteral& lit = literals_[static_cast<size_t>(index)];
          out << "            " << Pad(lit.Key, 42) << " "
              << Addr5(static_cast<uint32_t>(lit.Address)) << "  " << Shown(lit.Codes) << '\n';
        }
      }
    }
    for (const TAsmError& e : result_.Errors)
      if (e.Line > lastLine_ || e.Line == 0) out << "      ***** " << e.Message << '\n';
    out << '\n';
    if (result_.Errors.empty()) {
      out << "NO ERRORS\n";
    } else {
      out << result_.Errors.size() << (result_.Errors.size() == 1 ? " ERROR" : " ERRORS") << '\n';
      out << result_.ErrorText();
    }
    out << '\n';
    out << "SYMBOL TABLE\n";
    for (const auto& [name, address] : result_.Symbols)
      out << Pad(name, 7) << address << '\n';
    out << '\n';
    result_.Listing = out.str();
  }

  std::string_view source_;
  const TCharConvention* convention_;
  int coreSize_;
  std::vector<TStatement> statements_;
  std::vector<TLiteral> literals_;
  std::map<std::string, int> symbols_;
  int location_ = DefaultOrigin;
  int programEnd_ = -1;
  int start_ = -1;
  int lastLine_ = 0;
  bool ended_ = false;
  TAssembly result_;
};

}  // namespace

void EncodeAddress(int address, int index, uint8_t out[3]) {
  address = std::clamp(address, 0, MaxAddress);
  auto digit = [](int d) { return static_cast<uint8_t>(d == 0 ? Bcd::Zero : d); };
  out[0] = static_cast<uint8_t>(digit(address / 100 % 10) | ((address % 4000 / 1000) << 4));
  out[1] = static_cast<uint8_t>(digit(address / 10 % 10) | ((index & 3) << 4));
  out[2] = static_cast<uint8_t>(digit(address % 10) | ((address / 4000) << 4));
}

std::string TAssembly::ErrorText() const {
  std::string text;
  for (const TAsmError& e : Errors) {
    if (e.Line > 0) {
      text += "LINE " + std::to_string(e.Line) + " COLUMN " + std::to_string(e.Column) + ": ";
    }
    text += e.Message + "\n";
  }
  return text;
}

TAssembly AssembleAutocoder(std::string_view source, const TAsmOptions& options) {
  return TAssembler(source, options).Run();
}

std::string AssembleFile(const std::string& sourceFile, const TAsmOptions& options,
                         std::string& deckFile, TAssembly& assembly) {
  std::ifstream in(sourceFile, std::ios::binary);
  if (!in) return "Cannot read the source " + sourceFile;
  std::ostringstream text;
  text << in.rdbuf();
  assembly = AssembleAutocoder(text.str(), options);
  std::string base = sourceFile;
  const size_t slash = base.find_last_of('/');
  const size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) base.resize(dot);
  const std::string listingFile = base + ".lst";
  {
    std::ofstream listing(listingFile, std::ios::binary | std::ios::trunc);
    listing << assembly.Listing;
    if (!listing) return "Cannot write the listing " + listingFile;
  }
  if (!assembly.Ok()) {
    return sourceFile + ": " + std::to_string(assembly.Errors.size()) +
           (assembly.Errors.size() == 1 ? " error" : " errors") + ", no deck written\n" +
           assembly.ErrorText();
  }
  deckFile = base + ".cd";
  std::ofstream deck(deckFile, std::ios::binary | std::ios::trunc);
  for (const std::string& card : assembly.Deck)
    deck << card << "\r\n";
  if (!deck) return "Cannot write the deck " + deckFile;
  return {};
}

}  // namespace kestrel
