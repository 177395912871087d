#include "devices/CarriageTape.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "core/KestDefs.h"

namespace kestrel {

namespace {

constexpr uint16_t Bit(int channel) {
  return static_cast<uint16_t>(1u << (channel - 1));
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == ',' || c == '\r';
}

std::string At(const std::string& name, int line) {
  return "Carriage tape " + name + ", line " + std::to_string(line) + ": ";
}

}  // namespace

TCarriageTape::TCarriageTape() : holes_(DefaultLines, 0) {
  holes_[0] = Bit(1);
  holes_[DefaultOverflowLine - 1] = Bit(12);
}

std::string TCarriageTape::Parse(std::string_view text, const std::string& name,
                                 TCarriageTape& tape) {
  std::vector<uint16_t> holes;
  int lineNumber = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    size_t first = 0;
    while (first < line.size() && IsBlank(line[first]))
      ++first;
    if (first < line.size() && line[first] == '*') continue;
    if (holes.size() == static_cast<size_t>(MaxLines)) {
      return At(name, lineNumber) + "a carriage tape has at most " + std::to_string(MaxLines) +
             " lines";
    }
    uint16_t row = 0;
    int count = 0;
    bool dash = false;
    size_t i = first;
    while (i < line.size()) {
      char c = line[i];
      if (IsBlank(c)) {
        ++i;
        continue;
      }
      if (c == '-' && !dash && count == 0) {
        dash = true;
        ++i;
        continue;
      }
      if (c < '0' || c > '9' || dash) {
        return At(name, lineNumber) + "\"" + std::string(1, c) +
               "\" is no channel (channels are the numbers 1 to 12)";
      }
      size_t from = i;
      long value = 0;
      while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
        if (value < 1000) value = value * 10 + (line[i] - '0');
        ++i;
      }
      if (value < 1 || value > Channels) {
        std::string digits(line.substr(from, std::min<size_t>(i - from, 8)));
        return At(name, lineNumber) + "channel " + digits + (i - from > 8 ? "..." : "") +
               " is outside 1-12";
      }
      if (++count > Channels) {
        return At(name, lineNumber) + "the line is longer than 12 channels";
      }
      row = static_cast<uint16_t>(row | Bit(static_cast<int>(value)));
    }
    holes.push_back(row);
  }
  if (holes.empty()) return "Carriage tape " + name + " has no lines";
  tape.holes_ = std::move(holes);
  tape.Restore();
  tape.pages_ = 0;
  return {};
}

void TCarriageTape::LoadFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw EKestrelError("Carriage tape file does not exist:-\r" + fileName);
  std::ostringstream text;
  // A tape file is short: anything much longer than 132 full lines is refused unread.
  constexpr size_t Limit = 1 << 20;
  std::string buffer(Limit + 1, '\0');
  in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  buffer.resize(static_cast<size_t>(in.gcount()));
  if (buffer.size() > Limit) {
    throw EKestrelError("Carriage tape " + fileName + " is too long to be a carriage tape");
  }
  std::string error = Parse(buffer, fileName, *this);
  if (!error.empty()) throw EKestrelError(error);
}

bool TCarriageTape::HasChannel(int channel) const {
  if (channel < 1 || channel > Channels) return false;
  for (uint16_t row : holes_) {
    if (row & Bit(channel)) return true;
  }
  return false;
}

std::string TCarriageTape::Text() const {
  std::string text;
  for (uint16_t row : holes_) {
    std::string line;
    for (int c = 1; c <= Channels; ++c) {
      if (row & Bit(c)) line += (line.empty() ? "" : " ") + std::to_string(c);
    }
    text += (line.empty() ? "-" : line) + "\n";
  }
  return text;
}

void TCarriageTape::Restore() {
  position_ = 0;
  channel9_ = false;
  channel12_ = false;
}

void TCarriageTape::Step() {
  position_ = (position_ + 1) % Length();
  uint16_t row = holes_[static_cast<size_t>(position_)];
  if (row == 0) return;
  channel9_ = (row & Bit(9)) != 0;
  channel12_ = (row & Bit(12)) != 0;
  if (row & Bit(1)) ++pages_;
}

int TCarriageTape::Space(int lines) {
  for (int i = 0; i < lines; ++i)
    Step();
  return lines < 0 ? 0 : lines;
}

int TCarriageTape::Skip(int channel, bool immediate) {
  if (!HasChannel(channel)) return -1;
  int moved = 0;
  if (immediate && Punched(position_, channel)) return moved;
  do {
    Step();
    ++moved;
  } while (!Punched(position_, channel));
  return moved;
}

}  // namespace kestrel
