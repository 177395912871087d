// The headless front end: `kestrel --batch [SCRIPT]` runs the same start-up as the windows
// (core size 8000, the character-map control file, system reset, configuration, start-up
// script) with no window; the calling thread plays the GUI thread.  What an operator would see
// or answer becomes text on standard output and standard error.
#pragma once

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "core/Features.h"
#include "machine/KestMain.h"

namespace kestrel {

inline constexpr const char* KestrelVersion = "0.1";

// Exit statuses of the batch front end.
enum TBatchStatus : int {
  BSOk = 0,          // every IARCHECK matched, no script ended in an error or a Cancel
  BSFailed = 1,      // a failed IARCHECK, a script error, a Cancel, a script that cannot load
  BSBadCommand = 2,  // a bad command line
  BSTimeLimit = 3,   // --max-seconds ended the run
};

struct TCommandLine {
  bool Batch = false;
  bool Help = false;
  bool Version = false;
  std::vector<std::string> Arguments;  // the script (at most one)
  std::vector<long> Answers;           // --answer N, in order
  double MaxSeconds = 0;               // 0: no limit
  std::vector<std::string> Trace;      // --trace names
  std::string LogFile;                 // --log FILE
  bool ShowStops = false;              // --show-stops
  // --stop FIELD=TEXT: a front panel stop field set before the start-up script runs.
  std::vector<std::pair<int, std::string>> Stops;
  std::string Deck;            // --deck FILE: boot it instead of running a script
  std::string Carriage;        // --carriage FILE: the printer's carriage tape
  bool FormFeeds = false;      // --form-feeds: a form feed in the print file at each page
  std::string Charset;         // --charset NAME: the convention card files are read in
  long CoreSize = 0;           // --core N: positions of core storage (0: as configured)
  bool FeaturesGiven = false;  // --features LIST: these instead of the file's
  TFeatureSet Features = 0;
  std::string Assemble;     // --assemble FILE: an Autocoder source to assemble, nothing run
  std::string RunSource;    // --run FILE: assemble it, then boot its deck as --deck does
  std::string Tape;         // --tape REEL: mount it on drive 1, Tape Load, Start (no script)
  char Chain = 0;           // --chain a|h: the printer's print chain ('A' or 'H'; 0: as configured)
  bool TapeParity = false;  // --tape-parity: the drives note a .tap reel's bad parity bits
  std::vector<std::pair<int, std::string>> Mounts;  // --mount N=REEL, before the job
  std::vector<std::string> Convert;  // --convert IN OUT: the reel IN written as OUT, nothing run
  // The debugger: --symbols FILE, --break SPEC, --watch FROM-TO, --history; the listing of a
  // --run source gives its labels (SymbolsText).
  std::vector<std::string> SymbolFiles;
  std::vector<std::string> Breaks;
  std::vector<std::string> Watches;
  bool History = false;
  std::string SymbolsText;
  int RunStart = -1;  // the --run program's start: its watchpoints are armed there
};

// --symbols, --break and --watch on the machine's debugger: "" or the first error, naming the
// option and what it gave.  Addresses may reach `coreLimit`.
class TMachine;
std::string ApplyDebugOptions(const TCommandLine& line, TMachine& machine, uint16_t coreLimit);

// What the start-up does for --deck, --charset and --core (checked by ParseCommandLine).
TBootOptions BootOptions(const TCommandLine& line);

// Parses the arguments after the program name.  Returns an empty text, or what is wrong.
std::string ParseCommandLine(const std::vector<std::string>& args, TCommandLine& line);
std::string UsageText();

// --assemble: assembles the source into a deck and a listing beside it; errors go to `err`.
// Returns BSOk, or BSFailed when the source has errors or a file cannot be written.
int RunAssemble(const TCommandLine& line, std::ostream& out, std::ostream& err);
// --run: assembles the source and makes the line boot its deck (in the convention of
// --charset, Pierce A when none is given).  Returns false, with the errors on `err`, when the
// source has errors.
bool PrepareRun(TCommandLine& line, std::ostream& err);

// --convert: writes the reel IN as OUT, each in the layout its name selects.  Returns BSOk, or
// BSFailed with the reason on `err`.
int RunConvert(const TCommandLine& line, std::ostream& out, std::ostream& err);

// Runs a batch job; returns its exit status.  `programPath` locates the initialisation file.
int RunBatch(const TCommandLine& line, const std::string& programPath, std::ostream& out,
             std::ostream& err);

}  // namespace kestrel
