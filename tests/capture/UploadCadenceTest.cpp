// Where a capture is aimed: the game's uploads as the render thread marks them, the capture's lead.
#include <gtest/gtest.h>

#include "capture/UploadCadence.h"

namespace zor::test {
namespace {

constexpr uint64_t kMs = 1'000'000;

TEST(UploadCadence, AimsAtTheUploadNearestToWhereTheCaptureWouldLandAndNeverBehindNow) {
  // Marks every 16 ms up to 1,000 ms, a second mark inside one frame and one long stall among
  // them, which leave the period alone.
  UploadCadence cadence;
  cadence.mark(600 * kMs);
  for (uint64_t t = 840; t <= 1000; t += 16) {
    cadence.mark(t * kMs);
    if (t == 904) cadence.mark(t * kMs + kMs / 2);
  }
  cadence.mark(1000 * kMs);  // the same frame again
  EXPECT_EQ(cadence.periodNs(), 16 * kMs);
  const struct {
    const char* what;
    uint64_t dueMs, leadMs, nowMs, previousPointMs;
    uint64_t pointMs;  // 0: not aimed, starts when due
  } rows[] = {
      {"nearest upload after due + lead", 1030, 4, 1001, 0, 1032},
      {"rounds down as well as up", 1016, 4, 1001, 0, 1016},
      {"one capture per upload", 1016, 4, 1001, 1016, 1032},
      {"a start already behind now takes the next", 1001, 4, 1014, 0, 1032},
      {"a lead longer than a frame", 1030, 20, 1001, 0, 1048},
      {"no upload for 250 ms", 1260, 4, 1251, 0, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const UploadCadence::Aim aim = cadence.aim(row.dueMs * kMs, row.leadMs * kMs, row.nowMs * kMs, row.previousPointMs * kMs);
    EXPECT_EQ(aim.pointNs, row.pointMs * kMs);
    EXPECT_EQ(aim.startNs, row.pointMs ? (row.pointMs - row.leadMs) * kMs : row.dueMs * kMs);
  }
  // A mark that came 2 ms late moves the foreseen upload with it; no newer mark, no move.
  cadence.mark(1018 * kMs);
  EXPECT_EQ(cadence.again(1032 * kMs, 1000 * kMs), 1018 * kMs + cadence.periodNs());
  EXPECT_EQ(cadence.again(1032 * kMs, 1018 * kMs), 1032 * kMs);
  EXPECT_EQ(cadence.again(1020 * kMs, 1000 * kMs), 1018 * kMs + cadence.periodNs());  // not the mark just seen
  cadence.reset();
  EXPECT_EQ(cadence.aim(1030 * kMs, 4 * kMs, 1001 * kMs, 0).pointNs, 0u);
}

// The lead is the third longest start-to-publish time of the last 16 captures, plus 1 ms and a
// sixteenth of the frame; a capture that hung does not count.
TEST(CaptureLead, IsTheThirdLongestOfTheLast16CapturesPlusAMargin) {
  CaptureLead lead;
  lead.record(9 * kMs);
  lead.record(250 * kMs);  // the window hung
  lead.record(8 * kMs);
  lead.record(7 * kMs);
  for (int i = 0; i < 12; ++i) lead.record(5 * kMs);
  EXPECT_EQ(lead.leadNs(16 * kMs), 9 * kMs);  // 7 + 1 + 16 / 16
  lead.record(5 * kMs);                       // the 9 ms capture is the 16th one back: still in
  EXPECT_EQ(lead.leadNs(16 * kMs), 9 * kMs);
  lead.record(5 * kMs);
  EXPECT_EQ(lead.leadNs(16 * kMs), 7 * kMs);
}

}  // namespace
}  // namespace zor::test
