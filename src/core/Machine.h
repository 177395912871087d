// The one object that owns a whole machine: registers and run control, core storage, the trace
// flags and log, and the processor thread.  The program entry creates one; so does every test.
// Later subsystems (devices, mapping, console, scripts) are members here too.
#pragma once

#include "charset/IBMChars.h"
#include "console/KestCnfg.h"
#include "console/KestMain.h"
#include "core/KestCore.h"
#include "core/KestProc.h"
#include "core/Messenger.h"
#include "core/Registers.h"
#include "devices/IBM1402.h"
#include "devices/IBM1403.h"
#include "devices/IBM729IV.h"
#include "instructions/IBMTrace.h"
#include "script/KestDOCL.h"
#include "script/KestIOCL.h"
#include "script/OclMapping.h"

namespace kestrel {

class TMachine {
 public:
  explicit TMachine(TMessenger& messenger);
  ~TMachine();
  TMachine(const TMachine&) = delete;
  TMachine& operator=(const TMachine&) = delete;

  TMessenger& Messenger;
  TRegisters Registers;
  TCoreStorage Core{Registers};
  TTraceFlags TraceFlags;
  TTraceLog TraceLog;
  TCPUThread Cpu{Registers, Core, TraceFlags, Messenger};
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
