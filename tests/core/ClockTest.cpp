#include <gtest/gtest.h>

#include "core/Clock.h"
#include "support/ManualClock.h"

TEST(Clock, ManualSourceReplacesSystemTimeUntilRemoved) {
  uint64_t before = zor::clock::tickMs();
  {
    zor::test::ManualClock clock(5000);
    EXPECT_EQ(zor::clock::tickMs(), 5000u);
    clock.advanceMs(450);
    EXPECT_EQ(zor::clock::tickMs(), 5450u);
    EXPECT_EQ(zor::clock::steadyNs(), 5450ull * 1'000'000ull);
  }
  EXPECT_GE(zor::clock::tickMs(), before);
}
