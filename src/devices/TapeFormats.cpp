#include "devices/TapeFormats.h"

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
constexpr uint8_t TapeMarkCode = 15;

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

bool EndsWith(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool BadParity(uint8_t frame) {
  return std::popcount(static_cast<uint8_t>(frame & 0x7F)) % 2 != 0;
}

uint8_t Frame(uint8_t code, bool first) {
  uint8_t frame = code & 0x3F;
  if (std::popcount(frame) % 2 != 0) frame |= CheckBit;
  if (first) frame |= RecordStartBit;
  return frame;
}

uint32_t Length32(const std::vector<uint8_t>& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i)
    value |= uint32_t{bytes[at + static_cast<size_t>(i)]} << (8 * i);
  return value;
}

void PutLength(std::vector<uint8_t>& bytes, uint32_t length) {
  for (int shift = 0; shift < 32; shift += 8)
    bytes.push_back(static_cast<uint8_t>(length >> shift));
}

[[noreturn]] void Bad(const std::string& name, TImageFormat format, const std::string& what,
                      size_t offset) {
  throw EKestrelError("Tape image " + name + " is not a " + FormatName(format) + " reel: " + what +
                      " at byte offset " + std::to_string(offset));
}

std::string TooLong(size_t length) {
  return "a record of " + std::to_string(length) +
         " characters is longer than the drive's limit (" + std::to_string(MaxTapeRecord) + ")";
}

// Frames with a record-start bit: Kestrel's BCD images and .p7b reels.
std::vector<TTapeRecord> DecodeFramed(const std::vector<uint8_t>& bytes, TImageFormat format,
                                      const std::string& name) {
  const bool p7b = format == IFP7B;
  std::vector<TTapeRecord> records;
  if (p7b && bytes.empty()) Bad(name, format, "the file is empty", 0);
  if (p7b && (bytes[0] & RecordStartBit) == 0) {
    Bad(name, format, "the first byte does not begin a record (bit 7 off)", 0);
  }
  size_t start = 0;
  bool newRecord = true;
  for (size_t i = 0; i < bytes.size(); ++i) {
    uint8_t frame = bytes[i];
    if (!p7b && frame == 0x0D) {
      // A BCD image once passed through a text-mode copy: the pair stands for the one frame.
      if (i + 1 >= bytes.size() || bytes[i + 1] != 0x0A) {
        throw EKestrelError("Tape image " + name + ": $0D not followed by $0A at byte offset " +
                            std::to_string(i));
      }
      ++i;
      frame = 0x0A;
    }
    if ((frame & RecordStartBit) || newRecord) {
      newRecord = false;
      const bool single = i + 1 >= bytes.size() || (bytes[i + 1] & RecordStartBit) != 0;
      if ((frame & RecordStartBit) && (frame & 0x3F) == TapeMarkCode && single) {
        // The next frame begins a new record even without its bit, as the drive reads it.
        records.push_back({.TapeMark = true, .Error = false, .Codes = {}});
        newRecord = true;
        continue;
      }
      records.push_back({});
      start = i;
    }
    TTapeRecord& record = records.back();
    if (record.Codes.size() >= MaxTapeRecord)
      Bad(name, format, TooLong(record.Codes.size() + 1), start);
    if (BadParity(frame)) record.Error = true;
    record.Codes.push_back(frame & 0x3F);
  }
  return records;
}

// Length-framed records: Kestrel's MT images and .tap reels.
std::vector<TTapeRecord> DecodeLengths(const std::vector<uint8_t>& bytes, TImageFormat format,
                                       const std::string& name) {
  const bool tap = format == IFTAP;
  std::vector<TTapeRecord> records;
  if (tap && bytes.empty()) Bad(name, format, "the file is empty", 0);
  size_t pos = 0;
  while (pos < bytes.size()) {
    const size_t start = pos;
    if (bytes.size() - pos < 4) Bad(name, format, "a truncated record length", start);
    const uint32_t length = Length32(bytes, pos);
    pos += 4;
    if (length == TapLength::TapeMark) {
      records.push_back({.TapeMark = true, .Error = false, .Codes = {}});
      continue;
    }
    if (tap && length == TapLength::EndOfMedium) break;
    if (tap && length == TapLength::EraseGap) continue;
    const bool error = tap && (length & TapLength::ErrorFlag) != 0;
    const size_t n = tap ? (length & ~TapLength::ErrorFlag) : length;
    if (!tap && (length & TapLength::ErrorFlag) != 0) {
      Bad(name, format, "a record length of " + std::to_string(static_cast<int32_t>(length)),
          start);
    }
    if (n > MaxTapeRecord) Bad(name, format, TooLong(n), start);
    if (n > bytes.size() - pos) {
      Bad(name, format, "a record of " + std::to_string(n) + " bytes runs past the end of the file",
          start);
    }
    TTapeRecord record;
    record.Error = error;
    record.Codes.reserve(n);
    for (size_t i = 0; i < n; ++i)
      record.Codes.push_back(bytes[pos + i] & 0x3F);
    pos += n;
    auto lengthAt = [&](size_t at) {
      return bytes.size() >= at + 4 ? Length32(bytes, at) : ~length;  // ~length: no match
    };
    if (tap) {
      // The pad byte after an odd record is left out by some writers: either way the trailing
      // length must match.
      if (n % 2 != 0 && lengthAt(pos + 1) == length) {
        pos += 5;
      } else if (lengthAt(pos) == length) {
        pos += 4;
      } else {
        Bad(name, format, "the length after the record does not match the one before it", start);
      }
    } else {
      if (n % 2 != 0) ++pos;
      if (bytes.size() < pos + 4) Bad(name, format, "a truncated record", start);
      if (Length32(bytes, pos) > length) Bad(name, format, "a bad record structure", start);
      pos += 4;
    }
    records.push_back(std::move(record));
  }
  return records;
}

}  // namespace

TImageFormat FormatForName(std::string_view name, TImageFormat previous) {
  const std::string upper = UpperCase(name);
  if (EndsWith(upper, ".TAP")) return IFTAP;
  if (EndsWith(upper, ".P7B")) return IFP7B;
  TImageFormat format = previous;
  if (upper.find(".BCD") != std::string::npos) format = IFBCD;
  if (upper.find(".MT") != std::string::npos) format = IFMT;
  return format;
}

const char* FormatName(TImageFormat format) {
  switch (format) {
    case IFMT:
      return "MT";
    case IFTAP:
      return "TAP";
    case IFP7B:
      return "P7B";
    case IFBCD:
      break;
  }
  return "BCD";
}

bool IsCheckedFormat(TImageFormat format) {
  return format == IFTAP || format == IFP7B;
}

std::vector<TTapeRecord> DecodeImage(const std::vector<uint8_t>& bytes, TImageFormat format,
                                     const std::string& name) {
  return format == IFMT || format == IFTAP ? DecodeLengths(bytes, format, name)
                                           : DecodeFramed(bytes, format, name);
}

void CheckImage(const std::vector<uint8_t>& bytes, TImageFormat format, const std::string& name) {
  (void)DecodeImage(bytes, format, name);
}

std::vector<uint8_t> EncodeImage(const std::vector<TTapeRecord>& records, TImageFormat format) {
  std::vector<uint8_t> bytes;
  const bool framed = format == IFBCD || format == IFP7B;
  for (const TTapeRecord& record : records) {
    if (record.TapeMark) {
      if (framed) {
        bytes.push_back(Frame(TapeMarkCode, true));
      } else {
        PutLength(bytes, TapLength::TapeMark);
      }
      continue;
    }
    if (record.Codes.empty()) continue;  // nothing on tape to tell it by
    if (framed) {
      for (size_t i = 0; i < record.Codes.size(); ++i)
        bytes.push_back(Frame(record.Codes[i], i == 0));
      continue;
    }
    uint32_t length = static_cast<uint32_t>(record.Codes.size());
    if (format == IFTAP && record.Error) length |= TapLength::ErrorFlag;
    PutLength(bytes, length);
    for (uint8_t code : record.Codes)
      bytes.push_back(code & 0x3F);
    if (record.Codes.size() % 2 != 0) bytes.push_back(0);
    PutLength(bytes, length);
  }
  return bytes;
}

std::vector<uint8_t> ReadImageFile(const std::string& name, size_t limit) {
  std::error_code error;
  fs::path path(name);
  fs::file_status status = name.empty() ? fs::file_status{} : fs::status(path, error);
  if (name.empty() || error || !fs::exists(status)) {
    throw EKestrelError("Tape file not found: " + name);
  }
  if (!fs::is_regular_file(status)) throw EKestrelError("Tape file is not a file: " + name);
  uintmax_t size = fs::file_size(path, error);
  if (error) throw EKestrelError("Tape file could not be read: " + name);
  if (size > limit) {
    throw EKestrelError("Tape image too large: " + name + " (" + std::to_string(size) +
                        " bytes, at most " + std::to_string(limit) + ")");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EKestrelError("Tape file could not be read: " + name);
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    throw EKestrelError("Tape file could not be read: " + name + " (not enough memory)");
  }
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  if (static_cast<uintmax_t>(in.gcount()) != size) {
    throw EKestrelError("Tape file could not be read: " + name);
  }
  return bytes;
}

void WriteImageFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string partial = name + ".part";
  bool saved = false;
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    saved = static_cast<bool>(out);
  }
  std::error_code error;
  if (saved) fs::rename(partial, name, error);
  if (!saved || error) {
    fs::remove(partial, error);
    throw EKestrelError("Tape image could not be saved: " + name);
  }
}

size_t ConvertImageFile(const std::string& in, const std::string& out) {
  constexpr size_t Limit = size_t{256} << 20;
  std::vector<TTapeRecord> records =
      DecodeImage(ReadImageFile(in, Limit), FormatForName(in, IFBCD), in);
  WriteImageFile(out, EncodeImage(records, FormatForName(out, IFBCD)));
  return records.size();
}

}  // namespace kestrel
