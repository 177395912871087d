// Small text and file-name helpers shared by the character mapping, the devices and the console.
#pragma once

#include <cstdint>
#include <fstream>
#include <istream>
#include <string>
#include <string_view>

#include "core/KestDefs.h"

namespace kestrel {

// The directory of the program file, ending in a path separator.  Fixed at start-up.
const std::string& ProgramDir();
// The program file's name without directory and without anything from its first dot on.
const std::string& ProgramName();
// Fixes both from the program's path (argv[0]) when the running program's own file cannot be
// found; the first call wins, so call it before anything asks for them.
void SetProgramPath(const std::string& path);

// The text before the first dot of a file name; the whole text when it has none.
std::string StripExtension(std::string_view name);

// Blanks in front of a text shorter than n; the result is then cut to n characters.
std::string PadLeft(std::string_view text, size_t n);

// The text with the letters a-z turned into A-Z; nothing else changes.
std::string UpperCase(std::string_view text);

// Writes lines (cards, print lines) to a text file, each followed by CR LF, replacing the file.
// Throws EKestrelError when the file cannot be written.
template <typename TLines>
void WriteTextLines(const std::string& fileName, const TLines& lines) {
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  for (const std::string& line : lines) {
    if (!out) break;
    out << line << "\r\n";
  }
  out.close();
  if (!out) throw EKestrelError("Cannot write file:-\r" + fileName);
}

// Reads text line by line.  A carriage return, a line feed, or the pair of them ends a line;
// the end of the input ends the last line, and a line end just before it adds no empty line.
class TLineReader {
 public:
  explicit TLineReader(std::istream& in) : in_(in) {}
  // The next line into `line`, keeping at most `keep` characters of it (a binary file may hold
  // one enormous "line"); false at the end of the input.  `Length` gives the line's full length.
  bool Next(std::string& line, size_t keep = std::string::npos);
  size_t Length() const { return length_; }

 private:
  std::istream& in_;
  size_t length_ = 0;
};

}  // namespace kestrel
