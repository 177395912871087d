// The one object that owns a whole machine, and the only place that puts it together: registers
// and run control, core storage, the trace flags and log, the processor thread with its
// instruction set, the character mapping, the reader/punch, printer and tape units, the script
// thread and its message window's model, the configuration and the front panel's model.  Each
// front end creates one (and starts and ends it with `Start` and `Stop`); so does every test.
#pragma once

#include "charset/IBMChars.h"
#include "core/IBMTrace.h"
#include "core/KestCore.h"
#include "core/KestProc.h"
#include "core/Messenger.h"
#include "core/Registers.h"
#include "debug/Debugger.h"
#include "devices/IBM1402.h"
#include "devices/IBM1403.h"
#include "devices/IBM729IV.h"
#include "instructions/OpTable.h"
#include "machine/KestCnfg.h"
#include "machine/KestMain.h"
#include "script/KestDOCL.h"
#include "script/KestIOCL.h"
#include "script/OclMapping.h"
#include "script/OclThread.h"

namespace kestrel {

class TMachine {
 public:
  explicit TMachine(TMessenger& messenger);
  ~TMachine();
  TMachine(const TMachine&) = delete;
  TMachine& operator=(const TMachine&) = delete;

  // The start every front end makes: the initialisation file, then the processor and script
  // threads, asleep until the first wake-up.
  void Start(const std::string& iniFile);
  // The end every front end makes: the print file while the devices are still there, then the
  // messenger shuts so no sender stays blocked, then the workers end wherever they are.
  void Stop();

  TMessenger& Messenger;
  TRegisters Registers;
  TCoreStorage Core{Registers};
  TTraceFlags TraceFlags;
  TTraceLog TraceLog;
  TCPUThread Cpu{Registers, Core, TraceFlags, Messenger, InstructionSet()};
  // The debugger: breakpoints, watchpoints, history and symbols; the processor asks it.
  TDebugger Debugger{Registers, Core};
  // The history size the initialisation file names ([Debugger] History=N, 1000 when not said,
  // 0 = off): the windows turn the history on with it, a headless run with --history.
  size_t ConfiguredHistory = TDebugger::DefaultHistory;
  TCharMap CharMap;
  TReaderPunch ReaderPunch{Registers, Core, CharMap};
  TPrinter Printer{Registers, Core, CharMap};
  TTapeUnits TapeUnits{Registers, Core, Messenger};
  // The script message window's model, the script thread, the configuration and the front panel's
  // model (the main window's receiver).
  TScriptDisplay ScriptDisplay;
  TOCLThread Script{Registers, Core, TraceFlags, Messenger, ScriptDisplay};
  TConfiguration Config{Core, &Registers};
  TConsole Console{*this};
  TCharMapControl MappingControl{CharMap};
};

}  // namespace kestrel
