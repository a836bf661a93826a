#include "Scenario.h"

#include "CommandTable.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace zor::sim {

namespace {

struct CommandForm {
  const char* name;
  const char* args;   // kinds of the required arguments, then "|" and the optional ones
  const char* usage;
  const char* help;
};

constexpr CommandForm kCommandForms[] = {
#define ZOR_FORM(name, args, usage, help, handler) {name, args, usage, help},
    ZOR_SIM_COMMANDS(ZOR_FORM)
#undef ZOR_FORM
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
      for (const char* v : {"open", "title", "hide", "show", "minimize", "restore", "close", "reopen", "hang", "cover", "uncover"})
        if (a == v) return true;
      return why = "unknown media action '" + a + "' (open, title, hide, show, minimize, restore, close, reopen, hang, cover, uncover)", false;
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
      if (a == "add" || a == "remove" || a == "add-swallowing") return true;
      return why = "expected add, add-swallowing or remove, got '" + a + "'", false;
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
    const bool variadic = !kinds.empty() && kinds.back() == '*';
    if (variadic) kinds.remove_suffix(1);
    size_t bar = kinds.find('|');
    std::string_view required = kinds.substr(0, bar);
    std::string_view optional = bar == std::string_view::npos ? std::string_view{} : kinds.substr(bar + 1);
    size_t n = words.size() - 1;
    size_t maxArgs = variadic ? SIZE_MAX : required.size() + optional.size();
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
      const bool renamed = words[1] == "open" && n == 4;  // media open ID "TITLE" EXE
      if (titled != (n == 3) && !renamed)
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

std::string scenarioHelp() {
  std::string text = "Scenario commands (one a line, '#' comments, \"quoted text\" for blanks):\n";
  for (const auto& c : kCommandForms) {
    std::string head = std::string("  ") + c.name + (*c.usage ? " " : "") + c.usage;
    head += head.size() < 34 ? std::string(34 - head.size(), ' ') : "\n" + std::string(34, ' ');
    for (const char* h = c.help; *h; ++h) head += *h == '\n' ? "\n" + std::string(34, ' ') : std::string(1, *h);
    text += head + "\n";
  }
  return text + R"(Regions: tablet, dashboard, instrument, windshield, panel (the plain dashboard body), overlay (where
the plugin's panel opens) or x,y,w,h.
Signatures: map, navmap, gauge, panel, checker, visual, direct, red, media (the media program), overlay
(the plugin's panel), black, unknown.
)";
}

std::string scenarioCommandList() {
  std::string text;
  for (const auto& c : kCommandForms) {
    std::string help = c.help;
    std::replace(help.begin(), help.end(), '\n', ' ');
    text += std::string("- `") + c.name + (*c.usage ? " " : "") + c.usage + "`: " + help + "\n";
  }
  return text;
}

}  // namespace zor::sim
