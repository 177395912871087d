// The redraw pacer: at most one redraw per interval while requests keep coming, the last one
// never lost.  The times are made up, so nothing here waits.
#include <gtest/gtest.h>

#include "machine/RedrawPacer.h"

namespace kestrel::test {
namespace {

using std::chrono::milliseconds;

TEST(RedrawPacer, ABurstOfRequestsIsOneRedrawPerInterval) {
  TRedrawPacer pacer(milliseconds(33));
  const TRedrawPacer::TTime t0{milliseconds(1000)};
  // Requests every millisecond for a tenth of a second, the timer firing when it is due.
  int redraws = 0;
  for (int ms = 0; ms < 100; ++ms) {
    const TRedrawPacer::TTime now = t0 + milliseconds(ms);
    if (pacer.Waiting() && now >= pacer.Due() && pacer.Fire(now)) ++redraws;
    if (pacer.Ask(now)) ++redraws;
  }
  // At 0 at once, then as the timer fires at 33, 66 and 99.
  EXPECT_EQ(redraws, 4);
  // The request at 99 waits: the last state is drawn when the timer fires at 132.
  ASSERT_TRUE(pacer.Waiting());
  EXPECT_EQ(pacer.Due(), t0 + milliseconds(132));
  EXPECT_TRUE(pacer.Fire(pacer.Due()));
  EXPECT_FALSE(pacer.Waiting());
  EXPECT_FALSE(pacer.Fire(pacer.Due()));  // nothing waits any more
}

TEST(RedrawPacer, ARequestAfterAQuietIntervalIsDrawnAtOnce) {
  TRedrawPacer pacer(milliseconds(33));
  const TRedrawPacer::TTime t0{milliseconds(5000)};
  EXPECT_TRUE(pacer.Ask(t0));  // the first one
  EXPECT_FALSE(pacer.Ask(t0 + milliseconds(32)));
  EXPECT_FALSE(pacer.Ask(t0 + milliseconds(40)));  // the same waiting redraw
  EXPECT_TRUE(pacer.Fire(t0 + milliseconds(33)));
  EXPECT_TRUE(pacer.Ask(t0 + milliseconds(66)));
  EXPECT_TRUE(pacer.Ask(t0 + milliseconds(200)));
  EXPECT_FALSE(pacer.Waiting());
}

}  // namespace
}  // namespace kestrel::test
