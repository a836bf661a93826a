// The staging ring under stress, on a fake device whose mapped memory faults the moment it is
// touched out of turn: every Map hands out fresh pages from VirtualAlloc with an uncommitted page
// right after the last row; Unmap and the texture's last Release decommit them, and no address is
// ever handed out twice. A worker thread claims, composes with the real scaler at the mapped row
// pitch and publishes as fast as it can, while the calling thread (the render thread) services,
// takes, copies and retires, and now and then changes the picture's size, moves to a new device
// or lets the ring go and starts it again; both sides pause at random (a seeded generator).
//
// A fault is anything the ring must never do: a write into memory it no longer owns or past the
// last row (the worker's compose runs under the fault guard), a picture copied that is not the
// one published, a map of a mapped texture, an unmap of an unmapped one, a mapped texture
// released, a call on a released object, a texture or context still held at the end.
// Shared by the capture tests (a few seconds) and bench_staging_ring (ten minutes).
#pragma once

#include <d3d11.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "capture/FrameScaler.h"
#include "capture/StagingRing.h"
#include "core/Clock.h"
#include "core/FaultGuard.h"

namespace zor::stress {

struct Report {
  uint64_t handovers = 0;  // pictures taken and copied by the render thread
  uint64_t published = 0;
  uint64_t faults = 0;
  std::string firstFault;
  std::string faultKinds;  // "what (count); ..."
  uint64_t sizeChanges = 0, deviceChanges = 0, restarts = 0, creationFailures = 0;
  double longestRenderWaitMs = 0;  // the longest single ring call of the render thread
  double longestWorkerWaitMs = 0;  // the longest the worker went without memory to write
};

namespace detail {

inline void unexpectedCall() {
  std::fputs("ring stress: the ring called a method the fake device does not have\n", stderr);
  std::abort();
}

// Pages for mappings: a reserved stretch handed out from the bottom up, one inaccessible page
// after each mapping, decommitted when let go of; a new stretch is reserved when one runs out.
class Arena {
 public:
  static constexpr size_t kPage = 4096;
  static constexpr size_t kStretch = size_t{1} << 34;  // 16 GiB of addresses

  // bytes, ending right before an inaccessible page; base/span: what to decommit later.
  uint8_t* take(size_t bytes, uint8_t*& base, size_t& span) {
    std::lock_guard<std::mutex> lock(mutex_);
    span = (bytes + kPage - 1) / kPage * kPage;
    if (!stretch_ || used_ + span + kPage > kStretch) {
      stretch_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, kStretch, MEM_RESERVE, PAGE_NOACCESS));
      used_ = 0;
      if (!stretch_) return nullptr;
    }
    base = stretch_ + used_;
    used_ += span + kPage;  // the page after stays reserved and uncommitted
    if (!VirtualAlloc(base, span, MEM_COMMIT, PAGE_READWRITE)) return nullptr;
    return base + span - bytes;
  }
  static void letGo(uint8_t* base, size_t span) { VirtualFree(base, span, MEM_DECOMMIT); }

 private:
  std::mutex mutex_;
  uint8_t* stretch_ = nullptr;
  size_t used_ = 0;
};

struct World;

struct Texture {
  void** vtbl;
  World* world;
  std::atomic<long> refs{1};
  uint32_t width = 0, height = 0;
  bool mapped = false;
  uint8_t* data = nullptr;
  uint8_t* base = nullptr;
  size_t span = 0;
  uint32_t first = 0, last = 0;  // the picture's first and last texel when it was unmapped
};

struct Device;

struct Context {
  void** vtbl;
  World* world;
  std::atomic<long> refs{1};
  Device* device = nullptr;
  uint32_t copiedFirst = 0, copiedLast = 0;
};

struct Device {
  void** vtbl;
  World* world;
  std::atomic<long> refs{1};
  Context* context = nullptr;
};

// Every fake object of a run; none is freed before the run ends, so a late call finds its
// object and is counted, never a reused address.
struct World {
  Arena arena;
  std::mutex mutex;
  std::deque<std::unique_ptr<Texture>> textures;
  std::deque<std::unique_ptr<Context>> contexts;
  std::deque<std::unique_ptr<Device>> devices;
  std::atomic<uint64_t> faults{0};
  std::string firstFault;
  std::mt19937 rng;  // render thread only (the ring calls the fake from it)
  int failCreationOneIn = 0;
  int stillDrawingOneIn = 0;
  uint64_t creationFailures = 0;
  // Shut-down may drop a mapped texture (its context is not called): counted, not a fault then.
  bool mappedReleaseAllowed = false;
  uint64_t mappedReleases = 0;

  std::map<std::string, uint64_t> kinds;  // every fault seen, by what it was

  void fault(const char* what) {
    std::lock_guard<std::mutex> lock(mutex);
    if (faults.fetch_add(1) == 0) firstFault = what;
    ++kinds[what];
  }
  bool oneIn(int n) { return n > 0 && std::uniform_int_distribution<int>(0, n - 1)(rng) == 0; }

  static void* table(size_t slots, std::initializer_list<std::pair<size_t, void*>> methods, std::vector<void*>& store) {
    store.assign(slots, reinterpret_cast<void*>(&unexpectedCall));
    for (const auto& m : methods) store[m.first] = m.second;
    return store.data();
  }

  // ---- Textures
  static ULONG STDMETHODCALLTYPE texAddRef(Texture* t) {
    if (t->refs.load() <= 0) t->world->fault("a released texture was used again");
    return static_cast<ULONG>(++t->refs);
  }
  static ULONG STDMETHODCALLTYPE texRelease(Texture* t) {
    const long left = --t->refs;
    if (left < 0) t->world->fault("a texture was released once too often");
    if (left == 0 && t->mapped) {
      ++t->world->mappedReleases;
      if (!t->world->mappedReleaseAllowed) t->world->fault("a mapped texture was released");
      t->mapped = false;
      Arena::letGo(t->base, t->span);
    }
    return static_cast<ULONG>(std::max<long>(left, 0));
  }

  // ---- Device
  static ULONG STDMETHODCALLTYPE devAddRef(Device* d) { return static_cast<ULONG>(++d->refs); }
  static ULONG STDMETHODCALLTYPE devRelease(Device* d) {
    const long left = --d->refs;
    if (left < 0) d->world->fault("a device was released once too often");
    return static_cast<ULONG>(std::max<long>(left, 0));
  }
  static HRESULT STDMETHODCALLTYPE createTexture(Device* d, const D3D11_TEXTURE2D_DESC* desc, const void*,
                                                 ID3D11Texture2D** out) {
    World& w = *d->world;
    if (d->refs.load() <= 0 || d->context->refs.load() <= 0) w.fault("a texture was made on a released device");
    *out = nullptr;
    if (w.oneIn(w.failCreationOneIn)) {
      ++w.creationFailures;
      return E_OUTOFMEMORY;
    }
    auto t = std::make_unique<Texture>();
    t->vtbl = static_cast<void**>(w.textureTable);
    t->world = &w;
    t->width = desc->Width;
    t->height = desc->Height;
    *out = reinterpret_cast<ID3D11Texture2D*>(t.get());
    std::lock_guard<std::mutex> lock(w.mutex);
    w.textures.push_back(std::move(t));
    return S_OK;
  }

  // ---- Context
  static ULONG STDMETHODCALLTYPE ctxAddRef(Context* c) {
    if (c->refs.load() <= 0) c->world->fault("a released context was used again");
    return static_cast<ULONG>(++c->refs);
  }
  static ULONG STDMETHODCALLTYPE ctxRelease(Context* c) {
    const long left = --c->refs;
    if (left < 0) c->world->fault("a context was released once too often");
    return static_cast<ULONG>(std::max<long>(left, 0));
  }
  static void STDMETHODCALLTYPE getDevice(Context* c, ID3D11Device** out) {
    devAddRef(c->device);
    *out = reinterpret_cast<ID3D11Device*>(c->device);
  }
  static bool usable(Context* c, Texture* t) {
    if (c->refs.load() <= 0) c->world->fault("a call into a released context");
    if (t->refs.load() <= 0) {
      c->world->fault("a call on a released texture");
      return false;
    }
    return true;
  }
  static HRESULT STDMETHODCALLTYPE map(Context* c, Texture* t, UINT, D3D11_MAP, UINT, D3D11_MAPPED_SUBRESOURCE* out) {
    World& w = *c->world;
    if (!usable(c, t)) return E_INVALIDARG;
    if (t->mapped) {
      w.fault("a mapped texture was mapped again");
      return E_INVALIDARG;
    }
    if (w.oneIn(w.stillDrawingOneIn)) return DXGI_ERROR_WAS_STILL_DRAWING;
    const uint32_t pitch = (t->width * 4 + 63) / 64 * 64;
    const size_t bytes = static_cast<size_t>(t->height - 1) * pitch + static_cast<size_t>(t->width) * 4;
    uint8_t* data = w.arena.take(bytes, t->base, t->span);
    if (!data) return E_OUTOFMEMORY;
    t->mapped = true;
    t->data = data;
    out->pData = data;
    out->RowPitch = pitch;
    out->DepthPitch = 0;
    return S_OK;
  }
  static void STDMETHODCALLTYPE unmap(Context* c, Texture* t, UINT) {
    if (!usable(c, t)) return;
    if (!t->mapped) {
      c->world->fault("an unmapped texture was unmapped");
      return;
    }
    std::memcpy(&t->first, t->data, 4);
    std::memcpy(&t->last, t->base + t->span - 4, 4);
    t->mapped = false;
    Arena::letGo(t->base, t->span);
  }
  static void STDMETHODCALLTYPE copyRegion(Context* c, Texture* dst, UINT, UINT, UINT, UINT, Texture* src, UINT,
                                           const D3D11_BOX*) {
    if (!usable(c, src) || !usable(c, dst)) return;
    if (src->mapped) c->world->fault("a mapped texture was copied");
    c->copiedFirst = src->first;
    c->copiedLast = src->last;
  }

  void* textureTable = nullptr;
  void* deviceTable = nullptr;
  void* contextTable = nullptr;
  std::vector<void*> textureSlots, deviceSlots, contextSlots;

  explicit World(uint64_t seed) : rng(static_cast<uint32_t>(seed)) {
    auto fn = [](auto f) { return reinterpret_cast<void*>(f); };
    textureTable = table(11, {{1, fn(&texAddRef)}, {2, fn(&texRelease)}}, textureSlots);
    deviceTable = table(41, {{1, fn(&devAddRef)}, {2, fn(&devRelease)}, {5, fn(&createTexture)}}, deviceSlots);
    contextTable = table(144,
                         {{1, fn(&ctxAddRef)},
                          {2, fn(&ctxRelease)},
                          {3, fn(&getDevice)},
                          {14, fn(&map)},
                          {15, fn(&unmap)},
                          {46, fn(&copyRegion)}},
                         contextSlots);
  }

  // A new device with its immediate context; the caller owns one reference to the context.
  Context* newDevice() {
    auto d = std::make_unique<Device>();
    auto c = std::make_unique<Context>();
    d->vtbl = static_cast<void**>(deviceTable);
    d->world = this;
    d->context = c.get();
    c->vtbl = static_cast<void**>(contextTable);
    c->world = this;
    c->device = d.get();
    Context* made = c.get();
    std::lock_guard<std::mutex> lock(mutex);
    devices.push_back(std::move(d));
    contexts.push_back(std::move(c));
    return made;
  }
  Texture* newTarget() {
    ID3D11Texture2D* t = nullptr;
    D3D11_TEXTURE2D_DESC d{};
    d.Width = d.Height = 8;
    const int fail = failCreationOneIn;
    failCreationOneIn = 0;
    createTexture(devices.front().get(), &d, nullptr, &t);
    failCreationOneIn = fail;
    return reinterpret_cast<Texture*>(t);
  }
};

inline uint32_t colourOf(uint64_t sequence) {
  return 0xFF000000u | static_cast<uint32_t>((sequence * 2654435761u) & 0x00FFFFFFu);
}

inline double msSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace detail

struct Options {
  uint64_t seed = 1;
  double seconds = 3;         // at most
  uint64_t handovers = 0;     // enough: the run ends when this many were made (0: runs the whole time)
};

// Runs the stress on the calling thread (the render thread) and a worker.
inline Report run(const Options& options) {
  using namespace detail;
  using Clock = std::chrono::steady_clock;
  static constexpr uint32_t kSizes[][2] = {{61, 61}, {122, 70}, {245, 138}, {491, 276}, {300, 97}};
  static constexpr uint64_t kReleaseWaitNs = 200'000'000ull;

  World world(options.seed);
  world.failCreationOneIn = 40;
  world.stillDrawingOneIn = 8;
  Report report;
  StagingRing ring;
  std::atomic<uint64_t> size{(uint64_t{kSizes[0][0]} << 32) | kSizes[0][1]};
  std::atomic<uint64_t> latest{0};
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> published{0};
  double workerWait = 0;

  std::thread worker([&] {
    std::mt19937 rng(static_cast<uint32_t>(options.seed * 7919 + 1));
    auto oneIn = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng) == 0; };
    auto pause = [&] {
      if (oneIn(20000)) Sleep(250);  // longer than a release waits: the ring must keep the slot
      else if (oneIn(200)) Sleep(std::uniform_int_distribution<int>(0, 2)(rng));
      else if (oneIn(4)) for (int i = std::uniform_int_distribution<int>(0, 2000)(rng); i > 0; --i) YieldProcessor();
    };
    FrameScaler scaler;
    std::vector<uint32_t> source(320 * 180);
    uint64_t sequence = 0;
    Clock::time_point starvedSince{};
    bool starved = false;
    while (!stop.load()) {
      const uint64_t s = size.load();
      const uint32_t w = static_cast<uint32_t>(s >> 32), h = static_cast<uint32_t>(s);
      FrameGeometry g;
      g.sourceWidth = 320;
      g.sourceHeight = 180;
      g.cropWidth = 320;
      g.cropHeight = 180;
      g.outputWidth = g.pictureWidth = static_cast<int>(w);
      g.outputHeight = g.pictureHeight = static_cast<int>(h);
      if (!scaler.prepare(g)) {
        stop.store(true);
        world.fault("the scaler refused a picture size");
        break;
      }
      const uint64_t next = sequence + 1;
      std::fill(source.begin(), source.end(), colourOf(next));
      pause();
      StagingRing::Claim claim;
      if (!ring.claim(w, h, latest.load(), claim)) {
        if (!starved) starvedSince = Clock::now();
        starved = true;
        Sleep(0);  // the render thread has the memory: let it run
        continue;
      }
      if (starved) workerWait = std::max(workerWait, msSince(starvedSince));
      starved = false;
      pause();
      auto compose = [&] { scaler.compose(reinterpret_cast<const uint8_t*>(source.data()), claim.data, claim.rowPitch); };
      if (!fault::guarded(compose)) {
        world.fault("the worker wrote into memory the ring no longer owns, or past its last row");
        stop.store(true);
        break;
      }
      pause();
      sequence = next;
      ring.publish(claim, sequence, 1, 0, 0);
      latest.store(sequence);
      published.fetch_add(1);
    }
  });

  auto timed = [&](auto&& call) {
    const auto t = Clock::now();
    auto result = call();
    report.longestRenderWaitMs = std::max(report.longestRenderWaitMs, msSince(t));
    return result;
  };
  std::mt19937& rng = world.rng;
  auto oneIn = [&](int n) { return world.oneIn(n); };
  Context* context = world.newDevice();
  Texture* target = world.newTarget();
  auto ctx = [&] { return reinterpret_cast<ID3D11DeviceContext*>(context); };
  auto let = [&](Context*& c) {  // the test's own reference goes (the ring may hold one)
    Context* old = c;
    c = nullptr;
    World::ctxRelease(old);
  };
  uint64_t lastTaken = 0;
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds));
  while (!stop.load() && Clock::now() < end && (options.handovers == 0 || report.handovers < options.handovers)) {
    if (oneIn(150)) {
      const auto& next = kSizes[std::uniform_int_distribution<int>(0, 4)(rng)];
      size.store((uint64_t{next[0]} << 32) | next[1]);
      ++report.sizeChanges;
    }
    if (oneIn(400)) {  // the game's new device: let go of the old ring (as a device change does), or not
      if (oneIn(2)) timed([&] { return ring.release(clock::steadyNs() + kReleaseWaitNs); });
      let(context);
      context = world.newDevice();
      ++report.deviceChanges;
    }
    if (oneIn(300)) {  // stopped and started again
      timed([&] { return ring.release(clock::steadyNs() + kReleaseWaitNs); });
      Sleep(std::uniform_int_distribution<int>(0, 5)(rng));
      ++report.restarts;
    }
    const uint64_t s = size.load();
    const bool ready = timed([&] {
      return ring.service(ctx(), static_cast<uint32_t>(s >> 32), static_cast<uint32_t>(s), DXGI_FORMAT_B8G8R8A8_UNORM);
    });
    const uint64_t newest = latest.load();
    if (ready && newest != 0 && newest != lastTaken) {
      const int slot = timed([&] { return ring.take(newest, 1); });
      if (slot >= 0 && oneIn(20)) {
        ring.restore(slot);  // read only, as the tests' latestFrame does
      } else if (slot >= 0) {
        const uint32_t expected = colourOf(ring.sequence(slot));
        if (!timed([&] { return ring.copyInto(slot, reinterpret_cast<ID3D11Texture2D*>(target), 0, 0); })) {
          world.fault("a copy faulted");
        } else if (context->copiedFirst != expected || context->copiedLast != expected) {
          world.fault("the picture copied is not the one published");
        }
        lastTaken = newest;
        ++report.handovers;
      }
    }
    if (oneIn(100)) Sleep(std::uniform_int_distribution<int>(0, 1)(rng));
    else if (oneIn(4)) for (int i = std::uniform_int_distribution<int>(0, 2000)(rng); i > 0; --i) YieldProcessor();
  }
  stop.store(true);
  worker.join();
  if (!ring.release(clock::steadyNs() + 1'000'000'000ull)) world.fault("the ring could not be let go of at the end");
  let(context);
  World::texRelease(target);
  for (const auto& t : world.textures) {
    if (t->refs.load() != 0) world.fault("a texture was still held at the end");
  }
  for (const auto& c : world.contexts) {
    if (c->refs.load() != 0) world.fault("a context was still held at the end");
  }
  report.published = published.load();
  report.faults = world.faults.load();
  report.firstFault = world.firstFault;
  for (const auto& [what, count] : world.kinds) {
    report.faultKinds += what + " (" + std::to_string(count) + "); ";
  }
  report.creationFailures = world.creationFailures;
  report.longestWorkerWaitMs = workerWait;
  return report;
}

}  // namespace zor::stress
