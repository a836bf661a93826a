// The media programs (zor_media.exe, one process per id) and the other windows of the desktop.
#include <windows.h>

#include <memory>
#include <string>

#include "Console.h"
#include "PlainWindows.h"
#include "SimText.h"
#include "Simulator.h"

namespace zor::sim {

namespace {

// How window searches see the top-level window with exactly this title.
std::string windowState(const std::wstring& title) {
  struct Search {
    const std::wstring* title;
    HWND found = nullptr;
  } search{&title};
  EnumWindows(
      [](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        wchar_t t[512] = {};
        GetWindowTextW(h, t, 512);
        if (*s->title != t) return TRUE;
        s->found = h;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  if (!search.found) return "absent";
  if (!IsWindowVisible(search.found)) return "hidden";
  return IsIconic(search.found) ? "minimized" : "visible";
}


}  // namespace

bool Simulator::cmdMedia(const Command& c, Failure& f) {
  const std::vector<std::string>& a = c.args;
  const std::string& verb = a[0];
  const std::string& id = a[1];
  auto it = media_.find(id);
  if (verb == "open" || verb == "reopen") {
    if (it != media_.end()) {
      f = {kExitBadInput, "line " + std::to_string(c.line) + ": media program '" + id + "' is already open"};
      return false;
    }
    auto known = mediaTitles_.find(id);
    if (verb == "reopen" && known == mediaTitles_.end()) {
      f = {kExitBadInput, "line " + std::to_string(c.line) + ": media program '" + id + "' was never opened"};
      return false;
    }
    const std::wstring title = verb == "open" ? widen(a[2]) : known->second;
    auto program = std::make_unique<MediaProgram>(id, title, mediaOpened_++);
    std::string error;
    if (!program->open(10000, error, a.size() > 3 ? mediaProgramCopy(widen(a[3])) : std::wstring())) {
      f = {kExitEnvironment, "media program '" + id + "' did not open: " + error};
      return false;
    }
    say("media: " + verb + "ed '" + id + "' titled \"" + narrow(title) + "\" (process " +
        std::to_string(program->processId()) + ")");
    mediaTitles_[id] = title;
    media_[id] = std::move(program);
    return true;
  }
  if (it == media_.end()) {
    f = {kExitBadInput, "line " + std::to_string(c.line) + ": no media program '" + id + "' open"};
    return false;
  }
  MediaProgram& program = *it->second;
  if (verb == "title") {
    program.setTitle(widen(a[2]));
    mediaTitles_[id] = widen(a[2]);
  } else if (verb == "hide") {
    program.show(SW_HIDE);
  } else if (verb == "show" || verb == "restore") {
    program.show(SW_SHOWNOACTIVATE);
  } else if (verb == "hang") {
    long long ms = -1;
    if (a.size() < 3 || !parseInt(a[2], ms) || ms < 0 || ms > 600000)
      return f = {kExitBadInput, "line " + std::to_string(c.line) + ": media hang ID MS"}, false;
    program.hang(static_cast<DWORD>(ms));
  } else if (verb == "cover" || verb == "uncover") {
    program.setCovered(verb == "cover");
  } else if (verb == "minimize") {
    program.show(SW_SHOWMINNOACTIVE);
  } else if (verb == "close") {
    bool closed = program.close(5000);
    media_.erase(it);
    if (!closed) return f = {kExitEnvironment, "media program '" + id + "' did not end when asked to close"}, false;
  }
  say("media: " + verb + " '" + id + "'" + (verb == "title" ? " -> \"" + a[2] + "\"" : verb == "hang" ? " for " + a[2] + " ms" : ""));
  return true;
}

bool Simulator::cmdWaitMediaCommand(const Command& c, Failure& f) {
  const auto& a = c.args;
  auto it = media_.find(a[0]);
  if (it == media_.end()) return f = {kExitBadInput, "line " + std::to_string(c.line) + ": no media program '" + a[0] + "'"}, false;
  const unsigned want = static_cast<unsigned>(number(c, 2));
  unsigned long long begin = uptimeMs(), end = begin + number(c, 3);
  for (;;) {
    unsigned count = it->second->commandCount();
    const char* last = mediaCommandName(it->second->lastCommand());
    if (count == want && a[1] == last) {
      say("wait-media-command: '" + a[0] + "' received " + std::to_string(count) + " command(s), the last " + last +
          " (after " + std::to_string(uptimeMs() - begin) + " ms)");
      break;
    }
    if (uptimeMs() > end) {
      return expect(c, false, "media program '" + a[0] + "' received " + std::to_string(count) +
                               " command(s), the last " + last + "; expected " + a[2] + ", the last " + a[1], f);
    }
    if (!renderOne(nullptr, nullptr, f)) return false;
  }
  return true;
}

bool Simulator::cmdExpectWindow(const Command& c, Failure& f) {
  const auto& a = c.args;
  // The windows' threads act on their own time: look again for up to two seconds.
  std::wstring title = widen(a[0]);
  std::string state;
  for (unsigned long long end = uptimeMs() + 2000;;) {
    state = windowState(title);
    if (state == a[1] || uptimeMs() > end) break;
    if (!renderOne(nullptr, nullptr, f)) return false;
  }
  if (!expect(c, state == a[1], "window \"" + a[0] + "\" is " + state + ", expected " + a[1], f)) return false;
  say("expect-window: \"" + a[0] + "\" is " + state);
  return true;
}

bool Simulator::cmdWindows(const Command& c, Failure& f) {
  std::string error;
  if (!openPlainWindows(static_cast<int>(number(c, 0)), error)) return f = {kExitEnvironment, error}, false;
  say("windows: " + std::to_string(plainWindowCount()) + " plain windows open");
  return true;
}

}  // namespace zor::sim
