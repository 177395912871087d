// The tape drive: one mounted tape image held in memory, its two layouts (BCD frames and MT
// length-framed records), the decoder that turns an image into character codes and record ends,
// and the drive's own operations (mount, unload, rewind, read and write records, tape marks) with
// the state its panel shows.  The drive knows nothing of core storage: it reaches core through
// the two events its owner connects.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/KestCore.h"
#include "devices/TapeFormats.h"

namespace kestrel {

// How a record moves between tape and core.  Load: a word separator on tape stands for a word
// mark on the next character, and every position the record fills takes its word mark from the
// tape.  Move: the characters alone, word marks in core untouched.
enum class TTransferMode : uint8_t { Load, Move };

// What `NextFrame` returns besides a code 0..63.
inline constexpr int EndOfRecord = 254;
inline constexpr int EndOfTape = 255;

// Codes with a fixed role on tape.
namespace TapeCode {
inline constexpr uint8_t TapeMark = 15;
inline constexpr uint8_t Blank = 16;  // code 0 is written as 16 and 16 is read back as 0
inline constexpr uint8_t WordSeparator = 29;
inline constexpr uint8_t GroupMark = 63;
}  // namespace TapeCode

// One tape image: its bytes, the position, the layout and the decoder state.
class TTapeImage {
 public:
  // The largest image a drive holds, read or written: more than any 729 reel carries, and small
  // enough that a huge or runaway file cannot exhaust memory.
  static constexpr size_t MaxSize = size_t{256} << 20;
  // The longest MT record: all of core with a word separator before every character.
  static constexpr int MaxMTRecord = 2 * TCoreStorage::MaxSize;
  static_assert(MaxTapeRecord == static_cast<size_t>(MaxMTRecord));

  // The layout a file name selects (see FormatForName).
  static TImageFormat ChooseFormat(std::string_view name, TImageFormat previous) {
    return FormatForName(name, previous);
  }

  // New bytes at position 0 with the decoder reset.
  void Assign(std::vector<uint8_t> bytes);
  void Clear() { Assign({}); }

  TImageFormat Format() const { return format_; }
  void SetFormat(TImageFormat format) { format_ = format; }
  bool Empty() const { return bytes_.empty(); }
  size_t Size() const { return bytes_.size(); }
  size_t Position() const { return position_; }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

  // The next code of the current record, EndOfRecord or EndOfTape (a tape mark, or the image
  // ended at a record boundary); a bad image is a drive error.
  int NextFrame();
  // Whether a frame read since the last call had bad parity (its code is delivered all the same,
  // as the drive reads it); clears the condition.
  bool TakeParityError() { return std::exchange(parityError_, false); }
  // Passes over what is left of the current record; true when that was a tape mark or the end.
  bool SkipRecord();
  // Back to the load point, with the decoder at a record boundary.
  void Rewind();
  // Notes that a record or tape mark begins at the position (a read or write is about to start
  // there), so that a backspace can return to it.
  void MarkRecordStart();
  // Back to the start of the record or tape mark last begun before the position; at the load
  // point nothing moves.
  void Backspace();

  // One record of (word mark, code) characters written at the position in the image's layout; the
  // tape ends after it.  An empty record writes nothing.
  // `odd`: written in odd parity (the binary mode), which the BCD and .p7b frames keep in their
  // check bit and an MT record in bit 6 of its frames; a .tap reel keeps no parity.
  void WriteRecord(const std::vector<TCharWM>& record, bool odd = false);
  // The parity the next frames are read in: a frame written in the other one has bad parity.
  void SetReadParity(bool odd) { oddParity_ = odd; }
  // The density records are written and read in (the drive's switch).  An MT record keeps a low
  // density in bit 7 of its frames, and read in the other density every frame is in error; the
  // BCD, .p7b and .tap layouts have no bit for it, so their records read in either.
  void SetLowDensity(bool low) { lowDensity_ = low; }
  bool LowDensity() const { return lowDensity_; }
  // A tape mark at the position; the tape ends after it.
  void WriteTapeMark();
  // Overwrites one byte; the position stays.  An offset at or past the end is refused.
  void Zap(size_t offset, uint8_t value);

  // Whether a .tap reel's bytes are checked for even parity in their bit 6 (off: some writers
  // leave that bit clear, and the bit is then ignored).
  void SetCheckTapParity(bool on) { checkTapParity_ = on; }
  bool CheckTapParity() const { return checkTapParity_; }

  // The most bytes writing may make the image hold (MaxSize unless lowered).
  void SetCapacity(size_t capacity) { capacity_ = std::min(capacity, MaxSize); }

 private:
  int NextBCDFrame();
  // True when the byte at the position begins a record, or the image ends there.
  bool AtBCDRecordStart() const;
  int NextMTFrame();
  void StartMTEntry();
  int NextTapFrame();
  void StartTapEntry();
  void SkipTapGaps();
  bool AtTapEnd() const;
  int32_t ReadMTLength();
  void ResetDecoder();
  // Replaces everything from the position on with `bytes`.
  void WriteAtPosition(const std::vector<uint8_t>& bytes);

  std::vector<uint8_t> bytes_;
  size_t capacity_ = MaxSize;
  size_t position_ = 0;
  std::vector<size_t> recordStarts_;  // of the records passed since the load point
  TImageFormat format_ = IFBCD;
  bool recordStartTaken_ = true;
  bool parityError_ = false;
  bool oddParity_ = false;
  bool lowDensity_ = false;
  bool checkTapParity_ = false;
  std::vector<uint8_t> record_ = std::vector<uint8_t>(MaxMTRecord);
  uint16_t index_ = 0;
  uint16_t length_ = 0;
};

// What a drive's panel shows; the window draws it.  The texts are the labels' captions.
struct TTapePanel {
  std::string UnitText;
  std::string NameText = "TAPENAME";
  std::string PositionText = "POSN99999";
  std::string SizeText = "SIZE99999";
  int Progress = 0;  // percent of the image passed
  bool IndicateVisible = false;
  bool WriteProtect = true;     // the WP check box ticked
  bool DetailsVisible = false;  // position, size, progress bar and WP check box
  bool OpenEnabled = true;
  bool MountEnabled = false;
  bool DisMntEnabled = false;
  bool LoadEnabled = false;
  bool SaveEnabled = false;
};

class TTapeDrive {
 public:
  using TCoreReadEvent = std::function<TCharWM(uint16_t address)>;
  using TCoreWriteEvent = std::function<void(uint16_t address, bool wordMark, uint8_t code)>;

  explicit TTapeDrive(uint8_t unitNumber);
  TTapeDrive(const TTapeDrive&) = delete;
  TTapeDrive& operator=(const TTapeDrive&) = delete;

  // Events the owner connects: core access, a record loaded by the Load button, and every panel
  // refresh (after which `Panel()` holds what to draw).
  TCoreReadEvent OnCoreRead;
  TCoreWriteEvent OnCoreWrite;
  // What a position a record is read into holds (its word mark, and a group mark that ends the
  // storing), looked at as the machine does before it stores there: not a read of the
  // program's, so a position never written is no uninitialised read.  Not connected: OnCoreRead.
  TCoreReadEvent OnCoreLook;
  // The core size: a read stops storing at its end.  Not connected: no limit.
  std::function<uint16_t()> OnCoreSize;
  std::function<void()> OnLoadClick;
  std::function<void(const TTapeDrive&)> OnPanelChanged;

  uint8_t UnitNumber() const { return unitNumber_; }
  // The mounted file's name in upper case ("scratch" + unit for a tape begun by a write); kept
  // when the image is unloaded.
  const std::string& TapeFileName() const { return tapeFileName_; }
  const TTapeImage& Image() const { return image_; }
  bool TapeIndicate() const { return tapeIndicate_; }
  // Whether the last read met a frame with bad parity or a record too long for core: what the
  // processor's tape error indicator reports.
  bool ReadError() const { return readError_; }
  // Whether the last read ended at the record's end and stored its group mark after the record.
  bool EndMarkStored() const { return endMarkStored_; }
  bool WriteProtect() const { return writeProtect_; }
  bool TapeWritten() const { return tapeWritten_; }
  const TTapePanel& Panel() const { return panel_; }
  // The file an unload saves to: "729IV-" + unit + ".TAP" in `SaveDirectory`, a .tap reel.
  std::string SaveFileName() const;

  // Initial directory of the Open dialog.
  std::string TapeDirectory;
  // Where an unload saves a written tape; empty means the current working directory.
  std::string SaveDirectory;

  // ---- Drive operations (drive errors are EKestrelError) ----
  // Mounting over a reel that was written saves that reel first, as its unload would.
  void MountTape(const std::string& name);
  // A new empty reel, in the MT layout, that may be written (write protect off).  Like any
  // written reel it is saved by the unload, under SaveFileName.
  void MountScratch();
  static constexpr const char* ScratchName = "SCRATCH";
  void UnloadTape();
  void RewindTape();
  void ResetDrive();
  void ClearIndicate();
  void SetWriteProtect(bool on);
  // Whether this drive notes a .tap reel's bad parity bits (the tape error indicator after the
  // record); the setting stays with the drive across mounts.  Off: bit 6 is ignored.
  void SetCheckParity(bool on) { image_.SetCheckTapParity(on); }
  bool CheckParity() const { return image_.CheckTapParity(); }
  // The density switch, high or low; it stays through mounts and resets, as a switch does.
  void SetLowDensity(bool low);
  bool LowDensity() const { return image_.LowDensity(); }
  // Reads one record into core from `address`; `count` follows the characters stored, so after a
  // failure it holds those already stored.  A group mark with word mark in core ends the storing
  // early; the rest of the record passes the head all the same.
  // `odd`: read in odd parity (the binary mode, unit type B); a frame written in the other parity
  // is a read error.
  void ReadRecord(uint16_t address, uint32_t& count, TTransferMode mode = TTransferMode::Load,
                  bool odd = false);
  // Writes one record from core from `address` up to a group mark with word mark.
  void WriteRecord(uint16_t address, uint32_t& count, TTransferMode mode = TTransferMode::Load,
                   bool odd = false);
  void WriteTapeMark();
  // Backspace: back over the record (or tape mark) last read or written.
  void BackspaceRecord();
  // Skip and blank: erases a length of tape ahead of the next write; on an image, where gaps take
  // no room, only the write protection counts.
  void SkipAndBlank();
  // Writes the image to `name` in the layout that name selects (the mounted one when it names
  // none), converting when that differs; the drive and its reel stay as they are.
  void SaveTape(const std::string& name) const;
  void ZapFrame(uint32_t offset, uint8_t value);
  void UpdatePanel();

  // ---- Panel buttons ----
  // Open, once the dialog has chosen `file`.
  void PBOpenClick(const std::string& file);
  void PBMontClick();
  void PBDMntClick();
  void PBLoadClick();
  void PBSaveClick();
  // The WP check box.
  void CBWPClick(bool checked) { SetWriteProtect(checked); }

 private:
  TCharWM DoCoreRead(uint16_t address);
  TCharWM DoCoreLook(uint16_t address);
  void DoCoreWrite(uint16_t address, bool wordMark, uint8_t code);
  void WriteCheck();
  void SaveWrittenReel();

  uint8_t unitNumber_;
  std::string tapeFileName_;
  std::string tapePath_;  // the name as given, which is what the file system knows
  TTapeImage image_;
  bool tapeIndicate_ = false;
  bool readError_ = false;
  bool endMarkStored_ = false;
  bool writeProtect_ = true;
  bool tapeWritten_ = false;  // a tape mark was ever written on this drive
  bool reelWritten_ = false;  // the reel now mounted was written: its unload saves it
  TTapePanel panel_;
};

}  // namespace kestrel
