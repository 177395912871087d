#include "debug/Symbols.h"

#include <gtest/gtest.h>

#include "assembler/Autocoder.h"

namespace kestrel::test {

namespace {

// Two statement lines as the SPS assembler prints them (pass 2, with the instruction), a heading,
// a note line and a label-less statement among them.
const char* const SpsListing =
    "PG LIN CT  LABEL  OP  A-OPERAND    B-OPERAND   D     COMMENTS      LOC          NOTES\r\n"
    "             2 - COUNT                     5 - A-OPERAND                 8 - LABEL\r\n"
    " 1 020           ORG 0500                        START AT 500\r\n"
    " 1 030  4 START  CS  0332                                         0500 / 0332   004 332\r\n"
    " 1 040  1        CS                                               0504 /        004\r\n"
    " 1 075 12 CONST  DCW *          @HELLO WORLD @                    0528          004\r\n"
    " 1 080           END START                                             B 0500   005 500\r\n";

}  // namespace

TEST(SymbolsTest, LoadsTheThreeFormsAndRejectsBadLinesKeepingTheTable) {
  TSymbolTable table;
  ASSERT_EQ(table.LoadText(SpsListing), "");
  EXPECT_EQ(table.Size(), 2u);
  EXPECT_EQ(table.Find("START"), 500);
  EXPECT_EQ(table.Find("const"), 528);

  // The assembler's own listing, from a real assembly: its symbol table gives every label.
  std::string source =
      "     START     CS   332\n"
      "               MCW  MSG,213\n"
      "               W\n"
      "               H    START\n"
      "     MSG       DCW  @HI THERE@\n"
      "               END  START\n";
  TAssembly assembly = AssembleAutocoder(source);
  ASSERT_TRUE(assembly.Ok()) << assembly.ErrorText();
  ASSERT_EQ(table.LoadText(assembly.Listing), "");
  ASSERT_EQ(assembly.Symbols.size(), 2u);
  for (const auto& [name, address] : assembly.Symbols)
    EXPECT_EQ(table.Find(name), address) << name;
  // START came again with the assembler's address; CONST stays.
  EXPECT_EQ(table.Find("CONST"), 528);

  // A plain file: comments, blank lines, decimal and three-character addresses.
  ASSERT_EQ(table.LoadText("* names\n\nLOOP 1234\n  TOP   I9Z\n"), "");
  EXPECT_EQ(table.Find("LOOP"), 1234);
  EXPECT_EQ(table.Find("TOP"), 7999);

  // Bad lines: each a clear error naming the line, and the table as it was.
  const size_t before = table.Size();
  struct TBad {
    const char* Text;
    const char* Error;
  } bad[] = {
      {"A 100\nB\n", "line 2: \"B\" is not NAME ADDRESS"},
      {"A 100\nB 16000\n", "line 2: \"16000\" is not an address of B (0-15999)"},
      {"9X 100\n", "line 1: \"9X\" is not a label"},
      {"SYMBOL TABLE\nA      12\nB      x y\n", "line 3: \"B      x y\" is not NAME ADDRESS"},
  };
  for (const TBad& b : bad) {
    EXPECT_EQ(table.LoadText(b.Text), b.Error) << b.Text;
  }
  std::string badSps = std::string(SpsListing) +
                       " 1 090  4 LOOP   CS  0332                                         05X0\n";
  EXPECT_EQ(table.LoadText(badSps), "line 8: \"05X0\" is not an address of LOOP (0-15999)");
  EXPECT_EQ(table.Size(), before);
  EXPECT_FALSE(table.Find("A").has_value());
  EXPECT_NE(table.LoadFile("/nonexistent/kestrel.sym").find("cannot read"), std::string::npos);
}

TEST(SymbolsTest, AddressExpressionsAndRanges) {
  TSymbolTable table;
  ASSERT_EQ(table.LoadText("START 500\nBUF 1000\nEND1 1079\n"), "");
  struct TCase {
    const char* Text;
    int Address;  // -1: an error
    const char* Error;
  } cases[] = {
      {"START", 500, ""},
      {"start+4", 504, ""},
      {"BUF - 1", 999, ""},
      {"4000", 4000, ""},
      {"0", 0, ""},
      {"I99", 3999, ""},
      {"I9Z", 7999, ""},
      {"A00", 3100, ""},
      {"ZORK", -1, "no label ZORK in the loaded symbols"},
      {"TOP", -1, "no label TOP in the loaded symbols"},
      {"START+", -1, "\"START+\" has no number after its +"},
      {"8000", -1, "address 8000 (8000) is outside core (0-7999)"},
      {"BUF-1001", -1, "address -1 (BUF-1001) is outside core (0-7999)"},
      {"", -1, "no address given"},
      {"A.B", -1, "\"A.B\" is neither an address nor a label"},
  };
  for (const TCase& c : cases) {
    TSymbolTable::TAddress a = table.Resolve(c.Text, 8000);
    EXPECT_EQ(a.Error, c.Error) << c.Text;
    if (c.Address >= 0) {
      EXPECT_EQ(a.Address, c.Address) << c.Text;
    }
  }
  TSymbolTable empty;
  EXPECT_EQ(empty.Resolve("ZORK", 8000).Error, "no label ZORK (no symbols are loaded)");

  TSymbolTable::TRange r = table.ResolveRange("BUF-END1", 8000);
  EXPECT_TRUE(r.Ok()) << r.Error;
  EXPECT_EQ(r.From, 1000);
  EXPECT_EQ(r.To, 1079);
  r = table.ResolveRange("BUF-4-BUF+10", 8000);
  EXPECT_EQ(r.From, 996);
  EXPECT_EQ(r.To, 1010);
  r = table.ResolveRange("333", 8000);
  EXPECT_EQ(r.From, 333);
  EXPECT_EQ(r.To, 333);
  EXPECT_EQ(table.ResolveRange("END1-BUF", 8000).Error,
            "range END1-BUF ends (1000) before it starts (1079)");
  EXPECT_EQ(table.ResolveRange("BUF-NOPE", 8000).Error, "no label NOPE in the loaded symbols");

  EXPECT_EQ(table.Describe(504), "START+4");
  EXPECT_EQ(table.Describe(1000), "BUF");
  EXPECT_EQ(table.Describe(499), "");
  EXPECT_EQ(table.AddressText(1079), "01079 (END1)");
  EXPECT_EQ(table.LabelAt(500), "START");
}

}  // namespace kestrel::test
