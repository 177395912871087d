// The processor thread and its instruction cycle: fetch by word marks, address decoding with the
// index registers and the % unit form, the trace and execute phases, the run loop with its
// address, op code and core stops, single stepping, resuming, and the sleeping thread that runs
// one loop or one step per wake-up.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "core/IBMTrace.h"
#include "core/InstructionSet.h"
#include "core/KestCore.h"
#include "core/KestDefs.h"
#include "core/Messenger.h"
#include "core/Registers.h"

namespace kestrel {

// A debugger's look at the run: while the attention word's debugger bit is set, the run loop
// asks it before each fetch (IAR names the instruction about to be read) whether the run stops
// there; the fetch of an instruction under a break trap asks it too.  A true answer has set the
// state and the stop message, and nothing is fetched.
class IDebugHook {
 public:
  virtual ~IDebugHook() = default;
  virtual bool StopBeforeFetch() = 0;
  virtual bool StopAtBreak(uint16_t address) = 0;
};

class TCPUThread {
 public:
  static constexpr int RegisterDisplayInterval = 200;

  TCPUThread(TRegisters& registers, TCoreStorage& core, TTraceFlags& flags, TMessenger& messenger,
             const TInstructionSet& instructions);
  ~TCPUThread();
  TCPUThread(const TCPUThread&) = delete;
  TCPUThread& operator=(const TCPUThread&) = delete;

  // ---- Run control ----
  // Creates the thread, asleep until the first wake-up.
  void StartThread();
  // Counted: a wake-up that arrives before the thread sleeps is not lost.
  void Wake();
  // Ends the thread cooperatively and joins it.  The messenger must no longer block senders
  // (a shut-down messenger) or must still be served, or a pending send would never return.
  void EndThread();
  // True while the thread sleeps with no wake-up pending: everything it traced has been handed
  // to the trace window.
  bool Sleeping() const;
  // One wake-up's work on the calling thread: a run loop or a step as `State` says, the catch of
  // a machine check, then CpuStopped.  The thread body calls it; tests call it directly.
  void RunWakeup();
  void ResetProcessor();
  // The main window calls this when it has handled ShowRegisters, so the next may be posted.
  void AcknowledgeShowRegisters() { registersPosted_ = false; }
  // The debugger to ask (set once, before the threads run).
  void SetDebugHook(IDebugHook* hook) { debugHook_ = hook; }

  // ---- Instruction cycle ----
  // Reads the instruction at IAR: in one pass when it is an ordinary one, else character by
  // character.  Both ways leave the same registers and raise the same checks.
  void FetchInstruction();
  // The one-pass fetch: false, with only InstrAddr, ILen and IOFlag changed, when the
  // instruction is not an ordinary one (a check to raise, an index register, a % unit, more than
  // eight characters, or positions outside core or under a read stop).
  bool FetchFast();
  // The fetch of any instruction, one character at a time, raising every check.
  void FetchByCharacter();
  uint16_t DecodeAddress(bool aAddress, uint8_t hundreds, uint8_t tens, uint8_t units);
  void TracePhase();
  void ExecutePhase();

  // ---- What the handlers share ----
  bool Tracing() const { return flags_.TraceInstructions; }
  bool TracingDetails() const { return flags_.Details(); }
  // Appends to the pending line when instruction tracing is on.
  void TraceAppend(std::string_view text) {
    if (flags_.TraceInstructions) pending_.append(text);
  }
  // Hands the pending line to the trace window (when tracing is on) and empties it.
  void TraceFlush();
  // BAR := the next sequential instruction, IAR := AAR.
  void TakeBranch() {
    R.BAR = R.IAR.Get();
    R.IAR = R.AAR.Get();
  }
  // " and Branch to " + AAR when ILen is n.
  std::string BranchSuffix(int n) const;
  // A synchronous device request; the device stores its results in shared state.
  void SendDevice(TReceiver receiver, DeviceCommand& command);

  TRegisters& R;
  TCoreStorage& Core;
  TTracer Tracer;

 private:
  THandler FetchKept(uint16_t iar);
  void KeepFeatures();
  // False when the debugger stopped the run at a break trap: nothing was fetched.
  bool FetchNotKept(uint16_t iar);
  void Execute();
  uint16_t BeginFetch();
  void KeepDecoded(uint16_t address, uint32_t epoch);
  void TraceRegistersLine();
  void RunAndCatch();
  void PostStopped();
  void RunLoop();
  void SingleStep();
  // One instruction's time off the printer's and the carriage's busy time (print storage).
  void CountBusyTime();
  const TOpcodeEntry& Entry() const;
  void PostShowRegisters();
  void ThreadBody();
  bool WaitForWake();

  TTraceFlags& flags_;
  TMessenger& messenger_;
  const TInstructionSet& instructions_;
  std::string pending_;
  bool pendingExecuted_ = true;  // the pending instruction has already been executed
  bool fetchDue_ = false;        // this wake-up's TRegisters::FetchDue
  // The handlers of the pending instruction when its fetch came from the decoded ones (else
  // null, and the execute phase looks them up).
  const TOpcodeEntry* decodedEntry_ = nullptr;
  // The special features the kept decoded instructions were decoded with.
  uint8_t keptFeatures_ = 0;
  IDebugHook* debugHook_ = nullptr;

  std::atomic<bool> registersPosted_{false};
  std::atomic<bool> ending_{false};
  mutable std::mutex wakeMutex_;
  std::condition_variable wakeSignal_;
  int wakeCount_ = 0;
  bool sleeping_ = false;
  std::thread thread_;
};

}  // namespace kestrel
