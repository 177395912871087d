#include "core/KestCore.h"

#include <gtest/gtest.h>

#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

TEST(CharacterCode, DisplayTableAndInverse) {
  EXPECT_EQ(BcdToChar(26), 'r');
  EXPECT_EQ(BcdToChar(60), 'o');
  EXPECT_EQ(BcdToChar(63), 'g');
  EXPECT_EQ(BcdToChar(15), ' ');
  EXPECT_EQ(CharToBcd('0'), 10);
  EXPECT_EQ(CharToBcd('A'), 49);
  EXPECT_EQ(CharToBcd(' '), 0);
  EXPECT_EQ(CharToBcd('q'), 0);  // not in the table
  for (int code = 0; code < 64; ++code) {
    char c = BcdToChar(static_cast<uint8_t>(code));
    if (c != ' ') {
      EXPECT_EQ(CharToBcd(c), code) << code;
    }
  }
}

TEST(CharacterCode, AddressDecodeTables) {
  EXPECT_EQ(HundredsTable[10], 0);
  EXPECT_EQ(HundredsTable[9], 900);
  EXPECT_EQ(HundredsTable[26], 1000);
  EXPECT_EQ(HundredsTable[57], 3900);
  EXPECT_EQ(HundredsTable[11], -1);
  EXPECT_EQ(TensTable[5], 50);
  EXPECT_EQ(TensTable[21], -1);  // a zone over the tens digit of a stored address
  EXPECT_EQ(UnitsTable[57], 12009);
  EXPECT_EQ(UnitsTable[42], 8000);
  EXPECT_EQ(UnitsTable[63], -1);
}

class CoreStorageTest : public ::testing::Test {
 protected:
  TTestMachine t;
  TCoreStorage& core = t.Core;
  void SetUp() override { t.R.InstrAddr = 500; }
};

TEST_F(CoreStorageTest, AddressRangeFollowsTheSize) {
  ASSERT_TRUE(core.SetCoreSize(4000));
  core.StoreChar(3999, 5);
  EXPECT_EQ(core.ReadChar(3999), 5);
  try {
    core.ReadChar(4000);
    FAIL();
  } catch (const EProcessCheck& e) {
    EXPECT_EQ(e.FullText(), "Invalid Address: 4000 used by 500");
  }
  EXPECT_THROW(core.ReadChar(0), EProcessCheck);
  EXPECT_THROW(core.StoreChar(0, 1), EProcessCheck);
}

TEST_F(CoreStorageTest, UninitialisedReadCheck) {
  core.UninitializedCheck = true;
  try {
    core.ReadChar(123);
    FAIL();
  } catch (const EProcessCheck& e) {
    EXPECT_EQ(e.FullText(), "Read from Uninitialized Core at: 123");
  }
  core.SetWordMark(123, false);  // a word-mark write counts as written
  EXPECT_NO_THROW(core.ReadChar(123));
  core.UninitializedCheck = false;
  EXPECT_NO_THROW(core.ReadChar(124));
}

TEST_F(CoreStorageTest, StoresKeepOrReplaceTheWordMark) {
  core.StoreCharWM(10, true, 7);
  core.StoreChar(10, 9);
  EXPECT_EQ(core.Word(10), CoreChar::WordMark | CoreChar::Changed | CoreChar::Written | 9);
  core.StoreCharWM(10, false, 64 + 3);  // masked to six bits
  EXPECT_EQ(core.Word(10), CoreChar::Changed | CoreChar::Written | 3);
  core.ClearCore();
  EXPECT_EQ(core.Word(10), CoreChar::Cleared);
}

TEST_F(CoreStorageTest, InvalidValueIsRefusedAndNothingStored) {
  core.StoreChar(20, 4);
  try {
    core.StoreChar(20, 64);
    FAIL();
  } catch (const EProcessCheck& e) {
    EXPECT_EQ(e.FullText(), "Store of invalid char. value: $40 by 500");
  }
  EXPECT_EQ(core.ReadChar(20), 4);
}

TEST_F(CoreStorageTest, AddressEncoding) {
  core.StoreAddress(300, 4321);
  EXPECT_EQ(core.ReadChar(298), 3);
  EXPECT_EQ(core.ReadChar(299), 2);
  EXPECT_EQ(core.ReadChar(300), 17);
  EXPECT_EQ(core.ReadAddress(300), 4321);
  core.StoreAddress(300, 15999);
  EXPECT_EQ(t.Text(300, 3), "I9I");
  EXPECT_EQ(core.ReadAddress(300), 15999);
  core.StoreAddress(300, 16005);
  EXPECT_EQ(core.ReadAddress(300), 5);
  core.StoreAddress(300, 16000);
  EXPECT_EQ(t.Text(300, 3), "000");
  for (unsigned v : {0u, 1u, 999u, 1000u, 3999u, 4000u, 8765u, 12000u}) {
    core.StoreAddress(300, v);
    EXPECT_EQ(core.ReadAddress(300), v);
    EXPECT_EQ(t.Text(300, 3), Addr(v == 0 ? 0 : v));
  }
}

TEST_F(CoreStorageTest, ReadAddressOfBlanksAndBadCharacters) {
  t.Field(300, "   ", false);
  EXPECT_EQ(core.ReadAddress(300), 0);
  t.Field(300, "1R3", false);
  try {
    core.ReadAddress(300);
    FAIL();
  } catch (const EProcessCheck& e) {
    EXPECT_EQ(e.FullText(), "Bad address (1R3) read from 300 by 500");
  }
}

TEST_F(CoreStorageTest, WriteStopsWithAndWithoutAValue) {
  core.WriteStopAddress = 700;
  core.StoreChar(700, 5);
  EXPECT_EQ(t.R.State.Get(), CpuState::SingleStep);
  EXPECT_EQ(t.StopMessage(), "Storage at 00700 altered to $05 by ");
  t.R.State = CpuState::Running;
  core.SetWordMark(700, true);
  EXPECT_EQ(t.StopMessage(), "Storage at 00700 WordMark altered by ");
  EXPECT_EQ(t.R.State.Get(), CpuState::SingleStep);

  t.R.State = CpuState::Running;
  core.WriteStopValue = 49;  // A
  core.StoreChar(700, 50);
  core.SetWordMark(700, false);
  EXPECT_EQ(t.R.State.Get(), CpuState::Running);
  core.StoreChar(700, 49);
  EXPECT_EQ(t.R.State.Get(), CpuState::SingleStep);
  EXPECT_EQ(core.ReadChar(700), 49);  // the access itself completes
}

TEST_F(CoreStorageTest, ReadStop) {
  core.ReadStopAddress = 81;
  core.StoreChar(81, 1);
  EXPECT_EQ(t.R.State.Get(), CpuState::ReaderEmpty);
  core.ReadChar(81);
  EXPECT_EQ(t.R.State.Get(), CpuState::SingleStep);
  EXPECT_EQ(t.StopMessage(), "Storage at 00081 accessed");
}

// Each access tests what the settings say now, however often they changed before: a stop moved
// leaves nothing at its old address, the check switched off and on again finds exactly the
// positions never written, and a size made smaller and larger again moves the end of core.
TEST_F(CoreStorageTest, ChecksFollowEveryChangeOfTheSettings) {
  auto stopMessage = [&] {
    std::string text = t.StopMessage();
    t.R.StopMessage.Set("");
    return text;
  };
  auto check = [&](auto access) {
    try {
      access();
    } catch (const EProcessCheck& e) {
      return e.FullText();
    }
    return std::string();
  };
  core.ReadStopAddress = 100;
  core.ReadStopAddress = 200;
  core.ReadChar(100);
  EXPECT_EQ(stopMessage(), "");
  core.ReadChar(200);
  EXPECT_EQ(stopMessage(), "Storage at 00200 accessed");
  core.ReadStopAddress = 0;
  core.ReadChar(200);
  EXPECT_EQ(stopMessage(), "");

  core.WriteStopAddress = 300;
  core.WriteStopAddress = 301;
  core.StoreChar(300, 1);
  EXPECT_EQ(stopMessage(), "");
  core.SetWordMark(301, true);
  EXPECT_EQ(stopMessage(), "Storage at 00301 WordMark altered by ");

  core.StoreChar(400, 4);
  core.UninitializedCheck = true;
  core.UninitializedCheck = false;
  core.UninitializedCheck = true;
  EXPECT_EQ(check([&] { core.ReadChar(400); }), "");
  EXPECT_EQ(check([&] { core.ReadChar(401); }), "Read from Uninitialized Core at: 401");
  core.StoreCharWM(401, false, 7);  // written now
  EXPECT_EQ(check([&] { core.ReadChar(401); }), "");
  core.ClearCore();  // unwritten again, all of it
  EXPECT_EQ(check([&] { core.ReadChar(400); }), "Read from Uninitialized Core at: 400");
  core.UninitializedCheck = false;

  ASSERT_TRUE(core.SetCoreSize(2000));
  EXPECT_EQ(check([&] { core.StoreChar(1999, 1); }), "");
  EXPECT_EQ(check([&] { core.StoreChar(2000, 1); }), "Invalid Address: 2000 used by 500");
  ASSERT_TRUE(core.SetCoreSize(16000));
  EXPECT_EQ(check([&] { core.ReadChar(15999); }), "");
  EXPECT_EQ(check([&] { core.ReadChar(16000); }), "Invalid Address: 16000 used by 500");
  EXPECT_EQ(check([&] { core.ReadChar(65535); }), "Invalid Address: 65535 used by 500");
}

TEST_F(CoreStorageTest, SizeChanges) {
  core.StoreChar(5, 5);
  EXPECT_TRUE(core.SetCoreSize(8000));  // the same size: untouched
  EXPECT_EQ(core.ReadChar(5), 5);
  EXPECT_TRUE(core.SetCoreSize(16000));
  EXPECT_EQ(core.Word(5), CoreChar::Cleared);
  core.StoreChar(15999, 1);
  EXPECT_FALSE(core.SetCoreSize(0));
  EXPECT_FALSE(core.SetCoreSize(16001));
  EXPECT_EQ(core.Size(), 16000);
  EXPECT_EQ(core.ReadChar(15999), 1);
}

TEST_F(CoreStorageTest, FieldAndWordText) {
  t.Field(103, "ABCD");
  EXPECT_EQ(core.FieldText(103, 3), "BCD");
  EXPECT_EQ(core.WordText(103), "ABCD");
  t.Field(2, "XY", false);
  EXPECT_EQ(core.WordText(2), "XY");      // stops after address 1
  EXPECT_EQ(core.FieldText(2, 5), "XY");  // likewise
}

TEST_F(CoreStorageTest, WordTextOfAFieldWithoutWordMarksRunsToAddressOne) {
  // The trace of a compare or an edit whose field has no word mark: the whole of core below it,
  // high-order first.
  core.SetCoreSize(16000);
  for (uint16_t a = 1; a < 16000; ++a)
    core.StoreChar(a, static_cast<uint8_t>(a % 64));
  std::string text = core.WordText(15999);
  ASSERT_EQ(text.size(), 15999u);
  EXPECT_EQ(text.front(), BcdToChar(1));
  EXPECT_EQ(text.back(), BcdToChar(15999 % 64));
  EXPECT_EQ(core.FieldText(15999, 20000), text);
}

TEST_F(CoreStorageTest, ChangedBitIsClearedOnlyIfTheWordIsUnchanged) {
  core.StoreChar(40, 3);
  uint16_t drawn = core.Word(40);
  EXPECT_TRUE(core.ClearChanged(40, drawn));
  EXPECT_EQ(core.Word(40) & CoreChar::Changed, 0);
  uint16_t seen = core.Word(40);
  core.StoreChar(40, 4);  // another thread's store between read and clear
  EXPECT_FALSE(core.ClearChanged(40, seen));
  EXPECT_NE(core.Word(40) & CoreChar::Changed, 0);
  EXPECT_EQ(core.ReadChar(40), 4);
}

}  // namespace
}  // namespace kestrel::test
