// The two print chains: what each named convention's reader takes for the five codes the chains
// print differently, and what the printer prints for them on each chain.
#include <gtest/gtest.h>

#include "charset/IBMChars.h"
#include "core/KestDefs.h"
#include "devices/IBM1403.h"
#include "support/ScratchDir.h"
#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

// The card one line reads as in a convention (internal characters), or the error.
std::string Read(const char* convention, const std::string& line) {
  TScratchDir dir;
  TCharMap map;
  map.UseCmcFile = true;
  map.SetConvention(FindCharConvention(convention));
  TCardList cards;
  try {
    map.LoadCardFile(dir.Write("D.CD", line + "\n"), cards, false);
  } catch (const EKestrelError& e) {
    return std::string("error: ") + e.what();
  }
  return cards.empty() ? "(no card)" : cards.front().substr(0, line.size());
}

// The internal characters of codes 11, 12, 28, 48 and 60, in the basic set.
std::string Internal(std::string_view codes) {
  std::string text;
  for (char c : codes)
    text += BasicCharSet[static_cast<size_t>(c)];
  return text;
}

TEST(PrintChain, EveryNamedConventionAlsoReadsTheOtherChainsCharacters) {
  const std::string five = Internal("\x0B\x0C\x1C\x30\x3C");
  struct Case {
    const char* convention;
    const char* line;
    std::string card;  // or the start of the error
  } cases[] = {
      // Typed with the A chain, with the H chain, and mixed: all read as the same five codes.
      {"pierce-a", "#@%&)", five},
      {"pierce-a", "='(+)", five},
      {"pierce-a", "#'(&)", five},
      {"pierce-h", "='(+)", five},
      {"pierce-h", "#@%&)", five},
      {"basic", "='(+)", five},
      // SIMH old uses the H characters for other codes: they keep their meaning there.
      {"simh-old", "#@%&)", five},
      // (the word separator, the record mark, code 15 and code 31, as a card holds them)
      {"simh-old", "='(+", "=r{\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Read(c.convention, c.line), c.card) << c.convention << " " << c.line;
  }
  // What each convention takes beside its mapping.
  EXPECT_EQ(OtherChainCharacters(*FindCharConvention("simh-old")), std::string(64, ' '));
  std::string pierceA = OtherChainCharacters(*FindCharConvention("pierce-a"));
  EXPECT_EQ(std::string({pierceA[11], pierceA[12], pierceA[28], pierceA[48], pierceA[60]}),
            "='(+ ");  // its lozenge is ) already
}

TEST(PrintChain, ThePrinterPrintsTheChainsCharacters) {
  TTestMachine t;
  t.Field(332, std::string(132, ' '), false);
  t.M.CharMap.SetMappingString(FindCharConvention("pierce-a")->Mapping);
  const uint8_t codes[] = {11, 12, 28, 48, 60, 49, 1};
  for (size_t i = 0; i < sizeof codes; ++i)
    t.Core.StoreChar(static_cast<uint16_t>(201 + i), codes[i]);
  DeviceCommand print;
  print.Operation = PrnPrint;
  t.M.Printer.Request(print);
  t.M.Printer.SetChain('h');
  EXPECT_EQ(t.M.Printer.Chain(), 'H');
  t.M.Printer.Request(print);
  t.M.Printer.SetChain('A');
  t.M.Printer.Request(print);
  ASSERT_EQ(t.M.Printer.PrintList().size(), 3u);
  EXPECT_EQ(t.M.Printer.PrintList()[0].substr(0, 8), "#@%&)A1 ");
  EXPECT_EQ(t.M.Printer.PrintList()[1].substr(0, 8), "='(+)A1 ");
  EXPECT_EQ(t.M.Printer.PrintList()[2].substr(0, 8), "#@%&)A1 ");
}

}  // namespace
}  // namespace kestrel::test
