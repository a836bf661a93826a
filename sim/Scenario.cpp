#include "Scenario.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace zor::sim {

namespace {

// Argument kinds: i integer, s any text, r region, g signature, c channel, e event,
// m media verb, M media command name, p playback verb, b 0/1, k key combination, f point of a frame.
struct CommandForm {
  const char* name;
  const char* args;  // kinds of the required arguments, then "|" and the optional ones
  bool variadic;     // the last kind repeats
};

constexpr CommandForm kCommandForms[] = {
    {"timeout", "i", false},          {"fps", "i", false},          {"plugin", "s", false},
    {"ini", "ssss", false},           {"load", "", false},          {"init", "", false},
    {"shutdown", "", false},          {"unload", "|z", false},        {"reload", "", false},
    {"cycle-init", "i|i", false},     {"cycle-reload", "i|i", false}, {"registrations", "", false},
    {"expect-registrations", "s", true}, {"channel", "cb", false},  {"event", "e", false},
    {"truck", "s|ss", false},         {"media", "ms|s", false},     {"frames", "i", false},
    {"run", "i", false},              {"cab", "|s", false},         {"key", "k", false},
    {"click", "ii", false},           {"screenshot", "s|s", false},   {"probe", "r|g", false},
    {"wait-probe", "rgi", false},     {"expect-log", "s", false},   {"expect-no-log", "s", false},
    {"wait-log", "si", false},        {"expect-log-file", "s", false}, {"scene-check", "", false},
    {"print", "s", true},             {"wait-hooked", "i", false},  {"speed", "i", false},
    {"expect-patched", "sb", false},
    {"expect-window", "sw", false},   {"wait-change", "ri", false}, {"wait-media-command", "sMii", false},
    {"raw-input", "x", false},        {"mouse-move", "nn", false},  {"expect-raw-mouse", "v", false},
    {"cursor-warp", "iiu", false},    {"wndproc-chain", "y", false}, {"probe-screen", "r|g", false},
    {"wait-probe-screen", "rgi", false}, {"wheel", "iin", false}, {"mouse-down", "ii", false},
    {"mouse-up", "", false},           {"windows", "i", false},
    {"expect-still", "ri", false},   {"playback", "p|si", false},  {"wait-new-log", "si", false},
    {"click-item", "s|i", false},    {"expect-item", "sE", false}, {"expect-text", "s", false},
    {"expect-no-text", "s", false},  {"wait-text", "si", false},   {"panel-text", "", false},
    {"load-at", "f|i", false},         {"hold-queue", "i", false},   {"wait-queue", "i", false},
    {"hold-wndproc", "i", false},      {"expect-window-input", "", false}, {"expect-targets-kept", "i", false},
};

const CommandForm* findCommandForm(std::string_view name) {
  for (const auto& s : kCommandForms)
    if (name == s.name) return &s;
  return nullptr;
}

bool checkArg(char kind, const std::string& a, std::string& why) {
  long long v = 0;
  switch (kind) {
    case 'i':
      if (!parseInt(a, v) || v < 0) return why = "expected a non-negative number, got '" + a + "'", false;
      return true;
    case 'b':
      if (a != "0" && a != "1" && a != "on" && a != "off") return why = "expected 0/1/on/off, got '" + a + "'", false;
      return true;
    case 'r': {
      Rect r;
      if (isNamedRegion(a) || parseRectText(a, r)) return true;
      return why = "unknown region '" + a + "' (tablet, dashboard, instrument, windshield, panel, overlay or x,y,w,h)", false;
    }
    case 'g':
      if (isProbeSignature(a)) return true;
      return why = "unknown signature '" + a + "' (" + probeSignatureList() + ")", false;
    case 'c':
      if (a == "engine" || a == "electric" || a == "truck.engine.enabled" || a == "truck.electric.enabled") return true;
      return why = "unknown channel '" + a + "' (engine, electric)", false;
    case 'e':
      if (a == "paused" || a == "started") return true;
      return why = "unknown event '" + a + "' (paused, started; trucks are sent with 'truck')", false;
    case 'm':
      for (const char* v : {"open", "title", "hide", "show", "minimize", "restore", "close", "reopen"})
        if (a == v) return true;
      return why = "unknown media action '" + a + "' (open, title, hide, show, minimize, restore, close, reopen)", false;
    case 'p':
      if (a == "start" || a == "restore") return true;
      return why = "expected start or restore, got '" + a + "'", false;
    case 'M':
      for (const char* v : {"NEXTTRACK", "PREVIOUSTRACK", "PLAY_PAUSE", "PLAY", "PAUSE", "STOP", "VOLUME_UP",
                            "VOLUME_DOWN", "VOLUME_MUTE", "OTHER", "-"})
        if (a == v) return true;
      return why = "unknown media command '" + a + "' (NEXTTRACK, PREVIOUSTRACK, PLAY_PAUSE, VOLUME_UP, ...)", false;
    case 'w':
      if (a == "visible" || a == "hidden" || a == "minimized" || a == "absent") return true;
      return why = "expected visible, hidden, minimized or absent, got '" + a + "'", false;
    case 'k':
      if (a.empty()) return why = "empty key", false;
      return true;
    case 'n':
      if (!parseInt(a, v) || v < -100000 || v > 100000) return why = "expected a number, got '" + a + "'", false;
      return true;
    case 'x':
      if (a == "data" || a == "buffer" || a == "off") return true;
      return why = "expected data, buffer or off, got '" + a + "'", false;
    case 'v':
      if (a == "moving" || a == "still") return true;
      return why = "expected moving or still, got '" + a + "'", false;
    case 'u':
      if (a == "moved" || a == "kept") return true;
      return why = "expected moved or kept, got '" + a + "'", false;
    case 'y':
      if (a == "add" || a == "remove") return true;
      return why = "expected add or remove, got '" + a + "'", false;
    case 'E':
      if (a == "enabled" || a == "disabled" || a == "absent") return true;
      return why = "expected enabled, disabled or absent, got '" + a + "'", false;
    case 'z':
      if (a == "kept") return true;
      return why = "expected nothing or kept, got '" + a + "'", false;
    case 'f':
      if (a == "before-tablet" || a == "after-tablet") return true;
      return why = "unknown point of a frame '" + a + "' (before-tablet, after-tablet)", false;
    default:
      return !a.empty() || (why = "empty argument", false);
  }
}

}  // namespace

bool parseInt(std::string_view t, long long& v) {
  if (t.empty()) return false;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  return ec == std::errc() && p == t.data() + t.size();
}

bool isNamedRegion(std::string_view n) {
  return n == "tablet" || n == "dashboard" || n == "instrument" || n == "windshield" || n == "panel" ||
         n == "overlay";
}

bool parseRectText(std::string_view t, Rect& r) {
  long long v[4];
  for (int i = 0; i < 4; ++i) {
    size_t comma = i < 3 ? t.find(',') : t.size();
    if (comma == std::string_view::npos) return false;
    if (!parseInt(t.substr(0, comma), v[i])) return false;
    if (i < 3) t.remove_prefix(comma + 1);
  }
  if (v[2] <= 0 || v[3] <= 0 || v[0] < -100000 || v[1] < -100000 || v[2] > 100000 || v[3] > 100000) return false;
  r = Rect{static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]), static_cast<int>(v[3])};
  return true;
}

bool splitLine(std::string_view line, std::vector<std::string>& words, std::string& error) {
  words.clear();
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    if (c == '#') break;
    std::string w;
    if (c == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char d = line[i++];
        if (d == '\\' && i < line.size()) {
          w += line[i++];
        } else if (d == '"') {
          closed = true;
          break;
        } else {
          w += d;
        }
      }
      if (!closed) return error = "unterminated quote", false;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') w += line[i++];
    }
    words.push_back(std::move(w));
  }
  return true;
}

bool parseScenario(std::string_view text, Scenario& out, std::string& error) {
  out.commands.clear();
  int lineNo = 0;
  std::vector<std::string> words;
  while (!text.empty() || lineNo == 0) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    ++lineNo;
    std::string why;
    if (!splitLine(line, words, why)) return error = std::to_string(lineNo) + ": " + why, false;
    if (words.empty()) {
      if (text.empty()) break;
      continue;
    }
    const CommandForm* form = findCommandForm(words[0]);
    if (!form) return error = std::to_string(lineNo) + ": unknown command '" + words[0] + "'", false;
    std::string_view kinds = form->args;
    size_t bar = kinds.find('|');
    std::string_view required = kinds.substr(0, bar);
    std::string_view optional = bar == std::string_view::npos ? std::string_view{} : kinds.substr(bar + 1);
    size_t n = words.size() - 1;
    size_t maxArgs = form->variadic ? SIZE_MAX : required.size() + optional.size();
    if (n < required.size() || n > maxArgs) {
      return error = std::to_string(lineNo) + ": '" + words[0] + "' takes " +
                     (required.size() == maxArgs ? std::to_string(maxArgs)
                      : maxArgs == SIZE_MAX      ? "at least " + std::to_string(required.size())
                                                 : std::to_string(required.size()) + " to " + std::to_string(maxArgs)) +
                     " argument(s), got " + std::to_string(n),
             false;
    }
    std::string all = std::string(required) + std::string(optional);
    for (size_t a = 0; a < n; ++a) {
      char kind = a < all.size() ? all[a] : all.back();
      if (!checkArg(kind, words[a + 1], why))
        return error = std::to_string(lineNo) + ": '" + words[0] + "': " + why, false;
    }
    if (words[0] == "media") {
      bool titled = words[1] == "open" || words[1] == "title";
      if (titled != (n == 3))
        return error = std::to_string(lineNo) + ": 'media " + words[1] + "' takes " + (titled ? "an id and a title" : "an id"),
               false;
    }
    if (words[0] == "playback" && (words[1] == "start") != (n >= 2))
      return error = std::to_string(lineNo) + ": 'playback start' takes a window keyword (and an fps), 'playback restore' nothing",
             false;
    if (words[0] == "playback" && n == 3) {
      long long fps = 0;
      if (!parseInt(words[3], fps) || fps < 1 || fps > 1000)
        return error = std::to_string(lineNo) + ": 'playback start': fps must be a number from 1 to 1000", false;
    }
    if (words[0] == "screenshot" && n == 2 && words[2] != "screen")
      return error = std::to_string(lineNo) + ": 'screenshot' takes a file and optionally 'screen'", false;
    if (words[0] == "cab" && n == 1 && words[1] != "reload")
      return error = std::to_string(lineNo) + ": 'cab' takes nothing or 'reload'", false;
    Command cmd;
    cmd.line = lineNo;
    cmd.name = words[0];
    cmd.args.assign(words.begin() + 1, words.end());
    out.commands.push_back(std::move(cmd));
    if (text.empty()) break;
  }
  return true;
}

const char* scenarioHelp() {
  return R"(Scenario commands (one a line, '#' comments, "quoted text" for blanks):
  timeout MS                      whole-run limit (default 60000); exceeded: exit 5
  fps N                           frame pacing (0 = as fast as possible; default 60)
  plugin PATH                     plugin DLL to use (the command line's --plugin wins)
  ini FILE SECTION KEY VALUE      write a setting into the plugin's ZOR folder (use before load)
  load | init | shutdown | unload [kept] | reload
                                  load = LoadLibrary + init; unload = shutdown + FreeLibrary (with
                                  'kept' the plugin is expected to keep its module loaded)
  load-at before-tablet|after-tablet [MS]
                                  load in the middle of the next frame (before the tablet screen
                                  is drawn, or after it, before Present) and hold that frame until
                                  the plugin has hooked Present and PSSetShaderResources (at most
                                  MS, default 10000): its hooks land at that point of the frame
  cycle-init N [FRAMES]           N x (shutdown, FRAMES frames, init, FRAMES frames)
  cycle-reload N [FRAMES]         N x (unload, FRAMES frames, load, FRAMES frames)
  registrations                   print what the plugin registered
  expect-registrations ITEM...    exact order, items like channel:truck.engine.enabled event:paused
  channel engine|electric 0|1     set a telemetry channel (delivered at the next frame)
  event paused|started            send a game event
  truck VEHICLE_ID [BRAND NAME]   put the player in a truck (configuration event + dashboard)
  media open ID "TITLE" | media title ID "TITLE" | media hide|show|minimize|restore|close|reopen ID
                                  the media program zor_media.exe, a process of its own per ID;
                                  reopen starts it again with its last title
  wait-media-command ID NAME N MS render until program ID has received N media commands (WM_APPCOMMAND),
                                  the last one NAME (NEXTTRACK, PREVIOUSTRACK, PLAY_PAUSE, VOLUME_UP, ...)
  frames N | run MS               render
  cab [reload]                    load the cab (its textures go through the engine's texture queue)
  speed KMH                       driving speed of the scenery (0 = parked)
  key COMBO                       real X key press through xdotool, e.g. ctrl+F8
  click X Y                       real X click at client coordinates
  wheel X Y N                     real X mouse wheel at client coordinates, N notches (< 0: down)
  mouse-down X Y | mouse-up       real X left button held down at client coordinates, and released
  mouse-move DX DY                real X mouse movement, relative
  raw-input data|buffer|off       read the mouse's raw input: GetRawInputData for each WM_INPUT
                                  the loop takes, or GetRawInputBuffer once a frame
  expect-raw-mouse moving|still   what the raw mouse records read since the last check report:
                                  movement or buttons, or records without either
  cursor-warp X Y moved|kept      SetCursorPos to client coordinates; expect the cursor there or not
  wndproc-chain add|remove        another module's window procedure on top of the game window's
  windows N                       N more plain visible windows ("Ventana 1"...) beside the game window
  screenshot FILE.png [screen]    the next frame, read back before Present; with 'screen', the
                                  window as it is on the screen after Present (overlays included)
  probe REGION [SIG]              print what a region shows; with SIG it must show that
  wait-probe REGION SIG MS        render until the region shows SIG
  probe-screen REGION [SIG]       the same, read from the screen after Present (overlays included)
  wait-probe-screen REGION SIG MS
  wait-change REGION MS           render until at least 5% of the region's samples changed colour
  expect-still REGION MS          render for MS; the region's picture must not move meanwhile
  playback start "KEYWORD" [FPS] | playback restore
                                  the panel's start and restore requests, through the plugin's
                                  test export (ZorTabcastPlugin_playback.dll only)
  click-item "LABEL" [N]          real X click on the N-th (1) button, tab, box or field of the plugin's
                                  panel so named, once it is shown and enabled (within 3 s); the panel
                                  reports its items through the test export (ZorTabcastPlugin_playback.dll)
  expect-item "LABEL" enabled|disabled|absent
  expect-text TEXT | expect-no-text TEXT | wait-text TEXT MS
                                  the panel's next frame shows TEXT (or not), or render until it does
  panel-text                      print the text of the panel's next frame
  expect-window "TITLE" visible|hidden|minimized|absent
                                  a top-level window with exactly that title, as window searches see it
  expect-log TEXT | expect-no-log TEXT | wait-log TEXT MS | expect-log-file TEXT
  wait-new-log TEXT MS            render until the plugin logs TEXT anew (not counting earlier lines)
  scene-check                     check the scene against what the plugin looks for
  hold-queue MS                   a loader thread of the game goes into the engine's texture-queue
                                  function (hooked by the plugin) and stays there MS ms
  wait-queue MS                   render until that thread has come back out
  wait-hooked MS                  render until a plugin has hooked the swap chain's Present and the
                                  context's IASetIndexBuffer (the last of its start-up hooks), then
                                  two frames more (the first hooked Present adopts the device)
  expect-patched Present|DrawIndexed 0|1
                                  the game's method is patched by a hook (1) or as it was made (0)
  print TEXT...
Regions: tablet, dashboard, instrument, windshield, panel (the plain dashboard body), overlay (where
the plugin's panel opens) or x,y,w,h.
Signatures: map, navmap, gauge, panel, checker, visual, direct, red, media (the media program), overlay
(the plugin's panel), black, unknown.
)";
}

}  // namespace zor::sim
