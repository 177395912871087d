// The 1403's carriage control tape: a loop of paper tape with one row per line of the form and
// twelve channels across it.  The carriage moves the form a line at a time; a skip runs it on to
// the next line punched in the channel asked for.  The tape also keeps the channel 9 and channel
// 12 latches the branch instructions test.  Plain C++: the printer owns one; the window, the
// scripts, the command line and the initialisation file load it from a text file.
//
// The text file: one line per line of the form, top of the form first.  A line lists the channels
// punched in that line of the tape, as numbers 1 to 12 separated by blanks or commas; an empty
// line (or one holding only `-`) is a line with no hole.  A line whose first character that is
// not a blank is `*` is a comment and no line of the form.  A tape has 1 to 132 lines.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

class TCarriageTape {
 public:
  static constexpr int Channels = 12;
  static constexpr int MaxLines = 132;
  static constexpr int DefaultLines = 66;
  static constexpr int DefaultOverflowLine = 60;  // channel 12 of the default tape

  // The usual tape: 66 lines, channel 1 on line 1 and channel 12 on line 60.
  TCarriageTape();

  // Reads a tape from its text.  Returns an empty text, or what is wrong with the line number;
  // `tape` is left as it was on an error.  `name` names the file in the message.
  static std::string Parse(std::string_view text, const std::string& name, TCarriageTape& tape);
  // Reads a tape from a file; throws EKestrelError (and leaves the tape as it was) on an error.
  void LoadFile(const std::string& fileName);

  // ---- The tape ----
  int Length() const { return static_cast<int>(holes_.size()); }
  // The holes of a line (0 = the first), one bit per channel: bit 0 = channel 1.
  uint16_t Holes(int line) const { return holes_[static_cast<size_t>(line)]; }
  bool Punched(int line, int channel) const { return (Holes(line) >> (channel - 1)) & 1; }
  // Whether any line has a hole in the channel.
  bool HasChannel(int channel) const;
  // The tape as text in the file's format, one line per form line.
  std::string Text() const;

  // ---- The carriage on the tape ----
  // The line of the form at the print position (0 = the first line).
  int Position() const { return position_; }
  // Back to the first line (the operator sets the form at its top); the latches go off.
  void Restore();
  // Moves the form `lines` lines on; returns the lines moved.
  int Space(int lines);
  // Moves the form on to the next line punched in `channel`.  After a print the form always
  // moves, a whole turn of the tape when the print position is on such a line; an immediate skip
  // finds the carriage already there and moves nothing.  Returns the lines moved, or -1 when no
  // line of the tape has that hole (the carriage would run away) and nothing moves.
  int Skip(int channel, bool immediate = false);
  // How many times the carriage has come round to a line with a hole in channel 1.
  uint64_t PagesStarted() const { return pages_; }

  // The latches: a line with a hole in channel 9 (12) turns its latch on, a line with holes in
  // other channels only turns it off, and so does the order of a skip (immediate or after print),
  // before the form moves.
  bool Channel9() const { return channel9_; }
  bool Channel12() const { return channel12_; }
  void ClearLatches() { channel9_ = channel12_ = false; }

 private:
  void Step();

  std::vector<uint16_t> holes_;
  int position_ = 0;
  bool channel9_ = false;
  bool channel12_ = false;
  uint64_t pages_ = 0;
};

}  // namespace kestrel
