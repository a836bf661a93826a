#include "media/MediaControls.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include "capture/WindowCapture.h"
#include "core/Clock.h"
#include "core/KeyBindings.h"
#include "core/Logger.h"
#include "media/ChosenSource.h"
#include "media/PanelState.h"
#include "media/SmartAudio.h"

namespace zor {
namespace {

constexpr uint64_t kCommandSpacingMs = 600;

std::atomic<uint64_t> g_lastCommandTick{0};
std::atomic<bool> g_keyConsumed[256];

// The last volume a shortcut left, for the render thread to save.
struct VolumeToSave {
  std::mutex mutex;
  std::atomic<bool> pending{false};
  ChosenSource source;
  int32_t volume = 0;
  bool muted = false;
} g_volumeToSave;

void queueVolumeSave(const ChosenSource& source, int32_t volume, bool muted) {
  std::lock_guard<std::mutex> lock(g_volumeToSave.mutex);
  g_volumeToSave.source = source;
  g_volumeToSave.volume = volume;
  g_volumeToSave.muted = muted;
  g_volumeToSave.pending.store(true, std::memory_order_release);
}

// Whether some media or volume action is bound to this key, whatever its modifiers: a key-down
// of any other key costs these few loads and nothing more.
bool isShortcutKey(WPARAM key) {
  if (key == 0 || key > 0xFF) return false;
  for (keys::Action action : keys::kActions)
    if (action != keys::Action::Panel && keys::current(action).key == key) return true;
  return false;
}

SHORT keyState(int virtualKey) { return GetKeyState(virtualKey); }

ShortcutResult mediaKey(WPARAM key, keys::Action action) {
  const HWND window = WindowCapture::instance().currentWindow();
  if (!window) return ShortcutResult::NotHandled;
  if (action == keys::Action::Next)
    sendMediaCommand(window, kCommandNextTrack, "siguiente");
  else if (action == keys::Action::Previous)
    sendMediaCommand(window, kCommandPreviousTrack, "anterior");
  else
    sendMediaCommand(window, kCommandPlayPause, "pausa_reanudar");
  g_keyConsumed[key].store(true);
  return ShortcutResult::Consumed;
}

ShortcutResult volumeKey(WPARAM key, keys::Action action) {
  PanelState& panel = PanelState::instance();
  panel.audioRefreshTime.store(clock::steadyNs());
  const ChosenSource source = liveSource();
  const AudioState state = readAudioState(source);
  showAudioState(state);
  if (!state.connected || source.title.empty()) return ShortcutResult::NotHandled;
  bool changed = false;
  if (action == keys::Action::Mute) {
    const bool mute = !panel.muted.load();
    panel.muted.store(mute);
    changed = setAppMute(source, mute, false);
  } else {
    const bool up = action == keys::Action::VolumeUp;
    const int32_t volume = std::clamp(panel.volume.load() + (up ? 10 : -10), 0, 100);
    if (up && panel.muted.load() && volume >= 1) {
      panel.muted.store(false);
      changed = setAppMute(source, false, false);
    }
    panel.volume.store(volume);
    changed = setAppVolume(source, volume, false) || changed;
  }
  if (changed) queueVolumeSave(source, panel.volume.load(), panel.muted.load());
  g_keyConsumed[key].store(true);
  return ShortcutResult::Consumed;
}

}  // namespace

bool sendMediaCommand(HWND window, uint32_t command, std::string_view action) {
  const uint64_t now = clock::tickMs();
  uint64_t last = g_lastCommandTick.load();
  if ((last != 0 && now >= last && now - last < kCommandSpacingMs) ||
      !g_lastCommandTick.compare_exchange_strong(last, now)) {
    logInfo("CONTROLES MULTIMEDIA: repeticion bloqueada.");
    return false;
  }
  if (!window || !IsWindow(window)) {
    logWarning("CONTROLES MULTIMEDIA: la ventana capturada ya no esta disponible.");
    return false;
  }
  HWND target = GetAncestor(window, GA_ROOT);
  if (!target) target = window;
  const bool posted = PostMessageW(target, WM_APPCOMMAND, reinterpret_cast<WPARAM>(target),
                                   static_cast<LPARAM>(static_cast<uint64_t>(command) << 16)) != FALSE;
  if (posted)
    logInfo("CONTROLES MULTIMEDIA: comando enviado a la ventana capturada | accion=" + std::string(action) + ".");
  else
    logWarning("CONTROLES MULTIMEDIA: fallo al publicar comando | accion=" + std::string(action) + ".");
  return posted;
}

ShortcutResult handleMediaShortcut(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KILLFOCUS) {
    clearConsumedKeys();
    return ShortcutResult::NotHandled;
  }
  if (message != WM_KEYDOWN && message != WM_KEYUP && message != WM_SYSKEYDOWN && message != WM_SYSKEYUP)
    return ShortcutResult::NotHandled;
  if (wParam > 0xFF) return ShortcutResult::NotHandled;
  // A taken key's key-up is swallowed even when the keys were changed while it was held.
  if (message == WM_KEYUP || message == WM_SYSKEYUP)
    return g_keyConsumed[wParam].exchange(false) ? ShortcutResult::Consumed : ShortcutResult::NotHandled;
  if (!isShortcutKey(wParam)) return ShortcutResult::NotHandled;
  // The modifiers held must be exactly the chosen ones (Ctrl+Shift+N is not Ctrl+N).
  const std::optional<keys::Action> action =
      keys::actionOf({static_cast<uint8_t>(wParam), keys::heldModifiers(keyState)});
  if (!action || *action == keys::Action::Panel) return ShortcutResult::NotHandled;
  if (g_keyConsumed[wParam].load()) return ShortcutResult::Consumed;
  if (lParam & (1 << 30)) return ShortcutResult::NotHandled;
  switch (*action) {
    case keys::Action::Previous:
    case keys::Action::PlayPause:
    case keys::Action::Next:
      return mediaKey(wParam, *action);
    default:
      return volumeKey(wParam, *action);
  }
}

void saveVolumeFromShortcuts() {
  if (!g_volumeToSave.pending.load(std::memory_order_acquire)) return;
  ChosenSource source;
  int32_t volume = 0;
  bool muted = false;
  {
    std::lock_guard<std::mutex> lock(g_volumeToSave.mutex);
    g_volumeToSave.pending.store(false, std::memory_order_relaxed);
    source = std::move(g_volumeToSave.source);
    volume = g_volumeToSave.volume;
    muted = g_volumeToSave.muted;
  }
  saveAppAudio(source, volume, muted);
}

void clearConsumedKeys() noexcept {
  for (std::atomic<bool>& k : g_keyConsumed) k.store(false, std::memory_order_relaxed);
}

void resetMediaCommandGuard() noexcept { g_lastCommandTick.store(0); }

}  // namespace zor
