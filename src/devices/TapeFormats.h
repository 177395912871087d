// Tape reel formats: the four layouts a tape image file may have (Kestrel's BCD frames and MT
// length-framed records, and the .tap and .p7b reels other tools exchange), which one a file name
// selects, the check that a file's bytes really are that layout, and the conversion of a whole
// reel from one layout to another through its records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// IFBCD: a frame a byte, bit 7 on a record's first frame, bit 6 the check bit.
// IFMT: each record a 4-byte little-endian length, its bytes, a pad byte when odd, the length.
// IFTAP: as IFMT, with 0 a tape mark, 0xFFFFFFFF the end of the medium, 0xFFFFFFFE an erase
//   gap, the high bit an error record; the pad byte after an odd record may be missing.
// IFP7B: as IFBCD; a record of the single frame 0x8F is a tape mark.
enum TImageFormat : uint8_t { IFBCD, IFMT, IFTAP, IFP7B };

// One record of a reel: the 6-bit codes as they lie on tape (word separators included).
struct TTapeRecord {
  bool TapeMark = false;
  bool Error = false;  // read with the tape error indicator on
  std::vector<uint8_t> Codes;

  bool operator==(const TTapeRecord&) const = default;
};

namespace TapLength {
inline constexpr uint32_t TapeMark = 0;
inline constexpr uint32_t EndOfMedium = 0xFFFFFFFF;
inline constexpr uint32_t EraseGap = 0xFFFFFFFE;
inline constexpr uint32_t ErrorFlag = 0x80000000;
}  // namespace TapLength

// The longest record a drive reads or writes: all of core with a word separator before every
// character.
inline constexpr size_t MaxTapeRecord = 32000;

// The layout a file name selects: a last extension of ".TAP" or ".P7B" selects that reel; else
// ".MT" anywhere in the name wins over ".BCD"; a name with none of them keeps `previous`.
TImageFormat FormatForName(std::string_view name, TImageFormat previous);
// "BCD", "MT", "TAP", "P7B".
const char* FormatName(TImageFormat format);

// Whether a file in `format` must pass `CheckImage` before a drive takes it (the .tap and .p7b
// reels; Kestrel's own images are taken as they are and fail only when read).
bool IsCheckedFormat(TImageFormat format);

// The records of an image.  A bad image is an EKestrelError that names `name` and the byte
// offset of the first bad record.  An image that ends part way is refused in every layout.
std::vector<TTapeRecord> DecodeImage(const std::vector<uint8_t>& bytes, TImageFormat format,
                                     const std::string& name);
// Throws as DecodeImage does when the bytes are not an image of `format`.
void CheckImage(const std::vector<uint8_t>& bytes, TImageFormat format, const std::string& name);
// The image of `records` in `format` (an error record keeps its flag only in a .tap reel).
std::vector<uint8_t> EncodeImage(const std::vector<TTapeRecord>& records, TImageFormat format);

// The whole file, or a drive error naming it; nothing larger than `limit` is read.
std::vector<uint8_t> ReadImageFile(const std::string& name, size_t limit);
// Writes `bytes` to `name` through a temporary file, so a failed write keeps the old file.
void WriteImageFile(const std::string& name, const std::vector<uint8_t>& bytes);
// Reads `in` and writes `out`, each in the layout its name selects (BCD when it names none).
// Returns the number of records (tape marks included).
size_t ConvertImageFile(const std::string& in, const std::string& out);

}  // namespace kestrel
