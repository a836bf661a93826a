// The staging ring's hand-over on the fake device of RingStress.h, whose mapped memory faults
// the moment it is touched out of turn: the stress run, and the rules it could only meet by
// chance, set up step by step (the test's thread is both the render thread and the worker).
#include <gtest/gtest.h>

#include <cstring>

#include "support/ManualClock.h"
#include "support/RingStress.h"

namespace zor::test {
namespace {

using stress::detail::Context;
using stress::detail::World;

// The worker claims, composes and publishes while the render thread services, takes, copies
// and retires, changes size and device and starts over: thousands of hand-overs, not one fault.
TEST(StagingRingStress, ThousandsOfHandOversUnderSizeAndDeviceChangesWithoutAFault) {
  // A few seconds on an idle machine; a loaded one takes longer to reach the count.
  const stress::Report r = stress::run({20261209, 30.0, 3000});
  EXPECT_EQ(r.faults, 0u) << r.faultKinds;
  EXPECT_GE(r.handovers, 1000u);
  EXPECT_GT(r.sizeChanges, 0u);
  EXPECT_GT(r.deviceChanges, 0u);
  EXPECT_GT(r.restarts, 0u);
  EXPECT_GT(r.creationFailures, 0u);
  std::printf("   %llu hand-overs, %llu published, longest wait: render thread %.1f ms, worker %.1f ms\n",
              static_cast<unsigned long long>(r.handovers), static_cast<unsigned long long>(r.published),
              r.longestRenderWaitMs, r.longestWorkerWaitMs);
}

class StagingRingSteps : public ::testing::Test {
 protected:
  ID3D11DeviceContext* newContext() { return reinterpret_cast<ID3D11DeviceContext*>(world_.newDevice()); }
  static long refs(ID3D11DeviceContext* c) { return reinterpret_cast<Context*>(c)->refs.load(); }
  bool service(ID3D11DeviceContext* c, uint32_t side) { return ring_.service(c, side, side, DXGI_FORMAT_B8G8R8A8_UNORM); }
  // The worker's whole picture (every byte of every row) into a claimed slot.
  static void fill(const StagingRing::Claim& c, uint32_t side) {
    for (uint32_t row = 0; row < side; ++row) std::memset(c.data + static_cast<size_t>(row) * c.rowPitch, 0x5A, side * 4);
  }

  World world_{7};
  StagingRing ring_;
};

// A slot the worker is still writing when the device goes keeps that device's context (with a
// reference): the slot is unmapped through it once the worker is done, never released mapped.
TEST_F(StagingRingSteps, ASlotStillWrittenKeepsItsContextUntilItIsUnmappedThroughIt) {
  ManualClock clock;
  ID3D11DeviceContext* old = newContext();
  ASSERT_TRUE(service(old, 64));
  StagingRing::Claim claim;
  ASSERT_TRUE(ring_.claim(64, 64, 0, claim));
  EXPECT_FALSE(ring_.release(clock.ns()));  // the deadline has come: the slot stays the worker's
  EXPECT_EQ(refs(old), 2);
  ID3D11DeviceContext* next = newContext();
  EXPECT_FALSE(service(next, 64));  // not while the old ring's slot is written
  fill(claim, 64);
  ring_.publish(claim, 1, 1, 0, 0);
  EXPECT_TRUE(service(next, 64));
  EXPECT_EQ(refs(old), 1);
  EXPECT_EQ(world_.faults.load(), 0u) << world_.firstFault;
  EXPECT_TRUE(ring_.release(clock.ns()));
}

// The wait for a slot being written runs on the clock: it ends when the clock passes the
// deadline, however long the thread's sleeps really are.
TEST_F(StagingRingSteps, TheWaitForASlotBeingWrittenEndsByTheClock) {
  struct Stepping {  // every read of the clock moves it 50 ms on
    uint64_t ns = 1'000'000'000ull;
    int reads = 0;
  } stepping;
  ID3D11DeviceContext* c = newContext();
  ASSERT_TRUE(service(c, 32));
  StagingRing::Claim claim;
  ASSERT_TRUE(ring_.claim(32, 32, 0, claim));
  const clock::Source source{[](void*) { return uint64_t{0}; },
                             [](void* s) {
                               auto* st = static_cast<Stepping*>(s);
                               ++st->reads;
                               return st->ns += 50'000'000ull;
                             },
                             &stepping};
  clock::setSource(&source);
  const bool released = ring_.release(stepping.ns + 200'000'000ull);
  clock::setSource(nullptr);
  EXPECT_FALSE(released);
  EXPECT_GE(stepping.reads, 2);  // looked at the clock until the deadline had passed
  EXPECT_LE(stepping.reads, 6);
  ring_.abandon(claim);
  EXPECT_TRUE(ring_.release(0));
}

// A creation that fails after the old ring went leaves a ring that matches no size: the next
// frame makes it again, even at the size the old ring had.
TEST_F(StagingRingSteps, AFailedCreationIsMadeAgainAtTheNextServiceWhateverTheSize) {
  ID3D11DeviceContext* c = newContext();
  ASSERT_TRUE(service(c, 64));
  world_.failCreationOneIn = 1;
  EXPECT_FALSE(service(c, 48));
  world_.failCreationOneIn = 0;
  ASSERT_TRUE(service(c, 64));
  StagingRing::Claim claim;
  EXPECT_TRUE(ring_.claim(64, 64, 0, claim));
  ring_.abandon(claim);
  EXPECT_TRUE(ring_.release(0));
  EXPECT_EQ(world_.faults.load(), 0u) << world_.firstFault;
}

// Shut-down with the worker stuck elsewhere: what the render side holds is let go of without a
// call into the context; the slot the worker writes stays mapped for it and is dropped, never
// released, when it gives it back; the ring is then made again on demand.
TEST_F(StagingRingSteps, DroppingLeavesTheWorkersSlotToItAndCallsNothingOnTheContext) {
  ID3D11DeviceContext* c = newContext();
  ASSERT_TRUE(service(c, 32));
  StagingRing::Claim claim;
  ASSERT_TRUE(ring_.claim(32, 32, 0, claim));
  const size_t made = world_.textures.size();
  world_.mappedReleaseAllowed = true;
  ring_.drop();
  EXPECT_EQ(refs(c), 1);
  fill(claim, 32);  // still mapped: the fake would fault on a released or unmapped slot
  ring_.publish(claim, 1, 1, 0, 0);
  EXPECT_EQ(ring_.take(1, 1), -1);
  long held = 0;
  for (size_t i = 0; i < made; ++i) held += world_.textures[i]->refs.load();
  EXPECT_EQ(held, 1);  // the orphan's, dropped on purpose
  EXPECT_EQ(world_.mappedReleases, 3u);
  EXPECT_EQ(world_.faults.load(), 0u) << world_.firstFault;
  ASSERT_TRUE(service(c, 32));
  EXPECT_TRUE(ring_.release(0));
}

}  // namespace
}  // namespace zor::test
