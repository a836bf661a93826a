// The plugin's panel, read and clicked through the test build's exports
// (ZorTabcastPlugin_playback.dll): the playback requests, the record of a panel frame (its text
// and the places of its labelled items) and real clicks on its items.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Console.h"
#include "SdkHost.h"
#include "Simulator.h"

namespace zor::sim {

bool Simulator::cmdPlayback(const Command& c, Failure& f) {
  const auto& a = c.args;
  auto& sdk = SdkHost::instance();
  using RequestFn = int (*)(const char*, int);
  auto request = reinterpret_cast<RequestFn>(sdk.pluginExport("zor_test_request_playback"));
  if (!request) {
    return f = {kExitPlugin, "the plugin has no playback test export (scenarios that start playback load "
                             "ZorTabcastPlugin_playback.dll)"},
           false;
  }
  const bool start = a[0] == "start";
  request(start ? a[1].c_str() : nullptr, start && a.size() > 2 ? static_cast<int>(number(c, 2)) : 30);
  say(start ? "playback: start requested for \"" + a[1] + "\"" : std::string("playback: restore requested"));
  return true;
}

bool Simulator::nextPanelFrame(PanelFrame& frame, Failure& f, int maxFrames) {
  using FrameFn = int (*)(char*, int);
  auto record = reinterpret_cast<FrameFn>(SdkHost::instance().pluginExport("zor_test_panel_frame"));
  if (!record) {
    f = {kExitPlugin, "the plugin has no panel test export (scenarios that read the panel load "
                      "ZorTabcastPlugin_playback.dll)"};
    return false;
  }
  std::vector<char> buffer(1 << 20);
  PanelFrame before;
  const int length = record(buffer.data(), static_cast<int>(buffer.size()));  // also asks for the next frame
  if (length > 0) parsePanelFrame(std::string_view(buffer.data(), static_cast<size_t>(length)), before);
  for (int frames = 0; frames < maxFrames; ++frames) {
    if (!renderOne(nullptr, nullptr, f)) return false;
    const int got = record(buffer.data(), static_cast<int>(buffer.size()));
    if (got > 0 && parsePanelFrame(std::string_view(buffer.data(), static_cast<size_t>(got)), frame) &&
        frame.number > before.number)
      return true;
  }
  frame = {};  // the panel is not drawn
  return true;
}

bool Simulator::panelFailure(const Command& c, const std::string& what, const PanelFrame& frame, Failure& f) {
  f = {kExitExpectation, "line " + std::to_string(c.line) + ": " + what};
  std::string items;
  for (const PanelItem& i : frame.items)
    items += "  [" + i.label + "] " + std::to_string(i.x) + "," + std::to_string(i.y) + " " + std::to_string(i.width) +
             "x" + std::to_string(i.height) + (i.disabled ? " disabled" : "") + (i.hidden ? " out of view" : "") + "\n";
  say("panel text (frame " + std::to_string(frame.number) + "):\n" + frame.text + "\npanel items:\n" + items);
  return false;
}

bool Simulator::cmdPanelText(const Command& c, Failure& f) {
  PanelFrame frame;
  if (!nextPanelFrame(frame, f)) return false;
  std::string text = frame.text;
  for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 13) text.insert(at + 1, "panel-text:  ");
  say("panel-text: frame " + std::to_string(frame.number) + (frame.number ? "\npanel-text:  " + text : " (not shown)"));
  return true;
}

bool Simulator::expectText(const Command& c, bool wanted, Failure& f) {
  PanelFrame frame;
  if (!nextPanelFrame(frame, f)) return false;
  const std::string& text = c.args[0];
  const bool shown = frame.text.find(text) != std::string::npos;
  if (shown != wanted)
    return panelFailure(c, std::string("the panel ") + (shown ? "shows" : "does not show") + " \"" + text + "\"", frame, f);
  say(c.name + ": ok \"" + text + "\"");
  return true;
}

bool Simulator::cmdExpectText(const Command& c, Failure& f) { return expectText(c, true, f); }

bool Simulator::cmdExpectNoText(const Command& c, Failure& f) { return expectText(c, false, f); }

bool Simulator::cmdWaitText(const Command& c, Failure& f) {
  const auto& a = c.args;
  PanelFrame frame;
  const unsigned long long begin = uptimeMs(), end = begin + number(c, 1);
  for (;;) {
    if (!nextPanelFrame(frame, f)) return false;
    if (frame.text.find(a[0]) != std::string::npos) break;
    if (uptimeMs() > end) return panelFailure(c, "the panel did not show \"" + a[0] + "\" within " + a[1] + " ms", frame, f);
  }
  say("wait-text: ok \"" + a[0] + "\" (after " + std::to_string(uptimeMs() - begin) + " ms)");
  return true;
}

bool Simulator::cmdExpectItem(const Command& c, Failure& f) {
  const auto& a = c.args;
  PanelFrame frame;
  if (!nextPanelFrame(frame, f)) return false;
  const PanelItem* item = frame.find(a[0]);
  const std::string state = !item ? "absent" : item->disabled ? "disabled" : "enabled";
  if (state != a[1]) return panelFailure(c, "panel item \"" + a[0] + "\" is " + state + ", expected " + a[1], frame, f);
  say("expect-item: \"" + a[0] + "\" is " + state);
  return true;
}

// Waits until the item is shown and enabled, then clicks its middle.
bool Simulator::cmdClickItem(const Command& c, Failure& f) {
  const auto& a = c.args;
  PanelFrame frame;
  long long which = 1;
  if (a.size() > 1) parseInt(a[1], which);
  // An item scrolled out of view is wheeled into it (over the panel, towards the item).
  unsigned long long end = uptimeMs() + 3000;
  const PanelItem* item = nullptr;
  for (int wheels = 0;;) {
    if (!nextPanelFrame(frame, f)) return false;
    item = frame.find(a[0], static_cast<int>(which));
    if (item && item->hidden && wheels < 40) {
      ++wheels;
      end = std::max(end, uptimeMs() + 1000);
      const int notches = std::clamp(std::abs(item->y - 300) / 80, 1, 20);  // a notch scrolls some 60 px or more
      if (!xdotoolAt(item->x + item->width / 2, 300,
                     "click --repeat " + std::to_string(notches) + " --delay 20 " + (item->y > 300 ? "5" : "4"), f))
        return false;
      continue;
    }
    if (item && !item->disabled && !item->hidden) break;
    if (uptimeMs() > end)
      return panelFailure(c,
                          "panel item \"" + a[0] + "\" " +
                              (item ? (item->hidden ? "stayed out of view" : "stayed disabled") : "was not shown") +
                              " within 3000 ms",
                          frame, f);
  }
  say("click-item: \"" + a[0] + "\" at " + std::to_string(item->x) + "," + std::to_string(item->y) + " " +
      std::to_string(item->width) + "x" + std::to_string(item->height));
  // The pointer goes there first and the panel sees it hover: a press that reached the game
  // before the pointer's new place would land on whatever was under the old one.
  const int x = item->x + item->width / 2, y = item->y + item->height / 2;
  if (!xdotoolAt(x, y, "", f)) return false;
  for (const unsigned long long until = uptimeMs() + 2000;;) {
    POINT p{};
    if (GetCursorPos(&p) && ScreenToClient(cab_.window(), &p) && p.x == x && p.y == y) break;
    if (uptimeMs() > until) return f = {kExitEnvironment, "the pointer did not reach the panel item"}, false;
    if (!renderOne(nullptr, nullptr, f)) return false;
  }
  return renderFrames(2, f) && click(x, y, f);
}

}  // namespace zor::sim
