#include "devices/TapeFormats.h"

#include <gtest/gtest.h>

#include "core/KestDefs.h"
#include "devices/TapeDisp.h"
#include "devices/TapeImages.h"
#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

using Bytes = std::vector<uint8_t>;

TTapeRecord Data(std::vector<uint8_t> codes, bool error = false) {
  return {.TapeMark = false, .Error = error, .Codes = std::move(codes)};
}
const TTapeRecord Mark{.TapeMark = true, .Error = false, .Codes = {}};

// A .tap length word.
Bytes L(uint32_t n) {
  return {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
          static_cast<uint8_t>(n >> 24)};
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts)
    all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(TapeFormats, NamesChooseTheLayout) {
  struct Case {
    const char* name;
    TImageFormat previous, expected;
  } cases[] = {
      {"reel.tap", IFBCD, IFTAP}, {"/x/REEL.P7B", IFMT, IFP7B}, {"a.mt.tap", IFBCD, IFTAP},
      {"a.tap.mt", IFBCD, IFMT},  {"deck.bcd", IFMT, IFBCD},    {"x.tape", IFMT, IFMT},
      {"x.p7", IFBCD, IFBCD},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FormatForName(c.name, c.previous), c.expected) << c.name;
}

// Every layout's reading of the bytes it is given, and what each bad reel is refused with.
TEST(TapeFormats, DecodesEachLayoutAndRefusesBadReelsWithTheOffset) {
  struct Case {
    const char* what;
    TImageFormat format;
    Bytes bytes;
    std::vector<TTapeRecord> records;  // when `error` is empty
    std::string error;                 // the refusal after the file name
  } cases[] = {
      {"tap: odd record padded, mark, even record, end of medium, then ignored bytes",
       IFTAP,
       Cat({L(3),
            {0x01, 0x42, 0x3F, 0},
            L(3),
            L(0),
            L(2),
            {0x11, 0x12},
            L(2),
            L(0xFFFFFFFF),
            {9, 9}}),
       {Data({1, 2, 0x3F}), Mark, Data({0x11, 0x12})},
       ""},
      {"tap: odd record without its pad, erase gap skipped, error record",
       IFTAP,
       Cat({L(1), {0x05}, L(1), L(0xFFFFFFFE), L(0x80000002), {7, 8}, L(0x80000002)}),
       {Data({5}), Data({7, 8}, true)},
       ""},
      {"tap: empty file", IFTAP, {}, {}, "the file is empty at byte offset 0"},
      {"tap: truncated length",
       IFTAP,
       Cat({L(0), {1, 0}}),
       {},
       "a truncated record length at byte offset 4"},
      {"tap: length past the end",
       IFTAP,
       Cat({L(0), L(9), {1, 2}}),
       {},
       "a record of 9 bytes runs past the end of the file at byte offset 4"},
      {"tap: record longer than the drive takes",
       IFTAP,
       L(32001),
       {},
       "a record of 32001 characters is longer than the drive's limit (32000) at byte offset 0"},
      {"tap: trailing length missing",
       IFTAP,
       Cat({L(2), {1, 2}}),
       {},
       "the length after the record does not match the one before it at byte offset 0"},
      {"tap: trailing length differs",
       IFTAP,
       Cat({L(0), L(2), {1, 2}, L(3)}),
       {},
       "the length after the record does not match the one before it at byte offset 4"},
      {"p7b: records, a mark, bad parity kept as an error",
       IFP7B,
       {0x81 | 0x40, 0x02 | 0x40, 0x8F, 0x83, 0x01},
       {Data({1, 2}), Mark, Data({3, 1}, true)},
       ""},
      {"p7b: empty file", IFP7B, {}, {}, "the file is empty at byte offset 0"},
      {"p7b: first byte not a record start",
       IFP7B,
       {0x01, 0x81},
       {},
       "the first byte does not begin a record (bit 7 off) at byte offset 0"},
      {"p7b: record longer than the drive takes",
       IFP7B,
       [] {
         Bytes b(32002, 0x41);
         b[0] = 0xC1;
         return b;
       }(),
       {},
       "a record of 32001 characters is longer than the drive's limit (32000) at byte offset 0"},
      {"mt: the odd record's pad is required",
       IFMT,
       Cat({L(1), {0x05}, L(1)}),
       {},
       "a truncated record at byte offset 0"},
      {"bcd: the old images read as before, code 15 a mark only alone",
       IFBCD,
       {0x0D, 0x0A, 0x8F, 0x8F, 0x0A},
       {Data({0x0A}), Mark, Data({15, 0x0A})},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.error.empty()) {
      EXPECT_EQ(DecodeImage(c.bytes, c.format, "R"), c.records);
    } else {
      EXPECT_EQ(ErrorOf([&] { CheckImage(c.bytes, c.format, "R"); }),
                std::string("Tape image R is not a ") + FormatName(c.format) + " reel: " + c.error);
    }
  }
}

TEST(TapeFormats, EveryLayoutWritesWhatItReadsBack) {
  const std::vector<TTapeRecord> reel = {Data({1, 29, 2, 0x3F}), Mark, Data({16}), Mark};
  const TImageFormat all[] = {IFBCD, IFMT, IFTAP, IFP7B};
  for (TImageFormat format : all) {
    SCOPED_TRACE(FormatName(format));
    EXPECT_EQ(DecodeImage(EncodeImage(reel, format), format, "R"), reel);
  }
  // The error flag lives only in a .tap reel.
  EXPECT_EQ(EncodeImage({Data({3}, true)}, IFTAP), Cat({L(0x80000001), {3, 0}, L(0x80000001)}));
  EXPECT_EQ(EncodeImage({Data({3}, true)}, IFMT), Cat({L(1), {3, 0}, L(1)}));
  EXPECT_EQ(EncodeImage({Data({1, 3}), Mark}, IFP7B), (Bytes{0xC1, 0x03, 0x8F}));
}

class TapeReels : public ::testing::Test {
 protected:
  TTapeDrive& Drive(int unit) { return T.M.TapeUnits.Drive(unit); }
  void Record(uint16_t address, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i)
      T.Core.StoreCharWM(static_cast<uint16_t>(address + i), false, CharToBcd(text[i]));
    T.Core.StoreCharWM(static_cast<uint16_t>(address + text.size()), true, Bcd::GroupMark);
  }
  TTempDir Files;
  TTestMachine T;
};

TEST_F(TapeReels, ABadReelLeavesTheDriveAsItWas) {
  std::string good = Files.Write("good.tap", Cat({L(2), {0x01, 0x02}, L(2)}));
  Drive(1).MountTape(good);
  uint32_t count = 0;
  Drive(1).ReadRecord(100, count);
  const size_t position = Drive(1).Image().Position();
  std::string bad = Files.Write("bad.p7b", {0x01});
  EXPECT_EQ(ErrorOf([&] { Drive(1).MountTape(bad); }),
            "Tape image " + bad +
                " is not a P7B reel: the first byte does not begin a record (bit 7 off) at byte "
                "offset 0");
  EXPECT_NE(Drive(1).TapeFileName().find("GOOD.TAP"), std::string::npos);
  EXPECT_EQ(Drive(1).Image().Format(), IFTAP);
  EXPECT_EQ(Drive(1).Image().Position(), position);
}

TEST_F(TapeReels, TapReadsErrorRecordsGapsAndTheEndOfMedium) {
  // An error record reads with the error on, a gap is passed over, the end of the medium ends
  // the tape; bit 6 (a parity bit some writers keep) is no part of the character.
  Drive(2).MountTape(Files.Write("r.tap", Cat({L(0x80000001),
                                               {0x41},
                                               L(0x80000001),
                                               L(0xFFFFFFFE),
                                               L(1),
                                               {0x62},
                                               L(1),
                                               L(0xFFFFFFFF)})));
  uint32_t count = 0;
  Drive(2).ReadRecord(100, count);
  EXPECT_TRUE(Drive(2).ReadError());
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(T.Core.ReadChar(100), 1);
  Drive(2).ReadRecord(200, count);
  EXPECT_FALSE(Drive(2).ReadError());
  EXPECT_EQ(T.Core.ReadChar(200), 0x22);
  EXPECT_TRUE(Drive(2).TapeIndicate());
}

TEST_F(TapeReels, WritingKeepsTheLayoutAndSavingConverts) {
  std::string reel = Files.Write("w.p7b", {0x8F});
  Drive(3).MountTape(reel);
  Drive(3).SetWriteProtect(false);
  uint32_t count = 0;
  Drive(3).ReadRecord(100, count);  // the tape mark
  Drive(3).ClearIndicate();
  Record(100, "AB");
  Drive(3).WriteRecord(100, count);
  Drive(3).WriteTapeMark();
  EXPECT_EQ(Drive(3).Image().Bytes(), (Bytes{0x8F, 0xF1, 0x72, 0x8F}));
  std::string tap = Files.Path("w.tap");
  Drive(3).SaveTape(tap);
  EXPECT_EQ(ReadFileBytes(tap), Cat({L(0), L(2), {0x31, 0x32}, L(2), L(0)}));
  EXPECT_EQ(Drive(3).Image().Format(), IFP7B);  // the drive keeps its reel
  // Back through the command-line conversion, to the layout the drive had.
  std::string p7b = Files.Path("again.P7B");
  EXPECT_EQ(ConvertImageFile(tap, p7b), 3u);
  EXPECT_EQ(ReadFileBytes(p7b), Drive(3).Image().Bytes());
  EXPECT_EQ(ErrorOf([&] { ConvertImageFile(Files.Path("none.tap"), p7b); }),
            "Tape file not found: " + Files.Path("none.tap"));
}

}  // namespace
}  // namespace kestrel::test
