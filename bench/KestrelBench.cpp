// Processor throughput: runs 1401 programs headless (no trace, Turbo on, no stops, the
// uninitialised-read check off) and prints instructions per second for each workload.
//
//   build/kestrel-bench [scale [workload]]
//
// `scale` (default 1) multiplies the work of every run.  Each workload is timed three times and
// the best run counts.  Rates are per second of processor time, so other work on the machine
// does not lower them; the elapsed time is shown beside it.  The instruction count of a run is not
// guessed: two short traced runs give the fixed and the per-iteration count of the program, and the
// timed run extrapolates from them.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/Messenger.h"
#include "machine/Machine.h"

namespace kestrel::bench {
namespace {

// Three address characters for a value (zones over the hundreds and units for the thousands).
std::string Addr(unsigned value) {
  unsigned low = value % 1000;
  std::string text(3, ' ');
  auto digit = [](unsigned d) { return static_cast<uint8_t>(d == 0 ? Bcd::Zero : d); };
  text[0] = BcdToChar(static_cast<uint8_t>(digit(low / 100) + 16 * (value % 4000 / 1000)));
  text[1] = BcdToChar(digit(low / 10 % 10));
  text[2] = BcdToChar(static_cast<uint8_t>(digit(low % 10) + 16 * (value / 4000)));
  return text;
}

std::string Op(char code, unsigned a) {
  return code + Addr(a);
}
std::string Op(char code, unsigned a, unsigned b) {
  return code + Addr(a) + Addr(b);
}
std::string Op(char code, unsigned a, unsigned b, char d) {
  return Op(code, a, b) + d;
}
std::string Number(unsigned value, int digits) {
  std::string text(static_cast<size_t>(digits), '0');
  for (int i = digits - 1; i >= 0 && value != 0; --i, value /= 10) {
    text[static_cast<size_t>(i)] = static_cast<char>('0' + value % 10);
  }
  return text;
}

// A machine with a program in core, ready to run from `Start`.
struct TBenchMachine {
  TInlineMessenger Messenger;
  TMachine M{Messenger};
  uint16_t Next = 0;
  uint16_t Start = 0;

  TBenchMachine() {
    M.Core.ClearCore();
    M.Core.UninitializedCheck = false;
    M.Registers.TurboMode = true;
  }

  // Places one instruction at the next position: a word mark on its op code.
  uint16_t Put(const std::string& instruction) {
    uint16_t address = Next;
    for (size_t i = 0; i < instruction.size(); ++i) {
      M.Core.StoreCharWM(Next++, i == 0, CharToBcd(instruction[i]));
    }
    M.Core.StoreCharWM(Next, true, Bcd::Blank);  // where the fetch of the last one ends
    return address;
  }

  // A field whose units position is `units`, with its word mark on the high-order position.
  void Field(uint16_t units, const std::string& text) {
    uint16_t address = static_cast<uint16_t>(units - text.size() + 1);
    for (size_t i = 0; i < text.size(); ++i) {
      M.Core.StoreCharWM(address++, i == 0, CharToBcd(text[i]));
    }
  }

  std::string Text(uint16_t units, int count) {
    std::string text;
    for (int i = count - 1; i >= 0; --i)
      text += BcdToChar(M.Core.ReadChar(units - i));
    return text;
  }

  // Runs to the program's halt; false (with the stop message printed) on anything else.  A run
  // that has not halted after two minutes is stopped as the operator would.
  bool Run() {
    M.Registers.IAR = Start;
    M.Registers.State = CpuState::Running;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::thread watchdog([&] {
      std::unique_lock lock(mutex);
      if (!done.wait_for(lock, std::chrono::minutes(2), [&] { return finished; })) {
        M.Registers.State = CpuState::OperatorHalt;
      }
    });
    M.Cpu.RunWakeup();
    {
      std::lock_guard lock(mutex);
      finished = true;
    }
    done.notify_one();
    watchdog.join();
    Messenger.DrainPosts();
    if (M.Registers.State != CpuState::ProgramHalt) {
      std::fprintf(stderr, "run ended in \"%s\": %s\n", StateText(M.Registers.State),
                   M.Registers.StopMessage.Get().c_str());
      return false;
    }
    return true;
  }
};

using TBuilder = std::function<void(TBenchMachine&, unsigned iterations)>;

// ---- mix: the common instructions in one loop ----

constexpr uint16_t MixCounter = 330;

void BuildMix(TBenchMachine& b, unsigned iterations) {
  b.Field(305, "12345");
  b.Field(315, "00000");
  b.Field(320, "1");
  b.Field(MixCounter, Number(iterations, 8));
  b.Field(340, "0000000?");  // the counter's zero: a subtract leaves the plus zone on it
  b.Field(351, "00,120");
  b.Field(361, "      ");
  b.Field(370, "5");
  b.Field(371, "5");
  b.Field(375, "001");
  b.Field(378, "000");
  b.Field(385, "     ");
  b.Field(396, "      ");
  b.Next = 500;
  b.Start = 500;
  uint16_t loop = b.Next;
  b.Put(Op('M', 305, 315));       // MCW
  b.Put(Op('L', 305, 385));       // LCA
  b.Put(Op('A', 305, 315));       // A, true add
  b.Put(Op('S', 305, 315));       // S, complement add
  b.Put(Op('?', 305, 396));       // ZA into a longer field
  b.Put(Op('Z', 351, 361));       // MCS
  b.Put(Op(',', 370));            // SW
  b.Put(Op('o', 370));            // CW
  b.Put(Op('#', 375, 378));       // MA
  b.Put(Op('B', 500, 370, 'X'));  // branch if character equal: not taken
  b.Put(Op('V', 500, 371, 'K'));  // BWZ on a B zone: not taken
  b.Put(Op('C', 305, 385));       // C: equal, the LCA copy
  b.Put(Op('B', 500) + 'T');      // branch if low: not taken
  b.Put(Op('S', 320, MixCounter));
  b.Put(Op('C', 340, MixCounter));
  b.Put(Op('B', loop) + '/');  // branch if unequal: the loop
  b.Put(".");
}

// ---- decimal: powers of two by repeated doubling of a 200-digit field ----

constexpr int PowerDigits = 200;
constexpr int Doublings = 600;  // 2^600 has 181 digits
constexpr uint16_t Power = 399;
constexpr uint16_t Inner = 410;
constexpr uint16_t Outer = 420;

void BuildDecimal(TBenchMachine& b, unsigned iterations) {
  b.Field(Power, std::string(PowerDigits, '0'));
  b.Field(Inner, "000");
  b.Field(Outer, Number(iterations, 8));
  b.Field(430, "1");
  b.Field(433, Number(Doublings, 3));
  b.Field(436, "00?");
  b.Field(444, "0000000?");
  b.Next = 500;
  b.Start = 500;
  uint16_t outer = b.Put(Op('?', 430, Power));  // the power starts at 1
  b.Put(Op('?', 433, Inner));
  uint16_t inner = b.Put(Op('A', Power));  // doubles the whole field in place
  b.Put(Op('S', 430, Inner));
  b.Put(Op('C', 436, Inner));
  b.Put(Op('B', inner) + '/');
  b.Put(Op('S', 430, Outer));
  b.Put(Op('C', 444, Outer));
  b.Put(Op('B', outer) + '/');
  b.Put(".");
}

// 2^Doublings in decimal, high-order first, as many digits as the field, as core shows it: the
// units position carries the plus sign (the AB zone) that ZA gave the field.
std::string ExpectedPower() {
  std::vector<int> digits(PowerDigits, 0);  // units first
  digits[0] = 1;
  for (int n = 0; n < Doublings; ++n) {
    int carry = 0;
    for (int& d : digits) {
      int v = d * 2 + carry;
      d = v % 10;
      carry = v / 10;
    }
  }
  std::string text;
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    text += static_cast<char>('0' + *it);
  }
  text.back() = BcdToChar(static_cast<uint8_t>(CharToBcd(text.back()) | Bcd::ZoneMask));
  return text;
}

// ---- Measuring ----

struct TCount {
  double Fixed = 0;
  double PerIteration = 0;
  double For(unsigned iterations) const { return Fixed + PerIteration * iterations; }
};

// Instructions executed, counted from the trace of two short runs.
TCount CountInstructions(const TBuilder& build) {
  auto traced = [&](unsigned iterations) {
    TBenchMachine b;
    build(b, iterations);
    b.M.TraceFlags.TraceInstructions = true;
    if (!b.Run()) std::exit(1);
    size_t count = 0;
    for (const std::string& line : b.M.TraceLog.Lines()) {
      if (line.size() > 1 && line[0] == 'I' && line[1] != ' ') ++count;
    }
    return static_cast<double>(count);
  };
  double two = traced(2);
  double three = traced(3);
  return {two - 2 * (three - two), three - two};
}

struct TTiming {
  double Seconds = 0;      // processor time of the run: what one core spent on it
  double WallSeconds = 0;  // elapsed time, which other work on the machine stretches
  std::unique_ptr<TBenchMachine> Machine;
};

// Best of three runs.
TTiming Time(const TBuilder& build, unsigned iterations, uint16_t readStop = 0,
             const char* breakpoint = nullptr) {
  TTiming best;
  for (int run = 0; run < 3; ++run) {
    auto b = std::make_unique<TBenchMachine>();
    build(*b, iterations);
    b->M.Core.ReadStopAddress = readStop;
    if (breakpoint != nullptr) {
      std::string error;
      if (b->M.Debugger.AddBreakpoint(breakpoint, error) == 0) std::exit(1);
    }
    auto wallBegin = std::chrono::steady_clock::now();
    std::clock_t begin = std::clock();
    if (!b->Run()) std::exit(1);
    double seconds = static_cast<double>(std::clock() - begin) / CLOCKS_PER_SEC;
    double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBegin).count();
    if (best.Machine == nullptr || seconds < best.Seconds) {
      best.Seconds = seconds;
      best.WallSeconds = wall;
      best.Machine = std::move(b);
    }
  }
  return best;
}

}  // namespace
}  // namespace kestrel::bench

int main(int argc, char** argv) {
  using namespace kestrel::bench;
  double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
  std::string only = argc > 2 ? argv[2] : "";
  if (!(scale > 0) || (only != "" && only != "mix" && only != "decimal")) {
    std::fprintf(stderr,
                 "usage: kestrel-bench [scale [mix|decimal]]   (scale > 0, default 1: all)\n");
    return 2;
  }

  if (only != "decimal") {
    unsigned iterations = static_cast<unsigned>(1000000 * scale);
    TCount count = CountInstructions(BuildMix);
    TTiming plain = Time(BuildMix, iterations);
    // A read stop on a position the program never touches must cost next to nothing.
    TTiming stopped = Time(BuildMix, iterations, 7999);
    double instructions = count.For(iterations);
    std::printf("mix: %.0f instructions/s\n", instructions / plain.Seconds);
    std::printf(
        "  %.0f instructions (%.0f per loop) in %.3f s of processor time (%.3f s elapsed), "
        "%.1f ns per instruction\n",
        instructions, count.PerIteration, plain.Seconds, plain.WallSeconds,
        1e9 * plain.Seconds / instructions);
    std::printf("  with a core read stop at 07999: %.0f instructions/s (%+.1f %% time)\n",
                instructions / stopped.Seconds, 100.0 * (stopped.Seconds / plain.Seconds - 1));
    // A debugger breakpoint on an address the program never reaches.
    TTiming broken = Time(BuildMix, iterations, 0, "7999");
    std::printf("  with a breakpoint at 07999: %.0f instructions/s (%+.1f %% time)\n",
                instructions / broken.Seconds, 100.0 * (broken.Seconds / plain.Seconds - 1));
    std::fflush(stdout);
  }

  if (only != "mix") {
    unsigned iterations = static_cast<unsigned>(200 * scale);
    if (iterations == 0) iterations = 1;
    TCount count = CountInstructions(BuildDecimal);
    TTiming plain = Time(BuildDecimal, iterations);
    double instructions = count.For(iterations);
    double additions = static_cast<double>(iterations) * Doublings;
    std::string power = plain.Machine->Text(Power, PowerDigits);
    bool ok = power == ExpectedPower();
    std::printf("decimal: %.0f instructions/s\n", instructions / plain.Seconds);
    std::printf("  %.0f additions of %d digits in %.3f s: %.0f digit positions/s, 2^%d %s\n",
                additions, PowerDigits, plain.Seconds, additions * PowerDigits / plain.Seconds,
                Doublings, ok ? "correct" : "WRONG");
    if (!ok) return 1;
  }
  return 0;
}
