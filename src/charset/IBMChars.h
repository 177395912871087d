// Character mapping and card translation: the mapping string that says which character of a card
// file stands for each BCD code, the character-map control file that chooses one per card file,
// the card file loader, and the character usage report the character set window shows.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/KestCore.h"
#include "core/Shared.h"

namespace kestrel {

namespace detail {
// The internal set with the codes that have no character of their own on a basic print chain
// (13, 14, 29, 30, 45, 46, 47, 61, 62, 63) blanked.
constexpr std::array<char, 65> MakeBasicCharSet() {
  std::array<char, 65> set{};
  for (int code = 0; code < 64; ++code) {
    set[code] = (code & 15) >= 13 ? ' ' : InternalCharSet[code];
  }
  set[64] = '\0';
  return set;
}
inline constexpr std::array<char, 65> BasicCharSetArray = MakeBasicCharSet();
}  // namespace detail

// The basic minimum character set: 64 characters, the starting mapping string.
inline constexpr std::string_view BasicCharSet{detail::BasicCharSetArray.data(), 64};
static_assert(BasicCharSet == " 1234567890#@    /STUVWXYZr,%   -JKLMNOPQR!$*   &ABCDEFGHI?.o   ");

// A character convention in which card files are commonly written, chosen by its name.  The
// SIMH-old one stands the apostrophe for the record mark, which no script string can carry.
struct TCharConvention {
  std::string_view Name;     // as the operator types it: "pierce-a"
  std::string_view Title;    // as the window lists it: "Pierce A"
  std::string_view Mapping;  // 64 characters, code 0 first
  char Chain = 'A';          // the print chain whose characters it is typed with
};
inline constexpr std::array<TCharConvention, 4> CharConventions{{
    {"pierce-a", "Pierce A", " 1234567890#@:>{^/STUVWXYZ|,%~\\\"-JKLMNOPQR!$*];_&ABCDEFGHI?.)[<}"},
    {"simh-old", "SIMH old", " 1234567890#@:>(^/STUVWXYZ',%=\\+-JKLMNOPQR!$*];_&ABCDEFGHI?.)[<\""},
    {"basic", "Basic", BasicCharSet},
    {"pierce-h", "Pierce H", " 1234567890=':>{^/STUVWXYZ|,(~\\\"-JKLMNOPQR!$*];_+ABCDEFGHI?.)[<}",
     'H'},
}};
static_assert(CharConventions[0].Mapping.size() == 64 && CharConventions[1].Mapping.size() == 64 &&
              CharConventions[3].Mapping.size() == 64);

// The five codes the two print chains print differently, and each chain's characters for them.
inline constexpr std::array<uint8_t, 5> ChainCodes{11, 12, 28, 48, 60};
inline constexpr std::string_view ChainACharacters = "#@%&)";
inline constexpr std::string_view ChainHCharacters = "='(+)";
// The character a code prints as on a chain ('A' or 'H'): `mapped` unless it is one of the five.
char ChainPrintChar(char chain, uint8_t code, char mapped);
// What a reader of the convention also takes: at each of the five codes, the other chain's
// character where the convention's mapping does not use it already (a blank where it does).
std::string OtherChainCharacters(const TCharConvention& convention);
// The convention of a name, upper or lower case; none when it names none.
const TCharConvention* FindCharConvention(std::string_view name);
// "pierce-a, simh-old, basic": for the messages that name the choices.
std::string CharConventionNames();

// A card image is a text of at least 80 internal-set characters; a card list is a pile of them,
// the front of the pile first.
using TCardList = std::deque<std::string>;

// One mapping string, never changed once made, so a reader always holds a whole one.
class TMapping {
 public:
  static constexpr size_t Size = 64;
  // At most 64 characters are kept; a shorter text stays short.
  explicit TMapping(std::string_view text);
  // As above; a reader also takes the character at a code of `alsoRead` (blank: none) for it.
  TMapping(std::string_view text, std::string_view alsoRead);
  const std::string& Text() const { return text_; }
  // The character standing for a code in external text: a blank past the end of a short string.
  char PrintChar(uint8_t code) const {
    code &= 63;
    return code < text_.size() ? text_[code] : ' ';
  }
  // The code of the first position holding the character, or -1 when it is not in the string.
  int CodeOf(char c) const { return codeOf_[static_cast<unsigned char>(c)]; }
  bool Contains(char c) const { return CodeOf(c) >= 0; }

 private:
  std::string text_;
  std::array<int8_t, 256> codeOf_;
};
using TMappingPtr = std::shared_ptr<const TMapping>;

// The mapping state of one machine and the character set window's model: the report lines and
// whether the window is to be shown.  Loading and the report run in the GUI thread; the mapping
// string may be replaced from any thread and is read whole.
class TCharMap {
 public:
  static constexpr size_t RuleWidth = 51;

  // The mapping string is the basic set; the report holds the mapping tables.
  TCharMap();

  // ---- The mapping string ----
  TMappingPtr Mapping() const {
    std::lock_guard lock(mappingMutex_);
    return mapping_;
  }
  std::string MappingString() const { return Mapping()->Text(); }
  // Pads the text with blanks to 64 (cutting a longer one), installs it, then checks that no
  // non-blank character repeats; a string failing the check stays installed.
  void SetMappingString(std::string_view text);
  // The edit line's way: at most 64 characters, installed as they are, without the check.
  void SetMappingText(std::string_view text);
  char BcdToPrintChar(uint8_t code) const { return Mapping()->PrintChar(code); }

  // When set, a load takes its mapping from the character-map control file.
  TShared<bool> UseCmcFile;
  // The control file: the program's directory + its name + ".CMC" unless set otherwise.
  const std::string& CmcPath() const { return cmcPath_; }
  void SetCmcPath(std::string path) { cmcPath_ = std::move(path); }

  // A convention chosen by name for the loads that take their mapping from the control file:
  // while one is chosen they take its mapping instead, and the control file is not read.  None
  // (the start): the control file decides.  May be set from any thread.
  void SetConvention(const TCharConvention* convention) { convention_ = convention; }
  const TCharConvention* Convention() const { return convention_; }

  // ---- Loading ----
  // Reports on the file, chooses the mapping (from the control file when UseCmcFile is set),
  // translates the file and appends its cards to `list`.  Throws EKestrelError; the cards
  // translated before a failing line stay in the list.
  void LoadCardFile(const std::string& fileName, TCardList& list, bool upperCase);
  // The basic set, then the mapping the control file gives the card file.
  void LoadCmcMapping(const std::string& fileName);
  // The translation proper: every line becomes a card through the mapping string in force.
  void TranslateCards(const std::string& fileName, TCardList& list, bool upperCase);

  // ---- The report ----
  void CountUsage(const std::string& fileName);
  void WriteAsciiUsage();
  void WriteBcdUsage();
  void WriteCharLists();
  void WriteMappingTables();
  void WriteCharTable(std::string_view set);
  void ClearReport();

  const std::vector<std::string>& Report() const { return report_; }
  uint32_t Usage(unsigned char c) const { return usage_[c]; }
  // Whether the character set window is to be shown: set when a card holds an unmapped
  // character, cleared by a load that succeeds.  The window sets it too when opened or closed.
  bool Shown() const { return shown_; }
  void SetShown(bool shown);
  // Called on the GUI thread after the report or the shown state has changed.
  void SetChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }

 private:
  void Install(TMappingPtr mapping) {
    std::lock_guard lock(mappingMutex_);
    mapping_.swap(mapping);  // the old string is released after the lock
  }
  void Add(std::string line) { report_.push_back(std::move(line)); }
  void AddUsageRow(char digit, const std::string& row) { Add(digit + row); }
  void Changed();

  // Held only to copy or swap the pointer; the string itself never changes.
  mutable std::mutex mappingMutex_;
  TMappingPtr mapping_;
  std::string cmcPath_;
  std::atomic<const TCharConvention*> convention_{nullptr};
  bool upperCase_ = false;
  std::array<uint32_t, 256> usage_{};
  std::vector<std::string> report_;
  bool shown_ = false;
  std::function<void()> listener_;
};

}  // namespace kestrel
