// The game window's procedure while the overlay is up: media shortcuts while the panel is
// closed, the panel's input (and nothing for the game) while it is open.
#include <windows.h>

#include <atomic>
#include <mutex>

#include <imgui.h>

#include "core/DetourGuard.h"
#include "overlay/InputLock.h"
#include "overlay/OverlayHost.h"
#include "overlay/PanelInput.h"

extern IMGUI_IMPL_API LRESULT ImGui_ImplWin32_WndProcHandler(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

namespace zor::overlay {
namespace {

// Windows whose procedure we replaced, with the procedure found there. A record outlives the
// replacement: a message already on its way into OverlayWndProc still finds where to go, and a
// window whose chain we had to leave (another module on top of us) keeps forwarding.
struct Subclass {
  std::atomic<HWND> window{nullptr};
  std::atomic<WNDPROC> previous{nullptr};
  std::atomic<bool> inChain{false};  // OverlayWndProc is (still) part of the window's chain
  std::atomic<WNDPROC> checkedTop{nullptr};  // the window's procedure when we last knew we were in
  // What ours handed messages to before it last went back on top of the chain: where a message
  // goes on when it comes back to ours from the procedure now beneath it (see OverlayWndProc).
  // With the module that held it when it was remembered (null when it lies in no module): a
  // procedure whose module has left is never called.
  std::atomic<WNDPROC> beforeRejoin{nullptr};
  std::atomic<HMODULE> beforeRejoinModule{nullptr};
  // The window class's own procedure was seen as a procedure of this window's chain: only then
  // may a message go to it past the procedures of the chain (the game may have set its real one
  // with SetWindowLongPtr, which the class procedure would bypass).
  std::atomic<bool> classProcedureSeen{false};
  // A message came back to ours from `previous`: it calls ours, and is no procedure to hand the
  // window back to at shut-down.
  std::atomic<bool> previousCallsOurs{false};
  int rejoins = 0;  // times ours went back on top of this window; under g_subclassMutex
};
// Going back on top is tried this often per window; a module that takes the top back every time
// then keeps it, and ours stays in the chain beneath it.
constexpr int kMaxRejoins = 3;
constexpr size_t kMaxSubclasses = 8;
Subclass g_subclasses[kMaxSubclasses];
std::mutex g_subclassMutex;  // writers only

Subclass* recordFor(HWND window) noexcept {
  for (Subclass& s : g_subclasses) {
    if (s.window.load(std::memory_order_acquire) == window) return &s;
  }
  return nullptr;
}

WNDPROC currentProcedure(HWND window) noexcept {
  return reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
}

WNDPROC classProcedure(HWND window) noexcept {
  return reinterpret_cast<WNDPROC>(GetClassLongPtrW(window, GCLP_WNDPROC));
}

// Notes that a procedure of the window's chain is its class's own.
void sawProcedure(Subclass& record, HWND window, WNDPROC procedure) noexcept {
  if (procedure && procedure != &OverlayWndProc && procedure == classProcedure(window)) {
    record.classProcedureSeen.store(true, std::memory_order_release);
  }
}

// The module whose code holds the address, without taking a reference to it; null when none does
// (a thunk, a procedure handle of the system).
HMODULE moduleAt(WNDPROC procedure) noexcept {
  HMODULE module = nullptr;
  if (!procedure) return nullptr;
  const DWORD err = GetLastError();
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(procedure), &module)) {
    module = nullptr;
  }
  SetLastError(err);
  return module;
}

// Under g_subclassMutex.
void rememberBeforeRejoin(Subclass& record, WNDPROC procedure) noexcept {
  record.beforeRejoinModule.store(moduleAt(procedure), std::memory_order_release);
  record.beforeRejoin.store(procedure, std::memory_order_release);
}

// The remembered procedure while the module it was found in is still there.
WNDPROC liveBeforeRejoin(const Subclass& record) noexcept {
  const WNDPROC before = record.beforeRejoin.load(std::memory_order_acquire);
  if (!before) return nullptr;
  const HMODULE module = record.beforeRejoinModule.load(std::memory_order_acquire);
  if (module && moduleAt(before) != module) return nullptr;  // its module left (or another took its place)
  return before;
}

// Asks the window's chain whether OverlayWndProc is still in it. Only ours answers it; everybody
// else forwards a message they do not know, and the game's own procedure leaves it to
// DefWindowProc, which returns 0.
constexpr WPARAM kProbeQuestion = 0x5A4F52;  // "ZOR"
constexpr LRESULT kProbeAnswer = 0x7AB;
// The same question as a WM_NULL with marked parameters, for modules that leave every private
// message to DefWindowProc but pass the system's own messages on (WM_NULL means nothing to the
// game's procedure).
constexpr LPARAM kProbeNullMark = 0x7AB0;
std::atomic<UINT> g_probeMessage{0};

UINT probeMessage() noexcept {
  UINT m = g_probeMessage.load(std::memory_order_relaxed);
  if (!m) {
    m = RegisterWindowMessageW(L"ZorTabcastWindowChainProbe");
    g_probeMessage.store(m, std::memory_order_relaxed);
  }
  return m;
}

// The message each thread is handing down the chain from OverlayWndProc, innermost first. The
// records live on OverlayWndProc's stack; the slot holds the innermost one.
struct Forwarding {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  bool cameBack;
};
DWORD g_forwardSlot = TlsAlloc();
struct ForwardSlotOwner {
  ~ForwardSlotOwner() {
    if (g_forwardSlot != TLS_OUT_OF_INDEXES) TlsFree(g_forwardSlot);
    g_forwardSlot = TLS_OUT_OF_INDEXES;
  }
} g_forwardSlotOwner;

Forwarding* innermostForwarding() noexcept {
  if (g_forwardSlot == TLS_OUT_OF_INDEXES) return nullptr;
  const DWORD err = GetLastError();  // the game's last-error value is left alone
  void* value = TlsGetValue(g_forwardSlot);
  SetLastError(err);
  return static_cast<Forwarding*>(value);
}

// Marks the message as on its way down the chain from here for as long as it lives.
class ForwardingScope {
 public:
  ForwardingScope(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept
      : record_{window, message, wParam, lParam, false}, outer_(innermostForwarding()) {
    set(&record_);
  }
  ~ForwardingScope() { set(outer_); }
  ForwardingScope(const ForwardingScope&) = delete;
  ForwardingScope& operator=(const ForwardingScope&) = delete;

 private:
  static void set(Forwarding* value) noexcept {
    if (g_forwardSlot == TLS_OUT_OF_INDEXES) return;
    const DWORD err = GetLastError();
    TlsSetValue(g_forwardSlot, value);
    SetLastError(err);
  }
  Forwarding record_;
  Forwarding* outer_;
};

// Where a message goes on that must not go through the procedure ours forwards to: what ours
// forwarded to before it last went back on top (while its module is loaded), or else the window
// class's own procedure (the game's, as it registered it) when it was seen in this window's
// chain. Null when there is neither.
WNDPROC beneathOurs(const Subclass& record, HWND window) noexcept {
  if (const WNDPROC before = liveBeforeRejoin(record)) return before;
  if (!record.classProcedureSeen.load(std::memory_order_acquire)) return nullptr;
  const WNDPROC own = classProcedure(window);
  return own == &OverlayWndProc ? nullptr : own;
}

// The procedure ours forwards to has taken the top of the chain, saving ours as it did (a module
// that keeps itself on top): it calls ours, so ours calling it makes a round. Ours calls what lies
// beneath it instead: the chain is that module, ours, the game's, everyone once.
bool stepBelowTakenTop(Subclass& record, HWND window, WNDPROC top) noexcept {
  const WNDPROC beneath = beneathOurs(record, window);
  if (!beneath || beneath == top) return false;
  record.previous.store(beneath, std::memory_order_release);
  record.previousCallsOurs.store(false, std::memory_order_relaxed);
  record.checkedTop.store(top, std::memory_order_relaxed);
  return true;
}

// A message this thread is forwarding from ours has come back to ours: the procedure ours
// forwards to sits above ours as well and calls ours again. The message goes on beneath ours,
// once; a second return ends at DefWindowProc.
LRESULT passOnReturned(Subclass& record, Forwarding& returned, HWND window, UINT message, WPARAM wParam,
                       LPARAM lParam) noexcept {
  record.previousCallsOurs.store(true, std::memory_order_relaxed);
  const WNDPROC beneath = beneathOurs(record, window);
  detour::GameCallScope game;
  if (returned.cameBack || !beneath) return DefWindowProcW(window, message, wParam, lParam);
  returned.cameBack = true;
  const WNDPROC top = currentProcedure(window);
  if (top != &OverlayWndProc && top == record.previous.load(std::memory_order_acquire)) {
    std::unique_lock<std::mutex> lock(g_subclassMutex, std::try_to_lock);
    if (lock.owns_lock() && currentProcedure(window) == top) stepBelowTakenTop(record, window, top);
  }
  return CallWindowProcW(beneath, window, message, wParam, lParam);
}

// A raw-input message whose record is a key coming up.
bool isRawKeyRelease(LPARAM lParam) noexcept {
  RAWINPUT record{};
  UINT size = sizeof record;
  const DWORD err = GetLastError();
  const UINT read = GetRawInputData(reinterpret_cast<HRAWINPUT>(lParam), RID_INPUT, &record, &size,
                                    sizeof(RAWINPUTHEADER));
  SetLastError(err);
  return read != static_cast<UINT>(-1) && read >= sizeof(RAWINPUTHEADER) + sizeof(RAWKEYBOARD) &&
         record.header.dwType == RIM_TYPEKEYBOARD && (record.data.keyboard.Flags & RI_KEY_BREAK) != 0;
}

// While the panel is shown the game gets no presses, clicks, movement or characters. Releases
// always go on: the game saw the keys of Ctrl+F8 (and whatever was held) go down before the
// panel opened, and would otherwise hold them until they are pressed again.
bool isSwallowedWhileShown(UINT message, LPARAM lParam) noexcept {
  switch (message) {
    case WM_KEYUP:
    case WM_SYSKEYUP:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
    case WM_XBUTTONUP:
      return false;
    case WM_INPUT:
      return !isRawKeyRelease(lParam);
    case WM_KEYDOWN:
    case WM_CHAR:
    case WM_SYSKEYDOWN:
      return true;
    default:
      return message >= WM_MOUSEFIRST && message <= WM_MOUSEHWHEEL;
  }
}

}  // namespace

LRESULT CALLBACK OverlayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  detour::Scope scope;
  Subclass* record = recordFor(window);
  if (Forwarding* outer = record ? innermostForwarding() : nullptr;
      outer && outer->window == window && outer->message == message && outer->wParam == wParam &&
      outer->lParam == lParam) {
    return passOnReturned(*record, *outer, window, message, wParam, lParam);
  }
  const WNDPROC previous = record ? record->previous.load(std::memory_order_acquire) : nullptr;
  // The game's procedure is the game's code: what it calls meanwhile (D3D11 included) is the
  // game's, not ours.
  auto forward = [&]() -> LRESULT {
    detour::GameCallScope game;
    if (!previous) return DefWindowProcW(window, message, wParam, lParam);
    ForwardingScope onItsWay(window, message, wParam, lParam);
    return CallWindowProcW(previous, window, message, wParam, lParam);
  };
  if (record && wParam == kProbeQuestion &&
      ((message != 0 && message == g_probeMessage.load(std::memory_order_relaxed)) ||
       (message == WM_NULL && lParam == kProbeNullMark))) {
    return kProbeAnswer;
  }
  try {
    if (message == WM_KILLFOCUS) forgetShortcutKeys();
    Host& h = host();
    if (!h.initialized.load(std::memory_order_acquire) || window != h.gameWindow.load(std::memory_order_relaxed)) {
      return forward();
    }
    if (!h.panelVisible.load(std::memory_order_acquire)) {
      if (!h.shortcutsOff.load(std::memory_order_acquire) && handleShortcut(message, wParam, lParam)) return 0;
      return forward();
    }
    // A panel that is no longer drawn (the window minimised, no Present) holds no input.
    if (!inputLocked()) return forward();
    {
      std::lock_guard<std::recursive_mutex> lock(h.imguiMutex);
      // Checked again under the lock: shut-down destroys the context holding it.
      if (h.initialized.load(std::memory_order_acquire) && h.panelVisible.load(std::memory_order_acquire) &&
          ImGui::GetCurrentContext()) {
        ImGui_ImplWin32_WndProcHandler(window, message, wParam, lParam);
      }
    }
    if (isSwallowedWhileShown(message, lParam)) {
      // The game does not see it, but the system still cleans up the raw-input record.
      if (message == WM_INPUT) {
        detour::GameCallScope system;
        DefWindowProcW(window, message, wParam, lParam);
      }
      return 0;
    }
  } catch (...) {
    // Nothing leaves a window procedure; the message goes on to the game.
  }
  return forward();
}

bool subclassGameWindow(HWND window) noexcept {
  if (!window || !IsWindow(window)) return false;
  std::lock_guard<std::mutex> lock(g_subclassMutex);
  Subclass* record = recordFor(window);
  const WNDPROC current = currentProcedure(window);
  if (record && (current == &OverlayWndProc || record->inChain.load())) {
    // Still in the chain from an earlier start (our DLL stayed loaded): putting ourselves on
    // top again would make the chain call us twice, or forever.
    record->inChain.store(true);
    return true;
  }
  if (!record) {
    for (Subclass& s : g_subclasses) {
      HWND w = s.window.load();
      if (!w || (!IsWindow(w) && !s.inChain.load())) {
        record = &s;
        break;
      }
    }
  }
  if (!record || !current) return false;
  probeMessage();
  rememberBeforeRejoin(*record, nullptr);
  record->classProcedureSeen.store(false, std::memory_order_release);
  sawProcedure(*record, window, current);
  record->previousCallsOurs.store(false, std::memory_order_relaxed);
  record->rejoins = 0;
  // The record is complete before our procedure can receive the first message.
  record->previous.store(current, std::memory_order_release);
  record->window.store(window, std::memory_order_release);
  SetLastError(0);
  const LONG_PTR replaced =
      SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&OverlayWndProc));
  if (replaced == 0 && GetLastError() != 0) return false;
  if (reinterpret_cast<WNDPROC>(replaced) != current) {
    record->previous.store(reinterpret_cast<WNDPROC>(replaced), std::memory_order_release);
    sawProcedure(*record, window, reinterpret_cast<WNDPROC>(replaced));
  }
  record->inChain.store(true);
  record->checkedTop.store(&OverlayWndProc);
  return true;
}

namespace {

// Whether the chain from `top` down reaches ours: the private question first, then the same as a
// WM_NULL for a module that leaves private messages to DefWindowProc.
bool chainAnswers(HWND window, WNDPROC top) noexcept {
  detour::GameCallScope game;
  if (CallWindowProcW(top, window, probeMessage(), kProbeQuestion, 0) == kProbeAnswer) return true;
  return CallWindowProcW(top, window, WM_NULL, kProbeQuestion, kProbeNullMark) == kProbeAnswer;
}

}  // namespace

ChainCheck keepInWindowChain(HWND window) noexcept {
  Subclass* record = window ? recordFor(window) : nullptr;
  if (!record || !record->inChain.load(std::memory_order_acquire)) return ChainCheck::NotSubclassed;
  const WNDPROC top = currentProcedure(window);
  if (!top) return ChainCheck::NotSubclassed;  // the window is gone
  if (top == &OverlayWndProc || top == record->checkedTop.load(std::memory_order_relaxed)) return ChainCheck::InChain;
  {
    std::lock_guard<std::mutex> lock(g_subclassMutex);
    if (currentProcedure(window) != top) return ChainCheck::InChain;  // changed again: checked next frame
    sawProcedure(*record, window, top);
    // A remembered procedure whose module has left is forgotten for good.
    if (record->beforeRejoin.load(std::memory_order_relaxed) && !liveBeforeRejoin(*record)) {
      rememberBeforeRejoin(*record, nullptr);
    }
    // The procedure ours forwards to is on top again. A module that saved ours as it took the top
    // calls ours: ours steps below it. One that put itself back on top with the procedure it saved
    // the first time (ours not among them) does not: the probe below tells them apart.
    if (top == record->previous.load(std::memory_order_acquire)) stepBelowTakenTop(*record, window, top);
  }
  // The chain changed above us: either somebody put a procedure on top (and calls ours), or
  // somebody put back a procedure they had saved from before us, which drops ours out of the chain.
  if (chainAnswers(window, top)) {
    record->checkedTop.store(top, std::memory_order_relaxed);
    return ChainCheck::InChain;
  }
  std::lock_guard<std::mutex> lock(g_subclassMutex);
  if (currentProcedure(window) != top) return ChainCheck::InChain;  // changed again: checked next frame
  if (record->rejoins >= kMaxRejoins) {
    // It keeps taking the top and answers no probe: ours is left where it is.
    record->checkedTop.store(top, std::memory_order_relaxed);
    return ChainCheck::GaveUp;
  }
  // A procedure on top that does not answer may still call ours (it passes messages it does not
  // know to DefWindowProc): a message coming back is then sent on to what ours forwarded to so far.
  const WNDPROC formerPrevious = record->previous.load(std::memory_order_acquire);
  const bool formerCallsOurs = record->previousCallsOurs.exchange(false, std::memory_order_relaxed);
  if (formerPrevious != top) rememberBeforeRejoin(*record, formerPrevious);
  record->previous.store(top, std::memory_order_release);
  SetLastError(0);
  const LONG_PTR replaced = SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&OverlayWndProc));
  if (replaced == 0 && GetLastError() != 0) {
    record->previous.store(formerPrevious, std::memory_order_release);
    record->previousCallsOurs.store(formerCallsOurs, std::memory_order_relaxed);
    record->checkedTop.store(top, std::memory_order_relaxed);  // not asked again every frame
    return ChainCheck::Lost;
  }
  if (reinterpret_cast<WNDPROC>(replaced) != top) {
    record->previous.store(reinterpret_cast<WNDPROC>(replaced), std::memory_order_release);
  }
  record->checkedTop.store(&OverlayWndProc, std::memory_order_relaxed);
  return ++record->rejoins == 1 ? ChainCheck::Rejoined : ChainCheck::RejoinedAgain;
}

Unsubclass unsubclassGameWindow(HWND window) noexcept {
  std::lock_guard<std::mutex> lock(g_subclassMutex);
  Subclass* record = window ? recordFor(window) : nullptr;
  if (!record || !record->inChain.load()) return Unsubclass::NotSubclassed;
  if (!IsWindow(window)) {
    record->inChain.store(false);
    return Unsubclass::NotSubclassed;
  }
  if (currentProcedure(window) != &OverlayWndProc) return Unsubclass::LeftInChain;
  WNDPROC restore = record->previous.load();
  if (record->previousCallsOurs.load()) {
    // Handing the window to a procedure that calls ours would call freed code once we unload:
    // what lies beneath ours instead, or ours stays (and its module with it).
    restore = beneathOurs(*record, window);
    if (!restore) return Unsubclass::LeftInChain;
  }
  SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(restore));
  record->inChain.store(false);
  return Unsubclass::Restored;
}

bool pinOverlayModule() noexcept {
  HMODULE module = nullptr;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCWSTR>(&OverlayWndProc), &module) != FALSE;
}

}  // namespace zor::overlay
