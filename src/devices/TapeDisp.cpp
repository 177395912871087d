#include "devices/TapeDisp.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <new>
#include <system_error>

#include "core/KestDefs.h"

namespace kestrel {

namespace fs = std::filesystem;

namespace {

constexpr uint8_t RecordStartBit = 0x80;
constexpr uint8_t CheckBit = 0x40;
// In an MT record, bit 6 of a frame says it was written in odd parity, bit 7 at low density.
constexpr uint8_t OddFrameBit = 0x40;
constexpr uint8_t LowDensityBit = 0x80;

std::string UpperCase(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// A BCD frame: the code with the check bit that makes bits 0..6 even (odd for a record written
// in odd parity), and the record-start bit on a record's first frame.
uint8_t BCDFrame(uint8_t code, bool first, bool odd = false) {
  uint8_t frame = code & 0x3F;
  if ((std::popcount(frame) % 2 != 0) != odd) frame |= CheckBit;
  if (first) frame |= RecordStartBit;
  return frame;
}

void PutLength(std::vector<uint8_t>& bytes, uint32_t length) {
  for (int shift = 0; shift < 32; shift += 8)
    bytes.push_back(static_cast<uint8_t>(length >> shift));
}

std::string WithoutDirectory(const std::string& name) {
  size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

uint32_t Length32(const std::vector<uint8_t>& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i)
    value |= uint32_t{bytes[at + static_cast<size_t>(i)]} << (8 * i);
  return value;
}

}  // namespace

// ---- Image ----------------------------------------------------------------------------------

void TTapeImage::Assign(std::vector<uint8_t> bytes) {
  bytes_ = std::move(bytes);
  position_ = 0;
  recordStarts_.clear();
  std::fill(record_.begin(), record_.end(), uint8_t{0});
  ResetDecoder();
}

void TTapeImage::ResetDecoder() {
  recordStartTaken_ = true;
  index_ = 0;
  length_ = 0;
}

void TTapeImage::Rewind() {
  // A record left half read before the rewind must not be delivered again from the buffer.
  position_ = 0;
  recordStarts_.clear();
  ResetDecoder();
}

void TTapeImage::MarkRecordStart() {
  // A write replaces the tape from here on, so starts beyond it are gone.
  while (!recordStarts_.empty() && recordStarts_.back() >= position_)
    recordStarts_.pop_back();
  recordStarts_.push_back(position_);
}

void TTapeImage::Backspace() {
  if (recordStarts_.empty()) return;
  position_ = recordStarts_.back();
  recordStarts_.pop_back();
  ResetDecoder();
}

int TTapeImage::NextFrame() {
  if (format_ == IFMT) return NextMTFrame();
  if (format_ == IFTAP) return NextTapFrame();
  return NextBCDFrame();
}

int TTapeImage::NextBCDFrame() {
  if (position_ >= bytes_.size() && format_ == IFP7B && !recordStartTaken_) {
    // A .p7b reel that ends after a record ends the tape there, as a length-framed one does.
    recordStartTaken_ = true;
    return EndOfTape;
  }
  if (position_ >= bytes_.size()) throw EKestrelError("Tape Read Error");
  uint8_t frame = bytes_[position_++];
  if (frame == 0x0D && format_ == IFBCD) {
    if (position_ >= bytes_.size() || bytes_[position_] != 0x0A) {
      throw EKestrelError("$0D not followed by $0A");
    }
    ++position_;
    frame = 0x0A;
  }
  if ((frame & RecordStartBit) && !recordStartTaken_) {
    // The start of the next record ends this one; the same frame is read again next time.
    recordStartTaken_ = true;
    --position_;
    return EndOfRecord;
  }
  recordStartTaken_ = false;
  // A frame with bad parity for the mode read in is read as it stands; the drive reports the error
  // after the record.
  if ((std::popcount(static_cast<uint8_t>(frame & 0x7F)) % 2 != 0) != oddParity_) {
    parityError_ = true;
  }
  uint8_t code = frame & 0x3F;
  if ((frame & RecordStartBit) && code == TapeCode::TapeMark && AtBCDRecordStart()) {
    // The tape mark is the record of that one frame; code 15 anywhere else is data.  The frame
    // after it starts the next record, which must not read as an empty one.
    recordStartTaken_ = true;
    return EndOfTape;
  }
  return code;
}

bool TTapeImage::AtBCDRecordStart() const {
  return position_ >= bytes_.size() || (bytes_[position_] & RecordStartBit) != 0;
}

bool TTapeImage::SkipRecord() {
  while (true) {
    int frame = NextFrame();
    if (frame == EndOfRecord) return false;
    if (frame == EndOfTape) return true;
  }
}

int32_t TTapeImage::ReadMTLength() {
  if (bytes_.size() - position_ < 4) throw EKestrelError("Unexpected end of tape image");
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i)
    value |= uint32_t{bytes_[position_ + i]} << (8 * i);
  position_ += 4;
  return static_cast<int32_t>(value);
}

void TTapeImage::StartMTEntry() {
  int32_t length = ReadMTLength();
  if (length == 0) return;
  if (length < 0 || length > MaxMTRecord) throw EKestrelError("Invalid MT record size");
  size_t n = static_cast<size_t>(length);
  if (bytes_.size() - position_ < n) throw EKestrelError("Unexpected end of tape image");
  std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(position_), n, record_.begin());
  position_ += n;
  index_ = 1;
  length_ = static_cast<uint16_t>(n);
  if (n % 2 != 0) {
    if (position_ >= bytes_.size()) throw EKestrelError("Unexpected end of tape image");
    ++position_;  // the pad byte
  }
  if (ReadMTLength() > length) throw EKestrelError("Bad MT record structure");
}

int TTapeImage::NextMTFrame() {
  if (index_ > length_) {
    index_ = 0;
    length_ = 0;
    return position_ >= bytes_.size() ? EndOfTape : EndOfRecord;
  }
  if (length_ == 0) {
    try {
      StartMTEntry();
    } catch (const EKestrelError& e) {
      throw EKestrelError(std::string("Tape Read Error - ") + e.what());
    }
    if (length_ == 0) return EndOfTape;  // a tape mark
  }
  // Bit 6 marks a frame written in odd parity: read in the other mode it has bad parity.
  uint8_t frame = record_[index_++ - 1];
  if (((frame & OddFrameBit) != 0) != oddParity_) parityError_ = true;
  if (((frame & LowDensityBit) != 0) != lowDensity_) parityError_ = true;
  return frame & 0x3F;
}

void TTapeImage::SkipTapGaps() {
  while (bytes_.size() - position_ >= 4 && Length32(bytes_, position_) == TapLength::EraseGap)
    position_ += 4;
}

bool TTapeImage::AtTapEnd() const {
  return position_ >= bytes_.size() ||
         (bytes_.size() - position_ >= 4 && Length32(bytes_, position_) == TapLength::EndOfMedium);
}

void TTapeImage::StartTapEntry() {
  SkipTapGaps();
  if (bytes_.size() - position_ < 4) throw EKestrelError("Unexpected end of tape image");
  const uint32_t length = Length32(bytes_, position_);
  if (length == TapLength::EndOfMedium) throw EKestrelError("End of medium");
  position_ += 4;
  if (length == TapLength::TapeMark) return;
  const size_t n = length & ~TapLength::ErrorFlag;
  if (n > static_cast<size_t>(MaxMTRecord)) throw EKestrelError("Invalid TAP record size");
  if (bytes_.size() - position_ < n) throw EKestrelError("Unexpected end of tape image");
  std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(position_), n, record_.begin());
  position_ += n;
  auto lengthAt = [&](size_t at) {
    return bytes_.size() >= at + 4 ? Length32(bytes_, at) : ~length;
  };
  // Some writers leave out the pad byte after an odd record: the trailing length tells.
  if (n % 2 != 0 && lengthAt(position_ + 1) == length) {
    position_ += 5;
  } else if (lengthAt(position_) == length) {
    position_ += 4;
  } else {
    throw EKestrelError("Bad TAP record structure");
  }
  if (length & TapLength::ErrorFlag) parityError_ = true;  // an error record
  index_ = 1;
  length_ = static_cast<uint16_t>(n);
}

int TTapeImage::NextTapFrame() {
  if (index_ > length_) {
    index_ = 0;
    length_ = 0;
    SkipTapGaps();
    return AtTapEnd() ? EndOfTape : EndOfRecord;
  }
  if (length_ == 0) {
    try {
      StartTapEntry();
    } catch (const EKestrelError& e) {
      throw EKestrelError(std::string("Tape Read Error - ") + e.what());
    }
    if (length_ == 0) return EndOfTape;  // a tape mark
  }
  const uint8_t frame = record_[index_++ - 1];
  if (checkTapParity_ && std::popcount(static_cast<uint8_t>(frame & 0x7F)) % 2 != 0) {
    parityError_ = true;
  }
  return frame & 0x3F;
}

void TTapeImage::WriteAtPosition(const std::vector<uint8_t>& bytes) {
  // Writing ends the tape after the new bytes, as a real write does: what lay beyond would
  // otherwise run on into the last record written.
  if (position_ + bytes.size() > capacity_) throw EKestrelError("Tape Write Error");
  try {
    bytes_.reserve(position_ + bytes.size());  // the only step that can fail: nothing is lost
  } catch (const std::bad_alloc&) {
    throw EKestrelError("Tape Write Error");
  }
  bytes_.resize(position_);
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  position_ += bytes.size();
  ResetDecoder();
}

void TTapeImage::WriteRecord(const std::vector<TCharWM>& record, bool odd) {
  // Each character is its code, 0 as the blank 16, with a word separator before it when it
  // carries a word mark; the layout frames the record so that it reads back as written.
  std::vector<uint8_t> data;
  data.reserve(record.size() * 2 + 8);
  for (TCharWM c : record) {
    if (c.WordMark) data.push_back(TapeCode::WordSeparator);
    uint8_t code = c.Code & 0x3F;
    data.push_back(code == 0 ? TapeCode::Blank : code);
  }
  if (data.empty()) return;
  if (format_ == IFBCD || format_ == IFP7B) {
    for (size_t i = 0; i < data.size(); ++i)
      data[i] = BCDFrame(data[i], i == 0, odd);
    WriteAtPosition(data);
    return;
  }
  if (data.size() > static_cast<size_t>(MaxMTRecord)) {
    throw EKestrelError("Tape Write Error - record of " + std::to_string(data.size()) +
                        " bytes is longer than an MT record (" + std::to_string(MaxMTRecord) + ")");
  }
  if (format_ == IFMT) {
    for (uint8_t& frame : data)
      frame |= (odd ? OddFrameBit : 0) | (lowDensity_ ? LowDensityBit : 0);
  }
  std::vector<uint8_t> entry;
  entry.reserve(data.size() + 9);
  uint32_t length = static_cast<uint32_t>(data.size());
  PutLength(entry, length);
  entry.insert(entry.end(), data.begin(), data.end());
  if (length % 2 != 0) entry.push_back(0);
  PutLength(entry, length);
  WriteAtPosition(entry);
}

void TTapeImage::WriteTapeMark() {
  if (format_ == IFMT || format_ == IFTAP) {
    WriteAtPosition({0, 0, 0, 0});
  } else {
    WriteAtPosition({BCDFrame(TapeCode::TapeMark, true)});  // 0x8F
  }
}

void TTapeImage::Zap(size_t offset, uint8_t value) {
  if (offset >= bytes_.size()) throw EKestrelError("Tape Write Error");
  bytes_[offset] = value;
}

// ---- Drive ----------------------------------------------------------------------------------

TTapeDrive::TTapeDrive(uint8_t unitNumber) : unitNumber_(unitNumber) {
  UpdatePanel();
}

std::string TTapeDrive::SaveFileName() const {
  std::string name = "729IV-" + std::to_string(unitNumber_) + ".TAP";
  if (SaveDirectory.empty()) return name;
  return (fs::path(SaveDirectory) / name).string();
}

TCharWM TTapeDrive::DoCoreLook(uint16_t address) {
  return OnCoreLook ? OnCoreLook(address) : DoCoreRead(address);
}

TCharWM TTapeDrive::DoCoreRead(uint16_t address) {
  if (!OnCoreRead) throw EKestrelError("Tape drive not connected to core storage");
  return OnCoreRead(address);
}

void TTapeDrive::DoCoreWrite(uint16_t address, bool wordMark, uint8_t code) {
  if (!OnCoreWrite) throw EKestrelError("Tape drive not connected to core storage");
  OnCoreWrite(address, wordMark, code);
}

void TTapeDrive::MountTape(const std::string& name) {
  std::vector<uint8_t> bytes = ReadImageFile(name, TTapeImage::MaxSize);
  TImageFormat format = FormatForName(name, image_.Format());
  // A reel that is not what its name says is refused before anything on the drive changes.
  if (IsCheckedFormat(format)) {
    try {
      CheckImage(bytes, format, name);
    } catch (const EKestrelError&) {
      // Before it read .tap reels Kestrel saved unloaded tapes as 729IV-n.TAP in its BCD
      // layout: such a file still mounts as what it is.
      // Any other name keeps the error of the layout it gave.
      auto isOldSave = [&] {
        const std::string base = UpperCase(std::filesystem::path(name).filename().string());
        if (base.size() != 11 || base.compare(0, 6, "729IV-") != 0 || base[6] < '1' ||
            base[6] > '6' || base.compare(7, 4, ".TAP") != 0) {
          return false;
        }
        if (bytes.empty() || (bytes[0] & 0x80) == 0) return false;
        try {
          CheckImage(bytes, IFBCD, name);
          return true;
        } catch (const EKestrelError&) {
          return false;
        }
      };
      if (format != IFTAP || !isOldSave()) throw;
      format = IFBCD;
    }
  }
  SaveWrittenReel();
  tapePath_ = name;
  tapeFileName_ = UpperCase(name);
  image_.SetFormat(format);
  image_.Assign(std::move(bytes));
  UpdatePanel();
}

void TTapeDrive::MountScratch() {
  SaveWrittenReel();
  tapePath_.clear();
  tapeFileName_ = ScratchName;
  image_.SetFormat(IFMT);
  image_.Clear();
  tapeIndicate_ = false;
  writeProtect_ = false;
  UpdatePanel();
}

// A reel that was written keeps its records, tape mark or not, when it leaves the drive.  A reel
// only read is not saved, even on a drive that wrote an earlier one (that save stays as it was).
void TTapeDrive::SaveWrittenReel() {
  if (!reelWritten_) return;
  // Written to a temporary file first: a failed save keeps both the image and the last file.
  SaveTape(SaveFileName());
  reelWritten_ = false;
}

void TTapeDrive::UnloadTape() {
  SaveWrittenReel();
  image_.Clear();
  tapeIndicate_ = false;
  UpdatePanel();
}

void TTapeDrive::SaveTape(const std::string& name) const {
  const TImageFormat format = FormatForName(name, image_.Format());
  if (format == image_.Format()) {
    WriteImageFile(name, image_.Bytes());
    return;
  }
  std::vector<uint8_t> converted;
  try {
    converted = EncodeImage(DecodeImage(image_.Bytes(), image_.Format(), tapeFileName_), format);
  } catch (const EKestrelError& e) {
    throw EKestrelError("Tape image could not be saved: " + name + " (" + e.what() + ")");
  }
  WriteImageFile(name, converted);
}

void TTapeDrive::RewindTape() {
  image_.Rewind();
  UpdatePanel();
}

void TTapeDrive::ResetDrive() {
  image_.Clear();
  reelWritten_ = false;
  tapeIndicate_ = false;
  UpdatePanel();
}

void TTapeDrive::ClearIndicate() {
  tapeIndicate_ = false;
  UpdatePanel();
}

void TTapeDrive::SetWriteProtect(bool on) {
  writeProtect_ = on;
  UpdatePanel();
}

void TTapeDrive::SetLowDensity(bool low) {
  image_.SetLowDensity(low);
}

void TTapeDrive::ReadRecord(uint16_t address, uint32_t& count, TTransferMode mode, bool odd) {
  if (tapeIndicate_) throw EKestrelError("Tape Read with Tape Indicate On");
  const bool load = mode == TTransferMode::Load;
  const uint32_t limit = OnCoreSize ? OnCoreSize() : 0x10000;
  count = 0;
  bool pendingWordMark = false;
  bool tooLong = false;
  image_.TakeParityError();
  readError_ = false;
  endMarkStored_ = false;
  image_.MarkRecordStart();
  image_.SetReadParity(odd);
  try {
    while (true) {
      if (address >= limit) {
        // Core is full: a record that goes on passes the head unstored, and is an error.
        int frame = image_.NextFrame();
        if (frame == EndOfTape) {
          tapeIndicate_ = true;
        } else if (frame != EndOfRecord) {
          tooLong = true;
          if (image_.SkipRecord()) tapeIndicate_ = true;
        }
        break;
      }
      TCharWM inCore = DoCoreLook(address);
      if (inCore.WordMark && inCore.Code == TapeCode::GroupMark) {
        // Storing stops here, but the tape cannot stop inside a record: the rest of it passes
        // the head unstored, and the next read begins with the next record.
        if (image_.SkipRecord()) tapeIndicate_ = true;
        break;
      }
      int frame = image_.NextFrame();
      if (frame == EndOfTape && count > 0 && image_.Format() == IFMT) {
        // An MT image that ends behind a record ends in blank tape, not a tape mark: the record
        // is whole, and the next read finds nothing.
        frame = EndOfRecord;
      }
      if (frame == EndOfTape) {
        tapeIndicate_ = true;
        break;
      }
      if (frame == TapeCode::WordSeparator && load) {
        if (pendingWordMark) throw EKestrelError("WM followed by WM");
        pendingWordMark = true;
        continue;
      }
      if (frame == EndOfRecord) {
        // A word separator that ends the record marks nothing.
        DoCoreWrite(address, !load && inCore.WordMark, TapeCode::GroupMark);
        endMarkStored_ = true;
        break;
      }
      uint8_t code = frame == TapeCode::Blank ? 0 : static_cast<uint8_t>(frame);
      DoCoreWrite(address, load ? pendingWordMark : inCore.WordMark, code);
      ++address;
      ++count;
      pendingWordMark = false;
    }
  } catch (...) {
    readError_ = image_.TakeParityError() || tooLong;
    UpdatePanel();
    throw;
  }
  readError_ = image_.TakeParityError() || tooLong;
  UpdatePanel();
}

void TTapeDrive::WriteCheck() {
  if (tapeIndicate_) throw EKestrelError("Tape Write with Tape Indicate On");
  if (writeProtect_) throw EKestrelError("Tape Write with Write Protect On");
  if (tapeFileName_.empty()) {
    tapeFileName_ = "scratch" + std::to_string(unitNumber_);
    tapePath_ = tapeFileName_;
  }
}

void TTapeDrive::WriteRecord(uint16_t address, uint32_t& count, TTransferMode mode, bool odd) {
  WriteCheck();
  count = 0;
  // The record is taken from core whole before it goes to tape, so a core check part way leaves
  // the image as it was.
  std::vector<TCharWM> record;
  while (true) {
    TCharWM c = DoCoreRead(address);
    if (c.WordMark && c.Code == TapeCode::GroupMark) break;
    if (mode == TTransferMode::Move) c.WordMark = false;  // no word separators written
    record.push_back(c);
    ++address;
  }
  if (!record.empty()) image_.MarkRecordStart();
  image_.WriteRecord(record, odd);
  reelWritten_ = true;
  count = static_cast<uint32_t>(record.size());
  UpdatePanel();
}

void TTapeDrive::WriteTapeMark() {
  WriteCheck();
  image_.MarkRecordStart();
  image_.WriteTapeMark();
  tapeWritten_ = true;
  reelWritten_ = true;
  UpdatePanel();
}

void TTapeDrive::BackspaceRecord() {
  image_.Backspace();
  UpdatePanel();
}

void TTapeDrive::SkipAndBlank() {
  if (writeProtect_) throw EKestrelError("Tape Write with Write Protect On");
}

void TTapeDrive::ZapFrame(uint32_t offset, uint8_t value) {
  if (offset >= image_.Size()) {
    throw EKestrelError("ZAP offset " + std::to_string(offset) +
                        " is past the end of the tape on unit " + std::to_string(unitNumber_) +
                        " (" + std::to_string(image_.Size()) + " bytes)");
  }
  image_.Zap(offset, value);
}

void TTapeDrive::UpdatePanel() {
  TTapePanel& p = panel_;
  p.UnitText = std::to_string(unitNumber_);
  p.NameText = WithoutDirectory(tapeFileName_);
  p.IndicateVisible = tapeIndicate_;
  p.OpenEnabled = true;
  p.MountEnabled = !tapeFileName_.empty() && image_.Empty();
  p.DisMntEnabled = !image_.Empty();
  p.LoadEnabled = !image_.Empty() && image_.Position() == 0;
  p.SaveEnabled = false;
  p.DetailsVisible = p.DisMntEnabled;
  p.PositionText = std::to_string(image_.Position());
  p.SizeText = std::to_string(image_.Size());
  p.Progress = image_.Empty() ? 0 : static_cast<int>(image_.Position() * 100 / image_.Size());
  p.WriteProtect = writeProtect_;
  if (OnPanelChanged) OnPanelChanged(*this);
}

void TTapeDrive::PBOpenClick(const std::string& file) {
  TapeDirectory = fs::path(file).parent_path().string();
  MountTape(file);
}

void TTapeDrive::PBMontClick() {
  MountTape(tapePath_);
}

void TTapeDrive::PBDMntClick() {
  UnloadTape();
}

void TTapeDrive::PBLoadClick() {
  uint32_t count = 0;
  ReadRecord(1, count);
  UpdatePanel();
  if (OnLoadClick) OnLoadClick();
}

void TTapeDrive::PBSaveClick() {
  UpdatePanel();
}

}  // namespace kestrel
