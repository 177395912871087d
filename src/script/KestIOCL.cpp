// The script's state object: loading, the lexer, the value parsers and the label search.
#include "script/KestIOCL.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kestrel {

namespace {

struct TTokenName {
  TTokenCode Code;
  const char* Name;
};

// Each token beside its name: the table is checked at compile time to hold every code once, in
// the order of the codes, so the enum and the names cannot drift apart.
constexpr TTokenName Tokens[] = {
    {TKEmpty, ""},
    {TKEndOfFile, "endoffile"},
    {TKComment, "comment"},
    {TKPlus, "+"},
    {TKEquals, "="},
    {TKLess, "<"},
    {TKGreater, ">"},
    {TKNotEqual, "<>"},
    {TKColon, ":"},
    {TKComma, ","},
    {TKLParen, "("},
    {TKRParen, ")"},
    {TKLBracket, "["},
    {TKRBracket, "]"},
    {TKNumber, "number"},
    {TKString, "string"},
    {TKSHOW, "SHOW"},
    {TKHIDE, "HIDE"},
    {TKCHARMAP, "CHARMAP"},
    {TKDECK, "DECK"},
    {TKMOUNT, "MOUNT"},
    {TKLOADCARD, "LOADCARD"},
    {TKLOAD, "LOAD"},
    {TKSAVE, "SAVE"},
    {TKDUMMYCARD, "DUMMYCARD"},
    {TKSWITCH, "SWITCH"},
    {TKTURBO, "TURBO"},
    {TKRESET, "RESET"},
    {TKSTART, "START"},
    {TKSTOP, "STOP"},
    {TKDISPLAY, "DISPLAY"},
    {TKEXIT, "EXIT"},
    {TKIARCHECK, "IARCHECK"},
    {TKIF, "IF"},
    {TKGOTO, "GOTO"},
    {TKCALL, "CALL"},
    {TKRETURN, "RETURN"},
    {TKCORE, "CORE"},
    {TKZAP, "ZAP"},
    {TKEXEC, "EXEC"},
    {TKSET, "SET"},
    {TKSIZE, "SIZE"},
    {TKCHAR, "CHAR"},
    {TKMARK, "MARK"},
    {TKUPPERCASE, "UPPERCASE"},
    {TKOPTION, "OPTION"},
    {TKPRINT, "PRINT"},
    {TKPUNCH, "PUNCH"},
    {TKREAD1, "READ1"},
    {TKCARD, "CARD"},
    {TKTAPE1, "TAPE1"},
    {TKTAPE2, "TAPE2"},
    {TKTAPE3, "TAPE3"},
    {TKTAPE4, "TAPE4"},
    {TKTAPE5, "TAPE5"},
    {TKTAPE6, "TAPE6"},
    {TKPROT, "PROT"},
    {TKON, "ON"},
    {TKOFF, "OFF"},
    {TKCRLF, "CRLF"},
    {TKPARM, "PARM"},
    {TKCOREWINDOW, "COREWINDOW"},
    {TKREADERWINDOW, "READERWINDOW"},
    {TKPRINTERWINDOW, "PRINTERWINDOW"},
    {TKTAPEWINDOW, "TAPEWINDOW"},
    {TKTRACEWINDOW, "TRACEWINDOW"},
    {TKBLACK, "BLACK"},
    {TKMAROON, "MAROON"},
    {TKGREEN, "GREEN"},
    {TKOLIVE, "OLIVE"},
    {TKNAVY, "NAVY"},
    {TKPURPLE, "PURPLE"},
    {TKTEAL, "TEAL"},
    {TKGRAY, "GRAY"},
    {TKSILVER, "SILVER"},
    {TKRED, "RED"},
    {TKLIME, "LIME"},
    {TKYELLOW, "YELLOW"},
    {TKBLUE, "BLUE"},
    {TKFUCHSIA, "FUCHSIA"},
    {TKAQUA, "AQUA"},
    {TKLTGRAY, "LTGRAY"},
    {TKDKGRAY, "DKGRAY"},
    {TKINFOBK, "INFOBK"},
    {TKWHITE, "WHITE"},
    {TKIAREG, "IAREG"},
    {TKOPTNUM, "OPTNUM"},
    {TKBCOLOUR, "BCOLOUR"},
    {TKTCOLOUR, "TCOLOUR"},
    {TKHCOLOUR, "HCOLOUR"},
    {TKCHARSET, "CHARSET"},
    {TKCARRIAGE, "CARRIAGE"},
    {TKCHAIN, "CHAIN"},
    {TKDEBUG, "DEBUG"},
    {TKWord, "word"},
};

constexpr bool InCodeOrder() {
  for (size_t i = 0; i < std::size(Tokens); ++i) {
    if (Tokens[i].Code != i) return false;
  }
  return std::size(Tokens) == TKCount;
}
static_assert(InCodeOrder(), "every token code once, in order");

constexpr std::array<const char*, TKCount> MakeTokenNames() {
  std::array<const char*, TKCount> names{};
  for (const TTokenName& token : Tokens)
    names[token.Code] = token.Name;
  return names;
}

}  // namespace

const std::array<const char*, TKCount> TokenNames = MakeTokenNames();

TTokenCode LookupWord(const std::string& upperWord) {
  for (size_t i = 0; i < TokenNames.size(); ++i) {
    if (upperWord == TokenNames[i]) return static_cast<TTokenCode>(i);
  }
  return TKWord;
}

uint32_t KeywordColour(TTokenCode code) {
  switch (code) {
    case TKBLACK:
      return 0x000000;
    case TKMAROON:
      return 0x000080;
    case TKGREEN:
      return 0x008000;
    case TKOLIVE:
      return 0x008080;
    case TKNAVY:
      return 0x800000;
    case TKPURPLE:
      return 0x800080;
    case TKTEAL:
      return 0x808000;
    case TKGRAY:
      return 0x808080;
    case TKSILVER:
      return 0xC0C0C0;
    case TKRED:
      return 0x0000FF;
    case TKLIME:
      return 0x00FF00;
    case TKYELLOW:
      return 0x00FFFF;
    case TKBLUE:
      return 0xFF0000;
    case TKFUCHSIA:
      return 0xFF00FF;
    case TKAQUA:
      return 0xFFFF00;
    case TKLTGRAY:
      return 0xD3D3D3;
    case TKDKGRAY:
      return 0x404040;
    case TKINFOBK:
      return ColourInfoBk;
    case TKWHITE:
      return 0xFFFFFF;
    default:
      return 0;
  }
}

namespace {
bool IsLetter(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsDigit(uint8_t c) {
  return c >= '0' && c <= '9';
}
bool IsHexDigit(uint8_t c) {
  return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
int HexValue(uint8_t c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a') return c - 'a' + 10;
  return c - 'A' + 10;
}
std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// The name part of a path: after its last separator.
std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

[[noreturn]] void CannotOpen(const std::string& name, const std::string& reason) {
  throw EKestrelError("Cannot open file " + Quoted(name) + ". " + reason);
}
}  // namespace

// ---- Loading --------------------------------------------------------------------------------

void TOCLScripter::LoadScript(const std::string& fileName) {
  std::string name = fileName;
  if (BaseName(name).find('.') == std::string::npos) name += ".OCL";
  std::error_code ec;
  if (std::filesystem::is_directory(name, ec)) CannotOpen(name, "It is a directory");
  std::ifstream in(name, std::ios::binary);
  if (!in) CannotOpen(name, std::strerror(errno));
  std::string text;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<size_t>(in.gcount()));
    if (text.size() > MaxScriptBytes) {
      throw EKestrelError("Script file " + Quoted(name) + " is too large (more than " +
                          std::to_string(MaxScriptBytes >> 20) + " MB)");
    }
  }
  if (in.bad()) CannotOpen(name, "Read error");
  LoadText(std::move(text), name);
}

void TOCLScripter::LoadText(std::string text, const std::string& fileName) {
  fileName_ = fileName;
  text_ = std::move(text);
  position_ = 0;
  NextChar();
  NextToken();
  RunState = TRunState::Running;
}

// ---- Lexer ----------------------------------------------------------------------------------

void TOCLScripter::NextChar() {
  if (position_ >= text_.size()) {
    Lookahead = EndOfText;
    return;
  }
  Lookahead = static_cast<uint8_t>(text_[position_++]);
}

void TOCLScripter::RestoreLexer(const TLexState& state) {
  position_ = state.Position;
  Lookahead = state.Lookahead;
  TokenText = state.Text;
  TokenCode = state.Code;
  TokenValue = state.Value;
}

void TOCLScripter::ScriptError(const std::string& description) const {
  throw EKestrelError(description + ": " + Quoted(TokenText));
}

void TOCLScripter::Expected(const std::string& description) const {
  ScriptError(description + " expected, found");
}

void TOCLScripter::NextToken() {
  TokenText.clear();
  TokenCode = TKEmpty;
  TokenValue = 0;
  while (Lookahead == ' ' || Lookahead == '\r' || Lookahead == '\n')
    NextChar();
  uint8_t c = Lookahead;
  if (c == EndOfText) {
    TokenCode = TKEndOfFile;
    return;
  }
  if (c == '*' || c == '/' || c == ';') {
    TokenCode = TKComment;
    while (Lookahead != '\r' && Lookahead != '\n' && Lookahead != EndOfText)
      NextChar();
    return;
  }
  if (IsLetter(c)) {
    while (IsLetter(Lookahead) || IsDigit(Lookahead)) {
      uint8_t l = Lookahead;
      if (l >= 'a' && l <= 'z') l = static_cast<uint8_t>(l - 'a' + 'A');
      TokenText += static_cast<char>(l);
      NextChar();
    }
    TokenCode = LookupWord(TokenText);
    return;
  }
  if (IsDigit(c)) {
    ReadNumber();
    return;
  }
  switch (c) {
    case '$':
      ReadHexNumber();
      return;
    case '\'':
      ReadString();
      return;
    case '&':
      ReadParameter();
      return;
    case '<':
      NextChar();
      if (Lookahead == '>') {
        NextChar();
        TokenCode = TKNotEqual;
      } else {
        TokenCode = TKLess;
      }
      return;
    case '+':
      TokenCode = TKPlus;
      break;
    case '=':
      TokenCode = TKEquals;
      break;
    case ':':
      TokenCode = TKColon;
      break;
    case ',':
      TokenCode = TKComma;
      break;
    case '(':
      TokenCode = TKLParen;
      break;
    case ')':
      TokenCode = TKRParen;
      break;
    case '[':
      TokenCode = TKLBracket;
      break;
    case ']':
      TokenCode = TKRBracket;
      break;
    default:
      // A NUL byte cannot travel inside a message text: it is named as #0.
      throw EKestrelError(
          "Invalid character: " +
          Quoted(c == 0 ? std::string("#0") : std::string(1, static_cast<char>(c))));
  }
  TokenText = std::string(1, static_cast<char>(c));
  NextChar();
}

void TOCLScripter::ReadNumber() {
  TokenCode = TKNumber;
  int64_t value = 0;
  bool overflow = false;
  while (IsDigit(Lookahead)) {
    TokenText += static_cast<char>(Lookahead);
    value = value * 10 + (Lookahead - '0');
    if (value > INT32_MAX) {
      overflow = true;
      value = 0;
    }
    NextChar();
  }
  if (overflow) ScriptError("Invalid number");
  TokenValue = static_cast<int32_t>(value);
}

void TOCLScripter::ReadHexNumber() {
  TokenCode = TKNumber;
  TokenText = "$";
  NextChar();
  uint64_t value = 0;
  bool overflow = false;
  while (IsHexDigit(Lookahead)) {
    TokenText += static_cast<char>(Lookahead);
    value = value * 16 + static_cast<uint64_t>(HexValue(Lookahead));
    if (value > UINT32_MAX) {
      overflow = true;
      value = 0;
    }
    NextChar();
  }
  if (TokenText.size() == 1 || overflow) ScriptError("Invalid Hexadecimal number");
  // Eight hexadecimal digits fill the 32 bits: $FFFFFFFF is -1, as the colour values need.
  TokenValue = static_cast<int32_t>(static_cast<uint32_t>(value));
}

void TOCLScripter::ReadString() {
  TokenCode = TKString;
  NextChar();  // the opening quote
  while (Lookahead != '\'') {
    if (Lookahead == '\r' || Lookahead == '\n' || Lookahead == EndOfText) {
      ScriptError("Unterminated string");
    }
    TokenText += static_cast<char>(Lookahead);
    NextChar();
  }
  NextChar();  // the closing quote
}

void TOCLScripter::ReadParameter() {
  TokenText = "&";
  NextChar();
  uint8_t d = Lookahead;
  if (!IsDigit(d)) {
    ScriptError("Invalid Parameter specifier: &" + std::string(1, static_cast<char>(d)));
  }
  NextChar();
  TokenCode = TKString;
  TokenText = ScriptParams[static_cast<size_t>(d - '0')];
}

// ---- Value parsers --------------------------------------------------------------------------

std::string TOCLScripter::ParseStringExpr() {
  std::string result;
  while (true) {
    if (TokenCode != TKString && TokenCode != TKWord) Expected("String expression");
    result += TokenText;
    NextToken();
    if (TokenCode != TKPlus) return result;
    NextToken();
  }
}

int32_t TOCLScripter::ParseAddress(int32_t maximum) {
  // A hexadecimal number can be negative ($FFFFFFFF); no address is.
  if (TokenCode != TKNumber || TokenValue < 0) Expected("Address value");
  if (TokenValue > maximum) {
    ScriptError("Value to large: " + std::to_string(TokenValue) +
                " Max allowed=" + std::to_string(maximum));
  }
  int32_t value = TokenValue;
  NextToken();
  return value;
}

uint8_t TOCLScripter::ParseCharValue() {
  if (TokenCode != TKNumber || TokenValue < 0 || TokenValue >= 64) {
    Expected("Numeric character value");
  }
  auto value = static_cast<uint8_t>(TokenValue);
  NextToken();
  return value;
}

bool TOCLScripter::ParseOnOff() {
  if (TokenCode != TKON && TokenCode != TKOFF) Expected("ON or OFF");
  bool on = TokenCode == TKON;
  NextToken();
  return on;
}

namespace {
// A string operand of IF: a signed decimal number, or hexadecimal after a '$'.
bool StringToInt(const std::string& text, int64_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  bool hex = i < text.size() && text[i] == '$';
  if (hex) ++i;
  if (i >= text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    auto c = static_cast<uint8_t>(text[i]);
    if (hex ? !IsHexDigit(c) : !IsDigit(c)) return false;
    v = v * (hex ? 16 : 10) + (hex ? HexValue(c) : c - '0');
    if (v > (hex ? int64_t{UINT32_MAX} : int64_t{INT32_MAX} + (negative ? 1 : 0))) return false;
  }
  if (hex) v = static_cast<int32_t>(static_cast<uint32_t>(v));
  value = negative ? -v : v;
  return true;
}
}  // namespace

bool TOCLScripter::ParseCondition(uint16_t iar, int optNum) {
  int64_t operand = 0;
  switch (TokenCode) {
    case TKIAREG:
      operand = iar;
      break;
    case TKOPTNUM:
      operand = optNum;
      break;
    case TKString:
      if (!StringToInt(TokenText, operand)) ScriptError("Invalid numeric value");
      break;
    default:
      Expected("Variable identifier");
  }
  NextToken();
  if (TokenCode != TKEquals && TokenCode != TKNotEqual) Expected("\"=\" or \"<>\"");
  bool equal = TokenCode == TKEquals;
  NextToken();
  if (TokenCode != TKNumber) Expected("Value");
  int64_t value = TokenValue;
  NextToken();
  return equal ? operand == value : operand != value;
}

void TOCLScripter::FindLabel(const std::string& name) {
  std::string upper = name;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  position_ = 0;
  NextChar();
  NextToken();
  while (true) {
    if (TokenCode == TKColon) {
      NextToken();
      if (TokenCode != TKWord) Expected("Label identifier");
      if (TokenText == upper) break;
    } else if (TokenCode == TKEndOfFile) {
      throw EKestrelError("Label not found: " + upper);
    }
    NextToken();
  }
  NextToken();
}

}  // namespace kestrel
