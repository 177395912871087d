#include "charset/IBMChars.h"

#include <filesystem>
#include <fstream>

#include "charset/IBMDefs.h"
#include "core/KestDefs.h"

namespace kestrel {

namespace {

constexpr char CR = '\r';
// Only columns 1 to 80 of a card are ever used; the loader counts columns in eight bits, so a
// longer line than this is not a card.
constexpr size_t MaxCardLine = 255;
// A line of the control file is read up to this length; anything longer is no name or mapping.
constexpr size_t MaxCmcLine = 4096;

// A character as a message or a report line shows it.  A control character would cut a message
// short (NUL) or break the line, so it shows as a dot; the hexadecimal code beside it tells.
char Visible(char c) {
  auto u = static_cast<unsigned char>(c);
  return u < 32 || u == 127 ? '.' : c;
}

std::string Visible(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    c = Visible(c);
  return result;
}

char HexDigit(int value) {
  return "0123456789ABCDEF"[value & 15];
}

// Three blanks, then each column's hexadecimal digit and two blanks.
std::string TableHeader() {
  std::string header = "   ";
  for (int j = 0; j < 16; ++j) {
    header += HexDigit(j);
    header += "  ";
  }
  return header;
}

// A count as a report cell: empty for none, the count up to 99, "*" above.
std::string UsageCell(uint32_t count) {
  std::string cell;
  if (count > 99) {
    cell = "*";
  } else if (count > 0) {
    cell = std::to_string(count);
  }
  return PadLeft(cell, 3);
}

bool IsBlank(const std::string& text) {
  return text.find_first_not_of(' ') == std::string::npos;
}

// Opens a card file for reading, binary, so that every byte is seen as it is.
std::ifstream OpenCardFile(const std::string& fileName) {
  std::error_code error;
  std::filesystem::file_status status = std::filesystem::status(fileName, error);
  if (fileName.empty() || !std::filesystem::exists(status)) {
    throw EKestrelError(std::string("File does not exist:-") + CR + fileName);
  }
  std::ifstream in;
  // A directory or a device is not a card file (a device may never end).
  if (std::filesystem::is_regular_file(status)) in.open(fileName, std::ios::binary);
  if (!in.is_open()) throw EKestrelError(std::string("Cannot read file:-") + CR + fileName);
  return in;
}

}  // namespace

// ---- Mapping --------------------------------------------------------------------------------

TMapping::TMapping(std::string_view text) : text_(text.substr(0, Size)) {
  codeOf_.fill(-1);
  for (size_t p = text_.size(); p-- > 0;) {
    codeOf_[static_cast<unsigned char>(text_[p])] = static_cast<int8_t>(p);
  }
}

TMapping::TMapping(std::string_view text, std::string_view alsoRead) : TMapping(text) {
  for (size_t code = 0; code < alsoRead.size() && code < Size; ++code) {
    const auto c = static_cast<unsigned char>(alsoRead[code]);
    if (c != ' ' && codeOf_[c] < 0) codeOf_[c] = static_cast<int8_t>(code);
  }
}

char ChainPrintChar(char chain, uint8_t code, char mapped) {
  if (chain != 'H') return mapped;
  for (size_t i = 0; i < ChainCodes.size(); ++i) {
    if (ChainCodes[i] == (code & 63)) return ChainHCharacters[i];
  }
  return mapped;
}

std::string OtherChainCharacters(const TCharConvention& convention) {
  std::string also(TMapping::Size, ' ');
  const std::string_view other = convention.Chain == 'H' ? ChainACharacters : ChainHCharacters;
  for (size_t i = 0; i < ChainCodes.size(); ++i) {
    if (convention.Mapping.find(other[i]) == std::string_view::npos) also[ChainCodes[i]] = other[i];
  }
  return also;
}

TCharMap::TCharMap()
    : mapping_(std::make_shared<const TMapping>(BasicCharSet)),
      cmcPath_(ProgramDir() + ProgramName() + ".CMC") {
  WriteMappingTables();
}

void TCharMap::SetMappingString(std::string_view text) {
  std::string padded(text.substr(0, TMapping::Size));
  padded.resize(TMapping::Size, ' ');
  Install(std::make_shared<const TMapping>(padded));
  std::array<bool, 256> seen{};
  for (char c : padded) {
    if (c == ' ') continue;
    auto u = static_cast<unsigned char>(c);
    if (seen[u]) {
      throw EKestrelError(std::string("Duplicate character: \"") + Visible(c) + "\" ($" + Hex2(u) +
                          ") in Mapping string:-" + CR + Visible(padded));
    }
    seen[u] = true;
  }
}

void TCharMap::SetMappingText(std::string_view text) {
  Install(std::make_shared<const TMapping>(text));
}

void TCharMap::SetShown(bool shown) {
  shown_ = shown;
  Changed();
}

void TCharMap::Changed() {
  if (listener_) listener_();
}

// ---- Loading --------------------------------------------------------------------------------

const TCharConvention* FindCharConvention(std::string_view name) {
  std::string wanted = UpperCase(name);
  for (const TCharConvention& convention : CharConventions) {
    if (wanted == UpperCase(convention.Name)) return &convention;
  }
  return nullptr;
}

std::string CharConventionNames() {
  std::string names;
  for (const TCharConvention& convention : CharConventions) {
    if (!names.empty()) names += ", ";
    names += convention.Name;
  }
  return names;
}

void TCharMap::LoadCardFile(const std::string& fileName, TCardList& list, bool upperCase) {
  upperCase_ = upperCase;
  ClearReport();
  try {
    CountUsage(fileName);
    WriteAsciiUsage();
    if (UseCmcFile) {
      if (const TCharConvention* chosen = convention_) {
        SetMappingString(chosen->Mapping);
        // A deck typed with the other print chain's characters for the five codes reads too.
        Install(std::make_shared<const TMapping>(chosen->Mapping, OtherChainCharacters(*chosen)));
      } else {
        LoadCmcMapping(fileName);
      }
    }
    WriteBcdUsage();
    WriteCharLists();
    WriteMappingTables();
    TranslateCards(fileName, list, upperCase);
  } catch (...) {
    Changed();  // the report written so far stays, and the window shows it
    throw;
  }
  Changed();
}

void TCharMap::LoadCmcMapping(const std::string& fileName) {
  Install(std::make_shared<const TMapping>(BasicCharSet));
  std::string key = UpperCase(StripExtension(std::filesystem::path(fileName).filename().string()));
  std::error_code error;
  if (!std::filesystem::exists(cmcPath_, error)) {
    throw EKestrelError("Character Map Control file: " + cmcPath_ + " does not exist");
  }
  std::ifstream in;
  if (std::filesystem::is_regular_file(cmcPath_, error)) in.open(cmcPath_, std::ios::binary);
  if (!in.is_open()) {
    throw EKestrelError("Character Map Control file: " + cmcPath_ + " cannot be read");
  }
  TLineReader reader(in);
  std::string line;
  unsigned number = 0;
  while (reader.Next(line, MaxCmcLine)) {
    ++number;
    if (line.empty()) continue;
    if (line[0] == '#') {
      try {
        SetMappingString(std::string_view(line).substr(1));
      } catch (const EKestrelError& e) {
        throw EKestrelError(e.what() + std::string(1, CR) + "in Character Map Control file, line " +
                            std::to_string(number));
      }
    } else if (line[0] == '!') {
      std::string_view rest = std::string_view(line).substr(1);
      size_t semicolon = rest.find(';');
      // Without a comment the name is the rest of the line as it stands, blanks and all.
      std::string name = semicolon == std::string_view::npos
                             ? std::string(rest)
                             : Trim(rest.substr(0, semicolon), " \t");
      if (UpperCase(name) == key) break;
    }
  }
}

void TCharMap::TranslateCards(const std::string& fileName, TCardList& list, bool upperCase) {
  std::ifstream in = OpenCardFile(fileName);
  // One mapping for the whole file, even if another thread installs a new one meanwhile.
  TMappingPtr mapping = Mapping();
  TLineReader reader(in);
  std::string line;
  unsigned card = 0;
  while (reader.Next(line, MaxCardLine + 1)) {
    ++card;
    if (reader.Length() > MaxCardLine) {
      throw EKestrelError("Card " + std::to_string(card) + " is longer than " +
                          std::to_string(MaxCardLine) + " characters in file:-" + CR + fileName);
    }
    if (line.size() < 80) line.resize(80, ' ');
    if (upperCase) line = UpperCase(line);
    std::string translated = line;
    for (size_t n = 0; n < line.size(); ++n) {
      int code = mapping->CodeOf(line[n]);
      if (code < 0) {
        SetShown(true);
        auto u = static_cast<unsigned char>(line[n]);
        throw EKestrelError(std::string("Unmapped character: \"") + Visible(line[n]) + "\" ($" +
                            Hex2(u) + ") at column " + std::to_string(n + 1) + " of card " +
                            std::to_string(card) + " in file:-" + CR + fileName + CR +
                            "Card in error (original):-" + CR + Visible(line) + CR +
                            "Partially translated:-" + CR + Visible(translated) + CR +
                            "Mapping String:-" + CR + Visible(mapping->Text()));
      }
      translated[n] = BcdToCardChar(static_cast<uint8_t>(code));
    }
    list.push_back(std::move(translated));
  }
  SetShown(false);
}

// ---- Report ---------------------------------------------------------------------------------

void TCharMap::ClearReport() {
  report_.clear();
}

void TCharMap::CountUsage(const std::string& fileName) {
  std::ifstream in = OpenCardFile(fileName);
  usage_.fill(0);
  // Every character of every line counts as it stands; the line ends are not characters.
  char buffer[8192];
  while (in) {
    in.read(buffer, sizeof buffer);
    std::streamsize got = in.gcount();
    for (std::streamsize i = 0; i < got; ++i) {
      char c = buffer[i];
      if (c == '\r' || c == '\n') continue;
      if (upperCase_ && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      uint32_t& count = usage_[static_cast<unsigned char>(c)];
      if (count != UINT32_MAX) ++count;
    }
  }
  Add("Loaded file: " + fileName);
  Add("");
}

void TCharMap::WriteAsciiUsage() {
  Add("ASCII character usage of loaded file (>99=*):-");
  for (int i = 0; i < 16; ++i) {
    std::string row;
    for (int j = 0; j < 16; ++j)
      row += UsageCell(usage_[16 * i + j]);
    if (i == 0) Add(TableHeader());
    if (!IsBlank(row)) AddUsageRow(HexDigit(i), row);
  }
  Add("");
}

void TCharMap::WriteBcdUsage() {
  Add("BCD code usage of loaded file (>99=*):-");
  TMappingPtr mapping = Mapping();
  for (int i = 0; i < 4; ++i) {
    std::string row;
    for (int j = 0; j < 16; ++j) {
      int code = 16 * i + j;
      char c = mapping->PrintChar(static_cast<uint8_t>(code));
      // Only code 0 counts the blanks: the other blank positions have no character of their own.
      uint32_t count = c == ' ' && code != 0 ? 0 : usage_[static_cast<unsigned char>(c)];
      row += UsageCell(count);
    }
    if (i == 0) Add(TableHeader());
    AddUsageRow(HexDigit(i), row);
  }
}

void TCharMap::WriteCharLists() {
  TMappingPtr mapping = Mapping();
  auto list = [this](auto excluded) {
    bool any = false;
    for (int c = 0; c < 256; ++c) {
      if (usage_[c] == 0 || !excluded(static_cast<char>(c))) continue;
      Add(" $" + Hex2(static_cast<uint32_t>(c)) + " " + Visible(static_cast<char>(c)) + "  " +
          std::to_string(usage_[c]));
      any = true;
    }
    if (!any) Add("none");
  };
  Add(std::string(RuleWidth, '-'));
  Add("Non-Standard characters (ASCII) used in loaded file:-");
  list([](char c) { return BasicCharSet.find(c) == std::string_view::npos; });
  Add("");
  Add("Unmapped characters (ASCII) used in loaded file:-");
  list([&mapping](char c) { return !mapping->Contains(c); });
}

void TCharMap::WriteMappingTables() {
  Add("");
  Add("Mapping used for loaded file (translated to Internal set)");
  WriteCharTable(Mapping()->Text());
  Add(std::string(RuleWidth, '-'));
  Add("Internal character set:-");
  WriteCharTable(std::string_view(InternalCharSet, 64));
  Add("");
  Add("Basic minimum character set:-");
  WriteCharTable(BasicCharSet);
  Add("");
  Add("Address encoding characters (BCD):-");
  Add("00=0 ($0A)  01=r ($1A)  10=! ($2A)  11=? ($3A) ");
  Add("");
  Add("s=Space d=Delta  o=Lozenge  g=Group mark  r=Record mark ");
}

void TCharMap::WriteCharTable(std::string_view set) {
  Add(TableHeader());
  for (int i = 0; i < 4; ++i) {
    std::string line{HexDigit(i), ' ', ' '};
    for (int j = 0; j < 16; ++j) {
      size_t code = static_cast<size_t>(16 * i + j);
      // Code 0 is always shown as s, for space; past the end of a short string, a blank.
      line += code == 0 ? 's' : code < set.size() ? Visible(set[code]) : ' ';
      line += "  ";
    }
    Add(line);
  }
}

}  // namespace kestrel
