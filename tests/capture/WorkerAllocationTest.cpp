// The capture worker's steady passes allocate nothing: every allocation of this program is
// counted while the worker captures frames of a bound window.
#include <atomic>
#include <cstdlib>
#include <new>

#include "CaptureTestKit.h"

namespace {
std::atomic<bool> g_counting{false};
std::atomic<uint64_t> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
// GCC takes the replaced pair for a mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace zor::test {
namespace {

using CaptureWorkerAllocations = CaptureFixture;

TEST_F(CaptureWorkerAllocations, PassesOverABoundWindowAllocateNothing) {
  ComRef<ID3D11Texture2D> target = texture(64, 64);
  startCapturing(target.get());
  // Texts longer than any string keeps inside itself.
  engine_.setWindowTarget(CaptureTarget{resolveChosenWindow(window_->hwnd()), L"Player with a long keyword " + uniqueToken(),
                                        L"a-program-with-a-long-name.exe"});
  advance(40);
  advance(33);  // both slots of the frame buffer have their pixels now
  const uint64_t published = engine_.counters().framesPublished;
  g_allocations.store(0);
  g_counting.store(true);
  for (int i = 0; i < 20; ++i) {
    clock_.advanceMs(33);
    engine_.wake();
    if (!settle()) break;
  }
  g_counting.store(false);
  const uint64_t frames = engine_.counters().framesPublished - published;
  std::printf("   %llu frames, %llu allocations\n", static_cast<unsigned long long>(frames),
              static_cast<unsigned long long>(g_allocations.load()));
  EXPECT_GE(frames, 19u);
  EXPECT_EQ(g_allocations.load(), 0u);
}

}  // namespace
}  // namespace zor::test
