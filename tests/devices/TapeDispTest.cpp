#include "devices/TapeDisp.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/KestDefs.h"
#include "devices/TapeImages.h"
#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

TTapeImage Image(TImageFormat format, std::vector<uint8_t> bytes) {
  TTapeImage image;
  image.SetFormat(format);
  image.Assign(std::move(bytes));
  return image;
}

std::vector<int> Frames(TTapeImage& image, int count) {
  std::vector<int> frames;
  for (int i = 0; i < count; ++i)
    frames.push_back(image.NextFrame());
  return frames;
}

// ---- Layout choice ----

TEST(TapeLayout, ChosenByNameOrKeptFromThePreviousMount) {
  EXPECT_EQ(TTapeImage::ChooseFormat("deck.bcd", IFMT), IFBCD);
  EXPECT_EQ(TTapeImage::ChooseFormat("/x/REEL.mt", IFBCD), IFMT);
  EXPECT_EQ(TTapeImage::ChooseFormat("both.bcd.mt", IFBCD), IFMT);
  EXPECT_EQ(TTapeImage::ChooseFormat("old.BIN", IFMT), IFMT);
  EXPECT_EQ(TTapeImage::ChooseFormat("old.TAP", IFBCD), IFTAP);
  EXPECT_EQ(TTapeImage::ChooseFormat("x.mt.p7b", IFMT), IFP7B);
}

// ---- BCD layout ----

TEST(TapeBCDImage, RecordStartEndsTheRecordAndIsReadAgain) {
  TTapeImage image = Image(IFBCD, {0x83, 0x05, 0x8F});
  EXPECT_EQ(Frames(image, 4), (std::vector<int>{3, 5, EndOfRecord, EndOfTape}));
  EXPECT_EQ(ErrorOf([&] { image.NextFrame(); }), "Tape Read Error");
}

TEST(TapeBCDImage, OnlyTheLoneFrameRecord0x8FIsATapeMark) {
  // Code 15 inside a record, at its start and at its end is data; 0x8F alone is the tape mark.
  TTapeImage image = Image(IFBCD, {0xC1, 0x0F, 0x8F, 0x42, 0xC1, 0x0F, 0x8F, 0x8F});
  EXPECT_EQ(Frames(image, 10), (std::vector<int>{1, 15, EndOfRecord, 15, 2, EndOfRecord, 1, 15,
                                                 EndOfRecord, EndOfTape}));
}

TEST(TapeBCDImage, ParityErrorsAlsoOnARecordsFirstFrame) {
  // A frame with bad parity is read as it stands, and the error is kept for the drive.
  TTapeImage middle = Image(IFBCD, {0x31});  // 0x31 has three one bits
  EXPECT_EQ(middle.NextFrame(), 0x31);
  EXPECT_TRUE(middle.TakeParityError());
  EXPECT_FALSE(middle.TakeParityError());
  TTapeImage first = Image(IFBCD, {0xC1, 0xB1});
  EXPECT_EQ(first.NextFrame(), 1);
  EXPECT_EQ(first.NextFrame(), EndOfRecord);
  EXPECT_FALSE(first.TakeParityError());
  EXPECT_EQ(first.NextFrame(), 0x31);
  EXPECT_TRUE(first.TakeParityError());
}

TEST(TapeBCDImage, CarriageReturnMustPairWithLineFeed) {
  TTapeImage pair = Image(IFBCD, {0xC1, 0x0D, 0x0A, 0x41});
  EXPECT_EQ(Frames(pair, 3), (std::vector<int>{1, 10, 1}));
  TTapeImage bad = Image(IFBCD, {0x0D, 0x41});
  EXPECT_EQ(ErrorOf([&] { bad.NextFrame(); }), "$0D not followed by $0A");
  TTapeImage last = Image(IFBCD, {0x0D});
  EXPECT_EQ(ErrorOf([&] { last.NextFrame(); }), "$0D not followed by $0A");
}

TEST(TapeBCDImage, RecordAfterATapeMarkStartsAtOnce) {
  // Two files of one record each: the record after the tape mark is not an empty one.
  TTapeImage image = Image(IFBCD, {0xC1, 0x8F, 0xC2, 0x03, 0x8F});
  EXPECT_EQ(Frames(image, 7),
            (std::vector<int>{1, EndOfRecord, EndOfTape, 2, 3, EndOfRecord, EndOfTape}));
}

TEST(TapeBCDImage, RewindStartsAtARecordBoundary) {
  TTapeImage image = Image(IFBCD, {0xC1, 0x42, 0x8F});
  EXPECT_EQ(Frames(image, 4), (std::vector<int>{1, 2, EndOfRecord, EndOfTape}));
  image.Rewind();
  EXPECT_EQ(image.Position(), 0u);
  EXPECT_EQ(image.NextFrame(), 1);
}

// ---- MT layout ----

TEST(TapeMTImage, OddAndEvenRecordsAndSeveralTapeMarks) {
  std::vector<uint8_t> bytes;
  AppendMTRecord(bytes, {0x01, 0x02, 0x03});        // odd: one pad byte
  AppendMTRecord(bytes, {0xC4, 0x85, 0x46, 0x07});  // even; bits 6 and 7 ignored
  AppendMTMark(bytes);
  AppendMTMark(bytes);
  AppendMTRecord(bytes, {0x09});
  AppendMTMark(bytes);
  TTapeImage image = Image(IFMT, bytes);
  EXPECT_EQ(Frames(image, 14), (std::vector<int>{1, 2, 3, EndOfRecord, 4, 5, 6, 7, EndOfRecord,
                                                 EndOfTape, EndOfTape, 9, EndOfRecord, EndOfTape}));
  EXPECT_EQ(image.Position(), bytes.size());
  EXPECT_EQ(ErrorOf([&] { image.NextFrame(); }), "Tape Read Error - Unexpected end of tape image");
}

TEST(TapeMTImage, LastRecordWithoutTapeMarkEndsWithEndOfTape) {
  std::vector<uint8_t> bytes;
  AppendMTRecord(bytes, {0x01, 0x02});
  AppendMTRecord(bytes, {0x03});
  TTapeImage image = Image(IFMT, bytes);
  EXPECT_EQ(Frames(image, 5), (std::vector<int>{1, 2, EndOfRecord, 3, EndOfTape}));
}

TEST(TapeMTImage, TrailingLengthMayBeSmallerButNotGreater) {
  std::vector<uint8_t> smaller;
  AppendLength(smaller, 2);
  smaller.insert(smaller.end(), {0x01, 0x02});
  AppendLength(smaller, 1);
  TTapeImage ok = Image(IFMT, smaller);
  EXPECT_EQ(Frames(ok, 3), (std::vector<int>{1, 2, EndOfTape}));

  std::vector<uint8_t> greater;
  AppendLength(greater, 2);
  greater.insert(greater.end(), {0x01, 0x02});
  AppendLength(greater, 3);
  TTapeImage bad = Image(IFMT, greater);
  EXPECT_EQ(ErrorOf([&] { bad.NextFrame(); }), "Tape Read Error - Bad MT record structure");
}

TEST(TapeMTImage, BadLengthsAndTruncatedEntriesAreReadErrors) {
  std::vector<uint8_t> huge;
  AppendLength(huge, TTapeImage::MaxMTRecord + 1);
  EXPECT_EQ(ErrorOf([&] { Image(IFMT, huge).NextFrame(); }),
            "Tape Read Error - Invalid MT record size");
  std::vector<uint8_t> negative;
  AppendLength(negative, -1);
  EXPECT_EQ(ErrorOf([&] { Image(IFMT, negative).NextFrame(); }),
            "Tape Read Error - Invalid MT record size");

  std::vector<uint8_t> full;
  AppendMTRecord(full, {0x01, 0x02, 0x03});  // 4 + 3 + 1 + 4 bytes
  for (size_t cut : {0u, 2u, 4u, 6u, 7u, 8u, 10u}) {
    std::vector<uint8_t> truncated(full.begin(), full.begin() + static_cast<long>(cut));
    EXPECT_EQ(ErrorOf([&] { Image(IFMT, truncated).NextFrame(); }),
              "Tape Read Error - Unexpected end of tape image")
        << cut;
  }
  std::vector<uint8_t> largest;
  AppendMTRecord(largest, std::vector<uint8_t>(TTapeImage::MaxMTRecord, 0x05));
  TTapeImage image = Image(IFMT, largest);
  EXPECT_EQ(image.NextFrame(), 5);
}

// ---- Writing ----

TEST(TapeImageWrite, BCDRecordsCarryCheckBitsAndRecordStarts) {
  TTapeImage image = Image(IFBCD, {});
  // A with word mark, a blank, 1, then B.
  image.WriteRecord({{49, true}, {0, false}, {1, false}, {50, false}});
  image.WriteTapeMark();
  EXPECT_EQ(image.Bytes(), (std::vector<uint8_t>{0x9D, 0x71, 0x50, 0x41, 0x72, 0x8F}));
  image.Rewind();
  EXPECT_EQ(Frames(image, 7), (std::vector<int>{29, 49, 16, 1, 50, EndOfRecord, EndOfTape}));
}

TEST(TapeImageWrite, MTRecordsAreFramedByTheirLengths) {
  TTapeImage image = Image(IFMT, {});
  image.WriteRecord({{49, true}, {0, false}});
  image.WriteRecord({{2, false}, {3, false}});
  image.WriteTapeMark();
  std::vector<uint8_t> expected;
  AppendLength(expected, 3);
  expected.insert(expected.end(), {29, 49, 16, 0});
  AppendLength(expected, 3);
  AppendLength(expected, 2);
  expected.insert(expected.end(), {2, 3});
  AppendLength(expected, 2);
  AppendMTMark(expected);
  EXPECT_EQ(image.Bytes(), expected);
  image.Rewind();
  EXPECT_EQ(Frames(image, 8),
            (std::vector<int>{29, 49, 16, EndOfRecord, 2, 3, EndOfRecord, EndOfTape}));
}

TEST(TapeImageWrite, WritingEndsTheTapeAfterTheNewBytes) {
  std::vector<uint8_t> old;
  AppendMTRecord(old, {1, 2, 3, 4, 5, 6});
  AppendMTRecord(old, {7});
  TTapeImage image = Image(IFMT, old);
  image.WriteRecord({{9, false}});
  EXPECT_EQ(image.Size(), 10u);
  EXPECT_EQ(image.Position(), 10u);
  image.Rewind();
  EXPECT_EQ(Frames(image, 2), (std::vector<int>{9, EndOfTape}));
}

TEST(TapeImageWrite, MTRecordLongerThanTheLayoutAllowsIsRefused) {
  TTapeImage image = Image(IFMT, {});
  std::vector<TCharWM> record(TTapeImage::MaxMTRecord + 1, TCharWM{5, false});
  EXPECT_EQ(ErrorOf([&] { image.WriteRecord(record); }).rfind("Tape Write Error - ", 0), 0u);
  EXPECT_TRUE(image.Empty());
  record.resize(16000);  // all of core, as a program writes it
  image.WriteRecord(record);
  EXPECT_EQ(image.Size(), 16008u);
}

TEST(TapeImageWrite, FullTapeIsAWriteErrorAndKeepsWhatWasWritten) {
  TTapeImage image = Image(IFBCD, {});
  image.SetCapacity(5);
  image.WriteRecord({{1, false}, {2, false}, {3, false}});
  EXPECT_EQ(ErrorOf([&] {
              image.WriteRecord({{4, false}, {5, false}, {6, false}});
            }),
            "Tape Write Error");
  EXPECT_EQ(image.Size(), 3u);
  image.WriteTapeMark();
  EXPECT_EQ(image.Bytes(), (std::vector<uint8_t>{0xC1, 0x42, 0x03, 0x8F}));
}

// ---- Drive ----

class TapeDrive : public ::testing::Test {
 protected:
  TapeDrive() { T.M.TapeUnits.SetSaveDirectory(Files.Dir); }
  TTapeDrive& Drive(int unit) { return T.M.TapeUnits.Drive(unit); }
  // Places text at `address` on, a word mark on each character marked in `marks` ('1'), and a
  // group mark with word mark after it.
  void Record(uint16_t address, const std::string& text, const std::string& marks = "") {
    for (size_t i = 0; i < text.size(); ++i) {
      T.Core.StoreCharWM(static_cast<uint16_t>(address + i), i < marks.size() && marks[i] == '1',
                         CharToBcd(text[i]));
    }
    T.Core.StoreCharWM(static_cast<uint16_t>(address + text.size()), true, Bcd::GroupMark);
  }

  TTempDir Files;
  TTestMachine T;
};

TEST_F(TapeDrive, StartsEmptyWithOnlyOpenAndWriteProtect) {
  const TTapePanel& panel = Drive(4).Panel();
  EXPECT_EQ(panel.UnitText, "4");
  EXPECT_EQ(panel.NameText, "");
  EXPECT_TRUE(panel.OpenEnabled);
  EXPECT_FALSE(panel.MountEnabled || panel.DisMntEnabled || panel.LoadEnabled ||
               panel.SaveEnabled || panel.DetailsVisible || panel.IndicateVisible);
  EXPECT_TRUE(Drive(4).WriteProtect());
  EXPECT_TRUE(panel.WriteProtect);
}

TEST_F(TapeDrive, MountReadsTheFileAndShowsIt) {
  std::vector<uint8_t> bytes;
  AppendMTRecord(bytes, {1, 2, 3, 4});
  std::string path = Files.Write("reel.mt", bytes);
  Drive(2).MountTape(path);
  std::string upper = path;
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(Drive(2).TapeFileName(), upper);
  EXPECT_EQ(Drive(2).Image().Format(), IFMT);
  const TTapePanel& panel = Drive(2).Panel();
  EXPECT_EQ(panel.NameText, "REEL.MT");
  EXPECT_EQ(panel.SizeText, "12");
  EXPECT_EQ(panel.PositionText, "0");
  EXPECT_TRUE(panel.DisMntEnabled && panel.LoadEnabled && panel.DetailsVisible);
  EXPECT_FALSE(panel.MountEnabled);

  uint32_t count = 0;
  Drive(2).ReadRecord(100, count);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(panel.PositionText, "12");
  EXPECT_EQ(panel.Progress, 100);
  EXPECT_FALSE(panel.LoadEnabled);  // only at the load point
  Drive(2).RewindTape();
  EXPECT_TRUE(panel.LoadEnabled);
}

TEST_F(TapeDrive, MountOfAMissingOrUnfitFileChangesNothing) {
  std::string first = Files.Write("first.bcd", {0x81, 0x8F});
  Drive(1).MountTape(first);
  std::string missing = Files.Path("nothing.mt");
  EXPECT_EQ(ErrorOf([&] { Drive(1).MountTape(missing); }), "Tape file not found: " + missing);
  EXPECT_EQ(ErrorOf([&] { Drive(1).MountTape(""); }), "Tape file not found: ");
  EXPECT_EQ(ErrorOf([&] { Drive(1).MountTape(Files.Dir); }),
            "Tape file is not a file: " + Files.Dir);
  EXPECT_EQ(Drive(1).Image().Size(), 2u);
  EXPECT_EQ(Drive(1).Image().Format(), IFBCD);
  EXPECT_EQ(Drive(1).Panel().NameText, "FIRST.BCD");
}

// A 729IV-n.TAP that an older Kestrel saved in its BCD layout still mounts, as BCD; the same
// bytes under another .tap name keep the .tap reel's error.
TEST_F(TapeDrive, OldBcdSaveNamedTapStillMounts) {
  Drive(3).MountTape(Files.Write("729IV-3.TAP", {0xC1, 0x42, 0x03, 0x8F}));
  EXPECT_EQ(Drive(3).Image().Format(), IFBCD);
  uint32_t count = 0;
  Drive(3).ReadRecord(100, count);
  EXPECT_EQ(count, 3u);
  const std::string bad = Files.Write("BAD.TAP", {0x85, 0x00});
  EXPECT_NE(ErrorOf([&] { Drive(3).MountTape(bad); }).find("is not a TAP reel"), std::string::npos);
  EXPECT_EQ(Drive(3).Image().Format(), IFBCD);
}

// A .tap reel's bit 6 is its parity bit only where the drive is told so (some writers leave it
// clear): then a record with a frame of odd parity reads with the tape error, the others without;
// the setting stays with the drive across mounts.
TEST_F(TapeDrive, TapParityBitsCountOnlyWhenTheDriveChecksThem) {
  const std::string reel =
      Files.Write("PARITY.TAP", {3, 0, 0, 0, 0x41, 0x42, 0x03, 0, 3, 0, 0, 0,  // 1 2 3, even parity
                                 2, 0, 0, 0, 0x01, 0x02, 2,    0, 0, 0});  // 1 2 with the bit clear
  auto errors = [&] {
    Drive(5).UnloadTape();
    Drive(5).MountTape(reel);
    std::vector<bool> seen;
    for (uint16_t address : {100, 200}) {
      uint32_t count = 0;
      Drive(5).ReadRecord(address, count);
      seen.push_back(Drive(5).ReadError());
    }
    return seen;
  };
  EXPECT_EQ(errors(), (std::vector<bool>{false, false}));
  DeviceCommand on{.Operation = Operation(TTapeOp::TapeParityOn), .Selector = 5};
  T.M.TapeUnits.HandleRequest(on);
  EXPECT_EQ(errors(), (std::vector<bool>{false, true}));
  EXPECT_EQ(T.Text(201, 2), "12");  // the codes are read all the same
  DeviceCommand off{.Operation = Operation(TTapeOp::TapeParityOff), .Selector = 5};
  T.M.TapeUnits.HandleRequest(off);
  EXPECT_EQ(errors(), (std::vector<bool>{false, false}));
}

TEST_F(TapeDrive, ImageLargerThanADriveHoldsIsRefused) {
  std::string path = Files.Path("huge.mt");
  { std::ofstream create(path, std::ios::binary); }
  std::filesystem::resize_file(path, TTapeImage::MaxSize + 1);  // sparse: no disk used
  EXPECT_EQ(ErrorOf([&] { Drive(1).MountTape(path); }).rfind("Tape image too large: " + path, 0),
            0u);
  EXPECT_TRUE(Drive(1).Image().Empty());
}

TEST_F(TapeDrive, ReadsRecordsWithWordMarksAndAGroupMarkAfter) {
  std::vector<uint8_t> bytes;
  AppendMTRecord(bytes, {29, 49, 50, 29, 51, 16});  // word mark on A and C; a blank at the end
  AppendMTRecord(bytes, {1});
  Drive(1).MountTape(Files.Write("r.mt", bytes));
  T.Field(210, "XXXXXXXXXX");  // word marks where the record goes, to be replaced
  for (uint16_t a = 201; a <= 210; ++a)
    T.Core.SetWordMark(a, true);
  uint32_t count = 0;
  Drive(1).ReadRecord(201, count);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(T.Text(205, 5), "ABC g");
  EXPECT_TRUE(T.WordMarkAt(201));
  EXPECT_FALSE(T.WordMarkAt(202));
  EXPECT_TRUE(T.WordMarkAt(203));
  EXPECT_FALSE(T.WordMarkAt(204));
  EXPECT_FALSE(T.WordMarkAt(205));  // the group mark after the record has none
  EXPECT_TRUE(T.WordMarkAt(206));   // beyond it nothing changed
}

TEST_F(TapeDrive, GroupMarkWithWordMarkInCoreStopsTheRead) {
  std::vector<uint8_t> bytes;
  AppendMTRecord(bytes, {1, 2, 3, 4, 5});
  AppendMTRecord(bytes, {6});
  AppendMTRecord(bytes, {7});
  Drive(1).MountTape(Files.Write("g.mt", bytes));
  T.Core.StoreCharWM(303, true, Bcd::GroupMark);
  uint32_t count = 0;
  Drive(1).ReadRecord(301, count);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(T.Text(303, 3), "12g");
  // The rest of the record passed the head: the next read takes the next record.
  Drive(1).ReadRecord(401, count);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(T.Text(402, 2), "6g");

  // Stopped at the first position, the read still passes a whole record; after the last one
  // the tape's end turns the indicator on.
  T.Core.StoreCharWM(501, true, Bcd::GroupMark);
  Drive(1).ReadRecord(501, count);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(Drive(1).TapeIndicate());
}

TEST_F(TapeDrive, LoadModeSetsWordMarksAndMoveModeKeepsThem) {
  // Code 15 at both ends and inside, a word separator (29) before A and one ending the record.
  std::vector<uint8_t> bytes;
  AppendMTRecord(bytes, {15, 1, 29, 49, 15, 29});
  AppendMTMark(bytes);
  constexpr uint8_t X = 39, G = Bcd::GroupMark;
  struct Case {
    TTransferMode Mode;
    uint32_t Count;
    std::vector<uint8_t> Codes;  // positions 101 to 107
    const char* Marks;           // '1' where a word mark is left
  };
  // The area holds X everywhere, with word marks on 102 and 107 beforehand.
  const Case cases[] = {
      {TTransferMode::Load, 4, {15, 1, 49, 15, G, X, X}, "0010001"},
      {TTransferMode::Move, 6, {15, 1, 29, 49, 15, 29, G}, "0100001"},
  };
  for (const Case& c : cases) {
    Drive(2).MountTape(Files.Write("m.mt", bytes));
    std::vector<uint8_t> codes;
    std::string marks;
    for (uint16_t a = 101; a <= 107; ++a)
      T.Core.StoreCharWM(a, a == 102 || a == 107, X);
    uint32_t count = 0;
    Drive(2).ReadRecord(101, count, c.Mode);
    for (uint16_t a = 101; a <= 107; ++a) {
      codes.push_back(T.Core.ReadChar(a));
      marks += T.WordMarkAt(a) ? '1' : '0';
    }
    EXPECT_EQ(count, c.Count);
    EXPECT_EQ(codes, c.Codes);
    EXPECT_EQ(marks, c.Marks);
    EXPECT_FALSE(Drive(2).TapeIndicate());
    Drive(2).ReadRecord(101, count, c.Mode);  // then the tape mark
    EXPECT_TRUE(Drive(2).TapeIndicate());
    Drive(2).ClearIndicate();
  }
}

TEST_F(TapeDrive, EachModeWritesWhatItReadsBack) {
  std::vector<uint8_t> expected;
  AppendMTRecord(expected, {49, 29, 15, 50});  // load mode: a word separator before the mark
  AppendLength(expected, 3);                   // move mode: the characters only
  expected.insert(expected.end(), {49, 15, 50, 0});
  AppendLength(expected, 3);
  Drive(4).MountTape(Files.Write("w.mt", {}));
  Drive(4).SetWriteProtect(false);
  T.Core.StoreCharWM(300, false, 49);
  T.Core.StoreCharWM(301, true, 15);
  T.Core.StoreCharWM(302, false, 50);
  T.Core.StoreCharWM(303, true, Bcd::GroupMark);
  uint32_t count = 0;
  Drive(4).WriteRecord(300, count, TTransferMode::Load);
  EXPECT_EQ(count, 3u);
  Drive(4).WriteRecord(300, count, TTransferMode::Move);
  EXPECT_EQ(Drive(4).Image().Bytes(), expected);
  Drive(4).RewindTape();
  T.Core.StoreCharWM(501, true, 1);
  Drive(4).ReadRecord(501, count, TTransferMode::Load);
  EXPECT_EQ(T.Text(504, 4), "A Bg");
  EXPECT_EQ(T.Core.ReadChar(502), 15);
  EXPECT_FALSE(T.WordMarkAt(501));
  EXPECT_TRUE(T.WordMarkAt(502));
}

TEST_F(TapeDrive, TwoWordSeparatorsInARowAreAnError) {
  Drive(1).MountTape(Files.Write("w.bcd", {0x9D, 0x1D, 0x41}));
  uint32_t count = 0;
  EXPECT_EQ(ErrorOf([&] { Drive(1).ReadRecord(100, count); }), "WM followed by WM");
}

TEST_F(TapeDrive, TapeMarkTurnsTheIndicatorOnUntilCleared) {
  Drive(3).MountTape(Files.Write("t.bcd", {0x8F, 0xC1, 0x8F}));
  T.Core.StoreCharWM(100, false, 7);
  uint32_t count = 9;
  Drive(3).ReadRecord(100, count);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(T.Core.Word(100) & 63, 7);  // nothing stored
  EXPECT_TRUE(Drive(3).TapeIndicate());
  EXPECT_TRUE(Drive(3).Panel().IndicateVisible);
  EXPECT_EQ(ErrorOf([&] { Drive(3).ReadRecord(100, count); }), "Tape Read with Tape Indicate On");
  Drive(3).SetWriteProtect(false);
  EXPECT_EQ(ErrorOf([&] { Drive(3).WriteTapeMark(); }), "Tape Write with Tape Indicate On");
  Drive(3).RewindTape();
  EXPECT_TRUE(Drive(3).TapeIndicate());
  Drive(3).ClearIndicate();
  EXPECT_FALSE(Drive(3).Panel().IndicateVisible);
  Drive(3).ReadRecord(100, count);  // the tape mark again, from the load point
  Drive(3).ClearIndicate();
  Drive(3).ReadRecord(100, count);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(T.Text(101, 2), "1g");
}

TEST_F(TapeDrive, WriteProtectAndScratchTapes) {
  Record(100, "AB", "1");
  uint32_t count = 0;
  EXPECT_EQ(ErrorOf([&] { Drive(3).WriteRecord(100, count); }), "Tape Write with Write Protect On");
  EXPECT_TRUE(Drive(3).Image().Empty());
  Drive(3).SetWriteProtect(false);
  Drive(3).WriteRecord(100, count);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(Drive(3).TapeFileName(), "scratch3");
  EXPECT_EQ(Drive(3).Panel().NameText, "scratch3");
  EXPECT_EQ(Drive(3).Image().Bytes(), (std::vector<uint8_t>{0x9D, 0x71, 0x72}));
  Drive(3).UnloadTape();
  EXPECT_TRUE(Drive(3).Panel().MountEnabled);
  EXPECT_EQ(ErrorOf([&] { Drive(3).PBMontClick(); }), "Tape file not found: scratch3");
}

TEST_F(TapeDrive, MTTapeIsWrittenInItsOwnLayout) {
  std::vector<uint8_t> bytes;
  AppendMTRecord(bytes, {1, 2, 3});
  AppendMTRecord(bytes, {4, 5, 6});
  Drive(2).MountTape(Files.Write("old.mt", bytes));
  Drive(2).SetWriteProtect(false);
  uint32_t count = 0;
  Drive(2).ReadRecord(100, count);
  Record(200, "XYZW", "0100");
  Drive(2).WriteRecord(200, count);
  Drive(2).RewindTape();
  Drive(2).ReadRecord(300, count);
  EXPECT_EQ(T.Text(303, 4), "123g");
  Drive(2).ReadRecord(400, count);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(T.Text(403, 4), "XYZW");
  EXPECT_TRUE(T.WordMarkAt(401));
  // The tape ends after the record written, in blank tape: no tape mark, so no Tape Indicate, and
  // a program may go on to write one; a read there finds nothing.
  EXPECT_FALSE(Drive(2).TapeIndicate());
  EXPECT_THROW(Drive(2).ReadRecord(500, count), EKestrelError);
}

// The density switch: an MT record keeps the density it was written at, and read at the other
// one it is a read error, with its characters as written; a BCD record has no bit for it and
// reads clean at either.  The switch stays through a new mount.
TEST_F(TapeDrive, AnMTRecordKeepsItsDensity) {
  for (const bool mt : {true, false}) {
    SCOPED_TRACE(mt ? "MT" : "BCD");
    Drive(3).SetLowDensity(true);
    if (mt) {
      Drive(3).MountScratch();
    } else {
      Drive(3).MountTape(Files.Write("old.bcd", {0xC1, 0x8F}));
      Drive(3).SetWriteProtect(false);
    }
    EXPECT_TRUE(Drive(3).LowDensity());
    uint32_t count = 0;
    if (!mt) Drive(3).ReadRecord(100, count);
    Record(200, "LOW");
    Drive(3).WriteRecord(200, count);
    Drive(3).SetLowDensity(false);
    Record(210, "HIGH");
    Drive(3).WriteRecord(210, count);
    Drive(3).WriteTapeMark();  // a BCD record ends where the next frame starts one
    // Read at high density, then at low: {record, density, error expected}.
    for (const bool low : {false, true}) {
      Drive(3).SetLowDensity(low);
      Drive(3).RewindTape();
      if (!mt) Drive(3).ReadRecord(100, count);
      Drive(3).ReadRecord(300, count);
      EXPECT_EQ(T.Text(303, 4), "LOWg");
      EXPECT_EQ(Drive(3).ReadError(), mt && !low) << "low density record, read low " << low;
      Drive(3).ReadRecord(310, count);
      EXPECT_EQ(T.Text(314, 5), "HIGHg");
      EXPECT_EQ(Drive(3).ReadError(), mt && low) << "high density record, read low " << low;
    }
  }
}

TEST_F(TapeDrive, AWrittenReelIsSavedWhenItLeavesTheDrive) {
  std::string saved = Files.Path("729IV-5.TAP");
  Drive(5).SetWriteProtect(false);
  Record(100, "AB");
  uint32_t count = 0;
  // Records without a tape mark are kept all the same.
  Drive(5).WriteRecord(100, count);
  std::vector<uint8_t> image = Drive(5).Image().Bytes();
  Drive(5).UnloadTape();
  EXPECT_EQ(DecodeImage(ReadFileBytes(saved), IFTAP, saved), DecodeImage(image, IFBCD, saved));
  EXPECT_TRUE(Drive(5).Image().Empty());

  // A reel only read leaves the save as it was, though this drive wrote a tape mark before.
  Drive(5).WriteRecord(100, count);
  Drive(5).WriteTapeMark();
  image = Drive(5).Image().Bytes();
  Drive(5).UnloadTape();
  std::vector<uint8_t> file = ReadFileBytes(saved);
  ASSERT_GE(file.size(), 4u);
  // The file's name makes it a .tap reel: the records are converted, the tape mark last.
  EXPECT_EQ(std::vector<uint8_t>(file.end() - 4, file.end()), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(DecodeImage(file, IFTAP, saved), DecodeImage(image, IFBCD, saved));
  Drive(5).MountTape(Files.Write("other.bcd", {0x81}));
  Drive(5).UnloadTape();
  EXPECT_EQ(ReadFileBytes(saved), file);

  // Mounting over a written reel saves it first; a refused mount changes nothing.
  Drive(5).MountScratch();
  Record(100, "XYZ");
  Drive(5).WriteRecord(100, count);
  image = Drive(5).Image().Bytes();
  EXPECT_FALSE(ErrorOf([&] { Drive(5).MountTape(Files.Path("missing.bcd")); }).empty());
  EXPECT_EQ(ReadFileBytes(saved), file);
  Drive(5).MountTape(Files.Write("other.bcd", {0x81}));
  EXPECT_EQ(DecodeImage(ReadFileBytes(saved), IFTAP, saved), DecodeImage(image, IFMT, saved));
  EXPECT_EQ(Drive(5).Image().Bytes(), (std::vector<uint8_t>{0x81}));
}

TEST_F(TapeDrive, FailedSaveKeepsTheTapeMounted) {
  Drive(6).SaveDirectory = Files.Path("no/such/dir");
  Drive(6).SetWriteProtect(false);
  Drive(6).WriteTapeMark();
  EXPECT_EQ(ErrorOf([&] { Drive(6).UnloadTape(); }).rfind("Tape image could not be saved: ", 0),
            0u);
  EXPECT_EQ(Drive(6).Image().Size(), 1u);
}

TEST_F(TapeDrive, ResetEmptiesWithoutSaving) {
  Drive(1).SetWriteProtect(false);
  Drive(1).WriteTapeMark();
  Drive(1).ResetDrive();
  EXPECT_TRUE(Drive(1).Image().Empty());
  EXPECT_FALSE(std::filesystem::exists(Files.Path("729IV-1.TAP")));
  EXPECT_TRUE(Drive(1).TapeWritten());
}

TEST_F(TapeDrive, ZapFrameRefusesAnOffsetPastTheEnd) {
  Drive(2).MountTape(Files.Write("z.bcd", {0x81, 0x02, 0x8F}));
  Drive(2).ZapFrame(1, 0x41);
  EXPECT_EQ(Drive(2).Image().Bytes(), (std::vector<uint8_t>{0x81, 0x41, 0x8F}));
  EXPECT_THROW(Drive(2).ZapFrame(3, 0x00), EKestrelError);
  EXPECT_EQ(Drive(2).Image().Bytes(), (std::vector<uint8_t>{0x81, 0x41, 0x8F}));
  EXPECT_EQ(Drive(2).Image().Position(), 0u);
}

TEST_F(TapeDrive, LoadButtonReadsIntoOneAndMarksTheTapeLoaded) {
  Drive(4).MountTape(Files.Write("l.bcd", {0xC1, 0x42, 0x8F}));
  T.R.IAR = 345;  // left by an earlier run
  Drive(4).PBLoadClick();
  EXPECT_EQ(T.R.IAR, 0);  // Start begins at 1
  EXPECT_EQ(T.Text(3, 3), "12g");
  EXPECT_EQ(T.State(), CpuState::TapeRecordLoaded);
}

}  // namespace
}  // namespace kestrel::test
