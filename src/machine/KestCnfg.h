// The settings kept between runs: the private-profile (initialisation) file, and the
// configuration dialog's model with its load and save rules (start-up script, uninitialised-read
// check, core size).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Features.h"
#include "core/KestCore.h"
#include "core/Registers.h"

namespace kestrel {

// A private-profile file: "[Section]" lines and "Key=Value" lines.  Section and key names
// compare without regard to case; every other line of the file, and the order of the lines, is
// kept when the file is written back.
class TProfileFile {
 public:
  TProfileFile() = default;
  explicit TProfileFile(std::string path) { Open(std::move(path)); }

  // Reads the file; a missing or unreadable file reads as empty.  A file far too large to be a
  // settings file reads as empty too, and is never written over.
  void Open(std::string path);
  const std::string& Path() const { return path_; }

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& fallback) const;
  // Decimal, or hexadecimal after 0x or 0X; a value that is not a number gives the fallback.
  int32_t ReadInteger(const std::string& section, const std::string& key, int32_t fallback) const;
  bool ReadBool(const std::string& section, const std::string& key, bool fallback) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int32_t value);
  void WriteBool(const std::string& section, const std::string& key, bool value);
  void DeleteKey(const std::string& section, const std::string& key);
  // Writes the lines to the file; false when it cannot be written, or was refused on reading.
  bool Flush();

  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  // The index of the section's header line, or -1.
  int FindSection(const std::string& section) const;
  // The index of the key's line inside the section, or -1.
  int FindKey(const std::string& section, const std::string& key) const;
  // The end of the section: the index after its last key line.
  size_t SectionEnd(int header) const;

  std::string path_;
  std::vector<std::string> lines_;
  std::string lineEnd_ = "\n";
  bool refused_ = false;
};

// The initialisation file beside the program: its directory, its name up to the first dot,
// then ".INI".
std::string IniFileName(const std::string& programPath);

// The configuration dialog's model.
class TConfiguration {
 public:
  static constexpr uint16_t Sizes[6] = {1400, 2000, 4000, 8000, 12000, 16000};

  // `registers`, when given, receive the special features when they are applied.
  explicit TConfiguration(TCoreStorage& core, TRegisters* registers = nullptr)
      : core_(core), registers_(registers) {}

  // Opens the settings file (the dialog is created at program start).
  void Open(const std::string& iniPath) { file_.Open(iniPath); }
  const std::string& Path() const { return file_.Path(); }

  // Reads the file into the dialog and applies the uninitialised-read check.  The machine's
  // core size is not changed.
  void LoadConfiguration();
  // Writes the dialog to the file and applies it (check and core size).  Returns false when the
  // file could not be written; the settings are applied all the same.
  bool SaveConfiguration();

  // The dialog's controls.
  std::string EBPOSName = "PowerOn.OCL";
  bool CBCoreInitCheck = false;
  // Selects the size's radio button: one of the six, else nothing changes.
  void SelectCoreSize(int size);
  // 0 until a size has been selected.
  uint16_t SelectedCoreSize() const { return selectedSize_; }
  // The start-up script name read by the last LoadConfiguration.
  const std::string& StartupScript() const { return startupScript_; }
  // The printer's carriage tape file ("CarriageTape" of [Printer]); empty: none is loaded.  Read
  // by LoadConfiguration, never written: the user names it in the file.
  const std::string& CarriageTapeFile() const { return carriageTape_; }
  // "FormFeeds" of [Printer]: a form feed in the print file where a page of the carriage tape
  // begins.  Read only, as the tape's file is.
  bool FormFeeds() const { return formFeeds_; }
  // The printer's chain read by the last LoadConfiguration ("Chain" of "Printer": A or H).
  char PrintChain() const { return printChain_; }
  // The reel to mount on drive `unit` (1-6) at start-up ("Tape1" to "Tape6" of [Tapes]); empty:
  // none.  Read only, as the carriage tape's file is.
  const std::string& TapeFile(int unit) const {
    return tapeFiles_.at(static_cast<size_t>(unit - 1));
  }
  // "CheckParity" of [Tapes]: every drive notes a .tap reel's bad parity bits.
  bool CheckTapeParity() const { return checkTapeParity_; }
  // The "Features" check boxes: one TFeature bit each.
  TFeatureSet CBFeatures = 0;
  // The features for this run whatever the file says (the command line's choice); they are
  // applied instead of the check boxes, which still show and save the file's.
  void OverrideFeatures(TFeatureSet features);
  // The features the machine has now.
  TFeatureSet AppliedFeatures() const;

 private:
  void ApplyFeatures();

  TCoreStorage& core_;
  TRegisters* registers_;
  bool overridden_ = false;
  TFeatureSet override_ = 0;
  TProfileFile file_;
  uint16_t selectedSize_ = 0;
  std::string startupScript_ = "PowerOn.OCL";
  std::string carriageTape_;
  bool formFeeds_ = false;
  char printChain_ = 'A';
  std::array<std::string, 6> tapeFiles_;
  bool checkTapeParity_ = false;
};

}  // namespace kestrel
