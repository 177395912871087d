// The script thread (`TOCLThread`): runs the current script beside the processor, keeps the chain
// of scripts started by EXEC, and sleeps while a script waits for the machine or for the
// operator.  Its statements are in OclCommands.cpp, its thread and script chain in OclThread.cpp.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/IBMTrace.h"
#include "core/KestCore.h"
#include "core/KestDefs.h"
#include "core/Messenger.h"
#include "core/Registers.h"
#include "script/KestIOCL.h"

namespace kestrel {

class TScriptDisplay;

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
  // DEBUG 'COMMAND': the debugger's commands ("" or the error).
  void SetDebugCommand(std::function<std::string(const std::string&)> command) {
    debugCommand_ = std::move(command);
  }
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
  void CmdChain(TOCLScripter& s);
  void CmdDeck(TOCLScripter& s);
  void CmdCarriage(TOCLScripter& s);
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
  std::function<std::string(const std::string&)> debugCommand_;
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
