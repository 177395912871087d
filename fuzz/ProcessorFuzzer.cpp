// The processor running whatever core holds: random codes and word marks over a 16,000-position
// core, started anywhere, with the storage checks, stops, tracing and devices the input chooses.
// A run is bounded by the operator, who presses Stop after 2,000 instructions; single steps are
// at most 100.  Every run must end in a process check, an I/O check, a plain error or a
// normal stop, with core, the trace and the devices in their proper form.
//
// Input: a 12-byte header, then core from address 1 on.
//   0      options: 1 uninitialised-read check, 2 instruction tracing, 4 details and registers
//          too, 8 the positions after the input filled at random (else cleared), 16 single
//          steps instead of a run, 32 a dummy card in the reader (else the hopper is empty),
//          64 tape images on units 1 (BCD) and 2 (MT), made of the core bytes, 128 the stops
//          below are set (else all off)
//   1-2    the start address (IAR), little-endian, as given
//   3      sense switches A to G (bits 0 to 6)
//   4-5    core read stop address;  6-7 core write stop address;  8 write stop value (low 6 bits)
//   9      op code stop (low 6 bits);  10-11 address stop
//   12...  one byte per position from 1 on: bits 0-5 the code, bit 7 the word mark; with bit 6
//          set the position is left as it is (cleared, never written, or filled at random)
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "core/Features.h"
#include "machine/Machine.h"

using namespace kestrel;
using namespace kestrel::fuzz;

namespace {

constexpr int StopAfterShows = 10;  // x 200 instructions
constexpr int MaxSteps = 100;

enum : uint8_t {
  OptUninitialized = 1,
  OptTrace = 2,
  OptDetails = 4,
  OptRandomFill = 8,
  OptSteps = 16,
  OptDummyCard = 32,
  OptTapes = 64,
  OptStops = 128,
};

// A small generator, so the filling depends on the input alone.
struct TRandom {
  uint64_t State;
  uint32_t Next() {
    State = State * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>(State >> 33);
  }
};

uint64_t Hash(const uint8_t* data, size_t size) {
  uint64_t h = 1469598103934665603ULL;
  for (size_t i = 0; i < size; ++i)
    h = (h ^ data[i]) * 1099511628211ULL;
  return h;
}

void CheckOutcome(TMachine& m, TFuzzMessenger& messenger, const TTraceChecker& trace) {
  if (Verbose()) {
    Report(std::string("state: ") + StateText(m.Registers.State) + "; stop message: \"" +
           m.Registers.StopMessage.Get() + "\"; IAR " + std::to_string(m.Registers.IAR) +
           "; instructions about " + std::to_string(200 * messenger.ShowRegisters()) +
           "; trace lines " + std::to_string(trace.Lines()) + "; print lines " +
           std::to_string(m.Printer.LineCount()) + "; punched " +
           std::to_string(m.ReaderPunch.Pile(PLPunchN).size()));
    for (const std::string& error : messenger.Errors())
      Report("shown: " + error);
  }
  CheckMachine(m);
  const std::vector<std::string>& errors = messenger.Errors();
  for (const std::string& error : errors) {
    // A core check inside a device request (a punch of never-written core) is shown too.
    Require(IsIOCheckText(error) || IsProcessCheckText(error),
            "unexpected error shown to the operator: " + error);
  }
  const std::string stop = m.Registers.StopMessage.Get();
  switch (m.Registers.State.Get()) {
    case CpuState::ProgramHalt:
      break;
    case CpuState::OperatorHalt:
      Require(messenger.ShowRegisters() >= StopAfterShows, "operator halt nobody asked for");
      break;
    case CpuState::StopCondition:
      Require(stop == "Address Stop at" || stop == "Opcode Stop at", "stop condition: " + stop);
      break;
    case CpuState::SingleStep:
      break;  // a core stop, or single steps
    case CpuState::MachineCheck:
      // A process check or a drive error carries its message; the reader's empty hopper is an
      // I/O check that stops the processor, names itself and is shown in a box.
      Require(IsProcessCheckText(stop) || IsDriveErrorText(stop) ||
                  (stop == "Card reader empty" && !errors.empty() && errors.back() == stop),
              "machine check with an unknown stop message: " + stop);
      Require(IsMessageText(stop), "stop message with a control character");
      break;
    default:
      Fail(std::string("the run ended in state ") + StateText(m.Registers.State));
  }
  Require(messenger.CpuStopped() >= 1, "no CpuStopped after the run");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TInput in(data, size);
  const uint8_t options = in.Byte();
  const uint16_t start = in.Word();
  const uint8_t switches = in.Byte();
  const uint16_t readStop = in.Word();
  const uint16_t writeStop = in.Word();
  const uint8_t writeStopValue = in.Byte() & 63;
  const uint8_t opcodeStop = in.Byte() & 63;
  const uint16_t addressStop = in.Word();
  const std::string_view image = in.Rest();

  TFuzzMessenger messenger;
  TMachine m(messenger);
  TTraceChecker trace;
  messenger.Attach(TReceiver::TraceWindow, &trace);
  TCoreStorage& core = m.Core;
  core.SetCoreSize(TCoreStorage::MaxSize);
  core.ClearCore();

  // Core: the input's positions, then (optionally) random codes and word marks up to the end.
  uint16_t address = 1;
  for (char byte : image) {
    if (address >= TCoreStorage::MaxSize) break;
    auto b = static_cast<uint8_t>(byte);
    if (!(b & 0x40)) core.StoreCharWM(address, (b & 0x80) != 0, b & 63);
    ++address;
  }
  if (options & OptRandomFill) {
    TRandom random{Hash(data, size)};
    for (; address < TCoreStorage::MaxSize; ++address) {
      uint32_t r = random.Next();
      core.StoreCharWM(address, (r & 0x300) == 0, static_cast<uint8_t>(r & 63));
    }
  }

  // Devices: a dummy card that never runs out, and tape images made of the same bytes.
  if (options & OptDummyCard) {
    std::string card;
    for (char byte : image.substr(0, 80))
      card += BcdToChar(static_cast<uint8_t>(byte));
    m.ReaderPunch.SetDummyCard(card);
  }
  if (options & OptTapes) {
    m.TapeUnits.SetSaveDirectory(ScratchDir());
    m.TapeUnits.MountTape(1, WriteScratch("core.bcd", image));
    m.TapeUnits.MountTape(2, WriteScratch("core.mt", image));
  }

  // Operator settings, made after core is filled so no stop fires while filling.
  core.UninitializedCheck = (options & OptUninitialized) != 0;
  m.Registers.SenseSwitches = switches & 0x7F;
  if (switches & 0x80) m.Registers.Features = AllFeatures;  // the special features' op codes too
  if (options & OptStops) {
    core.ReadStopAddress = readStop;
    core.WriteStopAddress = writeStop;
    core.WriteStopValue = writeStopValue;
    m.Registers.OpcodeStop = opcodeStop;
    m.Registers.AddressStop = addressStop;
  }
  m.TraceFlags.TraceInstructions = (options & OptTrace) != 0;
  m.TraceFlags.TraceDetails = (options & OptDetails) != 0;
  m.TraceFlags.TraceRegisters = (options & OptDetails) != 0;

  m.Registers.IAR = start;
  messenger.Watch(m, StopAfterShows);
  if (options & OptSteps) {
    for (int step = 0; step < MaxSteps; ++step) {
      m.Registers.State = CpuState::SingleStep;
      m.Cpu.RunWakeup();
      if (m.Registers.State != CpuState::SingleStep) break;
    }
  } else {
    m.Registers.State = CpuState::Running;
    m.Cpu.RunWakeup();
  }
  CheckOutcome(m, messenger, trace);
  return 0;
}
