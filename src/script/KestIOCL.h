// The Operator Control Language: the tokens, the script's state object with its lexer and value
// parsers (`TOCLScripter`), and what scripts need from elsewhere (the mapping, the message
// window's control).  The script thread that runs the statements is `TOCLThread`
// (script/OclThread.h).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "core/KestDefs.h"

namespace kestrel {

struct TCharConvention;

// ---- Tokens ---------------------------------------------------------------------------------

// The code of a token is its index in `TokenNames`.  The order is fixed: tape unit n is
// TKTAPE1 + n - 1, and the window numbers follow the window keywords.
enum TTokenCode : uint8_t {
  TKEmpty = 0,
  TKEndOfFile,
  TKComment,
  TKPlus,
  TKEquals,
  TKLess,
  TKGreater,
  TKNotEqual,
  TKColon,
  TKComma,
  TKLParen,
  TKRParen,
  TKLBracket,
  TKRBracket,
  TKNumber,
  TKString,
  // Commands.
  TKSHOW,
  TKHIDE,
  TKCHARMAP,
  TKDECK,
  TKMOUNT,
  TKLOADCARD,
  TKLOAD,
  TKSAVE,
  TKDUMMYCARD,
  TKSWITCH,
  TKTURBO,
  TKRESET,
  TKSTART,
  TKSTOP,
  TKDISPLAY,
  TKEXIT,
  TKIARCHECK,
  TKIF,
  TKGOTO,
  TKCALL,
  TKRETURN,
  TKCORE,
  TKZAP,
  TKEXEC,
  TKSET,
  // Options and devices.
  TKSIZE,
  TKCHAR,
  TKMARK,
  TKUPPERCASE,
  TKOPTION,
  TKPRINT,
  TKPUNCH,
  TKREAD1,
  TKCARD,
  TKTAPE1,
  TKTAPE2,
  TKTAPE3,
  TKTAPE4,
  TKTAPE5,
  TKTAPE6,
  TKPROT,
  TKON,
  TKOFF,
  TKCRLF,
  TKPARM,
  // Windows.
  TKCOREWINDOW,
  TKREADERWINDOW,
  TKPRINTERWINDOW,
  TKTAPEWINDOW,
  TKTRACEWINDOW,
  // Colours.
  TKBLACK,
  TKMAROON,
  TKGREEN,
  TKOLIVE,
  TKNAVY,
  TKPURPLE,
  TKTEAL,
  TKGRAY,
  TKSILVER,
  TKRED,
  TKLIME,
  TKYELLOW,
  TKBLUE,
  TKFUCHSIA,
  TKAQUA,
  TKLTGRAY,
  TKDKGRAY,
  TKINFOBK,
  TKWHITE,
  // Variables.
  TKIAREG,
  TKOPTNUM,
  // Colour commands.
  TKBCOLOUR,
  TKTCOLOUR,
  TKHCOLOUR,
  // Beyond the original language: the character convention by name.
  TKCHARSET,
  // The printer's carriage tape from a file.
  TKCARRIAGE,
  TKCHAIN,  // the printer's print chain
  // The debugger: DEBUG 'COMMAND'.
  TKDEBUG,
  TKWord,
  TKCount
};

// The 93 entries, each at most 16 characters; the entries below 16 and the last one cannot be
// spelled by a word.
extern const std::array<const char*, TKCount> TokenNames;

// The code of an upper-case word: its keyword, or TKWord.
TTokenCode LookupWord(const std::string& upperWord);

// ---- The script's state ---------------------------------------------------------------------

enum class TRunState : uint8_t { New = 0, Running = 1, Waiting = 2, Finished = 3 };

// Where the lexer stands: enough to resume reading exactly there (RETURN uses it).
struct TLexState {
  size_t Position = 0;
  uint8_t Lookahead = 26;
  std::string Text;
  TTokenCode Code = TKEmpty;
  int32_t Value = 0;
};

// Scripts larger than this are refused at load: a script is a page of commands, and a special
// file (a device, a pipe) must not be read forever.
inline constexpr size_t MaxScriptBytes = 16u << 20;

class TOCLScripter {
 public:
  static constexpr uint8_t EndOfText = 26;  // Ctrl-Z: the lookahead at the end of the script

  // Reads the file (".OCL" added when the name has no extension) and reads the first token.
  // Throws EKestrelError when the file cannot be read or the first token is in error.
  void LoadScript(const std::string& fileName);
  // The same from text in memory, under a name.
  void LoadText(std::string text, const std::string& fileName);

  void NextChar();
  void NextToken();
  // description + ": " + the current token text between double quotes.
  [[noreturn]] void ScriptError(const std::string& description) const;
  // ScriptError(description + " expected, found").
  [[noreturn]] void Expected(const std::string& description) const;

  std::string ParseStringExpr();
  int32_t ParseAddress(int32_t maximum);
  uint8_t ParseCharValue();
  bool ParseOnOff();
  // IF's condition; IAREG and OPTNUM are the values given.
  bool ParseCondition(uint16_t iar, int optNum);
  void FindLabel(const std::string& name);

  TLexState SaveLexer() const { return {position_, Lookahead, TokenText, TokenCode, TokenValue}; }
  void RestoreLexer(const TLexState& state);

  const std::string& FileName() const { return fileName_; }

  // The statement after the most recent executed CALL; none before the first CALL.
  std::optional<TLexState> ReturnPosition;
  uint8_t Lookahead = EndOfText;
  std::string TokenText;
  TTokenCode TokenCode = TKEmpty;
  int32_t TokenValue = 0;
  bool Executing = true;
  std::string PendingText;
  std::array<std::string, 10> ScriptParams;
  // Written by the script thread, read by the GUI thread.
  std::atomic<TRunState> RunState{TRunState::New};
  // Set when the GUI thread has discarded the script (Reset, Cancel, a new start) while the
  // script thread may still hold it: the thread then stops using it.
  std::atomic<bool> Disposed{false};

 private:
  void ReadNumber();
  void ReadHexNumber();
  void ReadString();
  void ReadParameter();

  std::string text_;
  size_t position_ = 0;
  std::string fileName_;
};

// ---- What scripts need from elsewhere ---------------------------------------------------------

// The character mapping: CHARMAP installs a mapping string; a script load and DECK switch the
// card loads back to the character-map control file.
class IMappingControl {
 public:
  virtual ~IMappingControl() = default;
  // Installs the text as the mapping string; throws EKestrelError on a duplicate character (the
  // string stays installed).
  virtual void SetMappingString(const std::string& text) = 0;
  virtual void SetUseCmcFile(bool on) = 0;
  // CHARSET: the convention the following loads use instead of the control file (none: the
  // control file decides again).
  virtual void SetConvention(const TCharConvention* convention) = 0;
};

// The message window asks the script thread to go on, or to end the waiting script.
class IScriptControl {
 public:
  virtual ~IScriptControl() = default;
  virtual void ResumeScript() = 0;
  virtual void EndCurrentScript() = 0;
};

// Colour values are TColor-style numbers: $00BBGGRR, or a system colour with the top bit set.
inline constexpr uint32_t ColourInfoBk = 0x80000018u;
inline constexpr uint32_t ColourBlack = 0x000000u;
inline constexpr uint32_t ColourNavy = 0x800000u;
inline constexpr uint32_t ColourRed = 0x0000FFu;
inline constexpr uint32_t ColourWhite = 0xFFFFFFu;
// The colour value of a colour keyword (TKBLACK .. TKWHITE).
uint32_t KeywordColour(TTokenCode code);

}  // namespace kestrel
