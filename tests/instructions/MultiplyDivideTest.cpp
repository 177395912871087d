// Multiply and divide: products and quotients with their signs, where the remainder is left,
// divide overflow, the registers, and the fields that stop the instruction with a check.
#include <gtest/gtest.h>

#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

std::string Op(char code, unsigned a, unsigned b) {
  return code + Addr(a) + Addr(b);
}

struct TProduct {
  const char* Multiplicand;
  const char* Multiplier;
  const char* Product;  // the whole B-field afterwards
};

// One program multiplies every case in turn; each product field holds its multiplier in the
// high-order positions and junk (not zeros) in the rest.
TEST(Multiply, ProductsAndSigns) {
  const TProduct cases[] = {
      {"7", "8", "05F"},                  // one digit by one digit; plus is the AB zone
      {"1N", "3", "004N"},                // -15 x 3: minus is the B zone
      {"R", "R", "08A"},                  // -9 x -9 = +81
      {"0", "R", "00!"},                  // 0 x -9: minus zero
      {"J2", "/3", "0015F"},              // zones above the units are not signs: 12 x 13
      {"  5", " 4", "00002?"},            // blanks are zeros
      {"99999", "99999", "0999980000A"},  // the product fills all but the extra position
      {"4", "123456789", "0049382715F"},  // a long multiplier, unsigned: plus
      {"987654321", "0", "0000000000?"},  // a multiplier of zero
  };
  TTestMachine t;
  t.M.Registers.Features = FEMultiplyDivide;
  uint16_t a = 1000;
  uint16_t b = 2000;
  std::vector<uint16_t> products;
  for (const TProduct& c : cases) {
    const std::string product = c.Product;
    const std::string multiplicand = c.Multiplicand;
    std::string field = std::string(c.Multiplier) +
                        std::string(product.size() - std::string(c.Multiplier).size(), 'X');
    t.Field(a, multiplicand);
    t.Field(b, field);
    t.Instructions(static_cast<uint16_t>(500 + 7 * products.size()), {Op('@', a, b)});
    products.push_back(b);
    a = static_cast<uint16_t>(a + 20);
    b = static_cast<uint16_t>(b + 20);
  }
  t.Instructions(static_cast<uint16_t>(500 + 7 * products.size()), {"."});
  t.Run(500);
  ASSERT_EQ(t.State(), CpuState::ProgramHalt) << t.StopMessage();
  for (size_t i = 0; i < products.size(); ++i) {
    const std::string expected = cases[i].Product;
    const int length = static_cast<int>(expected.size());
    EXPECT_EQ(t.Text(products[i], length), expected)
        << cases[i].Multiplicand << " x " << cases[i].Multiplier;
    // The product field keeps its word mark; the multiplicand is unchanged.
    EXPECT_TRUE(t.WordMarkAt(static_cast<uint16_t>(products[i] - length + 1)));
    const std::string multiplicand = cases[i].Multiplicand;
    EXPECT_EQ(t.Text(static_cast<uint16_t>(1000 + 20 * i), static_cast<int>(multiplicand.size())),
              multiplicand);
  }
  // Registers of the last one: one below each field.
  EXPECT_EQ(t.R.AAR, 1000 + 20 * 8 - 9);
  EXPECT_EQ(t.R.BAR, 2000 + 20 * 8 - 11);
}

TEST(Multiply, TraceAndDetail) {
  TTestMachine t;
  t.M.Registers.Features = FEMultiplyDivide;
  t.Instructions(500, {Op('@', 300, 405), "."});
  t.Field(300, "1N");
  t.Field(405, "3XXX");
  t.TraceAll();
  t.Run(500);
  auto lines = t.Trace();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "I00500 @ 7 M   Multiply [00300] into [00405]");
  EXPECT_EQ(lines[1], "D          1N x 3 = 004N");
  EXPECT_EQ(lines[2], "R          AAReg=00298  BAReg=00401  IAReg=00507");
}

struct TQuotient {
  const char* Divisor;
  const char* Dividend;  // with its sign in the units zone, as a zero and add leaves it
  const char* Result;    // the field afterwards: quotient, then remainder
  bool Overflow;
};

// The dividend field has one more zero in front of the dividend than the divisor has digits;
// the divide's B-address is the dividend's high-order digit.
TEST(Divide, QuotientsRemaindersAndOverflow) {
  const TQuotient cases[] = {
      {"7", "1?", "0A0C", false},              // 10 / 7 = 1 remainder 3, both plus
      {"7", "100?", "014B0F", false},          // 1000 / 7 = 142 remainder 6
      {"4", "9N", "2L0L", false},              // -95 / 4 = -23 remainder -3
      {"K", "I", "M0A", false},                // 9 / -2 = -4 remainder +1
      {"N", "M", "?0M", false},                // -4 / -5: quotient +0, the dividend stays
      {"2468", " 024F", "0000? 024F", false},  // nothing subtracted: the blank stays
      {"123", "98765E", "00802I008H", false},  // 987655 / 123 = 8029 remainder 88
      {"0", "I", "?0I", true},                 // a divisor of zero: overflow on the last digit
      {"00", "25E", "00025E", true},           // overflow at once: the rest is not touched
  };
  TTestMachine t;
  t.M.Registers.Features = FEMultiplyDivide;
  uint16_t a = 1000;
  uint16_t b = 2000;
  for (const TQuotient& c : cases) {
    const std::string divisor = c.Divisor;
    const std::string dividend = c.Dividend;
    t.Field(a, divisor);
    const std::string field = std::string(divisor.size() + 1, '0') + dividend;
    t.Field(b, field);
    const uint16_t high = static_cast<uint16_t>(b - field.size() + 1);
    t.R.OverflowIndicator = false;
    t.Instructions(500, {Op('%', a, high + divisor.size() + 1), "."});
    t.Run(500);
    ASSERT_EQ(t.State(), CpuState::ProgramHalt) << t.StopMessage();
    EXPECT_EQ(t.Text(b, static_cast<int>(field.size())), c.Result)
        << c.Dividend << " / " << c.Divisor;
    EXPECT_EQ(t.R.OverflowIndicator.Get(), c.Overflow) << c.Dividend << " / " << c.Divisor;
    a = static_cast<uint16_t>(a + 20);
    b = static_cast<uint16_t>(b + 20);
  }
}

TEST(Divide, RegistersTraceAndDetail) {
  TTestMachine t;
  t.M.Registers.Features = FEMultiplyDivide;
  t.Instructions(500, {Op('%', 300, 403), "."});
  t.Field(300, "7");
  t.Field(404, "001?");  // 10 / 7
  t.TraceAll();
  t.Run(500);
  EXPECT_EQ(t.Text(404, 4), "0A0C");
  // AAR one below the divisor, BAR one below the quotient's units position.
  EXPECT_EQ(t.R.AAR, 299);
  EXPECT_EQ(t.R.BAR, 401);
  auto lines = t.Trace();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "I00500 % 7 D   Divide [00300] into [00403]");
  EXPECT_EQ(lines[1], "D          Quotient=0A Remainder=0C");
}

// Fields the machine cannot work on end in checks, never in a hang.
TEST(MultiplyDivide, BadFieldsStopWithAProcessCheck) {
  struct TBad {
    const char* Name;
    std::string Instruction;
    const char* AText;
    const char* BText;
    bool BWordMark;
    const char* Stop;
  } cases[] = {
      // No place for a multiplier digit in the product field.
      {"short product", Op('@', 300, 402), "123", "XX", true, "Product field too short at 500"},
      // A multiplicand without a word mark runs down to address 0.
      {"no word mark", Op('@', 300, 402), "", "", true, "Invalid Address: 0 used by 500"},
      // A dividend without a sign has no units position: the divide runs off the end of core.
      {"unsigned dividend", Op('%', 300, 7990), "7", "", true, "Invalid Address: 8000 used by 500"},
      // The divisor is the partial dividend's units position: the first subtraction makes it
      // zero, and zero would be subtracted for ever.
      {"overlapping fields", Op('%', 300, 300), "1", "", true,
       "Divide cannot end: the divisor overlaps the dividend at 500"},
  };
  for (const TBad& c : cases) {
    TTestMachine t;
    t.M.Registers.Features = FEMultiplyDivide;
    t.Instructions(500, {c.Instruction, "."});
    if (*c.AText) t.Field(300, c.AText);
    if (*c.BText) t.Field(402, c.BText, c.BWordMark);
    if (c.Instruction[0] == '%') t.Field(7999, std::string(11, '1'));
    t.Run(500);
    EXPECT_EQ(t.State(), CpuState::MachineCheck) << c.Name;
    EXPECT_EQ(t.StopMessage(), c.Stop) << c.Name;
  }
}

}  // namespace
}  // namespace kestrel::test
