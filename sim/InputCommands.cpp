// Real input through xdotool (keys, clicks, the wheel, the pointer), the game's raw mouse input
// and another module's window procedure on top of the game window's.
#include <windows.h>

#include <string>
#include <vector>

#include "Console.h"
#include "Input.h"
#include "RawMouse.h"
#include "Simulator.h"
#include "WndProcChain.h"

namespace zor::sim {

bool Simulator::waitKeyState(int vk, bool down, DWORD timeoutMs, Failure& f) {
  unsigned long long end = uptimeMs() + timeoutMs;
  for (;;) {
    if (!renderOne(nullptr, nullptr, f)) return false;
    bool isDown = (GetAsyncKeyState(vk) & 0x8000) != 0;
    if (isDown == down) return true;
    if (uptimeMs() > end) {
      f = {kExitEnvironment, std::string("the key did not go ") + (down ? "down" : "up") + " (is the X input reaching Wine?)"};
      return false;
    }
  }
}

bool Simulator::pressKeys(const std::string& combo, Failure& f) {
  std::vector<std::string> keys;
  if (!splitKeyCombo(combo, keys)) {
    f = {kExitBadInput, "bad key combination '" + combo + "'"};
    return false;
  }
  unsigned long long xid = xWindowOf(cab_.window());
  if (!xid) {
    f = {kExitEnvironment, "the game window has no X window id"};
    return false;
  }
  std::string down = "windowfocus --sync " + std::to_string(xid), up;
  for (const auto& k : keys) down += " keydown " + k;
  for (auto it = keys.rbegin(); it != keys.rend(); ++it) up += (up.empty() ? "keyup " : " keyup ") + *it;
  std::string error;
  int vk = virtualKeyFor(keys.back());
  bool held = false;
  // Another program's window on the same display may take the focus between our focus request
  // and the key event; the key then never reaches us. Try again a few times before giving up.
  for (int attempt = 0; attempt < 3 && !held; ++attempt) {
    if (attempt > 0) say("key: " + combo + " did not reach the game window; focusing it again");
    f = {};
    if (!runXdotool(down, error)) {
      f = {kExitEnvironment, error};
      return false;
    }
    // Whatever happens, the keys go up again: a key left down would stay down for every
    // program on this display.
    held = vk ? waitKeyState(vk, true, 3000, f) : renderFor(200, f);
    held = held && renderFrames(3, f);  // the plugin samples the keys once per frame
    if (!runXdotool(up, error)) {
      f = {kExitEnvironment, error};
      return false;
    }
    if (!held && f.code != kExitEnvironment) return false;  // the window is gone, not the key
    if (!held && vk && !waitKeyState(vk, false, 3000, f)) return false;
  }
  if (!held) return false;
  if (vk) {
    if (!waitKeyState(vk, false, 3000, f)) return false;
  } else if (!renderFor(200, f)) {
    return false;
  }
  say("key: " + combo + " pressed and released");
  return renderFrames(2, f);
}

bool Simulator::click(int x, int y, Failure& f) {
  // Like a hand: the pointer arrives first and rests a few frames (a game's interface may
  // take a press only on what was under the pointer the frame before), then the button.
  if (!xdotoolAt(x, y, "", f) || !renderFrames(2, f)) return false;
  std::string error;
  if (!runXdotool("mousedown 1", error)) {
    f = {kExitEnvironment, error};
    return false;
  }
  bool held = waitKeyState(VK_LBUTTON, true, 3000, f) && renderFrames(2, f);
  if (!runXdotool("mouseup 1", error)) {
    f = {kExitEnvironment, error};
    return false;
  }
  if (!held) return false;
  if (!waitKeyState(VK_LBUTTON, false, 3000, f)) return false;
  say("click: " + std::to_string(x) + "," + std::to_string(y));
  return renderFrames(2, f);
}

bool Simulator::xdotoolAt(int x, int y, const std::string& action, Failure& f) {
  unsigned long long xid = xWindowOf(cab_.window());
  if (!xid) {
    f = {kExitEnvironment, "the game window has no X window id"};
    return false;
  }
  std::string error;
  if (!runXdotool("mousemove --window " + std::to_string(xid) + " " + std::to_string(x) + " " + std::to_string(y) +
                      (action.empty() ? "" : " " + action),
                  error)) {
    f = {kExitEnvironment, error};
    return false;
  }
  return renderFor(300, f);
}

bool Simulator::cmdKey(const Command& c, Failure& f) { return pressKeys(c.args[0], f); }

bool Simulator::cmdClick(const Command& c, Failure& f) {
  return click(static_cast<int>(number(c, 0)), static_cast<int>(number(c, 1)), f);
}

bool Simulator::cmdWheel(const Command& c, Failure& f) {
  const auto& a = c.args;
  long long notches = 0;
  parseInt(a[2], notches);
  const std::string button = notches < 0 ? "5" : "4";
  const long long count = notches < 0 ? -notches : notches;
  if (count > 0 && !xdotoolAt(static_cast<int>(number(c, 0)), static_cast<int>(number(c, 1)),
                              "click --repeat " + std::to_string(count) + " --delay 30 " + button, f))
    return false;
  if (!renderFor(200 + 30 * count, f)) return false;
  say("wheel: " + a[2] + " at " + a[0] + "," + a[1]);
  return true;
}

bool Simulator::cmdMouseDown(const Command& c, Failure& f) {
  const auto& a = c.args;
  if (!xdotoolAt(static_cast<int>(number(c, 0)), static_cast<int>(number(c, 1)), "", f) || !renderFrames(2, f))
    return false;
  std::string error;
  if (!runXdotool("mousedown 1", error)) return f = {kExitEnvironment, error}, false;
  if (!waitKeyState(VK_LBUTTON, true, 3000, f)) return false;
  say("mouse-down: " + a[0] + "," + a[1]);
  return true;
}

bool Simulator::cmdMouseUp(const Command& c, Failure& f) {
  std::string error;
  if (!runXdotool("mouseup 1", error)) return f = {kExitEnvironment, error}, false;
  if (!waitKeyState(VK_LBUTTON, false, 3000, f)) return false;
  say("mouse-up");
  return true;
}

bool Simulator::cmdMouseMove(const Command& c, Failure& f) {
  const auto& a = c.args;
  std::string error;
  if (!runXdotool("mousemove_relative -- " + a[0] + " " + a[1], error)) return f = {kExitEnvironment, error}, false;
  if (!renderFor(300, f)) return false;
  say("mouse-move: " + a[0] + "," + a[1]);
  return true;
}

bool Simulator::cmdRawInput(const Command& c, Failure& f) {
  const auto& a = c.args;
  std::string error;
  RawMode mode = a[0] == "data" ? RawMode::Data : a[0] == "buffer" ? RawMode::Buffer : RawMode::Off;
  if (!rawMouse().enable(cab_.window(), mode, error)) return f = {kExitEnvironment, error}, false;
  say("raw-input: " + a[0]);
  return true;
}

bool Simulator::cmdExpectRawMouse(const Command& c, Failure& f) {
  const auto& a = c.args;
  if (!renderFrames(5, f)) return false;
  RawTotals t = rawMouse().take();
  const bool moving = t.motion != 0 || t.buttonRecords != 0;
  const bool good = a[0] == "moving" ? moving : (t.records > 0 && !moving);
  if (!expect(c, good, "raw mouse: " + describe(t) + ", expected " + a[0], f)) return false;
  say("expect-raw-mouse: " + a[0] + " (" + describe(t) + ")");
  return true;
}

bool Simulator::cmdCursorWarp(const Command& c, Failure& f) {
  const auto& a = c.args;
  POINT target{static_cast<LONG>(number(c, 0)), static_cast<LONG>(number(c, 1))};
  ClientToScreen(cab_.window(), &target);
  POINT before{}, after{};
  GetCursorPos(&before);
  SetCursorPos(target.x, target.y);
  if (!renderFrames(2, f)) return false;
  GetCursorPos(&after);
  const bool moved = after.x == target.x && after.y == target.y && (before.x != target.x || before.y != target.y);
  const std::string what = "SetCursorPos to " + a[0] + "," + a[1] + ": the cursor " + (moved ? "moved" : "stayed") +
                           " (screen " + std::to_string(after.x) + "," + std::to_string(after.y) + ")";
  if (!expect(c, moved == (a[2] == "moved"), what + ", expected " + a[2], f)) return false;
  say("cursor-warp: " + what);
  return true;
}

bool Simulator::cmdWndProcChain(const Command& c, Failure& f) {
  const auto& a = c.args;
  const bool add = a[0] != "remove", swallowing = a[0] == "add-swallowing";
  const bool done = add ? addChainedWndProc(cab_.window(), swallowing) : removeChainedWndProc(cab_.window());
  if (!done) return f = {kExitBadInput, "line " + std::to_string(c.line) + ": wndproc-chain " + a[0] + " not possible now"}, false;
  say(std::string("wndproc-chain: another window procedure ") +
      (!add ? "removed"
            : swallowing ? "put on top of the game window's; it swallows private messages and keeps the top"
                         : "put on top of the game window's"));
  return true;
}

}  // namespace zor::sim
