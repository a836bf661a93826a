// The walk over the engine's queue: its bounds, and faults inside it.
#include <gtest/gtest.h>

#include <functional>

#include "gps/RedirectorFixtures.h"

namespace zor::test {
namespace {

class RedirectorWalk : public ::testing::Test {
 protected:
  void SetUp() override { log.attach(r); }
  Redirector r;
  LogCapture log;
  FakeTextureQueue q;
};

TEST_F(RedirectorWalk, VisitsEveryEntryToTheSentinelAndSkipsNullEntries) {
  q.addEntry(0);
  q.addPath(kTabletDds);
  q.addEntry(0);
  q.addPath("/some/other/texture.dds");
  q.addPath(kTabletTobj);
  q.addEntry(0);
  r.scanQueue(q.queue());
  EXPECT_EQ(r.counters().dds, 1u);
  EXPECT_EQ(r.counters().tobj, 1u);
  EXPECT_EQ(log.count(LogLevel::ERROR), 0u);

  // Empty queues, a null queue and a list ending in a null pointer instead of the sentinel.
  FakeTextureQueue empty;
  r.scanQueue(empty.queue());
  r.scanQueue(nullptr);
  q.setNext(1, 0);  // the list now ends after the tablet_gps.dds node
  r.scanQueue(q.queue());
  EXPECT_EQ(r.counters().dds, 2u);
  EXPECT_EQ(r.counters().tobj, 1u);
  EXPECT_EQ(log.count(LogLevel::ERROR), 0u);
}

TEST_F(RedirectorWalk, ALoopingListStopsAfter4096Nodes) {
  q.addPath(kTabletDds);
  q.addEntry(0);
  q.addPath(kTabletDds);
  q.setNext(2, q.node(0));  // never reaches the sentinel
  r.scanQueue(q.queue());
  // 4096 visits over the three-node cycle: 1366 rounds and 2 extra nodes, 2 sightings per round.
  EXPECT_EQ(r.counters().dds, 4096u / 3 * 2 + 1);

  FakeTextureQueue self;
  self.addPath(kGpsDds);
  self.setNext(0, self.node(0));
  r.scanQueue(self.queue());
  EXPECT_EQ(r.counters().gpsDds, 4096u);
  EXPECT_EQ(log.count(LogLevel::ERROR), 0u);
}

TEST_F(RedirectorWalk, AFaultAnywhereInTheWalkEndsItWithOneErrorPerCall) {
  PageEdge edge;
  struct Case {
    const char* what;
    std::function<void(FakeTextureQueue&)> spoil;  // breaks the queue tablet_gps.dds, null, tablet_gps.dds
    uint64_t seen;                                 // sightings before the fault stops the walk
  };
  const Case cases[] = {
      {"entry in released memory", [](FakeTextureQueue& fq) { fq.setEntry(1, releasedAddress()); }, 1},
      {"entry at the end of readable memory",
       [&](FakeTextureQueue& fq) { fq.setEntry(1, edge.inaccessible() - 0x44); }, 1},
      {"characters in an inaccessible page",
       [&](FakeTextureQueue& fq) { fq.setEntry(1, fq.makeRawEntry(edge.inaccessible(), 43)); }, 1},
      {"characters running into an inaccessible page",
       [&](FakeTextureQueue& fq) { fq.setEntry(1, fq.makeRawEntry(edge.placeAtEdge("/vehicle/x"), 43)); }, 1},
      {"next pointer into released memory", [](FakeTextureQueue& fq) { fq.setNext(0, releasedAddress()); }, 1},
      {"non-canonical next pointer", [](FakeTextureQueue& fq) { fq.setNext(0, 0xDEAD'BEEF'0000'0000ull); }, 1},
      {"first node unreadable", [](FakeTextureQueue& fq) { fq.setFirst(releasedAddress()); }, 0},
  };
  for (const Case& c : cases) {
    Redirector fresh;
    LogCapture lines;
    lines.attach(fresh);
    FakeTextureQueue fq;
    fq.addPath(kTabletDds);
    fq.addEntry(0);
    fq.addPath(kTabletDds);  // after the fault: never reached
    c.spoil(fq);
    fresh.scanQueue(fq.queue());
    fresh.scanQueue(fq.queue());
    EXPECT_EQ(fresh.counters().dds, 2 * c.seen) << c.what;
    EXPECT_EQ(lines.count(LogLevel::ERROR), 2u) << c.what;
    EXPECT_EQ(lines.exact(kWalkError), 2u) << c.what;
  }

  // The queue object itself unreadable.
  r.scanQueue(reinterpret_cast<void*>(releasedAddress()));
  EXPECT_EQ(log.count(kWalkError), 1u);
}

TEST_F(RedirectorWalk, WithoutAnEngineFunctionTheCallStillScansAndReturnsZero) {
  q.addPath(kOverlayDds);
  EXPECT_EQ(r.onTextureQueue(q.queue()), 0u);
  EXPECT_EQ(r.counters().overlayDds, 1u);
  EXPECT_EQ(r.onTextureQueue(nullptr), 0u);
}

}  // namespace
}  // namespace zor::test
