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

}  // namespace
}  // namespace kestrel::test
