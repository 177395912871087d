#include "charset/IBMDefs.h"
#include "core/KestCore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <vector>

namespace kestrel::test {
namespace {

// The text helpers every message uses: the five-digit address, two hex digits, and Trim.
TEST(IBMDefs, AddressHexAndTrim) {
  EXPECT_EQ(Addr5(7), "00007");
  EXPECT_EQ(Addr5(12), "00012");
  EXPECT_EQ(Addr5(16000), "16000");
  EXPECT_EQ(Addr5(65535), "65535");
  EXPECT_EQ(Hex2(0x3F), "3F");
  EXPECT_EQ(Hex2(7), "07");
  EXPECT_EQ(Trim("  a b  "), "a b");
  EXPECT_EQ(Trim("\ta\t"), "\ta\t");
  EXPECT_EQ(Trim(" \ta b\t ", " \t"), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim(""), "");
}

TEST(IBMDefs, StripExtensionPadLeftAndUpperCase) {
  EXPECT_EQ(StripExtension("DECK.V2.CRD"), "DECK");
  EXPECT_EQ(StripExtension("DECK"), "DECK");
  EXPECT_EQ(StripExtension(".CRD"), "");
  EXPECT_EQ(PadLeft("ab", 3), " ab");
  EXPECT_EQ(PadLeft("abc", 3), "abc");
  EXPECT_EQ(PadLeft("abcd", 3), "abc");  // a longer text keeps its first n
  EXPECT_EQ(PadLeft("", 2), "  ");
  EXPECT_EQ(UpperCase("abz{}AZ r\xe4"), "ABZ{}AZ R\xe4");
}

TEST(IBMDefs, ProgramDirAndName) {
  EXPECT_EQ(ProgramName(), "kestrel_tests");
  ASSERT_FALSE(ProgramDir().empty());
  EXPECT_EQ(ProgramDir().back(), '/');
  EXPECT_TRUE(std::filesystem::exists(ProgramDir() + ProgramName()));
}

std::vector<std::string> Lines(const std::string& text) {
  std::istringstream in(text);
  TLineReader reader(in);
  std::vector<std::string> lines;
  std::string line;
  while (reader.Next(line))
    lines.push_back(line);
  return lines;
}

TEST(LineReader, EveryKindOfLineEnd) {
  using L = std::vector<std::string>;
  EXPECT_EQ(Lines("A\r\nB\r\n"), (L{"A", "B"}));
  EXPECT_EQ(Lines("A\nB\n"), (L{"A", "B"}));
  EXPECT_EQ(Lines("A\rB\r"), (L{"A", "B"}));
  EXPECT_EQ(Lines("A\r\n\nB"), (L{"A", "", "B"}));  // the last line needs no end
  EXPECT_EQ(Lines("\n"), (L{""}));
  EXPECT_EQ(Lines(""), (L{}));
  EXPECT_EQ(Lines("A\n\r\nB"), (L{"A", "", "B"}));
  EXPECT_EQ(Lines(std::string("A\0B\tC\n", 6)), (L{std::string("A\0B\tC", 5)}));
}

TEST(LineReader, KeepsAtMostWhatItIsAskedToButCountsAll) {
  std::istringstream in(std::string(1000, 'x') + "\nshort\n");
  TLineReader reader(in);
  std::string line;
  ASSERT_TRUE(reader.Next(line, 10));
  EXPECT_EQ(line, std::string(10, 'x'));
  EXPECT_EQ(reader.Length(), 1000u);
  ASSERT_TRUE(reader.Next(line, 10));
  EXPECT_EQ(line, "short");
  EXPECT_EQ(reader.Length(), 5u);
  EXPECT_FALSE(reader.Next(line, 10));
  EXPECT_FALSE(reader.Next(line, 10));
}

}  // namespace
}  // namespace kestrel::test
