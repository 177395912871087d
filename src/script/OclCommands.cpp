// The statement interpreter: the statement loop with conditional execution, and every command.
// Each command is entered with the token after its keyword current, parses its arguments in full
// (so that syntax errors show also when a false IF skips it), and acts only when executing.

#include "charset/IBMChars.h"
#include "charset/IBMDefs.h"
#include "script/KestDOCL.h"
#include "script/KestIOCL.h"
#include "script/OclThread.h"

namespace kestrel {

namespace {
constexpr const char* Read1DeckName = "$TEMP$";   // what the trace names the Read 1 deck
constexpr const char* PunchDeckName = "$PUNCH$";  // and the Punch N pocket's deck
constexpr const char* ReadNDeckName = "$READ$";   // and the normal read pocket's

bool IsTape(TTokenCode code) {
  return code >= TKTAPE1 && code <= TKTAPE6;
}

}  // namespace

int TOCLThread::TapeUnit(const TOCLScripter& s) const {
  return s.TokenCode - TKTAPE1 + 1;
}

// ---- Statement loop -------------------------------------------------------------------------

void TOCLThread::RunScript(TOCLScripter& s) {
  s.Executing = true;
  while (s.RunState == TRunState::Running && !s.Disposed && !ending_) {
    TTokenCode command = s.TokenCode;
    std::string commandText = s.TokenText;
    s.NextToken();
    switch (command) {
      case TKEndOfFile:
        s.RunState = TRunState::Finished;
        break;
      case TKComment:
        break;
      case TKColon:
        s.NextToken();
        break;  // a label: its name is read and passed over
      default:
        if ((command >= TKSHOW && command <= TKSET && command != TKSTOP) ||
            (command >= TKBCOLOUR && command <= TKHCOLOUR) || command == TKCHARSET ||
            command == TKCARRIAGE || command == TKCHAIN || command == TKDEBUG) {
          Statement(s, command);
        } else {
          s.TokenText = commandText;
          s.ScriptError("Unknown script command");
        }
    }
    if (command == TKEXEC) return;
    if (command != TKIF) s.Executing = true;
  }
}

void TOCLThread::Statement(TOCLScripter& s, TTokenCode command) {
  switch (command) {
    case TKSHOW:
      CmdShowHide(s, true);
      break;
    case TKHIDE:
      CmdShowHide(s, false);
      break;
    case TKCHARMAP:
      CmdCharMap(s);
      break;
    case TKCHARSET:
      CmdCharSet(s);
      break;
    case TKCHAIN:
      CmdChain(s);
      break;
    case TKDEBUG:
      if (s.TokenCode != TKString) s.ScriptError("DEBUG needs a command in quotes");
      {
        const std::string text = s.TokenText;
        s.NextToken();
        if (s.Executing) {
          if (!debugCommand_) throw EKestrelError("No debugger is installed");
          tracer_.TraceScript("Debug " + text);
          if (std::string error = debugCommand_(text); !error.empty()) s.ScriptError(error);
        }
      }
      break;
    case TKDECK:
      CmdDeck(s);
      break;
    case TKCARRIAGE:
      CmdCarriage(s);
      break;
    case TKMOUNT:
      CmdMount(s);
      break;
    case TKLOADCARD:
      if (s.Executing) {
        tracer_.TraceScript("LoadCard");
        SendDevice(TReceiver::ReaderPunch, RdrLoadCard, 0);
      }
      break;
    case TKLOAD:
      CmdLoad(s);
      break;
    case TKSAVE:
      CmdSave(s);
      break;
    case TKDUMMYCARD:
      CmdDummyCard(s);
      break;
    case TKSWITCH:
      CmdSwitch(s);
      break;
    case TKTURBO:
      CmdTurbo(s);
      break;
    case TKRESET:
      if (s.Executing) {
        tracer_.TraceScript("Script Reset");
        SendPanel(PCSystemReset, 0);
      }
      break;
    case TKSTART:
      if (s.Executing) {
        tracer_.TraceScript("Start");
        s.RunState = TRunState::Waiting;
        startPending_ = true;
      }
      break;
    case TKDISPLAY:
      CmdDisplay(s);
      break;
    case TKEXIT:
      if (s.Executing) {
        tracer_.TraceScript("Exit");
        PostDisplay(1);
        s.RunState = TRunState::Finished;
      }
      break;
    case TKIARCHECK:
      CmdIarCheck(s);
      break;
    case TKIF:
      CmdIf(s);
      break;
    case TKGOTO:
      CmdGoto(s);
      break;
    case TKCALL:
      CmdCall(s);
      break;
    case TKRETURN:
      CmdReturn(s);
      break;
    case TKCORE:
      CmdCore(s);
      break;
    case TKZAP:
      CmdZap(s);
      break;
    case TKEXEC:
      CmdExec(s);
      break;
    case TKSET:
      CmdSet(s);
      break;
    default:
      CmdColour(s, command);
      break;
  }
}

// ---- Windows, mapping, devices --------------------------------------------------------------

void TOCLThread::CmdShowHide(TOCLScripter& s, bool show) {
  if (s.TokenCode < TKCOREWINDOW || s.TokenCode > TKTRACEWINDOW) s.ScriptError("Unknown window ID");
  uintptr_t window = static_cast<uintptr_t>(s.TokenCode - TKCOREWINDOW + 1);
  s.NextToken();
  if (!s.Executing) return;
  tracer_.TraceScript(show ? "Show window" : "Hide window");
  PostPanel(show ? PCShowWindow : PCHideWindow, window);
}

void TOCLThread::CmdCharMap(TOCLScripter& s) {
  if (s.TokenText.empty()) {
    s.NextToken();
    return;
  }
  if (s.TokenCode != TKString) s.Expected("Character mapping string");
  if (s.TokenText.size() != 64) s.ScriptError("Character mapping string must be 64 chars long.\r");
  std::string map = s.TokenText;
  s.NextToken();
  if (!s.Executing) return;
  tracer_.TraceScript("CharMap");
  if (mapping_ == nullptr) throw EKestrelError("No character mapping is installed");
  // A duplicate character fails here: the string stays installed, UseCmcFile keeps its value.
  mapping_->SetMappingString(map);
  mapping_->SetUseCmcFile(false);
}

// CHARSET 'name': the decks loaded after it are read in the named convention, not by the control
// file; CHARSET '' hands the choice back to the control file.  A name keeps every character of
// a convention, the apostrophe too, which a CHARMAP string cannot hold.
void TOCLThread::CmdChain(TOCLScripter& s) {
  if (s.TokenCode != TKString) s.Expected("Print chain 'A' or 'H'");
  const std::string chain = s.TokenText;
  if (chain != "A" && chain != "a" && chain != "H" && chain != "h") {
    s.ScriptError("Unknown print chain (known: A, H)");
  }
  s.NextToken();
  if (!s.Executing) return;
  tracer_.TraceScript("Chain");
  SendDevice(TReceiver::Printer, PrnChain,
             static_cast<uint16_t>(chain == "H" || chain == "h" ? 'H' : 'A'));
}

void TOCLThread::CmdCharSet(TOCLScripter& s) {
  if (s.TokenCode != TKString) s.Expected("Character convention name");
  const TCharConvention* convention = nullptr;
  if (!s.TokenText.empty()) {
    convention = FindCharConvention(s.TokenText);
    if (convention == nullptr) {
      s.ScriptError("Unknown character convention (known: " + CharConventionNames() + ")");
    }
  }
  s.NextToken();
  if (!s.Executing) return;
  tracer_.TraceScript("CharSet");
  if (mapping_ == nullptr) throw EKestrelError("No character mapping is installed");
  mapping_->SetConvention(convention);
}

void TOCLThread::CmdDeck(TOCLScripter& s) {
  uint16_t pocket = 0;  // a pocket whose cards go back to the hopper, else a file
  std::string name;
  if (s.TokenCode == TKREAD1 || s.TokenCode == TKPUNCH) {
    pocket = s.TokenCode == TKREAD1 ? StackerRead1 : StackerPunchN;
    s.NextToken();
  } else if (s.TokenCode == TKWord && s.TokenText == "NR") {
    // The normal read pocket, where the cards read go unless a stacker is selected.
    pocket = StackerReadN;
    s.NextToken();
  } else if (s.TokenCode == TKString) {
    name = s.ParseStringExpr();
  } else {
    s.Expected("Stacker ID or File name string");
  }
  bool upper = false;
  if (s.TokenCode == TKUPPERCASE) {
    upper = true;
    s.NextToken();
  }
  if (!s.Executing) return;
  if (pocket != 0) {
    // The cards go back as they were read or punched: they are not translated a second time.
    tracer_.TraceScript(std::string("Load card deck: ") + (pocket == StackerRead1 ? Read1DeckName
                                                           : pocket == StackerPunchN
                                                               ? PunchDeckName
                                                               : ReadNDeckName));
    SendDevice(TReceiver::ReaderPunch, RdrPocketToHopper, pocket);
  } else {
    tracer_.TraceScript("Load card deck: " + name);
    SendDevice(TReceiver::ReaderPunch, RdrLoadDeck, 0, name, upper ? 1 : 0);
  }
  if (mapping_ != nullptr) mapping_->SetUseCmcFile(true);
}

// CARRIAGE 'file' loads the printer's carriage tape; CARRIAGE '' the usual one.  A file that is
// missing or no carriage tape is an error of the statement, and the printer keeps its tape.
void TOCLThread::CmdCarriage(TOCLScripter& s) {
  if (s.TokenCode != TKString) s.Expected("Carriage tape file name");
  std::string name = s.ParseStringExpr();
  if (!s.Executing) return;
  tracer_.TraceScript("Carriage tape: " + (name.empty() ? std::string("the usual one") : name));
  SendDevice(TReceiver::Printer, PrnLoadCarriage, 0, name);
}

void TOCLThread::CmdMount(TOCLScripter& s) {
  if (!IsTape(s.TokenCode)) s.Expected("Tape Unit identifier");
  int unit = TapeUnit(s);
  s.NextToken();
  // MOUNT TAPEn SCRATCH: a new empty reel that may be written.
  if (s.TokenCode != TKString && UpperCase(s.TokenText) == "SCRATCH") {
    s.NextToken();
    if (!s.Executing) return;
    tracer_.TraceScript("Mount scratch tape on unit " + std::to_string(unit));
    SendDevice(TReceiver::TapeUnits, Operation(TTapeOp::TapeMountScratch),
               static_cast<uint16_t>(unit));
    return;
  }
  if (s.TokenCode != TKString) s.Expected("Tape file name");
  std::string name = s.ParseStringExpr();
  if (!s.Executing) return;
  tracer_.TraceScript("Mount tape file: " + name);
  SendDevice(TReceiver::TapeUnits, Operation(TTapeOp::TapeMount), static_cast<uint16_t>(unit),
             name);
}

void TOCLThread::GuardedRequest(const std::function<void()>& request) {
  try {
    request();
  } catch (const std::exception& e) {
    tracer_.TraceError(std::string("Error: ") + e.what());
    if (errorBox_) errorBox_(e.what());
  }
}

void TOCLThread::CmdLoad(TOCLScripter& s) {
  if (s.TokenCode != TKCARD && !IsTape(s.TokenCode)) s.Expected("\"CARD\" or \"TAPE1-TAPE6\"");
  bool card = s.TokenCode == TKCARD;
  int unit = card ? 0 : TapeUnit(s);
  s.NextToken();
  if (!s.Executing) return;
  tracer_.TraceScript("Load");
  GuardedRequest([&] {
    if (card) {
      SendDevice(TReceiver::ReaderPunch, RdrLoadCard, 0);
    } else {
      SendDevice(TReceiver::TapeUnits, Operation(TTapeOp::TapeLoad), static_cast<uint16_t>(unit));
    }
  });
}

void TOCLThread::CmdSave(TOCLScripter& s) {
  if (s.TokenCode != TKPRINT && s.TokenCode != TKPUNCH && !IsTape(s.TokenCode)) {
    s.Expected("\"PRINT\", \"PUNCH\" or \"TAPE1-TAPE6\"");
  }
  bool print = s.TokenCode == TKPRINT;
  int unit = IsTape(s.TokenCode) ? TapeUnit(s) : 0;
  s.NextToken();
  if (s.TokenCode != TKString) s.Expected("File name string");
  std::string name = s.ParseStringExpr();
  if (!s.Executing) return;
  tracer_.TraceScript("Save");
  GuardedRequest([&] {
    if (unit != 0) {
      SendDevice(TReceiver::TapeUnits, Operation(TTapeOp::TapeSave), static_cast<uint16_t>(unit),
                 name);
    } else if (print) {
      SendDevice(TReceiver::Printer, PrnSave, 0, name);
    } else {
      SendDevice(TReceiver::ReaderPunch, RdrSaveStacker, StackerPunchN, name);
    }
  });
}

void TOCLThread::CmdDummyCard(TOCLScripter& s) {
  if (s.TokenCode == TKEquals) s.NextToken();
  std::string text = s.ParseStringExpr();
  if (!s.Executing) return;
  tracer_.TraceScript("DummyCard");
  SendDevice(TReceiver::ReaderPunch, RdrDummyCard, 0, text);
}

// ---- Panel ----------------------------------------------------------------------------------

void TOCLThread::CmdSwitch(TOCLScripter& s) {
  char letter = s.TokenText.empty() ? '\0' : s.TokenText[0];
  if (letter < 'A' || letter > 'G') s.Expected("Switch identifier");
  s.NextToken();
  // The next token says ON, or anything else for off; it is consumed either way.
  bool on = s.TokenCode == TKON;
  s.NextToken();
  if (!s.Executing) return;
  tracer_.TraceScript("Switch");
  SendPanel(on ? PCSwitchOn : PCSwitchOff, static_cast<uintptr_t>(letter - 'A' + 1));
}

void TOCLThread::CmdTurbo(TOCLScripter& s) {
  bool on = s.TokenCode == TKON;
  s.NextToken();
  if (!s.Executing) return;
  tracer_.TraceScript("Switch");
  SendPanel(on ? PCTurboOn : PCTurboOff, 0);
}

// ---- Operator messages ----------------------------------------------------------------------

void TOCLThread::CmdDisplay(TOCLScripter& s) {
  // The (hidden) window's content changes also when the statement does not execute.
  display_.Clear();
  s.PendingText.clear();
  display_.SetContinueVisible(true);
  auto flushText = [&] {
    if (s.PendingText.empty()) return;
    display_.AddText(s.PendingText);
    s.PendingText.clear();
  };
  while (true) {
    switch (s.TokenCode) {
      case TKString:
        s.PendingText += s.TokenText;
        s.NextToken();
        break;
      case TKIAREG:
        s.PendingText += std::to_string(registers_.IAR.Get());
        s.NextToken();
        break;
      case TKCRLF:
        flushText();
        display_.EndLine();
        s.NextToken();
        break;
      case TKOPTION: {
        s.NextToken();
        if (s.TokenCode != TKLParen) s.Expected("\"(\"");
        s.NextToken();
        if (s.TokenCode != TKString) s.Expected("String literal");
        std::string option = s.TokenText;
        s.NextToken();
        if (s.TokenCode != TKRParen) s.Expected("\")\"");
        s.NextToken();
        flushText();
        display_.AddOption(option);
        display_.SetContinueVisible(false);
        break;
      }
      default:
        s.Expected("Literal string, Variable identifier, \"OPTION\" or \"CRLF\"");
    }
    if (s.TokenCode != TKPlus) break;
    s.NextToken();
  }
  flushText();
  if (!s.Executing) return;
  tracer_.TraceScript("Display Wait");
  // Waiting before the show: the operator's answer may come before this thread sleeps.
  s.RunState = TRunState::Waiting;
  PostDisplay(0);
}

void TOCLThread::CmdIarCheck(TOCLScripter& s) {
  int32_t expected = s.ParseAddress(core_.Size());
  std::string heading;
  if (s.TokenCode == TKString) {
    heading = Trim(s.TokenText);
    s.NextToken();
  }
  if (!s.Executing) return;
  tracer_.TraceScript("IARCheck");
  uint16_t iar = registers_.IAR;
  if (iar == expected) return;
  ++FailedChecks;
  display_.SetBackground(ColourRed);
  display_.SetTextColour(ColourWhite);
  display_.Clear();
  display_.SetContinueVisible(true);
  display_.AddText(heading.empty() ? "Unexpected Error:-" : heading);
  display_.EndLine();
  display_.AddText("The emulator has stopped at address " + Addr5(iar) +
                   ", but a stop at address " + Addr5(static_cast<uint32_t>(expected)) +
                   " was expected.");
  display_.EndLine();
  s.RunState = TRunState::Waiting;
  PostDisplay(0);
}

void TOCLThread::CmdColour(TOCLScripter& s, TTokenCode command) {
  uint32_t colour = 0;
  if (s.TokenCode == TKNumber) {
    colour = static_cast<uint32_t>(s.TokenValue);
  } else if (s.TokenCode >= TKBLACK && s.TokenCode <= TKWHITE) {
    colour = KeywordColour(s.TokenCode);
  } else {
    s.Expected("Colour constant or value");
  }
  s.NextToken();
  if (!s.Executing) return;
  tracer_.TraceScript("Colour");
  if (command == TKBCOLOUR) {
    display_.SetBackground(colour);
  } else if (command == TKTCOLOUR) {
    display_.SetTextColour(colour);
  } else {
    display_.SetOptionColour(colour);
  }
}

// ---- Flow -----------------------------------------------------------------------------------

void TOCLThread::CmdIf(TOCLScripter& s) {
  bool result = s.ParseCondition(registers_.IAR, display_.OptNum());
  s.Executing = result;
  tracer_.TraceScript(result ? "IF - Condition True" : "IF - Condition False");
}

void TOCLThread::CmdGoto(TOCLScripter& s) {
  if (s.TokenCode != TKWord) s.Expected("Label identifier");
  std::string label = s.TokenText;
  s.NextToken();
  if (!s.Executing) return;
  tracer_.TraceScript("Goto " + label);
  s.FindLabel(label);
}

void TOCLThread::CmdCall(TOCLScripter& s) {
  if (s.TokenCode != TKWord) s.Expected("Label identifier");
  std::string label = s.TokenText;
  s.NextToken();
  std::string parameter;
  if (s.TokenCode == TKLParen) {
    s.NextToken();
    if (s.TokenCode != TKString) s.ScriptError("CALL Parameter must be a string literal");
    parameter = s.ParseStringExpr();
    if (s.TokenCode != TKRParen) s.Expected("\")\"");
    s.NextToken();
  }
  if (!s.Executing) return;
  tracer_.TraceScript("Call " + label + "(" + parameter + ")");
  s.ScriptParams[1] = parameter;
  s.ReturnPosition = s.SaveLexer();
  s.FindLabel(label);
}

void TOCLThread::CmdReturn(TOCLScripter& s) {
  if (!s.Executing) return;
  tracer_.TraceScript("Return");
  if (!s.ReturnPosition) throw EKestrelError("No previous CALL");
  s.RestoreLexer(*s.ReturnPosition);
}

void TOCLThread::CmdExec(TOCLScripter& s) {
  if (s.TokenCode != TKString && s.TokenCode != TKWord) s.Expected("Script file name");
  std::string name = s.TokenText;
  s.NextToken();
  std::array<std::string, 10> params;
  params[0] = name;
  if (s.TokenCode == TKLParen) {
    s.NextToken();
    size_t count = 0;
    while (s.TokenCode != TKRParen) {
      if (s.TokenCode == TKComma) {
        s.NextToken();
        continue;
      }
      if (s.TokenCode == TKEndOfFile) s.Expected("\")\"");
      if (s.TokenCode != TKNumber && s.TokenCode != TKString) {
        s.ScriptError("Invalid EXEC parameter \"" + s.TokenText + "\"");
      }
      if (++count > 9) s.ScriptError("Too many parameters on Exec call");
      params[count] = s.TokenText;
      s.NextToken();
    }
    s.NextToken();
  }
  if (!s.Executing) return;
  // A script that calls itself would otherwise grow the chain until the memory is gone.
  if (ChainDepth() >= MaxExecDepth) {
    throw EKestrelError("Too many nested EXEC calls (at most " + std::to_string(MaxExecDepth) +
                        " scripts): " + name);
  }
  tracer_.TraceScript("Exec " + name);
  // From here the called script is current; a load error ends this script like any statement.
  // A Reset or Cancel that came while the file was read has discarded this script: the called
  // script is then discarded too and never runs.
  TScripterPtr called = LoadScripter(name, params);
  if (!PushCalled(s, called)) Dispose(called);
}

// ---- Core and tapes -------------------------------------------------------------------------

void TOCLThread::CmdCore(TOCLScripter& s) {
  TTokenCode option = s.TokenCode;
  if (option != TKSIZE && option != TKCHAR && option != TKMARK) s.Expected("CORE Command option");
  s.NextToken();
  if (option == TKSIZE) {
    if (s.TokenCode == TKEquals) s.NextToken();
    int32_t size = s.ParseAddress(TCoreStorage::MaxSize);
    if (!s.Executing) return;
    tracer_.TraceScript("Core");
    SendPanel(PCCoreSize, static_cast<uintptr_t>(size));
    return;
  }
  if (s.TokenCode != TKLBracket) s.Expected("\"[\"");
  s.NextToken();
  int32_t address = s.ParseAddress(core_.Size());
  if (s.TokenCode != TKRBracket) s.Expected("\"]\"");
  s.NextToken();
  if (s.TokenCode == TKEquals) s.NextToken();
  if (option == TKCHAR) {
    uint8_t code = s.ParseCharValue();
    if (!s.Executing) return;
    tracer_.TraceScript("Core");
    core_.StoreChar(static_cast<uint16_t>(address), code);
  } else {
    bool on = s.ParseOnOff();
    if (!s.Executing) return;
    tracer_.TraceScript("Core");
    core_.SetWordMark(static_cast<uint16_t>(address), on);
  }
}

void TOCLThread::CmdZap(TOCLScripter& s) {
  if (!IsTape(s.TokenCode)) s.Expected("ZAP target");
  int unit = TapeUnit(s);
  s.NextToken();
  if (s.TokenCode != TKLBracket) s.Expected("\"[\"");
  s.NextToken();
  int32_t position = s.ParseAddress(2147483647);
  if (s.TokenCode != TKRBracket) s.Expected("\"]\"");
  s.NextToken();
  if (s.TokenCode == TKEquals) s.NextToken();
  uint8_t value = s.ParseCharValue();
  if (!s.Executing) return;
  tracer_.TraceScript("Zap");
  TapeZapRecord zap;
  zap.Unit = static_cast<uint16_t>(unit);
  zap.Offset = static_cast<uint32_t>(position);
  zap.Value = value;
  TMessage m;
  m.Id = EmulatorMessage::TapeZapRequest;
  m.Ref = &zap;
  messenger_.Send(TReceiver::TapeUnits, m);
}

// SET PROT TAPEn ON|OFF: the drive's write protection.  SET PARITY TAPEn ON|OFF: whether the
// drive notes a .tap reel's bad parity bits.  SET DENSITY TAPEn HIGH|LOW: its density switch.
void TOCLThread::CmdSet(TOCLScripter& s) {
  if (s.TokenCode != TKString && UpperCase(s.TokenText) == "DENSITY") {
    s.NextToken();
    if (!IsTape(s.TokenCode)) s.Expected("Tape Unit identifier");
    int unit = TapeUnit(s);
    s.NextToken();
    const std::string density = s.TokenCode != TKString ? UpperCase(s.TokenText) : "";
    if (density != "HIGH" && density != "LOW") s.Expected("\"HIGH\" or \"LOW\"");
    s.NextToken();
    if (!s.Executing) return;
    SendDevice(TReceiver::TapeUnits,
               Operation(density == "LOW" ? TTapeOp::TapeDensityLow : TTapeOp::TapeDensityHigh),
               static_cast<uint16_t>(unit));
    return;
  }
  // SET READER WAIT ON|OFF: the reader stops not ready at an empty hopper, as the real one does.
  if (s.TokenCode != TKString && UpperCase(s.TokenText) == "READER") {
    s.NextToken();
    if (s.TokenCode == TKString || UpperCase(s.TokenText) != "WAIT") s.Expected("\"WAIT\"");
    s.NextToken();
    if (s.TokenCode != TKON && s.TokenCode != TKOFF) s.Expected("\"ON\" or \"OFF\"");
    const bool wait = s.TokenCode == TKON;
    s.NextToken();
    if (!s.Executing) return;
    tracer_.TraceScript(std::string("Reader wait at an empty hopper: ") + (wait ? "on" : "off"));
    SendDevice(TReceiver::ReaderPunch, RdrWaitWhenEmpty, wait ? 1 : 0);
    return;
  }
  const bool parity = s.TokenCode != TKString && UpperCase(s.TokenText) == "PARITY";
  if (s.TokenCode != TKPROT && !parity) s.Expected("SET command option");
  s.NextToken();
  if (!IsTape(s.TokenCode)) s.Expected("Tape Unit identifier");
  int unit = TapeUnit(s);
  s.NextToken();
  bool on = s.TokenCode == TKON;
  s.NextToken();
  if (!s.Executing) return;
  TTapeOp op = on ? TTapeOp::TapeProtectOn : TTapeOp::TapeProtectOff;
  if (parity) {
    tracer_.TraceScript("Tape parity check on unit " + std::to_string(unit) +
                        (on ? ": on" : ": off"));
    op = on ? TTapeOp::TapeParityOn : TTapeOp::TapeParityOff;
  }
  SendDevice(TReceiver::TapeUnits, Operation(op), static_cast<uint16_t>(unit));
}

}  // namespace kestrel
