#include "gps/PrismTextureQueueRedirector.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/Clock.h"
#include "core/FaultGuard.h"
#include "core/DetourGuard.h"
#include "core/HookApi.h"
#include "gps/GameBuild.h"

namespace zor {
namespace {

struct RecognisedFile {
  std::string_view path;  // normalised, with its leading "/"
  PrismTextureQueueRedirector::PathKind kind;
};

using Kind = PrismTextureQueueRedirector::PathKind;

constexpr RecognisedFile kFiles[] = {
    {"/vehicle/truck/upgrade/lumex/tablet_gps.tobj", Kind::TabletGpsTobj},
    {"/vehicle/truck/upgrade/lumex/tablet_gps.dds", Kind::TabletGpsDds},
    {"/vehicle/truck/upgrade/lumex/gps.tobj", Kind::GpsTobj},
    {"/vehicle/truck/upgrade/lumex/gps.dds", Kind::GpsDds},
    {"/material/ui/dashboard/tjs/tablet_gps_overlay.tobj", Kind::OverlayTobj},
    {"/material/ui/dashboard/tjs/tablet_gps_overlay.dds", Kind::OverlayDds},
};

constexpr size_t longestFile() {
  size_t n = 0;
  for (const auto& f : kFiles) n = f.path.size() > n ? f.path.size() : n;
  return n;
}
constexpr size_t kLongestPath = longestFile();
static_assert(kLongestPath < 64);

// Which of the twelve forms (file index * 2, +1 without the slash); -1 when none.
int formIndex(std::string_view path) {
  if (path.empty()) return -1;
  const bool slash = path.front() == '/';
  for (size_t i = 0; i < std::size(kFiles); ++i) {
    const std::string_view form = slash ? kFiles[i].path : kFiles[i].path.substr(1);
    if (path.size() == form.size() && path == form) return static_cast<int>(i * 2 + (slash ? 0 : 1));
  }
  return -1;
}

// 1st, 10th and every 100th occurrence.
bool thinned(uint64_t n) { return n == 1 || n == 10 || n % 100 == 0; }
// 1st, 10th, 100th and every 1000th occurrence.
bool thinnedSparse(uint64_t n) { return n == 1 || n == 10 || n == 100 || n % 1000 == 0; }

std::string hex(uintptr_t value) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "0x%llX", static_cast<unsigned long long>(value));
  return buf;
}

void toLogger(void*, LogLevel level, std::string_view text) { Logger::instance().log(level, text); }

// The instance whose hook is installed; the detour forwards to it. Never cleared, so a call
// already inside the detour while the hook is removed still finds its trampoline.
std::atomic<PrismTextureQueueRedirector*> g_hooked{nullptr};

}  // namespace

PrismTextureQueueRedirector& PrismTextureQueueRedirector::instance() {
  static PrismTextureQueueRedirector redirector;
  return redirector;
}

void PrismTextureQueueRedirector::setLogOutput(LogOutput output, void* context) noexcept {
  logOutput_ = output;
  logContext_ = context;
}

void PrismTextureQueueRedirector::log(LogLevel level, std::string_view text) noexcept {
  try {
    (logOutput_ ? logOutput_ : toLogger)(logContext_, level, text);
  } catch (...) {
  }
}

PrismTextureQueueRedirector::Counters PrismTextureQueueRedirector::counters() const noexcept {
  Counters c;
  c.tobj = tobjCount_.load(std::memory_order_relaxed);
  c.paths = pathCount_.load(std::memory_order_relaxed);
  c.dds = ddsCount_.load(std::memory_order_relaxed);
  c.gpsDds = gpsDdsCount_.load(std::memory_order_relaxed);
  c.overlayDds = overlayDdsCount_.load(std::memory_order_relaxed);
  return c;
}

PrismTextureQueueRedirector::PathKind PrismTextureQueueRedirector::classify(std::string_view path) noexcept {
  const int form = formIndex(path);
  return form < 0 ? PathKind::None : kFiles[form / 2].kind;
}

// ---- start and shutdown ---------------------------------------------------------------------

bool PrismTextureQueueRedirector::start() noexcept { return startWith(GetModuleHandleW(nullptr)); }

bool PrismTextureQueueRedirector::start(const void* moduleBase) noexcept { return startWith(moduleBase); }

bool PrismTextureQueueRedirector::startWith(const void* moduleBase) noexcept {
  uint8_t expected = 0;
  if (!initialized_.compare_exchange_strong(expected, 1)) return hookActive();
  if (!finishStrandedShutdown()) {
    initialized_.store(0);
    log(LogLevel::ERROR,
        "PrismTextureQueueRedirector: un hilo del motor sigue dentro del hook desde el cierre anterior; no se puede "
        "iniciar todavia.");
    return false;
  }

  tobjCount_.store(0);
  pathCount_.store(0);
  ddsCount_.store(0);
  gpsDdsCount_.store(0);
  overlayDdsTick_.store(0);
  overlayDdsCount_.store(0);
  seenForms_.store(0);
  log(LogLevel::INFO,
      "PrismTextureQueueRedirector V1.19.0 STRICT LUMEX inicializado: solo rastrea "
      "/vehicle/truck/upgrade/lumex/tablet_gps.tobj y tablet_gps.dds; ignora el GPS original de ATS.");

  auto fail = [this] {
    initialized_.store(0);
    return false;
  };
  if (!moduleBase) return fail();

  // The code bytes are read only once they are known to be readable code of this image: another
  // host program or a smaller build must not crash us here.
  ModuleImage image;
  const GameBuild* build = readModuleImage(moduleBase, image) ? findGameBuild(image) : nullptr;
  if (!build) {
    const auto base = reinterpret_cast<uintptr_t>(moduleBase);
    try {
      log(LogLevel::WARNING,
          "V1.15.0: validacion del RVA fallo (es normal si el juego se actualizo desde que se encontro este "
          "offset). Base=" +
              hex(base) + " | Target=" + hex(base + kGameBuilds[0].hookRva) +
              ". Seguimos sin identificacion por nombre de archivo; el sistema de deteccion por shader sigue "
              "disponible como respaldo.");
    } catch (...) {
    }
    return fail();
  }

  void* target = reinterpret_cast<void*>(image.base + build->hookRva);
  if (acquireHookEngine(HookOwner::TextureQueue) != MH_OK) {
    log(LogLevel::ERROR, "V1.15.0: MH_Initialize fallo.");
    return fail();
  }
  const HookApi& hooks = hookApi();
  void* original = nullptr;
  if (hooks.createHook(target, reinterpret_cast<void*>(&PrismTextureQueueRedirector::detour), &original) != MH_OK) {
    releaseHookEngine(HookOwner::TextureQueue);
    log(LogLevel::ERROR, "V1.15.0: MH_CreateHook fallo para memserver_texture_queue.");
    return fail();
  }
  trampoline_.store(reinterpret_cast<EngineFn>(original));
  g_hooked.store(this);
  if (hooks.enableHook(target) != MH_OK) {
    hooks.removeHook(target);
    trampoline_.store(nullptr);
    releaseHookEngine(HookOwner::TextureQueue);
    log(LogLevel::ERROR, "V1.15.0: MH_EnableHook fallo para memserver_texture_queue.");
    return fail();
  }
  target_.store(target);
  hookActive_.store(1);
  try {
    log(LogLevel::INFO, "V1.17.0 HOOK PRISM ACTIVO | RVA=" + hex(build->hookRva) +
                            " | Target=" + hex(reinterpret_cast<uintptr_t>(target)));
  } catch (...) {
  }
  return true;
}

void PrismTextureQueueRedirector::shutdown() noexcept {
  uint8_t expected = 1;
  if (!initialized_.compare_exchange_strong(expected, 0)) return;
  // Both waits below (ours and the engine lease's) end by this shut-down's deadline.
  detour::ShutdownWindow window;
  uint8_t active = 1;
  if (hookActive_.compare_exchange_strong(active, 0)) {
    void* target = target_.load();
    if (target) hookApi().disableHook(target);
    // No new call can enter now; one already inside (scanning, or in the engine's own function
    // with our frame below it) must leave before the hook and the module may go. When it does
    // not in time, the hook stays off but in place (its trampoline is that thread's way back),
    // the lease stays, and the module stays mapped; the next start removes the hook.
    if (!detour::waitUntilIdle(detour::Drain::TextureQueue, window.deadlineNs())) {
      stranded_.store(1);
      detour::pinOwnModule();
      log(LogLevel::WARNING,
          "PrismTextureQueueRedirector: un hilo del motor seguia dentro del hook al agotarse la espera de cierre.");
    } else {
      target_.store(nullptr);
      if (target) hookApi().removeHook(target);
      const HookEngineRelease released = releaseHookEngine(HookOwner::TextureQueue);
      if (!released.drained)
        log(LogLevel::WARNING,
            "PrismTextureQueueRedirector: un hilo del motor seguia dentro del hook al agotarse la espera de cierre.");
    }
  }
  try {
    log(LogLevel::INFO, "PrismTextureQueueRedirector V1.19.0 cerrado. tablet_gps.tobj=" +
                            std::to_string(tobjCount_.load()) + " | tablet_gps.dds=" + std::to_string(ddsCount_.load()) +
                            " | rutas interesantes=" + std::to_string(pathCount_.load()));
  } catch (...) {
  }
}

bool PrismTextureQueueRedirector::finishStrandedShutdown() noexcept {
  if (!stranded_.load()) return true;
  if (detour::threadsInside(detour::Drain::TextureQueue) != 0) return false;
  if (void* target = target_.exchange(nullptr)) hookApi().removeHook(target);
  stranded_.store(0);
  releaseHookEngine(HookOwner::TextureQueue);
  return true;
}

// ---- the detour -----------------------------------------------------------------------------

uint64_t PrismTextureQueueRedirector::detour(void* queue, void* a2, void* a3, void* a4) noexcept {
  // Counted like every detour of ours, so shut-down can wait for a loader thread still in here.
  detour::Scope scope(detour::Part::TextureQueue);
  PrismTextureQueueRedirector* self = g_hooked.load(std::memory_order_acquire);
  self->scanQueue(queue);
  const EngineFn game = self->trampoline_.load(std::memory_order_acquire);
  if (!game) return 0;
  // The engine's function creates the textures it loads: those calls are the game's.
  detour::GameCallScope gameCall;
  return game(queue, a2, a3, a4);
}

uint64_t PrismTextureQueueRedirector::onTextureQueue(void* queue) noexcept {
  scanQueue(queue);
  const EngineFn game = trampoline_.load(std::memory_order_acquire);
  return game ? game(queue, nullptr, nullptr, nullptr) : 0;
}

void PrismTextureQueueRedirector::scanQueue(const void* queue) noexcept {
  if (!queue) return;
  const auto q = reinterpret_cast<uintptr_t>(queue);
  const uintptr_t sentinel = q + kQueueSentinel;
  // Every read of engine memory goes through the fault guard; a fault ends the walk.
  bool faulted = false;
  uintptr_t node = 0;
  if (!fault::safeRead(q + kQueueFirstNode, node)) {
    faulted = true;
  } else {
    for (unsigned visits = 0; visits < kMaxNodes && node != 0 && node != sentinel; ++visits) {
      // next (+0x00) and entry (+0x10) in one guarded copy of the node's first 0x18 bytes.
      uintptr_t fields[3];
      static_assert(kNodeNext == 0 && kNodeEntry == 2 * sizeof(uintptr_t));
      if (!fault::safeCopy(fields, reinterpret_cast<const void*>(node), sizeof(fields)) ||
          (fields[2] != 0 && readEntry(fields[2]) == EntryResult::Fault)) {
        faulted = true;
        break;
      }
      node = fields[0];
    }
  }
  if (faulted) log(LogLevel::ERROR, "V1.15.0: excepcion protegida al recorrer memserver_texture_queue.");
}

bool PrismTextureQueueRedirector::inspectEntry(const void* entry) noexcept {
  if (!entry) return false;
  return readEntry(reinterpret_cast<uintptr_t>(entry)) == EntryResult::TabletGpsTobj;
}

PrismTextureQueueRedirector::EntryResult PrismTextureQueueRedirector::readEntry(uintptr_t entry) noexcept {
  // The path pointer (+0x40) and its length (+0x48) in one guarded copy.
  static_assert(kEntryPathLength == kEntryPath + sizeof(uint64_t));
  uint8_t fields[sizeof(uint64_t) + sizeof(uint32_t)];
  if (!fault::safeCopy(fields, reinterpret_cast<const void*>(entry + kEntryPath), sizeof(fields))) {
    return EntryResult::Fault;
  }
  uint64_t chars = 0;
  uint32_t length = 0;
  std::memcpy(&chars, fields, sizeof(chars));
  std::memcpy(&length, fields + sizeof(chars), sizeof(length));
  if (chars == 0 || length == 0) return EntryResult::Other;

  // The path is its first min(length, 2048) bytes, cut at the first zero. No recognised path is
  // longer than kLongestPath, so the first kLongestPath + 1 bytes decide: without a zero among
  // them the path is too long to be one of ours, whatever follows.
  char path[kLongestPath + 1];
  const size_t available = length < kMaxPathBytes ? length : kMaxPathBytes;
  const size_t take = available < sizeof(path) ? available : sizeof(path);
  if (!fault::safeCopy(path, reinterpret_cast<const void*>(chars), take)) return EntryResult::Fault;
  const void* zero = std::memchr(path, 0, take);
  const size_t size = zero ? static_cast<size_t>(static_cast<const char*>(zero) - path) : take;
  if (size == 0 || size > kLongestPath) return EntryResult::Other;

  for (size_t i = 0; i < size; ++i) {
    char& c = path[i];
    if (c == '\\') c = '/';
    else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  const std::string_view normalised(path, size);
  const int form = formIndex(normalised);
  if (form < 0) return EntryResult::Other;
  const PathKind kind = kFiles[form / 2].kind;
  recordSighting(kind, normalised, static_cast<unsigned>(form));
  return kind == PathKind::TabletGpsTobj ? EntryResult::TabletGpsTobj : EntryResult::Other;
}

void PrismTextureQueueRedirector::recordSighting(PathKind kind, std::string_view path, unsigned form) noexcept {
  try {
    const uint32_t bit = 1u << form;
    if ((seenForms_.fetch_or(bit, std::memory_order_acq_rel) & bit) == 0) {
      const uint64_t n = pathCount_.fetch_add(1) + 1;
      log(LogLevel::INFO, "V1.16.0 PRISM PATH #" + std::to_string(n) + ": '" + std::string(path) + "'");
    }
    switch (kind) {
      case PathKind::TabletGpsDds: {
        const uint64_t n = ddsCount_.fetch_add(1) + 1;
        if (thinned(n)) {
          log(LogLevel::INFO, "V0.6.3 BINDING QUEUE: TABLET_GPS DDS detectado: '" + std::string(path) +
                                  "' | total=" + std::to_string(n));
        }
        break;
      }
      case PathKind::GpsDds: {
        const uint64_t n = gpsDdsCount_.fetch_add(1) + 1;
        if (thinned(n)) {
          log(LogLevel::INFO, "V0.6.8 BINDING QUEUE: GPS.DDS (sin prefijo tablet_) detectado: '" +
                                  std::string(path) + "' | total=" + std::to_string(n));
        }
        break;
      }
      case PathKind::OverlayDds: {
        overlayDdsTick_.store(clock::tickMs(), std::memory_order_release);
        const uint64_t n = overlayDdsCount_.fetch_add(1) + 1;
        if (thinned(n)) {
          log(LogLevel::INFO, "V0.6.9 BINDING QUEUE: TABLET_GPS_OVERLAY.DDS detectado: '" + std::string(path) +
                                  "' | total=" + std::to_string(n));
        }
        break;
      }
      case PathKind::TabletGpsTobj: {
        const uint64_t n = tobjCount_.fetch_add(1) + 1;
        if (thinnedSparse(n)) {
          log(LogLevel::INFO, "V1.17.0 TABLET_GPS PATH DETECTADA: '" + std::string(path) +
                                  "' | total=" + std::to_string(n));
        }
        break;
      }
      default:
        break;  // gps.tobj and the overlay .tobj are only announced
    }
  } catch (...) {
    // A failed log line must not take the engine's loader thread down.
  }
}

}  // namespace zor
