// The lexer, the value parsers, the label search and script loading.
#include "script/KestIOCL.h"

#include <gtest/gtest.h>

#include "support/ScriptFixture.h"

namespace kestrel::test {
namespace {

struct TTok {
  TTokenCode Code;
  std::string Text;
  bool operator==(const TTok&) const = default;
};

std::vector<TTok> Lex(const std::string& text, const std::array<std::string, 10>& params = {}) {
  TOCLScripter s;
  s.ScriptParams = params;
  s.LoadText(text, "T.OCL");
  std::vector<TTok> tokens;
  while (s.TokenCode != TKEndOfFile) {
    tokens.push_back({s.TokenCode, s.TokenText});
    s.NextToken();
  }
  return tokens;
}

std::string LexError(const std::string& text) {
  try {
    Lex(text);
  } catch (const EKestrelError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(OclLexer, WordsAreUpperCasedAndLookedUp) {
  EXPECT_EQ(
      Lex("deck DeCk DECK1 x9y"),
      (std::vector<TTok>{{TKDECK, "DECK"}, {TKDECK, "DECK"}, {TKWord, "DECK1"}, {TKWord, "X9Y"}}));
}

TEST(OclLexer, SymbolsAndComparisons) {
  EXPECT_EQ(Lex("+=:,()[]<<>"), (std::vector<TTok>{{TKPlus, "+"},
                                                   {TKEquals, "="},
                                                   {TKColon, ":"},
                                                   {TKComma, ","},
                                                   {TKLParen, "("},
                                                   {TKRParen, ")"},
                                                   {TKLBracket, "["},
                                                   {TKRBracket, "]"},
                                                   {TKLess, ""},
                                                   {TKNotEqual, ""}}));
}

TEST(OclLexer, NumbersDecimalAndHexadecimal) {
  TOCLScripter s;
  s.LoadText("$1F 2147483647 007 $ffffffff", "T");
  EXPECT_EQ(s.TokenCode, TKNumber);
  EXPECT_EQ(s.TokenText, "$1F");
  EXPECT_EQ(s.TokenValue, 31);
  s.NextToken();
  EXPECT_EQ(s.TokenValue, 2147483647);
  s.NextToken();
  EXPECT_EQ(s.TokenText, "007");
  EXPECT_EQ(s.TokenValue, 7);
  s.NextToken();
  EXPECT_EQ(s.TokenValue, -1);
}

TEST(OclLexer, NumberErrors) {
  EXPECT_EQ(LexError("2147483648"), "Invalid number: \"2147483648\"");
  EXPECT_EQ(LexError("99999999999999999999999"), "Invalid number: \"99999999999999999999999\"");
  EXPECT_EQ(LexError("$ 1"), "Invalid Hexadecimal number: \"$\"");
  EXPECT_EQ(LexError("$100000000"), "Invalid Hexadecimal number: \"$100000000\"");
}

TEST(OclLexer, StringsAndTheirErrors) {
  EXPECT_EQ(Lex("'a b' ''"), (std::vector<TTok>{{TKString, "a b"}, {TKString, ""}}));
  EXPECT_EQ(LexError("'abc\ndef'"), "Unterminated string: \"abc\"");
  EXPECT_EQ(LexError("'abc"), "Unterminated string: \"abc\"");
  EXPECT_EQ(LexError("'ab\x1A'"), "Unterminated string: \"ab\"");
}

TEST(OclLexer, ParametersBecomeStrings) {
  std::array<std::string, 10> params{"NAME", "one"};
  EXPECT_EQ(Lex("&0 &1 &3", params),
            (std::vector<TTok>{{TKString, "NAME"}, {TKString, "one"}, {TKString, ""}}));
  EXPECT_EQ(LexError("&A"), "Invalid Parameter specifier: &A: \"&\"");
}

TEST(OclLexer, CommentsRunToTheLineEnd) {
  EXPECT_EQ(Lex("START * a comment 'x\nRESET ; another\r\n/ third"),
            (std::vector<TTok>{{TKSTART, "START"},
                               {TKComment, ""},
                               {TKRESET, "RESET"},
                               {TKComment, ""},
                               {TKComment, ""}}));
}

TEST(OclLexer, InvalidCharactersNameTheCharacter) {
  EXPECT_EQ(LexError("DISPLAY\t'x'"), "Invalid character: \"\t\"");
  EXPECT_EQ(LexError(">"), "Invalid character: \">\"");
  EXPECT_EQ(LexError("-5"), "Invalid character: \"-\"");
  EXPECT_EQ(LexError(std::string("A\0B", 3)), "Invalid character: \"#0\"");
  EXPECT_EQ(LexError("\"x\""), "Invalid character: \"\"\"");
}

TEST(OclLexer, CtrlZEndsTheScript) {
  EXPECT_EQ(Lex("START\x1A RESET 'unterminated"), (std::vector<TTok>{{TKSTART, "START"}}));
}

TEST(OclLexer, ArbitraryBytesNeverCrash) {
  std::string bytes;
  for (int i = 0; i < 256; ++i)
    bytes += static_cast<char>(i);
  for (size_t start = 0; start < bytes.size(); ++start) {
    std::string text = bytes.substr(start) + bytes.substr(0, start);
    TOCLScripter s;
    try {
      s.LoadText(text, "T");
      for (int n = 0; n < 1000 && s.TokenCode != TKEndOfFile; ++n)
        s.NextToken();
    } catch (const EKestrelError&) {
    }
  }
}

// ---- Parsers --------------------------------------------------------------------------------

template <typename F>
std::string ParseError(const std::string& text, F parse) {
  TOCLScripter s;
  s.LoadText(text, "T");
  try {
    parse(s);
  } catch (const EKestrelError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(OclParsers, StringExpressionJoinsStringsAndWords) {
  TOCLScripter s;
  s.LoadText("'a' +\nword\n+ 'c' START", "T");
  EXPECT_EQ(s.ParseStringExpr(), "aWORDc");
  EXPECT_EQ(s.TokenCode, TKSTART);
  EXPECT_EQ(ParseError("5", [](TOCLScripter& t) { t.ParseStringExpr(); }),
            "String expression expected, found: \"5\"");
  EXPECT_EQ(ParseError("'a' + START", [](TOCLScripter& t) { t.ParseStringExpr(); }),
            "String expression expected, found: \"START\"");
}

TEST(OclParsers, AddressValueAndItsLimit) {
  TOCLScripter s;
  s.LoadText("16000 x", "T");
  EXPECT_EQ(s.ParseAddress(16000), 16000);
  EXPECT_EQ(ParseError("16001", [](TOCLScripter& t) { t.ParseAddress(16000); }),
            "Value to large: 16001 Max allowed=16000: \"16001\"");
  EXPECT_EQ(ParseError("'5'", [](TOCLScripter& t) { t.ParseAddress(16000); }),
            "Address value expected, found: \"5\"");
  EXPECT_EQ(ParseError("$FFFFFFFF", [](TOCLScripter& t) { t.ParseAddress(16000); }),
            "Address value expected, found: \"$FFFFFFFF\"");
}

TEST(OclParsers, CharacterValueAndOnOff) {
  EXPECT_EQ(ParseError("64", [](TOCLScripter& t) { t.ParseCharValue(); }),
            "Numeric character value expected, found: \"64\"");
  EXPECT_EQ(ParseError("$FFFFFFFF", [](TOCLScripter& t) { t.ParseCharValue(); }),
            "Numeric character value expected, found: \"$FFFFFFFF\"");
  EXPECT_EQ(ParseError("YES", [](TOCLScripter& t) { t.ParseOnOff(); }),
            "ON or OFF expected, found: \"YES\"");
  TOCLScripter s;
  s.LoadText("63 OFF ON", "T");
  EXPECT_EQ(s.ParseCharValue(), 63);
  EXPECT_FALSE(s.ParseOnOff());
  EXPECT_TRUE(s.ParseOnOff());
}

TEST(OclParsers, Conditions) {
  auto eval = [](const std::string& text, uint16_t iar, int opt) {
    TOCLScripter s;
    s.LoadText(text, "T");
    return s.ParseCondition(iar, opt);
  };
  EXPECT_TRUE(eval("IAREG = 333", 333, 0));
  EXPECT_TRUE(eval("IAREG <> 333", 334, 0));
  EXPECT_TRUE(eval("OPTNUM = 2", 0, 2));
  EXPECT_TRUE(eval("'12' = 12", 0, 0));
  EXPECT_TRUE(eval("'$1F' = 31", 0, 0));
  EXPECT_TRUE(eval("'-3' <> 3", 0, 0));
  auto cond = [](TOCLScripter& t) { t.ParseCondition(0, 0); };
  EXPECT_EQ(ParseError("'X' = 1", cond), "Invalid numeric value: \"X\"");
  EXPECT_EQ(ParseError("FOO = 1", cond), "Variable identifier expected, found: \"FOO\"");
  EXPECT_EQ(ParseError("IAREG < 1", cond), "\"=\" or \"<>\" expected, found: \"\"");
  EXPECT_EQ(ParseError("IAREG = X", cond), "Value expected, found: \"X\"");
}

TEST(OclParsers, FindLabelSkipsStringsAndComments) {
  TOCLScripter s;
  s.LoadText("* :FAKE in a comment\nDISPLAY ':FAKE'\n:OTHER RESET :fake START", "T");
  s.FindLabel("fake");
  EXPECT_EQ(s.TokenCode, TKSTART);
  EXPECT_EQ(ParseError("START", [](TOCLScripter& t) { t.FindLabel("nowhere"); }),
            "Label not found: NOWHERE");
  EXPECT_EQ(ParseError(": 12 :A", [](TOCLScripter& t) { t.FindLabel("A"); }),
            "Label identifier expected, found: \"12\"");
  EXPECT_EQ(ParseError(":", [](TOCLScripter& t) { t.FindLabel("A"); }),
            "Label identifier expected, found: \"\"");
}

TEST(OclLoad, AddsTheExtensionAndReportsMissingFiles) {
  TWorkDir dir;
  dir.Write("JOB.OCL", "START");
  TOCLScripter s;
  s.LoadScript("JOB");
  EXPECT_EQ(s.FileName(), "JOB.OCL");
  EXPECT_EQ(s.TokenCode, TKSTART);
  EXPECT_EQ(s.RunState, TRunState::Running);
  try {
    TOCLScripter t;
    t.LoadScript("MISSING");
    FAIL();
  } catch (const EKestrelError& e) {
    EXPECT_NE(std::string(e.what()).find("\"MISSING.OCL\""), std::string::npos) << e.what();
  }
  std::filesystem::create_directory(dir.Path() / "D.OCL");
  EXPECT_THROW(TOCLScripter().LoadScript("D.OCL"), EKestrelError);
  dir.Write("BAD.OCL", "\tSTART");
  EXPECT_THROW(TOCLScripter().LoadScript("BAD.OCL"), EKestrelError);
}

TEST(OclLoad, RefusesAHugeFile) {
  TWorkDir dir;
  dir.Write("BIG.OCL", std::string(MaxScriptBytes + 10, '*'));
  try {
    TOCLScripter().LoadScript("BIG.OCL");
    FAIL();
  } catch (const EKestrelError& e) {
    EXPECT_NE(std::string(e.what()).find("too large"), std::string::npos);
  }
}

}  // namespace
}  // namespace kestrel::test
