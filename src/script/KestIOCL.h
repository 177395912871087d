// The Operator Control Language: the script's state object with its lexer and value parsers
// (`TOCLScripter`), the statement interpreter, and the script thread (`TOCLThread`) that runs the
// current script beside the processor, keeps the chain of scripts started by EXEC, and sleeps
// while a script waits for the machine or for the operator.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/KestCore.h"
#include "core/KestDefs.h"
#include "core/Messenger.h"
#include "core/Registers.h"
#include "instructions/IBMTrace.h"

namespace kestrel {

class TScriptDisplay;
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
  TKWord,
  TKCount
};

// The 92 entries, each at most 16 characters; the entries below 16 and the last one cannot be
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

// ---- The script thread ----------------------------------------------------------------------

class TOCLThread : public IScriptControl {
 public:
  // Scripts in one EXEC chain, the first one included: far more than any job needs.
  static constexpr size_t MaxExecDepth = 1000;

  TOCLThread(TRegisters& registers, TCoreStorage& core, TTraceFlags& flags, TMessenger& messenger,
             TScriptDisplay& display);
  ~TOCLThread() override;
  TOCLThread(const TOCLThread&) = delete;
  TOCLThread& operator=(const TOCLThread&) = delete;

  void SetMapping(IMappingControl* mapping) { mapping_ = mapping; }
  // Shows a script error to the operator and returns when the operator has closed it (called on
  // the script thread).  Without one the error is only logged.
  void SetErrorBox(std::function<void(const std::string&)> errorBox) {
    errorBox_ = std::move(errorBox);
  }

  // ---- Thread ----
  void StartThread();
  // Ends the thread cooperatively and joins it: a statement that is running finishes first, so
  // the messenger must no longer block senders (shut down) or must still be served.
  void EndThread();
  // Resumes the thread and ends the current script's wait; a wake-up that comes before the
  // thread sleeps ends its next sleep at once.
  void Wake();
  // Wakes the thread to run a newly started script, without ending any wait.
  void WakeToRun();
  // True while the thread sleeps with no wake-up pending.
  bool Sleeping() const;
  // One wake-up's work on the calling thread: "Script Resume" (after the first), the scripts run
  // until the current one waits or none is left, then the suspension is reported.  The thread
  // body calls it; tests call it directly.
  void RunWakeup();

  // ---- Scripts (GUI thread unless said otherwise) ----
  // Loads the file and makes it the current script (the previous one waits beneath it), then
  // resumes the thread.  A load error is thrown; the previous script stays current.
  void ExecScript(const std::string& fileName, const std::array<std::string, 10>& params);
  void EndCurrentScript() override;
  void ClearScripts();
  void ResumeScript() override { Wake(); }
  // The current script's RunState as a number, 0 when there is none.
  uint8_t ScriptState() const;
  bool HasCurrentScript() const;
  std::string CurrentFileName() const;
  bool StartPending() const { return startPending_; }

  // Counted for the batch front end's exit status.
  std::atomic<int> ScriptErrors{0};
  std::atomic<int> FailedChecks{0};

  // The statement loop: runs statements of the script until its RunState is no longer Running,
  // or until an EXEC statement has been handled.  Throws the statement's error.
  void RunScript(TOCLScripter& s);

 private:
  using TScripterPtr = std::shared_ptr<TOCLScripter>;

  void ThreadBody();
  bool WaitForWake();
  void RunScripts();
  std::shared_ptr<TOCLScripter> Current() const;
  // The current script and the callers beneath it.
  size_t ChainDepth() const;
  // Ends `s` if it is still the current script.
  void EndScript(const TScripterPtr& s);
  void PushScript(const TScripterPtr& s);
  // EXEC: makes `called` current above `caller`, unless `caller` is no longer the current script
  // (discarded meanwhile); false then.
  bool PushCalled(const TOCLScripter& caller, const TScripterPtr& called);
  void Dispose(const TScripterPtr& s);
  std::shared_ptr<TOCLScripter> LoadScripter(const std::string& fileName,
                                             const std::array<std::string, 10>& params);
  void ReportError(const std::string& message);

  // ---- Statements ----
  void Statement(TOCLScripter& s, TTokenCode command);
  void CmdShowHide(TOCLScripter& s, bool show);
  void CmdCharMap(TOCLScripter& s);
  void CmdCharSet(TOCLScripter& s);
  void CmdDeck(TOCLScripter& s);
  void CmdMount(TOCLScripter& s);
  void CmdLoad(TOCLScripter& s);
  void CmdSave(TOCLScripter& s);
  void CmdDummyCard(TOCLScripter& s);
  void CmdSwitch(TOCLScripter& s);
  void CmdTurbo(TOCLScripter& s);
  void CmdDisplay(TOCLScripter& s);
  void CmdIarCheck(TOCLScripter& s);
  void CmdIf(TOCLScripter& s);
  void CmdGoto(TOCLScripter& s);
  void CmdCall(TOCLScripter& s);
  void CmdReturn(TOCLScripter& s);
  void CmdCore(TOCLScripter& s);
  void CmdZap(TOCLScripter& s);
  void CmdExec(TOCLScripter& s);
  void CmdSet(TOCLScripter& s);
  void CmdColour(TOCLScripter& s, TTokenCode command);
  int TapeUnit(const TOCLScripter& s) const;

  void SendPanel(uint16_t code, uintptr_t argument);
  void PostPanel(uint16_t code, uintptr_t argument);
  void PostDisplay(uintptr_t hide);
  void SendDevice(TReceiver receiver, uint16_t operation, uint16_t selector,
                  const std::string& text = {}, uint8_t flag = 0);
  // LOAD and SAVE go on after an error raised while their request is issued.
  void GuardedRequest(const std::function<void()>& request);

  TRegisters& registers_;
  TCoreStorage& core_;
  TMessenger& messenger_;
  TScriptDisplay& display_;
  TTracer tracer_;
  IMappingControl* mapping_ = nullptr;
  std::function<void(const std::string&)> errorBox_;

  mutable std::mutex scriptsMutex_;
  TScripterPtr current_;
  std::vector<TScripterPtr> callers_;  // most recent on top (back); entries may be empty
  std::atomic<bool> startPending_{false};

  bool begun_ = false;
  std::atomic<bool> ending_{false};
  mutable std::mutex wakeMutex_;
  std::condition_variable wakeSignal_;
  bool signalled_ = false;
  bool resume_ = false;
  bool sleeping_ = false;
  std::thread thread_;
};

}  // namespace kestrel
