#include "core/KestProc.h"

#include <bit>
#include <exception>

namespace kestrel {

namespace {

// ---- The fetch rules that hang on the op code; both ways of fetching follow them ----

// An instruction with an A-address loads BAR with it too, except these, whose execution uses
// BAR as it was.
constexpr bool KeepsBAR(uint8_t opcode) {
  return opcode == Opcode::LoadChars || opcode == Opcode::MoveChars || opcode == Opcode::StoreBAR;
}
// SAR without a B-address is the mirror of SBR: its address goes into BAR only, as the place of
// the store, and AAR keeps the value to be stored.
constexpr bool AddressGoesToBAR(uint8_t opcode) {
  return opcode == Opcode::StoreAAR;
}
// A blank after a branch's I-address is not part of the instruction.
constexpr bool EndsBeforeBlank(uint8_t opcode, uint8_t next) {
  return opcode == Opcode::Branch && next == Bcd::Blank;
}
// Clear storage and set word mark end at seven characters without a word mark after them: the
// next position may be one whose mark they set.
constexpr bool EndsAtSeven(uint8_t opcode) {
  return opcode == Opcode::ClearStorage || opcode == Opcode::SetWordMark;
}

// The index register a zone over the tens character selects: its units position.
constexpr uint16_t IndexRegister(uint8_t zone) {
  return zone == Bcd::AZone ? 89 : zone == Bcd::BZone ? 94 : 99;
}

// The common address: no % unit, no index register, no refused character.  Every other case has
// a negative table entry and goes to DecodeAddress.
inline bool PlainAddress(uint8_t hundreds, uint8_t tens, uint8_t units, uint16_t& value) {
  int32_t h = HundredsTable[hundreds];
  int32_t t = TensTable[tens];
  int32_t u = UnitsTable[units];
  if ((h | t | u) < 0) return false;
  value = static_cast<uint16_t>(h + t + u);
  return true;
}

[[noreturn]] void InvalidOpcode(uint8_t code, uint16_t at) {
  RaiseProcessCheck(
      std::string("Invalid Opcode: \"") + BcdToChar(code) + "\" ($" + Hex2(code) + ") at ", at);
}
}  // namespace

TCPUThread::TCPUThread(TRegisters& registers, TCoreStorage& core, TTraceFlags& flags,
                       TMessenger& messenger, const TInstructionSet& instructions)
    : R(registers),
      Core(core),
      Tracer(flags, messenger),
      flags_(flags),
      messenger_(messenger),
      instructions_(instructions) {
  flags.TraceInstructions.Watch(&registers.Attention);
  pending_.reserve(512);
}

TCPUThread::~TCPUThread() {
  EndThread();
}

// ---- Thread ---------------------------------------------------------------------------------

void TCPUThread::StartThread() {
  if (thread_.joinable()) return;
  ending_ = false;
  thread_ = std::thread([this] { ThreadBody(); });
}

void TCPUThread::Wake() {
  std::lock_guard lock(wakeMutex_);
  ++wakeCount_;
  wakeSignal_.notify_one();
}

void TCPUThread::EndThread() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(wakeMutex_);
    ending_ = true;
    R.Attention.Set(TAttention::ARLook);
    wakeSignal_.notify_one();
  }
  thread_.join();
}

bool TCPUThread::Sleeping() const {
  std::lock_guard lock(wakeMutex_);
  return sleeping_ && wakeCount_ == 0;
}

bool TCPUThread::WaitForWake() {
  std::unique_lock lock(wakeMutex_);
  sleeping_ = true;
  wakeSignal_.wait(lock, [this] { return wakeCount_ > 0 || ending_; });
  sleeping_ = false;
  if (ending_) return false;
  --wakeCount_;
  return true;
}

void TCPUThread::ThreadBody() {
  if (!WaitForWake()) return;  // created asleep
  Tracer.TraceThread("CPU Begin");
  while (true) {
    RunAndCatch();
    // Taken before the stop is posted: the panel may start the next run at once.
    std::string suspended =
        "CPU Suspend IAReg=" + std::to_string(R.IAR) + " State=" + StateText(R.State);
    PostStopped();
    Tracer.TraceThread(suspended);
    if (!WaitForWake()) return;
    Tracer.TraceThread("CPU Resume");
  }
}

void TCPUThread::RunWakeup() {
  RunAndCatch();
  PostStopped();
}

void TCPUThread::RunAndCatch() {
  KeepFeatures();
  // Taken by the run or step it is for: a Start after a debugger stop fetches anyway.
  auto takeFetchDue = [this] {
    fetchDue_ = R.FetchDue;
    R.FetchDue = false;
  };
  try {
    switch (R.State.Get()) {
      case CpuState::Running:
        takeFetchDue();
        RunLoop();
        break;
      case CpuState::SingleStep:
        takeFetchDue();
        SingleStep();
        break;
      case CpuState::OperatorHalt:
        // The operator's Stop arrived after the Start woke the thread but before the run began:
        // nothing runs, and the stop is reported as any other.
        break;
      default:
        RaiseProcessCheck(std::string("State is wrong: ") + StateText(R.State), R.InstrAddr);
    }
  } catch (const E1401Exception& e) {
    // An I/O check should not reach this thread, but if one does the run must end all the same.
    TraceFlush();
    R.State = CpuState::MachineCheck;
    R.StopMessage.Set(e.FullText());
  } catch (const std::exception& e) {
    TraceFlush();
    R.State = CpuState::MachineCheck;
    R.StopMessage.Set(e.what());
  }
}

void TCPUThread::PostStopped() {
  TMessage stopped;
  stopped.Id = EmulatorMessage::CpuStopped;
  messenger_.Post(TReceiver::MainWindow, stopped);
}

void TCPUThread::ResetProcessor() {
  decodedEntry_ = nullptr;
  R.InstrAddr = 0;
  R.ILen = 0;
  R.IAR = 0;
  R.AAR = 0;
  R.BAR = 0;
  R.Opcode = 0;
  R.DMod = 0;
  R.EqualIndicator = false;
  R.LowIndicator = false;
  R.OverflowIndicator = false;
  R.ProcessErrorIndicator = false;
  R.ReaderErrorIndicator = false;
  R.PunchErrorIndicator = false;
  R.PrinterErrorIndicator = false;
  R.IOFlag = false;
  R.IOUnitType = 0;
  R.IOUnitNum = 0;
  R.State = CpuState::ReaderEmpty;
  R.StopMessage.Set("");
  R.FetchDue = false;
}

// ---- Run loop and single step ---------------------------------------------------------------

void TCPUThread::RunLoop() {
  TRegisters& r = R;
  TTraceFlags& flags = flags_;
  TAttention& attention = r.Attention;
  if (r.IAR == 0) r.IAR = 1;
  int count = 0;
  // The first instruction looks at everything; after that only what the attention word names.
  attention.Set(TAttention::ARLook);
  while (true) {
    if (attention.Any()) [[unlikely]] {
      if (attention.Has(TAttention::ARLook)) {
        // Cleared before the values are read: a write after this asks again.
        attention.Clear(TAttention::ARLook);
        attention.Assign(TAttention::ARStops, r.AddressStop != 0 || r.OpcodeStop != 0);
        attention.Assign(TAttention::ARTrace, flags.TraceInstructions);
        // The kept instructions may all have been forgotten.
        Core.Decoded.Sync();
      }
      if (r.State != CpuState::Running || ending_.load(std::memory_order_relaxed)) break;
      if (r.ResumePending) {
        // The pending instruction runs without a new fetch and without the stops; after a
        // debugger stop there is none, and the run begins with the fetch.
        r.ResumePending.SetQuietly(false);
        if (!fetchDue_) {
          Execute();
          if (attention.Has(TAttention::ARBusy)) CountBusyTime();
          pendingExecuted_ = true;
          if (!r.TurboMode && ++count == RegisterDisplayInterval) {
            count = 0;
            PostShowRegisters();
          }
          continue;
        }
      }
      if (attention.Has(TAttention::ARDebugger) && debugHook_ != nullptr &&
          debugHook_->StopBeforeFetch())
        break;
    }
    // Only this thread stores InstrAddr: the fetch leaves the address it read.
    const uint16_t instrAddr = r.IAR;
    const THandler kept = FetchKept(instrAddr);
    // A break stop has fetched nothing: there is nothing to trace or run.
    if (kept == nullptr && !FetchNotKept(instrAddr)) break;
    pendingExecuted_ = false;
    // A stop set, tracing on, or a change the fetch made (a core stop): the careful way.
    if (attention.Any()) [[unlikely]] {
      if (instrAddr == r.AddressStop) {
        R.StopMessage.Set("Address Stop at");
        r.State = CpuState::StopCondition;
        flags.TraceInstructions = true;
      }
      // A blank op code stop (the field left empty) never fires: no instruction has code 0.
      if (const uint8_t stop = r.OpcodeStop; stop != 0 && r.Opcode == stop) {
        R.StopMessage.Set("Opcode Stop at");
        r.State = CpuState::StopCondition;
        flags.TraceInstructions = true;
      }
      if (flags.TraceInstructions) TracePhase();
      if (r.State != CpuState::Running) break;
    }
    if (kept != nullptr) [[likely]] {
      kept(*this);
    } else {
      Entry().Execute(*this);
    }
    // Tracing on, or a line pending, has the attention word set: the registers line comes now.
    if (attention.Any()) [[unlikely]] {
      if (flags.TraceInstructions || !pending_.empty()) TraceRegistersLine();
      if (attention.Has(TAttention::ARBusy)) CountBusyTime();
    }
    pendingExecuted_ = true;
    if (!r.TurboMode && ++count == RegisterDisplayInterval) {
      count = 0;
      PostShowRegisters();
    }
  }
  if (r.State == CpuState::SingleStep) {
    // A core stop: end as after a single step, with the next instruction shown as pending.
    flags.TraceInstructions = true;
    if (pendingExecuted_) {
      FetchInstruction();
      pendingExecuted_ = false;
      TracePhase();
    }
  }
}

void TCPUThread::CountBusyTime() {
  const uint16_t print = R.PrintBusyLeft;
  const uint16_t carriage = R.CarriageBusyLeft;
  if (print != 0) R.PrintBusyLeft = static_cast<uint16_t>(print - 1);
  if (carriage != 0) R.CarriageBusyLeft = static_cast<uint16_t>(carriage - 1);
  if (print <= 1 && carriage <= 1) R.Attention.Clear(TAttention::ARBusy);
}

void TCPUThread::SingleStep() {
  if (R.IAR == 0) {
    R.IAR = 1;
  } else if (!fetchDue_) {
    ExecutePhase();
    if (R.Attention.Has(TAttention::ARBusy)) CountBusyTime();
  }
  pendingExecuted_ = true;
  FetchInstruction();
  pendingExecuted_ = false;
  TracePhase();
}

void TCPUThread::PostShowRegisters() {
  // Coalesced: never a second one while the first is still unhandled.
  if (registersPosted_.exchange(true)) return;
  TMessage show;
  show.Id = EmulatorMessage::ShowRegisters;
  messenger_.Post(TReceiver::MainWindow, show);
}

// ---- Fetch and decode -----------------------------------------------------------------------

// A change of the special features (configuration, while stopped) may make a kept entry another
// instruction or none: every wake-up and every single fetch looks whether they changed, and if
// so forgets the kept instructions.
void TCPUThread::KeepFeatures() {
  if (const uint8_t features = R.Features; features != keptFeatures_) {
    Core.Decoded.ForgetAll();
    keptFeatures_ = features;
  }
}

// An instruction kept by the decoded ones: exactly what the one-pass fetch of its positions
// leaves.  Returns its execute handler, or null when none is kept there.
[[gnu::always_inline]] inline THandler TCPUThread::FetchKept(uint16_t iar) {
  const TDecodedInstruction* kept = Core.Decoded.Find(iar);
  TRegisters& r = R;
  if (kept == nullptr) return nullptr;
  const TDecodedInstruction d = *kept;
  r.InstrAddr = iar;
  r.IOFlag = false;
  r.Opcode = d.Opcode;
  // Most instructions have both addresses.
  if (d.Length >= 2) [[likely]]
    r.DMod = d.DMod;
  if (d.SetsAAR) [[likely]]
    r.AAR = d.AAR;
  if (d.SetsBAR) [[likely]]
    r.BAR = d.BAR;
  r.ILen = d.Length;
  r.IAR = static_cast<uint16_t>(iar + d.Length);
  decodedEntry_ = d.Entry;
  return d.Execute;
}

bool TCPUThread::FetchNotKept(uint16_t iar) {
  decodedEntry_ = nullptr;
  if (Core.BreakTrap(iar) && debugHook_ != nullptr) [[unlikely]] {
    // Never kept: every fetch here asks the debugger.
    if (debugHook_->StopAtBreak(iar)) return false;
    if (!FetchFast()) FetchByCharacter();
    return true;
  }
  const uint32_t epoch = Core.Decoded.Epoch();
  if (FetchFast()) {
    KeepDecoded(iar, epoch);
  } else {
    FetchByCharacter();
  }
  return true;
}

void TCPUThread::FetchInstruction() {
  KeepFeatures();
  Core.Decoded.Sync();
  const uint16_t iar = R.IAR;
  if (FetchKept(iar) == nullptr) FetchNotKept(iar);
}

// After a one-pass fetch: its positions are marked, and read and decoded once more, so that a
// store another thread made meanwhile (before the mark) cannot be missed.
void TCPUThread::KeepDecoded(uint16_t address, uint32_t epoch) {
  TDecodedInstruction d;
  d.Opcode = R.Opcode;
  d.DMod = R.DMod;
  d.AAR = R.AAR;
  d.BAR = R.BAR;
  d.Length = R.ILen;
  d.SetsAAR = d.Length >= 7 || (d.Length >= 4 && !AddressGoesToBAR(d.Opcode));
  d.SetsBAR = d.Length >= 7 || (d.Length >= 4 && !KeepsBAR(d.Opcode));
  const uint8_t features = R.Features.Get();
  if (features != keptFeatures_) return;  // changed since the wake-up: kept at the next one
  const TOpcodeEntry* entry = instructions_.Find(d.Opcode, features, FormDChar(d.Length, d.DMod));
  if (entry == nullptr || entry->Execute == nullptr) return;  // the execute phase raises the check
  d.Entry = entry;
  d.Execute = entry->Execute;
  Core.MarkInstruction(address, d.Length);
  R.IAR = address;
  if (!FetchFast() || R.Opcode != d.Opcode || R.ILen != d.Length ||
      (d.Length >= 2 && R.DMod != d.DMod) || (d.Length >= 4 && R.AAR != d.AAR) || R.BAR != d.BAR) {
    // Changed under the fetch: as fetched now, and not kept.
    if (R.ILen == 0) FetchByCharacter();
    return;
  }
  Core.Decoded.Keep(address, d, epoch);
}

uint16_t TCPUThread::BeginFetch() {
  const uint16_t iar = R.IAR;
  R.InstrAddr = iar;
  R.ILen = 0;
  R.IOFlag = false;
  return iar;
}

// When the op code and the eight positions after it lie inside core, hold no core read stop and
// need no uninitialised-read check, reading them raw is the same as reading them one at a time,
// and the length follows from where the next word mark stands.
bool TCPUThread::FetchFast() {
  constexpr unsigned Window = 9;
  const uint16_t iar = BeginFetch();
  TCoreStorage& core = Core;
  if (iar == 0 || iar + Window > core.Size()) return false;
  if (unsigned stop = core.ReadStopAddress; stop - iar < Window) return false;
  const bool uninitializedCheck = core.UninitializedCheck;
  uint8_t code[Window];
  unsigned marks = 0;
#pragma GCC unroll 9
  for (unsigned k = 0; k < Window; ++k) {
    uint16_t word = core.Word(static_cast<uint16_t>(iar + k));
    if (uninitializedCheck && !(word & CoreChar::Written)) return false;
    code[k] = static_cast<uint8_t>(word & CoreChar::CodeMask);
    marks |= ((word & CoreChar::WordMark) ? 1u : 0u) << k;
  }
  if (!(marks & 1)) return false;
  const uint8_t opcode = code[0];
  unsigned length = static_cast<unsigned>(std::countr_zero(marks >> 1)) + 1;
  if (length > 4 && EndsBeforeBlank(opcode, code[4])) length = 4;
  if (length > 7 && EndsAtSeven(opcode)) length = 7;
  if (length == 3 || length == 6 || length > 8) return false;
  uint16_t aAddress = 0;
  uint16_t bAddress = 0;
  if (length >= 4 && !PlainAddress(code[1], code[2], code[3], aAddress)) return false;
  if (length >= 7 && !PlainAddress(code[4], code[5], code[6], bAddress)) return false;

  TRegisters& r = R;
  r.Opcode = opcode;
  if (length >= 2) r.DMod = code[length == 8 ? 7 : length >= 5 ? 4 : 1];
  if (length >= 7) {
    r.AAR = aAddress;
    r.BAR = bAddress;
  } else if (length >= 4) {
    if (!AddressGoesToBAR(opcode)) r.AAR = aAddress;
    if (!KeepsBAR(opcode)) r.BAR = aAddress;
  }
  r.ILen = static_cast<uint8_t>(length);
  r.IAR = static_cast<uint16_t>(iar + length);
  return true;
}

void TCPUThread::FetchByCharacter() {
  uint16_t iar = BeginFetch();
  // IAR moves past every character read.  It lives in `iar` while the fetch runs and is stored
  // when the fetch ends, or where a check stops it, so the register is the same either way.
  try {
    auto next = [this, &iar] {
      TCharWM c = Core.ReadCharWM(iar);
      ++iar;
      return c;
    };
    auto unexpected = [&iar] {
      RaiseProcessCheck("Unexpected WordMark at ", static_cast<uint16_t>(iar - 1));
    };
    TCharWM c = next();
    if (!c.WordMark) RaiseProcessCheck("Missing WordMark at ", static_cast<uint16_t>(iar - 1));
    const uint8_t opcode = c.Code;
    R.Opcode = opcode;
    uint8_t length = 1;
    // The character with the next word mark ends the instruction (lengths 3 and 6 are refused).
    do {
      c = next();
      if (c.WordMark) break;
      const uint8_t a0 = c.Code;
      R.DMod = a0;
      length = 2;
      c = next();
      if (c.WordMark) break;
      const uint8_t a1 = c.Code;
      c = next();
      if (c.WordMark) unexpected();
      uint16_t aAddress;
      if (!PlainAddress(a0, a1, c.Code, aAddress)) aAddress = DecodeAddress(true, a0, a1, c.Code);
      if (!AddressGoesToBAR(opcode)) R.AAR = aAddress;
      if (!KeepsBAR(opcode)) R.BAR = aAddress;
      length = 4;
      c = next();
      if (c.WordMark) break;
      if (EndsBeforeBlank(opcode, c.Code)) break;
      const uint8_t b0 = c.Code;
      R.DMod = b0;
      length = 5;
      c = next();
      if (c.WordMark) break;
      const uint8_t b1 = c.Code;
      c = next();
      if (c.WordMark) unexpected();
      uint16_t bAddress;
      if (!PlainAddress(b0, b1, c.Code, bAddress)) bAddress = DecodeAddress(false, b0, b1, c.Code);
      R.AAR = aAddress;
      R.BAR = bAddress;
      length = 7;
      while (true) {
        c = next();
        if (c.WordMark) break;
        if (EndsAtSeven(opcode)) break;
        R.DMod = c.Code;
        length = 8;
      }
    } while (false);
    R.ILen = length;
    R.IAR = static_cast<uint16_t>(iar - 1);
  } catch (...) {
    R.IAR = iar;
    throw;
  }
}

uint16_t TCPUThread::DecodeAddress(bool aAddress, uint8_t hundreds, uint8_t tens, uint8_t units) {
  if (aAddress && hundreds == Bcd::Percent) {
    R.IOFlag = true;
    R.IOUnitType = tens;
    R.IOUnitNum = units;
    return 0;
  }
  auto bad = [this](uint8_t code) {
    RaiseProcessCheck("Bad Address character: $" + Hex2(code) + " used at ", R.InstrAddr);
  };
  int32_t h = HundredsTable[hundreds];
  if (h < 0) bad(hundreds);
  uint32_t sum = static_cast<uint32_t>(h);
  if (uint8_t zone = tens & Bcd::ZoneMask; zone != 0) {
    sum += Core.ReadAddress(IndexRegister(zone));
    tens &= Bcd::NumericMask;
  }
  int32_t t = TensTable[tens];
  if (t < 0) bad(tens);
  int32_t u = UnitsTable[units];
  if (u < 0) bad(units);
  // The address adder counts to 15999 and then starts again at 0, so an indexed address wraps
  // as the machine's does.
  return static_cast<uint16_t>((sum + static_cast<uint32_t>(t + u)) % TCoreStorage::MaxSize);
}

// ---- Phases ---------------------------------------------------------------------------------

const TOpcodeEntry& TCPUThread::Entry() const {
  const TOpcodeEntry* entry =
      R.IOFlag ? instructions_.IOUnit()
               : instructions_.Find(R.Opcode, R.Features, FormDChar(R.ILen, R.DMod.Get()));
  if (entry == nullptr) InvalidOpcode(R.Opcode, R.InstrAddr);
  return *entry;
}

void TCPUThread::TracePhase() {
  if (flags_.TraceInstructions) {
    pending_ += 'I';
    pending_ += Addr5(R.InstrAddr);
    pending_ += ' ';
    pending_ += BcdToChar(R.Opcode);
    pending_ += ' ';
    pending_ += static_cast<char>('0' + R.ILen);
    pending_ += ' ';
  }
  const TOpcodeEntry& entry = Entry();
  TraceAppend(entry.Title);
  entry.Trace(*this);
  TraceFlush();
}

[[gnu::always_inline]] inline void TCPUThread::Execute() {
  (decodedEntry_ != nullptr ? *decodedEntry_ : Entry()).Execute(*this);
  // Untraced, nothing is pending: the rest is for traced instructions only.
  if (flags_.TraceInstructions || !pending_.empty()) TraceRegistersLine();
}

void TCPUThread::ExecutePhase() {
  Execute();
}

void TCPUThread::TraceRegistersLine() {
  if (flags_.TraceRegisters && flags_.TraceInstructions) {
    TraceFlush();
    TraceAppend("R          AAReg=" + Addr5(R.AAR) + "  BAReg=" + Addr5(R.BAR) +
                "  IAReg=" + Addr5(R.IAR));
  }
  if (!pending_.empty()) TraceFlush();
}

void TCPUThread::TraceFlush() {
  if (pending_.empty()) return;
  if (flags_.TraceInstructions) Tracer.AddLine(pending_);
  pending_.clear();
}

std::string TCPUThread::BranchSuffix(int n) const {
  if (R.ILen != n) return {};
  return " and Branch to " + Addr5(R.AAR);
}

void TCPUThread::SendDevice(TReceiver receiver, DeviceCommand& command) {
  TMessage request;
  request.Id = EmulatorMessage::DeviceRequest;
  request.Ref = &command;
  messenger_.Request(receiver, request);
}

}  // namespace kestrel
