// The initialisation file: whatever the file holds, loading gives a start-up script name, the
// check setting and either one of the six core sizes or none; saving keeps every other line and
// reads back as what was saved; the core size changes only to a size that was selected.
//
// Input: one options byte, then the file.  Options: 1 tick the check box before saving, 2 select
// a size before saving (the next bits choose which: 4, 8, 16 as a number 0..7, 6 and 7 meaning
// none of the six), 32 type a start-up script name before saving (the file's first line, as
// typed), 64 write the file back a second time after saving.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "core/Features.h"
#include "core/KestCore.h"
#include "core/Registers.h"
#include "machine/KestCnfg.h"

using namespace kestrel;
using namespace kestrel::fuzz;

namespace {

enum : uint8_t { OptCheck = 1, OptSize = 2, OptName = 32, OptTwice = 64 };

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// The lines a save has no business with: all but the keys it writes or deletes (the feature
// switches among them), the headers of their sections, and blank lines (a new section comes after
// one).
std::vector<std::string> Others(const std::vector<std::string>& lines) {
  std::vector<std::string> others;
  for (const std::string& line : lines) {
    std::string t = Trim(line);
    if (t.empty()) continue;
    if (t.front() == '[' && t.find(']') != std::string::npos) {
      std::string name = Upper(Trim(t.substr(1, t.find(']') - 1)));
      if (name == "OPERATION" || name == "CORE STORAGE" || name == "FEATURES") continue;
    }
    if (size_t eq = line.find('='); eq != std::string::npos) {
      std::string key = Upper(Trim(line.substr(0, eq)));
      if (key == "STARTUPSCRIPT" || key == "COREINITCHECK" || key == "SIZE" || key == "POWERON")
        continue;
      bool feature = false;
      for (const TFeatureName& f : FeatureNames)
        feature = feature || key == Upper(f.Key);
      if (feature) continue;
    }
    others.push_back(line);
  }
  return others;
}

bool IsSize(int size) {
  for (uint16_t s : TConfiguration::Sizes) {
    if (s == size) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TInput in(data, size);
  const uint8_t options = in.Byte();
  const std::string text(in.Rest());
  const std::string path = WriteScratch("Kestrel.INI", text);

  TRegisters registers;
  TCoreStorage core(registers);
  core.SetCoreSize(8000);
  core.StoreChar(100, 7);

  // Loading: a name, the check, and one of the six sizes or none; the machine keeps its size.
  TConfiguration config(core);
  config.Open(path);
  config.LoadConfiguration();
  Require(config.StartupScript() == config.EBPOSName, "start-up name and edit field differ");
  Require(core.UninitializedCheck == config.CBCoreInitCheck, "check setting not applied");
  Require(config.SelectedCoreSize() == 0 || IsSize(config.SelectedCoreSize()),
          "selected a size that is none of the six: " + std::to_string(config.SelectedCoreSize()));
  Require(core.Size() == 8000 && core.ReadChar(100) == 7, "loading changed core");
  // Loading twice reads the same.
  TConfiguration again(core);
  again.Open(path);
  again.LoadConfiguration();
  Require(again.EBPOSName == config.EBPOSName && again.CBCoreInitCheck == config.CBCoreInitCheck &&
              again.SelectedCoreSize() == config.SelectedCoreSize(),
          "two loads of one file differ");
  Report("loaded: name \"" + config.EBPOSName + "\" check " +
         std::to_string(config.CBCoreInitCheck) + " size " +
         std::to_string(config.SelectedCoreSize()));

  // The operator changes the dialog, then OK.
  if (options & OptCheck) config.CBCoreInitCheck = !config.CBCoreInitCheck;
  if (options & OptSize) {
    const int choice = (options >> 2) & 7;
    config.SelectCoreSize(choice < 6 ? TConfiguration::Sizes[choice] : 5000 + choice);
  }
  if (options & OptName) config.EBPOSName = text.substr(0, text.find_first_of("\r\n"));
  const uint16_t selected = config.SelectedCoreSize();
  Require(config.SaveConfiguration(), "the settings file could not be written");
  Report("saved: name \"" + config.EBPOSName + "\"");
  if (options & OptTwice) Require(config.SaveConfiguration(), "the second save failed");

  // Applied: the check and, only when one was selected, the size.
  Require(core.UninitializedCheck == config.CBCoreInitCheck, "check setting not applied on OK");
  if (selected == 0) {
    Require(core.Size() == 8000 && core.ReadChar(100) == 7, "no size selected, yet core changed");
  } else {
    Require(core.Size() == selected, "the selected size was not applied");
  }
  // The name is saved trimmed, with the extension .OCL when it is not empty.
  const std::string& saved = config.EBPOSName;
  Require(saved.empty() || saved.ends_with(".OCL"), "saved name without .OCL: " + saved);
  Require(saved.empty() || (saved.front() != ' ' && saved.back() != ' '), "untrimmed name");

  // What was saved reads back.
  TConfiguration reread(core);
  reread.Open(path);
  reread.LoadConfiguration();
  Report("read back: name \"" + reread.EBPOSName + "\" check " +
         std::to_string(reread.CBCoreInitCheck) + " size " +
         std::to_string(reread.SelectedCoreSize()));
  Require(reread.EBPOSName == saved,
          "saved name \"" + saved + "\" reads back as \"" + reread.EBPOSName + "\"");
  Require(reread.CBCoreInitCheck == config.CBCoreInitCheck, "saved check reads back otherwise");
  if (selected != 0)
    Require(reread.SelectedCoreSize() == selected, "saved size reads back otherwise");

  // Every line of the old file other than the lines the save may write or delete (the three
  // keys, the obsolete one, their section headers and blank lines) is still there, in order.
  TProfileFile before;
  before.Open(WriteScratch("before.INI", text));
  TProfileFile after(path);
  Require(Others(before.Lines()) == Others(after.Lines()) || text.size() > (4u << 20),
          "saving changed lines it had no business with");

  // The file name rule, on the input's first line as a program path.
  std::string ini = IniFileName(text.substr(0, text.find('\n')));
  Require(ini.ends_with(".INI"), "settings file name without .INI");
  return 0;
}
