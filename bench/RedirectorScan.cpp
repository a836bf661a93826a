// Cost of the texture-queue walk per node: the fault-guarded walk of the redirector against the
// same walk with plain memory reads (what an unguarded hook would cost), over a queue of
// ordinary texture paths like those the engine loads. Median of alternating rounds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchKit.h"
#include "core/Clock.h"
#include "gps/PrismTextureQueueRedirector.h"

using zor::PrismTextureQueueRedirector;
using zor::bench::median;

namespace {

struct Queue {
  std::vector<std::unique_ptr<uint64_t[]>> blocks;
  uintptr_t queue = 0;
  uintptr_t block(size_t bytes) {
    blocks.push_back(std::make_unique<uint64_t[]>((bytes + 7) / 8));
    return reinterpret_cast<uintptr_t>(blocks.back().get());
  }
  template <class T>
  static void put(uintptr_t at, T v) { std::memcpy(reinterpret_cast<void*>(at), &v, sizeof(T)); }
};

Queue makeQueue(size_t nodes) {
  Queue q;
  q.queue = q.block(0x200);
  const uintptr_t sentinel = q.queue + PrismTextureQueueRedirector::kQueueSentinel;
  uintptr_t prev = 0;
  for (size_t i = 0; i < nodes; ++i) {
    std::string path = "/vehicle/truck/upgrade/accessory_" + std::to_string(i) + "/interior/detail_" +
                       std::to_string(i * 7) + (i % 2 ? ".dds" : ".tobj");
    if (i % 64 == 5) path = "/material/ui/dashboard/tjs/some_other_overlay.dds";
    const uintptr_t text = q.block(path.size() + 1);
    std::memcpy(reinterpret_cast<void*>(text), path.data(), path.size());
    const uintptr_t entry = q.block(0x60);
    Queue::put<uint64_t>(entry + PrismTextureQueueRedirector::kEntryPath, text);
    Queue::put<uint32_t>(entry + PrismTextureQueueRedirector::kEntryPathLength, static_cast<uint32_t>(path.size()));
    const uintptr_t node = q.block(0x20);
    Queue::put<uint64_t>(node + PrismTextureQueueRedirector::kNodeEntry, entry);
    Queue::put<uint64_t>(node + PrismTextureQueueRedirector::kNodeNext, sentinel);
    if (prev) Queue::put<uint64_t>(prev + PrismTextureQueueRedirector::kNodeNext, node);
    else Queue::put<uint64_t>(q.queue + PrismTextureQueueRedirector::kQueueFirstNode, node);
    prev = node;
  }
  return q;
}

// The same walk and matching with plain reads.
[[gnu::noinline]] int plainScan(uintptr_t queue) {
  int found = 0;
  const uintptr_t sentinel = queue + PrismTextureQueueRedirector::kQueueSentinel;
  uintptr_t node = *reinterpret_cast<const uintptr_t*>(queue + PrismTextureQueueRedirector::kQueueFirstNode);
  for (unsigned v = 0; v < PrismTextureQueueRedirector::kMaxNodes && node && node != sentinel; ++v) {
    const uintptr_t entry = *reinterpret_cast<const uintptr_t*>(node + PrismTextureQueueRedirector::kNodeEntry);
    if (entry) {
      const char* chars = *reinterpret_cast<const char* const*>(entry + PrismTextureQueueRedirector::kEntryPath);
      const uint32_t length = *reinterpret_cast<const uint32_t*>(entry + PrismTextureQueueRedirector::kEntryPathLength);
      if (chars && length) {
        char path[51];
        const size_t take = std::min<size_t>(length, sizeof(path));
        std::memcpy(path, chars, take);
        const void* zero = std::memchr(path, 0, take);
        const size_t size = zero ? static_cast<const char*>(zero) - path : take;
        if (size && size < sizeof(path)) {
          for (size_t i = 0; i < size; ++i) {
            if (path[i] == '\\') path[i] = '/';
            else if (path[i] >= 'A' && path[i] <= 'Z') path[i] += 'a' - 'A';
          }
          found += PrismTextureQueueRedirector::classify({path, size}) != PrismTextureQueueRedirector::PathKind::None;
        }
      }
    }
    node = *reinterpret_cast<const uintptr_t*>(node + PrismTextureQueueRedirector::kNodeNext);
  }
  return found;
}

}  // namespace

int main() {
  constexpr size_t kNodes = 256;
  constexpr int kRounds = 31, kCallsPerRound = 400;
  Queue q = makeQueue(kNodes);
  PrismTextureQueueRedirector redirector;
  redirector.setLogOutput([](void*, zor::LogLevel, std::string_view) {}, nullptr);
  volatile int sink = 0;
  std::vector<double> guarded, plain;
  for (int round = 0; round < kRounds; ++round) {
    uint64_t t0 = zor::clock::steadyNs();
    for (int i = 0; i < kCallsPerRound; ++i) redirector.scanQueue(reinterpret_cast<void*>(q.queue));
    uint64_t t1 = zor::clock::steadyNs();
    for (int i = 0; i < kCallsPerRound; ++i) sink = sink + plainScan(q.queue);
    uint64_t t2 = zor::clock::steadyNs();
    guarded.push_back(double(t1 - t0) / (kCallsPerRound * kNodes));
    plain.push_back(double(t2 - t1) / (kCallsPerRound * kNodes));
  }
  const double g = median(guarded), p = median(plain);
  std::printf("texture-queue walk, %zu ordinary paths per call, median of %d rounds\n", kNodes, kRounds);
  std::printf("  guarded walk:  %.1f ns/node\n", g);
  std::printf("  plain reads:   %.1f ns/node (baseline)\n", p);
  std::printf("  ratio guarded/plain: %.2f\n", g / p);
  return 0;
}
