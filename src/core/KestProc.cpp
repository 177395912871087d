#include "core/KestProc.h"

#include <exception>

#include "instructions/OpTable.h"

namespace kestrel {

namespace {
constexpr uint8_t OpClearStorage = 17;
constexpr uint8_t OpSetWordMark = 27;
constexpr uint8_t OpLoadChars = 35;
constexpr uint8_t OpMoveChars = 36;
constexpr uint8_t OpStoreAAR = 40;
constexpr uint8_t OpBranch = 50;
constexpr uint8_t OpStoreBAR = 56;

// The index register a zone over the tens character selects: its units position.
constexpr uint16_t IndexRegister(uint8_t zone) {
  return zone == Bcd::AZone ? 89 : zone == Bcd::BZone ? 94 : 99;
}
}  // namespace

TCPUThread::TCPUThread(TRegisters& registers, TCoreStorage& core, TTraceFlags& flags,
                       TMessenger& messenger)
    : R(registers), Core(core), Tracer(flags, messenger), flags_(flags), messenger_(messenger) {
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
    wakeSignal_.notify_one();
  }
  thread_.join();
}

bool TCPUThread::WaitForWake() {
  std::unique_lock lock(wakeMutex_);
  wakeSignal_.wait(lock, [this] { return wakeCount_ > 0 || ending_; });
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
  try {
    switch (R.State.Get()) {
      case CpuState::Running:
        RunLoop();
        break;
      case CpuState::SingleStep:
        SingleStep();
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
  R.IOFlag = false;
  R.IOUnitType = 0;
  R.IOUnitNum = 0;
  R.State = CpuState::ReaderEmpty;
  R.StopMessage.Set("");
}

// ---- Run loop and single step ---------------------------------------------------------------

void TCPUThread::RunLoop() {
  if (R.IAR == 0) R.IAR = 1;
  int count = 0;
  while (R.State == CpuState::Running && !ending_.load(std::memory_order_relaxed)) {
    if (R.ResumePending) {
      // The pending instruction runs without a new fetch and without the stops.
      R.ResumePending = false;
    } else {
      FetchInstruction();
      pendingExecuted_ = false;
      if (R.InstrAddr == R.AddressStop) {
        R.StopMessage.Set("Address Stop at");
        R.State = CpuState::StopCondition;
        flags_.TraceInstructions = true;
      }
      // A blank op code stop (the field left empty) never fires: no instruction has code 0.
      if (R.OpcodeStop != 0 && R.Opcode == R.OpcodeStop) {
        R.StopMessage.Set("Opcode Stop at");
        R.State = CpuState::StopCondition;
        flags_.TraceInstructions = true;
      }
      if (flags_.TraceInstructions) TracePhase();
      if (R.State != CpuState::Running) break;
    }
    ExecutePhase();
    pendingExecuted_ = true;
    if (!R.TurboMode && ++count == RegisterDisplayInterval) {
      count = 0;
      PostShowRegisters();
    }
  }
  if (R.State == CpuState::SingleStep) {
    // A core stop: end as after a single step, with the next instruction shown as pending.
    flags_.TraceInstructions = true;
    if (pendingExecuted_) {
      FetchInstruction();
      pendingExecuted_ = false;
      TracePhase();
    }
  }
}

void TCPUThread::SingleStep() {
  if (R.IAR == 0) {
    R.IAR = 1;
  } else {
    ExecutePhase();
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

void TCPUThread::FetchInstruction() {
  uint16_t iar = R.IAR;
  R.InstrAddr = iar;
  R.ILen = 0;
  R.IOFlag = false;
  uint8_t opcode = 0;
  uint8_t a[3] = {0, 0, 0};
  uint8_t b[3] = {0, 0, 0};
  int p = 0;
  while (true) {
    TCharWM c = Core.ReadCharWM(iar);
    R.IAR = ++iar;
    if (p == 0) {
      if (!c.WordMark) RaiseProcessCheck("Missing WordMark at ", static_cast<uint16_t>(iar - 1));
      opcode = c.Code;
      R.Opcode = opcode;
    } else if (c.WordMark && p != 3 && p != 6) {
      break;
    } else {
      switch (p) {
        case 1:
          a[0] = c.Code;
          a[1] = a[2] = 0;
          R.DMod = c.Code;
          break;
        case 2:
          a[1] = c.Code;
          break;
        case 3:
          if (c.WordMark)
            RaiseProcessCheck("Unexpected WordMark at ", static_cast<uint16_t>(iar - 1));
          a[2] = c.Code;
          R.AAR = DecodeAddress(true, a[0], a[1], a[2]);
          if (opcode != OpLoadChars && opcode != OpMoveChars && opcode != OpStoreAAR &&
              opcode != OpStoreBAR) {
            R.BAR = DecodeAddress(true, a[0], a[1], a[2]);
          }
          break;
        case 4:
          if (opcode == OpBranch && c.Code == Bcd::Blank) goto ended;  // the blank is not part
          b[0] = c.Code;
          b[1] = b[2] = 0;
          R.DMod = c.Code;
          break;
        case 5:
          b[1] = c.Code;
          break;
        case 6:
          if (c.WordMark)
            RaiseProcessCheck("Unexpected WordMark at ", static_cast<uint16_t>(iar - 1));
          b[2] = c.Code;
          R.BAR = DecodeAddress(false, b[0], b[1], b[2]);
          break;
        default:
          // Clear storage and set word mark may end at 7 on a position whose mark they set.
          if (opcode == OpClearStorage || opcode == OpSetWordMark) goto ended;
          R.DMod = c.Code;
          p = 7;
          break;
      }
    }
    ++p;
  }
ended:
  R.ILen = static_cast<uint8_t>(p);
  R.IAR = static_cast<uint16_t>(iar - 1);
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
  return static_cast<uint16_t>(sum + static_cast<uint32_t>(t + u));
}

// ---- Phases ---------------------------------------------------------------------------------

const TOpcodeEntry& TCPUThread::Entry() const {
  const TOpcodeEntry* entry = R.IOFlag ? IOUnitEntry() : FindOpcode(R.Opcode);
  if (entry == nullptr) {
    uint8_t code = R.Opcode;
    RaiseProcessCheck(
        std::string("Invalid Opcode: \"") + BcdToChar(code) + "\" ($" + Hex2(code) + ") at ",
        R.InstrAddr);
  }
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

void TCPUThread::ExecutePhase() {
  Entry().Execute(*this);
  if (flags_.TraceRegisters && flags_.TraceInstructions) {
    TraceFlush();
    TraceAppend("R          AAReg=" + Addr5(R.AAR) + "  BAReg=" + Addr5(R.BAR) +
                "  IAReg=" + Addr5(R.IAR));
  }
  TraceFlush();
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
  messenger_.Send(receiver, request);
}

}  // namespace kestrel
