// The panel's own small rules: when the footer calls the GPS visible, and the volume steps of
// the smart-audio buttons.
#include <gtest/gtest.h>

#include "overlay/PanelTabs.h"

namespace zor::overlay {
namespace {

TEST(PanelRules, TheGpsChipShowsVisibleForASubstitutionAtMost1800MsOld) {
  struct Case {
    uint64_t last, now;
    bool visible;
  };
  const Case cases[] = {
      {0, 5000, false},            // never substituted
      {10000, 11800, true},        // 1800 ms ago
      {10000, 11801, false},       // 1801 ms ago
      {10000, 10000, true},        // this very moment
      {10001, 10000, false},       // a stamp from the future (the tick counter went back)
  };
  for (const Case& c : cases) EXPECT_EQ(gpsRecentlyReplaced(c.last, c.now), c.visible) << c.last << " at " << c.now;
}

TEST(PanelRules, VolumeButtonsStepByTenWithinZeroToHundred) {
  struct Case {
    int32_t volume, down, up;
  };
  const Case cases[] = {{40, 30, 50}, {5, 0, 15}, {10, 0, 20}, {11, 1, 21}, {95, 85, 100}, {100, 90, 100}, {0, 0, 10}};
  for (const Case& c : cases) {
    EXPECT_EQ(volumeStepDown(c.volume), c.down) << c.volume;
    EXPECT_EQ(volumeStepUp(c.volume), c.up) << c.volume;
  }
}

}  // namespace
}  // namespace zor::overlay
