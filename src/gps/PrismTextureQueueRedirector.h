// Watches the game engine's texture-loading queue (memserver_texture_queue) for the texture
// files of the tablet GPS accessory and its overlay. The queue itself is never changed: the
// hook only counts and logs the recognised paths and remembers when the overlay texture was
// last queued, which the CreateTexture2D detour uses to recognise the overlay texture.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "core/Logger.h"

namespace zor {

struct GameBuild;

class PrismTextureQueueRedirector {
 public:
  // The recognised files; each is recognised with and without its leading "/".
  enum class PathKind : uint8_t { TabletGpsTobj, TabletGpsDds, GpsTobj, GpsDds, OverlayTobj, OverlayDds, None };

  struct Counters {
    uint64_t tobj = 0;        // tablet_gps.tobj sightings
    uint64_t paths = 0;       // distinct recognised paths announced
    uint64_t dds = 0;         // tablet_gps.dds sightings
    uint64_t gpsDds = 0;      // gps.dds sightings
    uint64_t overlayDds = 0;  // tablet_gps_overlay.dds sightings
  };

  // Where log lines go; the default is Logger::instance().
  using LogOutput = void (*)(void* context, LogLevel level, std::string_view text);

  static PrismTextureQueueRedirector& instance();

  // Tests run their own instances beside the process-wide one.
  PrismTextureQueueRedirector() = default;
  PrismTextureQueueRedirector(const PrismTextureQueueRedirector&) = delete;
  PrismTextureQueueRedirector& operator=(const PrismTextureQueueRedirector&) = delete;

  // Checks the running executable's code and hooks the engine function. True when the hook is
  // active (also when already started with an active hook); false leaves the shader-based
  // identification as the only one.
  bool start() noexcept;
  // The same on the module image mapped at moduleBase (start() passes the executable's).
  bool start(const void* moduleBase) noexcept;
  // Switches the hook off and removes it once no thread is inside (a thread still inside when the
  // shut-down's time is up keeps the hook in place, off), then logs the totals. Does nothing when
  // not started.
  void shutdown() noexcept;

  // The work of the detour for one call: walks the queue, then calls the game's function (when
  // hooked) with the same argument and returns its result, 0 without a trampoline.
  uint64_t onTextureQueue(void* queue) noexcept;
  // The fault-guarded walk over at most kMaxNodes nodes.
  void scanQueue(const void* queue) noexcept;
  // Reads and recognises one queue entry; true when it is the tablet_gps.tobj path.
  bool inspectEntry(const void* entry) noexcept;

  // clock::tickMs() of the last tablet_gps_overlay.dds sighting; 0 = never.
  uint64_t overlayDdsTick() const noexcept { return overlayDdsTick_.load(std::memory_order_acquire); }
  bool hookActive() const noexcept { return hookActive_.load(std::memory_order_acquire) != 0; }
  Counters counters() const noexcept;

  void setLogOutput(LogOutput output, void* context) noexcept;

  // Which recognised form a normalised path is (PathKind::None when it is none).
  static PathKind classify(std::string_view normalisedPath) noexcept;

  // Record layout of the engine's queue, node and entry objects.
  static constexpr uintptr_t kQueueFirstNode = 0x170;
  static constexpr uintptr_t kQueueSentinel = 0x180;
  static constexpr uintptr_t kNodeNext = 0x00;
  static constexpr uintptr_t kNodeEntry = 0x10;
  static constexpr uintptr_t kEntryPath = 0x40;
  static constexpr uintptr_t kEntryPathLength = 0x48;
  static constexpr unsigned kMaxNodes = 4096;
  static constexpr size_t kMaxPathBytes = 2048;

 private:
  enum class EntryResult { Other, TabletGpsTobj, Fault };

  // The function installed in the engine. Register arguments beyond the queue are handed on
  // untouched in case the engine passes more than it reads.
  static uint64_t detour(void* queue, void* a2, void* a3, void* a4) noexcept;

  EntryResult readEntry(uintptr_t entry) noexcept;
  void recordSighting(PathKind kind, std::string_view path, unsigned formIndex) noexcept;
  bool startWith(const void* moduleBase) noexcept;
  // Removes a hook that the last shut-down had to leave in place; false while a thread is still
  // inside it.
  bool finishStrandedShutdown() noexcept;
  void log(LogLevel level, std::string_view text) noexcept;

  using EngineFn = uint64_t (*)(void*, void*, void*, void*);

  std::atomic<uint8_t> initialized_{0};
  std::atomic<uint8_t> hookActive_{0};
  std::atomic<uint8_t> stranded_{0};
  std::atomic<uint64_t> tobjCount_{0};
  std::atomic<uint64_t> pathCount_{0};
  std::atomic<uint64_t> ddsCount_{0};
  std::atomic<uint64_t> gpsDdsCount_{0};
  std::atomic<uint64_t> overlayDdsTick_{0};
  std::atomic<uint64_t> overlayDdsCount_{0};
  std::atomic<EngineFn> trampoline_{nullptr};
  std::atomic<void*> target_{nullptr};
  // One bit per recognised form already announced. There are only twelve forms, so this
  // replaces a set of strings guarded by a lock: no allocation and no lock inside the hook.
  std::atomic<uint32_t> seenForms_{0};

  LogOutput logOutput_ = nullptr;
  void* logContext_ = nullptr;
};

}  // namespace zor
