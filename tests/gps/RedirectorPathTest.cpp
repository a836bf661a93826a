// Which queued paths the redirector recognises, what it counts and when it logs.
#include <gtest/gtest.h>

#include <string>

#include "gps/RedirectorFixtures.h"
#include "support/ManualClock.h"

namespace zor::test {
namespace {

struct Form {
  std::string_view path;
  Redirector::PathKind kind;
};
constexpr Form kFiles[] = {
    {kTabletTobj, Redirector::PathKind::TabletGpsTobj}, {kTabletDds, Redirector::PathKind::TabletGpsDds},
    {kGpsTobj, Redirector::PathKind::GpsTobj},          {kGpsDds, Redirector::PathKind::GpsDds},
    {kOverlayTobj, Redirector::PathKind::OverlayTobj},  {kOverlayDds, Redirector::PathKind::OverlayDds},
};

class RedirectorPaths : public ::testing::Test {
 protected:
  void SetUp() override { log.attach(r); }
  // Feeds one entry with path straight to inspectEntry.
  bool inspect(std::string_view chars, uint32_t length) { return r.inspectEntry(reinterpret_cast<void*>(q.makeEntry(chars, length))); }
  bool inspect(std::string_view path) { return inspect(path, static_cast<uint32_t>(path.size())); }

  Redirector r;
  LogCapture log;
  FakeTextureQueue q;
};

TEST_F(RedirectorPaths, RecognisesTheTwelveFormsAnnouncesEachOnceAndCountsByKind) {
  for (int round = 0; round < 2; ++round) {
    for (const Form& f : kFiles) {
      const bool tobj = f.kind == Redirector::PathKind::TabletGpsTobj;
      EXPECT_EQ(inspect(f.path), tobj) << f.path;
      EXPECT_EQ(inspect(f.path.substr(1)), tobj) << f.path.substr(1);
      EXPECT_EQ(Redirector::classify(f.path), f.kind);
      EXPECT_EQ(Redirector::classify(f.path.substr(1)), f.kind);
    }
  }
  const auto c = r.counters();
  EXPECT_EQ(c.paths, 12u);
  EXPECT_EQ(c.tobj, 4u);
  EXPECT_EQ(c.dds, 4u);
  EXPECT_EQ(c.gpsDds, 4u);
  EXPECT_EQ(c.overlayDds, 4u);

  // Announced in order of first sighting, each form exactly once.
  EXPECT_EQ(log.count("PRISM PATH #"), 12u);
  EXPECT_EQ(log.lines[0].second, "V1.16.0 PRISM PATH #1: '" + std::string(kTabletTobj) + "'");
  EXPECT_EQ(log.count("V1.16.0 PRISM PATH #2: '" + std::string(kTabletTobj.substr(1)) + "'"), 1u);
  EXPECT_EQ(log.count("V1.16.0 PRISM PATH #12: '" + std::string(kOverlayDds.substr(1)) + "'"), 1u);
  EXPECT_EQ(log.count(LogLevel::WARNING) + log.count(LogLevel::ERROR), 0u);
}

TEST_F(RedirectorPaths, NormalisesBackslashesAndCapitalsBeforeMatching) {
  EXPECT_FALSE(inspect("\\Vehicle\\Truck\\Upgrade\\LUMEX\\Tablet_GPS.dds"));
  EXPECT_TRUE(inspect("Vehicle/truck\\UPGRADE/lumex\\TABLET_GPS.TOBJ"));
  EXPECT_EQ(r.counters().dds, 1u);
  EXPECT_EQ(r.counters().tobj, 1u);
  EXPECT_EQ(log.count("V0.6.3 BINDING QUEUE: TABLET_GPS DDS detectado: '" + std::string(kTabletDds) + "' | total=1"), 1u);
  EXPECT_EQ(log.count("V1.17.0 TABLET_GPS PATH DETECTADA: '" + std::string(kTabletTobj.substr(1)) + "' | total=1"),
            1u);
}

TEST_F(RedirectorPaths, NearMissesAreNotRecognised) {
  const std::string t(kTabletTobj);
  for (const std::string& p : {t + " ", "/" + t, t.substr(0, t.size() - 1), "x" + t, std::string(kTabletDds) + ".bak",
                               std::string("/vehicle/truck/upgrade/lumex2/gps.dds"),
                               std::string("/vehicle/truck/upgrade/lumex/tablet_gps.tobj/"), std::string("/"),
                               std::string("/vehicle/truck/upgrade/lumex/tablet_gps_overlay.dds")}) {
    EXPECT_FALSE(inspect(p)) << p;
  }
  EXPECT_EQ(r.counters().paths, 0u);
  EXPECT_TRUE(log.lines.empty());
}

TEST_F(RedirectorPaths, TheLengthFieldAndTheFirstZeroByteBoundThePath) {
  // Reported length 60 with a zero at position 44: matched on its first 44 bytes.
  std::string padded(kTabletTobj);
  padded += '\0';
  padded += "garbage-after!!";
  ASSERT_EQ(padded.size(), 60u);
  EXPECT_TRUE(inspect(padded, 60));

  // The length cuts a longer text: the first 43 bytes are the tablet_gps.dds path.
  EXPECT_FALSE(inspect(std::string(kTabletDds) + "XYZ", 43));
  EXPECT_EQ(r.counters().dds, 1u);
  // ...and one byte short is no match.
  EXPECT_FALSE(inspect(kTabletDds, 42));

  // Longer than 2048 bytes: cut there and never matched...
  EXPECT_FALSE(inspect(std::string(kTabletTobj) + std::string(3000, 'x'), 3044));
  // ...unless a zero ends the path early, as for any length.
  EXPECT_TRUE(inspect(std::string(kTabletTobj) + '\0' + std::string(3000, 'x'), 3045));
  EXPECT_FALSE(inspect(std::string(5000, 'x'), 0xFFFFFFFFu));

  // Nothing to read: zero length, null characters, an empty path before the zero.
  EXPECT_FALSE(inspect(kTabletTobj, 0));
  EXPECT_FALSE(r.inspectEntry(reinterpret_cast<void*>(q.makeRawEntry(0, 44))));
  EXPECT_FALSE(inspect(std::string(1, '\0') + std::string(kTabletTobj), 45));
  EXPECT_FALSE(r.inspectEntry(nullptr));

  EXPECT_EQ(r.counters().tobj, 2u);
  EXPECT_EQ(r.counters().paths, 2u);
}

TEST_F(RedirectorPaths, SightingLinesFollowTheirSchedules) {
  struct Thinned {
    std::string_view path;
    std::string_view line;
  };
  for (const Thinned& t : {Thinned{kTabletDds, "V0.6.3 BINDING QUEUE: TABLET_GPS DDS detectado: '"},
                           Thinned{kGpsDds, "V0.6.8 BINDING QUEUE: GPS.DDS (sin prefijo tablet_) detectado: '"},
                           Thinned{kOverlayDds, "V0.6.9 BINDING QUEUE: TABLET_GPS_OVERLAY.DDS detectado: '"}}) {
    for (int i = 0; i < 200; ++i) inspect(t.path);
    EXPECT_EQ(log.totals(t.line), (std::vector<uint64_t>{1, 10, 100, 200})) << t.line;
    EXPECT_EQ(log.exact(std::string(t.line) + std::string(t.path) + "' | total=10"), 1u) << t.line;
  }
  for (int i = 0; i < 2000; ++i) inspect(kTabletTobj);
  EXPECT_EQ(log.totals("V1.17.0 TABLET_GPS PATH DETECTADA: '"), (std::vector<uint64_t>{1, 10, 100, 1000, 2000}));

  // The .tobj forms without a counter of their own are only announced.
  const size_t before = log.lines.size();
  for (int i = 0; i < 20; ++i) inspect(kGpsTobj), inspect(kOverlayTobj);
  EXPECT_EQ(log.lines.size(), before + 2);
  EXPECT_EQ(log.exact("V1.16.0 PRISM PATH #5: '" + std::string(kGpsTobj) + "'"), 1u);
  EXPECT_EQ(log.exact("V1.16.0 PRISM PATH #6: '" + std::string(kOverlayTobj) + "'"), 1u);
  const auto c = r.counters();
  EXPECT_EQ(c.dds, 200u);
  EXPECT_EQ(c.gpsDds, 200u);
  EXPECT_EQ(c.overlayDds, 200u);
  EXPECT_EQ(c.tobj, 2000u);
  EXPECT_EQ(c.paths, 6u);
}

TEST_F(RedirectorPaths, OverlayTickIsTheClockOfTheLastOverlayDdsSighting) {
  ManualClock clock(5000);
  EXPECT_EQ(r.overlayDdsTick(), 0u);
  inspect(kTabletDds);
  inspect(kOverlayTobj);
  EXPECT_EQ(r.overlayDdsTick(), 0u);
  inspect(kOverlayDds);
  EXPECT_EQ(r.overlayDdsTick(), 5000u);
  clock.advanceMs(250);
  inspect(kOverlayTobj);
  EXPECT_EQ(r.overlayDdsTick(), 5000u);
  inspect(kOverlayDds.substr(1));
  EXPECT_EQ(r.overlayDdsTick(), 5250u);
}

}  // namespace
}  // namespace zor::test
