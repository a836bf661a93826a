#include "GameWindowChecks.h"

#include <atomic>
#include <thread>

#include "Console.h"
#include "Simulator.h"

namespace zor::sim {
namespace {

std::atomic<unsigned long long> g_mouse{0}, g_keys{0};
HANDLE g_inside = nullptr;  // set when the held thread is inside the game's procedure
WindowProcAction g_action = nullptr;
void* g_actionContext = nullptr;

}  // namespace

void countGameWindowMessage(UINT message) {
  if (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ++g_mouse;
  if (message == WM_KEYDOWN || message == WM_KEYUP || message == WM_SYSKEYDOWN || message == WM_SYSKEYUP) ++g_keys;
}
unsigned long long gameWindowMouseMessages() { return g_mouse.load(); }
unsigned long long gameWindowKeyMessages() { return g_keys.load(); }

void setWindowProcAction(WindowProcAction action, void* context) {
  g_action = action;
  g_actionContext = context;
}

LRESULT actInsideWindowProcedure() {
  if (g_action) g_action(g_actionContext);
  return 0;
}

LRESULT stayInsideWindowProcedure(WPARAM ms) {
  if (g_inside) SetEvent(g_inside);
  Sleep(static_cast<DWORD>(ms));
  return 0;
}

bool holdWindowProcedure(HWND window, unsigned ms, std::string& error) {
  if (!g_inside) g_inside = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ResetEvent(g_inside);
  const WNDPROC chain = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
  if (!chain) return error = "the game window has no window procedure", false;
  // The thread ends by itself; the simulator does not wait for it.
  std::thread([window, chain, ms] {
    const unsigned long long begin = GetTickCount64();
    CallWindowProcW(chain, window, kHoldWindowProcMessage, ms, 0);
    say("hold-wndproc: the game's thread came back out of the window procedure after " +
        std::to_string(GetTickCount64() - begin) + " ms");
  }).detach();
  if (WaitForSingleObject(g_inside, 5000) != WAIT_OBJECT_0) {
    return error = "the held thread did not reach the game window's procedure", false;
  }
  return true;
}

bool Simulator::cmdHoldWndproc(const Command& c, Failure& f) {
  long long ms = 0;
  parseInt(c.args[0], ms);
  std::string error;
  if (!holdWindowProcedure(cab_.window(), static_cast<unsigned>(ms), error)) return f = {kExitEnvironment, error}, false;
  say("hold-wndproc: a thread of the game is inside the game window's procedure for " + c.args[0] + " ms");
  return true;
}

bool Simulator::cmdExpectWindowInput(const Command& c, Failure& f) {
  // Real input over the game window: the pointer moves across it and a key goes down and up.
  const unsigned long long mouse = gameWindowMouseMessages(), keys = gameWindowKeyMessages();
  if (!xdotoolAt(cab_.width() / 2, cab_.height() / 2, "", f) || !xdotoolAt(cab_.width() / 2 + 40, cab_.height() / 2 + 30, "", f))
    return false;
  if (!pressKeys("F5", f)) return false;
  const unsigned long long mouseSeen = gameWindowMouseMessages() - mouse, keysSeen = gameWindowKeyMessages() - keys;
  const std::string what = std::to_string(mouseSeen) + " mouse and " + std::to_string(keysSeen) +
                           " key message(s) reached the game window's procedure";
  if (mouseSeen == 0 || keysSeen == 0)
    return f = {kExitExpectation, "line " + std::to_string(c.line) + ": " + what + ", expected both"}, false;
  say("expect-window-input: " + what);
  return true;
}

bool Simulator::cmdExpectTargetsKept(const Command& c, Failure& f) {
  long long frames = 0;
  parseInt(c.args[0], frames);
  const unsigned long long changed = cab_.targetsChangedByPresent();
  if (!renderFrames(static_cast<unsigned long long>(frames), f)) return false;
  const unsigned long long now = cab_.targetsChangedByPresent() - changed;
  if (now != 0) {
    return f = {kExitExpectation, "line " + std::to_string(c.line) + ": after " + std::to_string(now) + " of " + c.args[0] +
                                      " Present(s) the game found other render targets or depth view bound"},
           false;
  }
  say("expect-targets-kept: after each of " + c.args[0] + " Presents the game's render target and depth view were bound");
  return true;
}

}  // namespace zor::sim
