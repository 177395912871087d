#include "batch/KestBatch.h"

#include "devices/TapeFormats.h"

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <ostream>
#include <sstream>

#include "assembler/Autocoder.h"
#include "devices/TapeFormats.h"
#include "machine/Machine.h"

namespace kestrel {

namespace {

// Lines inside a message are separated by a carriage return; on a terminal each is a line.
std::string TextLines(const std::string& message) {
  std::string text = message;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') {
        text.erase(i, 1);
      } else {
        text[i] = '\n';
      }
    }
  }
  return text;
}

bool ParseLong(const std::string& text, long& value) {
  if (text.empty() || text.size() > 9) return false;
  size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
  if (i >= text.size()) return false;
  long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  value = text[0] == '-' ? -v : v;
  return true;
}

bool ParseSeconds(const std::string& text, double& value) {
  if (text.empty()) return false;
  size_t used = 0;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
    return false;
  }
  return used == text.size() && std::isfinite(value) && value > 0 && value <= 1e9;
}

// The smallest core of a 1401.
constexpr long MinCoreSize = 1400;

const char* const TraceNames[] = {"instructions", "details", "registers", "scripts", "threads"};

// The panel's stop fields by the names --stop gives them, in the order of TStopField.
const char* const StopNames[] = {"address", "read", "write", "value", "opcode"};

// "FIELD=TEXT": the field's index and the text the operator would type (five digits at most for
// an address, one character for the value and the op code).
bool ParseStop(const std::string& text, std::pair<int, std::string>& stop) {
  size_t equals = text.find('=');
  if (equals == std::string::npos) return false;
  const std::string name = text.substr(0, equals);
  const std::string value = text.substr(equals + 1);
  for (int field = 0; field < 5; ++field) {
    if (name != StopNames[field]) continue;
    if (field <= SFCoreWrite) {
      if (value.empty() || value.size() > 5) return false;
      for (char c : value)
        if (c < '0' || c > '9') return false;
    } else if (value.size() > 1) {
      return false;
    }
    stop = {field, value};
    return true;
  }
  return false;
}

// Output of several threads, one message at a time.
class TBatchOutput {
 public:
  TBatchOutput(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
  void Out(const std::string& text) {
    std::lock_guard lock(mutex_);
    out_ << TextLines(text) << '\n' << std::flush;
  }
  void Err(const std::string& text) {
    std::lock_guard lock(mutex_);
    err_ << TextLines(text) << '\n' << std::flush;
  }

 private:
  std::mutex mutex_;
  std::ostream& out_;
  std::ostream& err_;
};

// The front panel without a window: errors it would show in a box go to standard error.
// With --show-stops each stop of the processor is a line on standard output: the status line
// and the registers as the panel shows them.
class TBatchConsoleView : public IConsoleView {
 public:
  TBatchConsoleView(TMachine& machine, TBatchOutput& output, bool showStops)
      : machine_(machine), output_(output), showStops_(showStops) {}
  void ShowError(const std::string& message) override { output_.Err("Error: " + message); }
  void ProcessorStopped() override {
    if (!showStops_) return;
    const TRegisters& r = machine_.Registers;
    output_.Out("Stop: " + machine_.Console.StatusText() + " (IAR " + Addr5(r.IAR) + " AAR " +
                Addr5(r.AAR) + " BAR " + Addr5(r.BAR) + ")");
  }

 private:
  TMachine& machine_;
  TBatchOutput& output_;
  bool showStops_;
};

// The script message window as text: the lines are printed; Continue is pressed at once, an
// option is chosen by the next --answer, and anything else is a Cancel, which ends the whole
// chain (nothing could wake a suspended caller again).
class TBatchDisplayView : public IScriptDisplayView {
 public:
  TBatchDisplayView(TMachine& machine, TBatchOutput& output, std::deque<long> answers)
      : machine_(machine), output_(output), answers_(std::move(answers)) {}

  void DisplayShown() override {
    TScriptDisplay& display = machine_.ScriptDisplay;
    for (const std::string& line : display.TextLines())
      output_.Out(line);
    if (display.ContinueShown()) {
      display.Continue();
      return;
    }
    if (!answers_.empty()) {
      long answer = answers_.front();
      answers_.pop_front();
      if (answer >= 1 && answer <= display.OptionCount()) {
        output_.Out("Answer: " + std::to_string(answer));
        display.ChooseOption(static_cast<int>(answer));
        return;
      }
    }
    output_.Out("Cancelled");
    Cancelled = true;
    display.Cancel();
    machine_.Script.ClearScripts();
  }
  void DisplayHidden() override {}

  bool Cancelled = false;

 private:
  TMachine& machine_;
  TBatchOutput& output_;
  std::deque<long> answers_;
};

}  // namespace

std::string ParseCommandLine(const std::vector<std::string>& args, TCommandLine& line) {
  bool batchOnly = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& v) {
      if (i + 1 >= args.size()) return false;
      v = args[++i];
      return true;
    };
    std::string v;
    if (a == "--batch") {
      line.Batch = true;
    } else if (a == "--help" || a == "-h") {
      line.Help = true;
    } else if (a == "--version") {
      line.Version = true;
    } else if (a == "--answer") {
      long n = 0;
      if (!value(v) || !ParseLong(v, n)) return "--answer needs a number";
      line.Answers.push_back(n);
      batchOnly = true;
    } else if (a == "--max-seconds") {
      if (!value(v) || !ParseSeconds(v, line.MaxSeconds)) {
        return "--max-seconds needs a number of seconds greater than 0";
      }
      batchOnly = true;
    } else if (a == "--trace") {
      if (!value(v)) return "--trace needs a list such as instructions,scripts";
      size_t start = 0;
      while (start <= v.size()) {
        size_t comma = v.find(',', start);
        std::string name =
            v.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        bool known = false;
        for (const char* t : TraceNames)
          known = known || name == t;
        if (!known) {
          return "unknown trace \"" + name +
                 "\" (use instructions, details, registers, scripts, threads)";
        }
        line.Trace.push_back(name);
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
      batchOnly = true;
    } else if (a == "--features") {
      if (!value(v)) return "--features needs a list such as all or multiply-divide,move-record";
      if (std::string wrong = ParseFeatureList(v, line.Features); !wrong.empty()) return wrong;
      line.FeaturesGiven = true;
      batchOnly = true;
    } else if (a == "--stop") {
      std::pair<int, std::string> stop;
      if (!value(v) || !ParseStop(v, stop)) {
        return "--stop needs address=N, read=N, write=N (N up to five digits), value=C or "
               "opcode=C";
      }
      line.Stops.push_back(stop);
      batchOnly = true;
    } else if (a == "--show-stops") {
      line.ShowStops = true;
      batchOnly = true;
    } else if (a == "--log") {
      if (!value(v) || v.empty()) return "--log needs a file name";
      line.LogFile = v;
      batchOnly = true;
    } else if (a == "--deck") {
      if (!value(line.Deck) || line.Deck.empty()) return "--deck needs a card file";
    } else if (a == "--carriage") {
      if (!value(line.Carriage) || line.Carriage.empty())
        return "--carriage needs a carriage tape file";
    } else if (a == "--form-feeds") {
      line.FormFeeds = true;
    } else if (a == "--tape") {
      if (!value(line.Tape) || line.Tape.empty()) return "--tape needs a tape image";
    } else if (a == "--mount") {
      if (!value(v) || v.size() < 3 || v[0] < '1' || v[0] > '6' || v[1] != '=') {
        return "--mount needs a drive and a tape image: N=REEL, N from 1 to 6";
      }
      line.Mounts.emplace_back(v[0] - '0', v.substr(2));
    } else if (a == "--tape-parity") {
      line.TapeParity = true;
    } else if (a == "--chain") {
      if (!value(v) || (v != "a" && v != "A" && v != "h" && v != "H")) {
        return "--chain needs a print chain: a (commercial) or h (FORTRAN)";
      }
      line.Chain = static_cast<char>(std::toupper(static_cast<unsigned char>(v[0])));
    } else if (a == "--convert") {
      std::string in;
      std::string out;
      if (!value(in) || !value(out) || in.empty() || out.empty()) {
        return "--convert needs a tape image and the file to write";
      }
      line.Convert = {in, out};
    } else if (a == "--charset") {
      if (!value(line.Charset) || FindCharConvention(line.Charset) == nullptr) {
        return "--charset needs a character convention: " + CharConventionNames();
      }
    } else if (a == "--core") {
      if (!value(v) || !ParseLong(v, line.CoreSize) || line.CoreSize < MinCoreSize ||
          line.CoreSize > TCoreStorage::MaxSize) {
        return "--core needs a core size from " + std::to_string(MinCoreSize) + " to " +
               std::to_string(TCoreStorage::MaxSize);
      }
    } else if (a == "--assemble") {
      if (!value(line.Assemble) || line.Assemble.empty()) return "--assemble needs a source file";
    } else if (a == "--run") {
      if (!value(line.RunSource) || line.RunSource.empty()) return "--run needs a source file";
    } else if (a == "--symbols") {
      if (!value(v) || v.empty()) return "--symbols needs a listing or a NAME ADDRESS file";
      line.SymbolFiles.push_back(v);
    } else if (a == "--break") {
      if (!value(v) || v.empty()) return "--break needs an address or a label";
      line.Breaks.push_back(v);
    } else if (a == "--watch") {
      if (!value(v) || v.empty()) return "--watch needs a range FROM-TO";
      line.Watches.push_back(v);
    } else if (a == "--history") {
      line.History = true;
      batchOnly = true;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return "unknown option " + a;
    } else {
      if (!line.Arguments.empty()) return "only one script can be given";
      line.Arguments.push_back(a);
    }
  }
  if (!line.Deck.empty() && !line.Arguments.empty()) {
    return "--deck boots a deck in place of a script: give one or the other";
  }
  if (!line.Tape.empty() &&
      (!line.Deck.empty() || !line.Arguments.empty() || !line.RunSource.empty())) {
    return "--tape boots a reel in place of a script or a deck: give one of them";
  }
  if (!line.Convert.empty() &&
      (!line.Tape.empty() || !line.Deck.empty() || !line.Arguments.empty() ||
       !line.RunSource.empty() || !line.Assemble.empty() || line.Batch)) {
    return "--convert only converts: give nothing else with it";
  }
  if (!line.Assemble.empty() &&
      (!line.RunSource.empty() || !line.Deck.empty() || !line.Arguments.empty())) {
    return "--assemble only assembles: give no script, --deck or --run with it";
  }
  if (!line.RunSource.empty() && (!line.Deck.empty() || !line.Arguments.empty())) {
    return "--run boots the assembled deck in place of a script: give no script or --deck";
  }
  if (batchOnly && !line.Batch && !line.Help && !line.Version) {
    return "--answer, --max-seconds, --trace, --features, --stop, --show-stops, --log and "
           "--history belong to --batch";
  }
  return {};
}

TBootOptions BootOptions(const TCommandLine& line) {
  TBootOptions options;
  options.CoreSize = static_cast<uint16_t>(line.CoreSize);
  options.Convention = FindCharConvention(line.Charset);
  options.Deck = line.Deck;
  options.CarriageTape = line.Carriage;
  options.FormFeeds = line.FormFeeds;
  options.Tape = line.Tape;
  options.Chain = line.Chain;
  options.TapeParity = line.TapeParity;
  options.Mounts = line.Mounts;
  return options;
}

std::string UsageText() {
  return "Usage: kestrel [SCRIPT | --deck FILE | --run SOURCE | --tape REEL] [--charset NAME]\n"
         "               [--core N] [--carriage FILE] [--form-feeds] [--chain a|h]\n"
         "               [--mount N=REEL]... [--tape-parity]\n"
         "       kestrel --batch [SCRIPT | --deck FILE | --run SOURCE | --tape REEL]\n"
         "               [--charset NAME] [--core N] [--carriage FILE] [--form-feeds]\n"
         "               [--chain a|h] [--mount N=REEL]... [--tape-parity]\n"
         "               [--answer N]... [--max-seconds S] [--trace LIST] [--stop FIELD=V]...\n"
         "               [--show-stops] [--features LIST] [--log FILE] [--history]\n"
         "       (either) [--symbols FILE]... [--break SPEC]... [--watch FROM-TO]...\n"
         "       kestrel --assemble SOURCE [--charset NAME] [--core N]\n"
         "       kestrel --convert IN OUT\n"
         "\n"
         "Without --batch the emulator opens its windows and runs SCRIPT (an OCL script),\n"
         "else the start-up script named in its initialisation file (PowerOn.OCL).\n"
         "\n"
         "  --batch          run without windows: the same start-up, text instead of windows\n"
         "  --deck FILE      boot a card deck: into the reader, Load, Start (no script)\n"
         "  --tape REEL      boot a tape: mount it on drive 1, Tape Load, Start (no script)\n"
         "  --mount N=REEL   mount a tape image on drive N (1-6) before the job, over\n"
         "                   [Tapes] TapeN= of the initialisation file (repeatable)\n"
         "  --tape-parity    every drive notes the bad parity bits (bit 6) of a .tap reel as\n"
         "                   a tape error; without it that bit is ignored, as some writers\n"
         "                   leave it clear ([Tapes] CheckParity=1, SET PARITY TAPEn ON)\n"
         "  (script)         SET READER WAIT ON: a read at an empty hopper stops at its\n"
         "                   instruction, as the real reader does, and Start reads the cards\n"
         "                   put in; off (the start), the empty hopper is a machine check\n"
         "  --convert IN OUT  write the tape image IN as OUT, each in the layout its name\n"
         "                   says (.tap, .p7b, .mt, else .bcd); nothing is run\n"
         "  --charset NAME   read card files in a character convention, not as the\n"
         "                   character-map control file says: " +
         CharConventionNames() +
         "\n"
         "  --core N         core storage of N positions (1400 to 16000)\n"
         "  --carriage FILE  the printer's carriage tape (a text file: one line per form line,\n"
         "                   the channels 1-12 punched in it); without one the carriage\n"
         "                   spaces a line per channel number, as it always has\n"
         "  --form-feeds     with a carriage tape, a form feed in the print file before the\n"
         "                   first line of each page after the first\n"
         "  --chain a|h      the printer's print chain: a, commercial (the start), or h,\n"
         "                   FORTRAN (# @ % & and the lozenge print as = ' ( + and ))\n"
         "  --assemble SOURCE  assemble an Autocoder source into SOURCE.cd (a self-loading\n"
         "                   deck in the --charset convention, Pierce A by default) and\n"
         "                   SOURCE.lst (the listing), beside it; nothing is run\n"
         "  --run SOURCE     assemble it as --assemble does, then boot its deck as --deck\n"
         "  --answer N       the option to choose at the next DISPLAY that offers options\n"
         "                   (repeatable, used in order; none left: Cancel)\n"
         "  --max-seconds S  stop the machine and end after S seconds\n"
         "  --trace LIST     trace from the start: instructions, details, registers, scripts,\n"
         "                   threads (comma-separated)\n"
         "  --features LIST  the special features for this run instead of those of the\n"
         "                   initialisation file: all, none, or some of multiply-divide,\n"
         "                   move-record, bit-test, expanded-print-edit, binary-code,\n"
         "                   print-storage (comma-separated)\n"
         "  --stop FIELD=V   set a stop field of the front panel before the job starts:\n"
         "                   address=N, read=N, write=N (core read and write stops),\n"
         "                   value=C (the write stop's character), opcode=C\n"
         "  --show-stops     print each stop of the processor: the status line, IAR, AAR, BAR\n"
         "  --log FILE       write the trace list to FILE at exit\n"
         "  --symbols FILE   load labels for the debugger: an SPS listing, the assembler's\n"
         "                   listing or NAME ADDRESS lines (a --run source's come by itself)\n"
         "  --break SPEC     stop before the instruction at an address or label (START+4),\n"
         "                   or OP C[D], or IF CONDITION; then COUNT N, PRINT, DUMP A-B, GO\n"
         "  --watch FROM-TO  stop when a core range is written ([READ|WRITE|ACCESS] after it,\n"
         "                   ARM ADDRESS: from when that instruction is reached; a --run\n"
         "                   program's watches begin at its start)\n"
         "  --history        keep the last instructions ([Debugger] History=N of the\n"
         "                   initialisation file, 1000 when not set) and print the last 20\n"
         "                   to standard error when the run ends in a machine check, a\n"
         "                   failed IARCHECK, a script error or --max-seconds\n"
         "  --help, --version\n"
         "\n"
         "DISPLAY lines and failed IARCHECK reports go to standard output; script errors\n"
         "(\"Error: ...\") and device errors to standard error.  The printed lines are written to\n"
         "Kestrel.PRN in the current directory as they are printed.\n"
         "Exit status: 0 all well; 1 a failed IARCHECK, a script error or a Cancel; 2 a bad\n"
         "command line; 3 --max-seconds ended the run.\n";
}

namespace {
TAsmOptions AssemblyOptions(const TCommandLine& line) {
  TAsmOptions options;
  if (const TCharConvention* c = FindCharConvention(line.Charset)) options.Convention = c;
  options.CoreSize = static_cast<int>(line.CoreSize);
  return options;
}
}  // namespace

int RunAssemble(const TCommandLine& line, std::ostream& out, std::ostream& err) {
  std::string deck;
  TAssembly assembly;
  const std::string error = AssembleFile(line.Assemble, AssemblyOptions(line), deck, assembly);
  if (!error.empty()) {
    err << TextLines(error) << (error.back() == '\n' ? "" : "\n");
    return BSFailed;
  }
  out << line.Assemble << ": " << assembly.Deck.size() << " cards in " << deck << ", start "
      << assembly.StartAddress << "\n";
  return BSOk;
}

int RunConvert(const TCommandLine& line, std::ostream& out, std::ostream& err) {
  try {
    const size_t records = ConvertImageFile(line.Convert[0], line.Convert[1]);
    out << line.Convert[0] << ": " << records << " records written to " << line.Convert[1] << " ("
        << FormatName(FormatForName(line.Convert[1], IFBCD)) << ")\n";
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return BSFailed;
  }
  return BSOk;
}

bool PrepareRun(TCommandLine& line, std::ostream& err) {
  std::string deck;
  TAssembly assembly;
  const std::string error = AssembleFile(line.RunSource, AssemblyOptions(line), deck, assembly);
  if (!error.empty()) {
    err << TextLines(error) << (error.back() == '\n' ? "" : "\n");
    return false;
  }
  line.Deck = deck;
  line.SymbolsText = assembly.Listing;
  line.RunStart = assembly.StartAddress;
  if (line.Charset.empty()) line.Charset = std::string(CharConventions[0].Name);
  return true;
}

std::string ApplyDebugOptions(const TCommandLine& line, TMachine& machine, uint16_t coreLimit) {
  TDebugger& debugger = machine.Debugger;
  if (!line.SymbolsText.empty()) {
    if (std::string error = debugger.LoadSymbolText(line.SymbolsText); !error.empty())
      return "the listing of " + line.RunSource + ": " + error;
  }
  for (const std::string& file : line.SymbolFiles) {
    if (std::string error = debugger.LoadSymbols(file); !error.empty()) return "--symbols " + error;
  }
  std::string error;
  for (const std::string& spec : line.Breaks) {
    if (debugger.AddBreakpoint(spec, error, coreLimit) == 0)
      return "--break " + spec + ": " + error;
  }
  for (const std::string& spec : line.Watches) {
    // A --run program's watch begins at its start, after the loader's stores.
    std::string armed = spec;
    if (line.RunStart > 0 && spec.find(" ARM ") == std::string::npos &&
        spec.find(" arm ") == std::string::npos)
      armed += " ARM " + std::to_string(line.RunStart);
    if (debugger.AddWatchpoint(armed, error, coreLimit) == 0)
      return "--watch " + spec + ": " + error;
  }
  return {};
}

int RunBatch(const TCommandLine& line, const std::string& programPath, std::ostream& out,
             std::ostream& err) {
  using Clock = std::chrono::steady_clock;
  TBatchOutput output(out, err);
  TThreadedMessenger messenger;
  messenger.BecomeGuiThread();
  // A message the GUI would show in an error box; the request returns as after the box.
  messenger.SetErrorReporter([&](const std::string& message) { output.Err(message); });

  int status = BSOk;
  {
    TMachine machine(messenger);
    machine.Start(IniFileName(programPath));
    if (line.FeaturesGiven) machine.Config.OverrideFeatures(line.Features);
    machine.Printer.KeepPrintFile();
    TBatchConsoleView consoleView(machine, output, line.ShowStops);
    machine.Console.SetView(&consoleView);
    TBatchDisplayView displayView(machine, output,
                                  std::deque<long>(line.Answers.begin(), line.Answers.end()));
    machine.ScriptDisplay.SetView(&displayView);
    machine.Script.SetErrorBox(
        [&](const std::string& message) { output.Err("Error: " + message); });
    for (const std::string& name : line.Trace) {
      TTraceFlags& f = machine.TraceFlags;
      if (name == "instructions") f.TraceInstructions = true;
      if (name == "details") f.TraceDetails = true;
      if (name == "registers") f.TraceRegisters = true;
      if (name == "scripts") f.TraceScripts = true;
      if (name == "threads") f.TraceThreads = true;
    }
    for (const auto& [field, text] : line.Stops)
      machine.Console.SetStopField(static_cast<TStopField>(field), text);
    // The job may set its core size later: addresses up to the one given, else the largest.
    const uint16_t coreLimit =
        static_cast<uint16_t>(line.CoreSize > 0 ? line.CoreSize : TCoreStorage::MaxSize);
    if (std::string error = ApplyDebugOptions(line, machine, coreLimit); !error.empty()) {
      output.Err(error);
      machine.Stop();
      machine.Console.SetView(nullptr);
      machine.ScriptDisplay.SetView(nullptr);
      return BSBadCommand;
    }
    machine.Debugger.SetOutput([&](const std::string& text) { output.Err(text); });
    if (line.History) machine.Debugger.SetHistorySize(machine.ConfiguredHistory);

    const Clock::time_point started = Clock::now();
    const auto limit = std::chrono::duration<double>(line.MaxSeconds);
    auto timeUp = [&] { return line.MaxSeconds > 0 && Clock::now() - started >= limit; };

    machine.Console.SetBootOptions(BootOptions(line));
    TScriptStart start = machine.Console.FirstActivation(line.Arguments);
    if (start == TScriptStart::NoScript && line.Arguments.empty()) {
      output.Err("No start-up script: " + (machine.Config.StartupScript().empty()
                                               ? std::string("none configured")
                                               : machine.Config.StartupScript() + " not found"));
    }

    // The job ends when no script is current and the processor is stopped.
    auto finished = [&] {
      return !machine.Script.HasCurrentScript() && machine.Script.Sleeping() &&
             machine.Console.ProcessorIdle();
    };
    bool timedOut = false;
    messenger.ProcessUntil([&] {
      machine.Printer.FlushPrintFile();
      if (finished()) return true;
      timedOut = timeUp();
      return timedOut;
    });

    if (timedOut) {
      if (machine.Registers.State == CpuState::Running) {
        machine.Console.PBStopClick();  // as the Stop button would
        const Clock::time_point stopped = Clock::now();
        messenger.ProcessUntil([&] {
          return machine.Console.ProcessorIdle() ||
                 Clock::now() - stopped > std::chrono::seconds(2);
        });
      }
      std::ostringstream seconds;
      seconds << line.MaxSeconds;
      output.Err("Time limit of " + seconds.str() +
                 " seconds reached; the machine was stopped: " + machine.Console.StatusText());
      status = BSTimeLimit;
      if (!machine.Console.ProcessorIdle()) {
        // An instruction that never ends: the processor thread cannot be joined, so the run
        // ends here, with the print file as far as it was printed.
        machine.Printer.FlushPrintFile();
        output.Err("The processor did not stop within 2 seconds; ending without it");
        out.flush();
        err.flush();
        std::_Exit(BSTimeLimit);
      }
    }
    // The processor traces its suspension after it has posted the stop: the log keeps that
    // line too once the thread sleeps.
    const Clock::time_point ended = Clock::now();
    messenger.ProcessUntil(
        [&] { return machine.Cpu.Sleeping() || Clock::now() - ended > std::chrono::seconds(2); });
    messenger.ProcessPending();
    // A booted deck has no script to report on: where the machine stopped tells how it went.
    if ((!line.Deck.empty() || !line.Tape.empty()) && start == TScriptStart::Started) {
      output.Out(machine.Console.StatusText());
    }
    if (const std::string stop = machine.Debugger.LastStop(); !stop.empty()) {
      output.Out("Debugger stop: " + stop);
    }
    // Where it went wrong: the last instructions.
    const bool wrong = timedOut || machine.Registers.State == CpuState::MachineCheck ||
                       machine.Script.ScriptErrors > 0 || machine.Script.FailedChecks > 0;
    if (line.History && wrong) {
      std::vector<std::string> last = machine.Debugger.HistoryText(TDebugger::HeadlessHistoryLines);
      output.Err(last.empty() ? std::string("History: off or empty")
                              : "History (the last " + std::to_string(last.size()) +
                                    " instructions, the registers after each):");
      for (const std::string& entry : last)
        output.Err("  " + entry);
    }

    // Program exit; mounted tape images are discarded with the machine.
    machine.Stop();

    if (!line.LogFile.empty()) {
      try {
        machine.TraceLog.Save(line.LogFile);
      } catch (const std::exception& e) {
        output.Err(e.what());
        if (status == BSOk) status = BSFailed;
      }
    }
    if (status == BSOk && (start == TScriptStart::Failed || machine.Script.ScriptErrors > 0 ||
                           machine.Script.FailedChecks > 0 || displayView.Cancelled)) {
      status = BSFailed;
    }
    machine.Console.SetView(nullptr);
    machine.ScriptDisplay.SetView(nullptr);
  }
  return status;
}

}  // namespace kestrel
