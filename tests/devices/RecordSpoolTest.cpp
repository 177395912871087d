#include "devices/RecordSpool.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>

#include "support/ScratchDir.h"

namespace kestrel::test {
namespace {

std::string FileOf(const std::deque<std::string>& records) {
  std::string text;
  for (const std::string& r : records)
    text += r + "\r\n";
  return text;
}

// A long mixed run of appends, takes from either end and clears, on a spool that keeps only a
// few records in memory, checked against a plain list at every step.
TEST(RecordSpool, BehavesAsAListWhateverItKeepsInMemory) {
  for (bool named : {false, true}) {
    TScratchDir dir;
    constexpr size_t Memory = 5;
    TRecordSpool spool(Memory);
    if (named) spool.KeepInFile(dir.Path("SPOOL.TXT"));
    std::deque<std::string> list;
    std::mt19937 random(17);
    size_t largest = 0;
    for (int step = 0; step < 20000; ++step) {
      unsigned what = random() % 100;
      if (what < 70 || list.empty()) {
        // Lengths from empty to a print line, across many chunks.
        std::string record(random() % 133, static_cast<char>('A' + step % 26));
        if (!record.empty()) record[0] = static_cast<char>('0' + step % 10);
        spool.push_back(record);
        list.push_back(record);
      } else if (what < 85) {
        spool.pop_front();
        list.pop_front();
      } else if (what < 99) {
        ASSERT_EQ(spool.TakeBack(), list.back()) << step;
        list.pop_back();
      } else if (step % 7 == 0) {
        spool.clear();
        list.clear();
      }
      ASSERT_EQ(spool.size(), list.size()) << step;
      if (!list.empty()) {
        size_t i = random() % list.size();
        ASSERT_EQ(spool[i], list[i]) << step << " " << i;
        ASSERT_EQ(spool.front(), list.front()) << step;
      }
      largest = std::max(largest, spool.MemoryCount());
      if (step == 15000) {
        // Thousands of records in a row, then every one read back in order.
        for (int i = 0; i < 5000; ++i) {
          spool.push_back(std::to_string(i));
          list.push_back(std::to_string(i));
        }
        for (size_t i = 0; i < list.size(); ++i)
          ASSERT_EQ(spool[i], list[i]) << i;
        EXPECT_TRUE(spool == list);
      }
    }
    EXPECT_LE(largest, 2 * Memory + 1) << named;
    EXPECT_FALSE(spool.Failed());
    EXPECT_EQ(spool.TakeError(), "");
    spool.Save(dir.Path("COPY.TXT"));
    EXPECT_EQ(TScratchDir::Read(dir.Path("COPY.TXT")), FileOf(list)) << named;
  }
}

TEST(RecordSpool, ANamedFileHoldsTheRecordsAsTheyCome) {
  TScratchDir dir;
  std::string path = dir.Path("LIST.TXT");
  std::deque<std::string> list;
  {
    TRecordSpool spool(3);
    spool.push_back("before");  // already held: it goes into the file too
    list.push_back("before");
    spool.KeepInFile(path);
    EXPECT_EQ(TScratchDir::Read(path), "before\r\n");
    for (int i = 0; i < 10; ++i) {
      spool.push_back("R" + std::to_string(i));
      list.push_back("R" + std::to_string(i));
    }
    spool.Flush(true);
    EXPECT_EQ(TScratchDir::Read(path), FileOf(list));
    spool.push_back("last");
    list.push_back("last");
  }
  EXPECT_EQ(TScratchDir::Read(path), FileOf(list));  // written when the spool goes
}

}  // namespace
}  // namespace kestrel::test
