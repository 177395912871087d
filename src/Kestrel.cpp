// The program entry: `kestrel [SCRIPT]` opens the windows; `kestrel --batch [SCRIPT]` runs the
// same machine headless.
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "batch/KestBatch.h"
#ifdef KESTREL_HAVE_GUI
#include "gui/GuiMain.h"
#endif

namespace {
// The program's own file, which locates the initialisation file beside it.
std::string ProgramPath(const char* argv0) {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec && !self.empty()) return self.string();
  return argv0 != nullptr ? std::string(argv0) : std::string("kestrel");
}
}  // namespace

int main(int argc, char** argv) {
  using namespace kestrel;
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  TCommandLine line;
  std::string error = ParseCommandLine(args, line);
  if (!error.empty()) {
    std::cerr << "kestrel: " << error << "\nTry 'kestrel --help'.\n";
    return BSBadCommand;
  }
  if (line.Help) {
    std::cout << UsageText();
    return BSOk;
  }
  if (line.Version) {
    std::cout << "Kestrel " << KestrelVersion << " - IBM 1401 emulator\n";
    return BSOk;
  }
  if (!line.Convert.empty()) return RunConvert(line, std::cout, std::cerr);
  if (!line.Assemble.empty()) return RunAssemble(line, std::cout, std::cerr);
  if (!line.RunSource.empty() && !PrepareRun(line, std::cerr)) return BSFailed;
  if (line.Batch)
    return RunBatch(line, ProgramPath(argc > 0 ? argv[0] : nullptr), std::cout, std::cerr);
#ifdef KESTREL_HAVE_GUI
  return RunGui(argc, argv, line);
#else
  std::cerr
      << "kestrel: this build has no windows (Qt 6 Widgets was not found when it was built).\n"
         "Run a job headless with: kestrel --batch [SCRIPT]   (see kestrel --help)\n";
  return BSBadCommand;
#endif
}
