// The chaos run: events drawn from a seeded generator (one table: kind, weight, when it can
// happen, what it does through the scenario commands' own handlers), applied to the running cab
// with the real plugin, and the invariants checked after every event. The soak plays a media
// program for minutes with the same invariants and prints the process's memory, handles and GDI
// objects every minute.
#include "Chaos.h"

#include <windows.h>
// after windows.h
#include <psapi.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "Console.h"
#include "ForeignHookCommands.h"
#include "SdkHost.h"
#include "SimText.h"
#include "Simulator.h"
#include "Trucks.h"

namespace zor::sim {

namespace {

const char* const kMediaIds[] = {"a", "b"};
const char* const kTitles[] = {"Lofi radio - YouTube", "Spotify Premium", "Podcast episodio 12 - VLC media player",
                               "Directo: carretera nocturna - Twitch",
                               "M\xC3\xBAsica para conducir \xE2\x99\xAB - YouTube"};
const char* const kKeywords[] = {"YouTube", "Spotify", "VLC", "Twitch"};
const char* const kMediaKeys[] = {"ctrl+n", "ctrl+p", "ctrl+b", "ctrl+m", "ctrl+Up", "ctrl+Down"};
const char* const kTabs[] = {"Reproduccion", "Perfiles", "Aplicaciones", "Diagnostico"};
const char* const kButtons[] = {"Iniciar reproduccion", "Restaurar GPS original"};
const char* const kTargets[] = {"TabCast / LUMEX", "GPS original"};
// A truck the plugin has no dashboard profile for.
const char* const kUnknownTruck[] = {"vehicle.zor.nogps", "zor", "No GPS"};
// The pinned module's report in the plugin's log (a thread or another module still needs its code).
const char kPinnedReport[] = "queda cargado";

template <size_t N>
const char* pick(ChaosRng& rng, const char* const (&list)[N]) {
  return list[rng.below(N)];
}

struct ProcessFigures {
  double privateMb = 0;
  unsigned long handles = 0;
  size_t gdiObjects = 0;
};

ProcessFigures processFigures() {
  ProcessFigures p;
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  // Wine leaves PrivateUsage at 0 and fills the commit charge (PagefileUsage) alone.
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory))
    p.privateMb = (memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage) / (1024.0 * 1024.0);
  // Wine answers GetProcessHandleCount with 0: the handles are counted by asking for each one.
  DWORD handles = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &handles) && handles) {
    p.handles = handles;
  } else {
    DWORD flags = 0;
    for (uintptr_t h = 4; h < 0x40000; h += 4) p.handles += GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags) != 0;
  }
  // Wine answers GetGuiResources with 0: the GDI objects are counted by walking the handle table.
  if (DWORD n = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) {
    p.gdiObjects = n;
  } else {
    for (uintptr_t slot = 1; slot < 0x10000; ++slot) p.gdiObjects += GetObjectType(reinterpret_cast<HGDIOBJ>(slot)) != 0;
  }
  return p;
}

}  // namespace

class Chaos {
 public:
  using Failure = Simulator::Failure;
  Chaos(Simulator& sim, uint64_t seed) : sim_(sim), seed_(seed), rng_(seed) {}

  // The game running with the plugin, the cab and one media program, as far as the scenario
  // has not set them up already.
  bool setUp(Failure& f);
  bool run(unsigned long long events, Failure& f);
  // One line: the seed, the events run (and where it failed), the count of each kind.
  std::string summary(const std::string& outcome, unsigned long long ms) const;
  // The invariants, after an event (and every few seconds of the soak).
  bool check(Failure& f);
  bool exec(std::vector<std::string> words, Failure& f);

 private:
  struct Event {
    const char* kind;
    unsigned weight;
    bool (Chaos::*ready)() const;  // null: always
    bool (Chaos::*apply)(Failure&);
  };
  static const Event kEvents[];

  bool loaded() const { return SdkHost::instance().loaded(); }
  bool unloaded() const { return !loaded(); }
  bool withPanel() const { return loaded() && panelShown_; }
  bool withElectric() const { return electric_; }
  bool mediaOpen() const { return !sim_.media_.empty(); }
  bool mediaRoom() const { return sim_.media_.size() < std::size(kMediaIds); }
  bool loaderFree() const { return !sim_.loaderHeld_; }

  bool pause(Failure& f);
  bool loadingScreen(Failure& f);
  bool ignition(Failure& f);
  bool engine(Failure& f);
  bool truck(Failure& f);
  bool mediaStart(Failure& f);
  bool mediaClose(Failure& f);
  bool mediaRetitle(Failure& f);
  bool mediaMinimise(Failure& f);
  bool mediaHang(Failure& f);
  bool settingsFiles(Failure& f);
  bool playback(Failure& f);
  bool panelToggle(Failure& f);
  bool clickTab(Failure& f) { return clickOneOf(kTabs, std::size(kTabs), f); }
  bool clickButton(Failure& f) { return clickOneOf(kButtons, std::size(kButtons), f); }
  bool switchTarget(Failure& f) { return clickOneOf(kTargets, std::size(kTargets), f); }
  bool mediaKey(Failure& f) { return exec({"key", pick(rng_, kMediaKeys)}, f); }
  bool unload(Failure& f);
  bool load(Failure& f);
  bool windowProcedure(Failure& f);
  bool holdLoader(Failure& f);
  bool resize(Failure& f);
  bool checkTablet(Failure& f);
  int tabletReplaced() const;
  bool recreateDevice(Failure& f);
  bool recreateWindow(Failure& f);
  bool foreignHook(Failure& f);

  bool clickOneOf(const char* const* labels, size_t count, Failure& f);
  std::string openMediaId() { return std::next(sim_.media_.begin(), rng_.below(static_cast<uint32_t>(sim_.media_.size())))->first; }
  bool fail(Failure& f, int code, const std::string& what) {
    f = {code, what};
    return false;
  }

  Simulator& sim_;
  uint64_t seed_;
  ChaosRng rng_;
  unsigned long long event_ = 0;
  bool panelShown_ = false;
  bool electric_ = true, engine_ = true;
  bool chained_ = false;  // another module's window procedure in the game window's chain
  bool foreignOnTop_ = false;  // the other overlay's hook on Present was made over this load's plugin
  bool readOnly_ = false;  // the plugin's settings files are read-only
  bool skipped_ = false;  // the event found nothing to act on (no such panel item shown)
  unsigned long long pinnedAt_ = 0;  // the event whose unload the plugin reported its module kept loaded
  size_t logChecked_ = 0;
  std::map<std::string, unsigned long long> counts_;
  unsigned long long skips_ = 0;
};

// The event mix: a kind drawn with its weight among those ready in the current state.
const Chaos::Event Chaos::kEvents[] = {
    {"pause", 6, nullptr, &Chaos::pause},
    {"loading", 3, nullptr, &Chaos::loadingScreen},
    {"ignition", 3, nullptr, &Chaos::ignition},
    {"engine", 3, &Chaos::withElectric, &Chaos::engine},
    {"truck", 4, nullptr, &Chaos::truck},
    {"media-start", 3, &Chaos::mediaRoom, &Chaos::mediaStart},
    {"media-close", 2, &Chaos::mediaOpen, &Chaos::mediaClose},
    {"media-retitle", 4, &Chaos::mediaOpen, &Chaos::mediaRetitle},
    {"media-minimise", 3, &Chaos::mediaOpen, &Chaos::mediaMinimise},
    {"media-hang", 2, &Chaos::mediaOpen, &Chaos::mediaHang},
    {"playback", 4, &Chaos::loaded, &Chaos::playback},
    {"panel", 6, nullptr, &Chaos::panelToggle},
    {"tab", 5, &Chaos::withPanel, &Chaos::clickTab},
    {"button", 3, &Chaos::withPanel, &Chaos::clickButton},
    {"target", 3, &Chaos::withPanel, &Chaos::switchTarget},
    {"media-key", 5, nullptr, &Chaos::mediaKey},
    {"unload", 2, &Chaos::loaded, &Chaos::unload},
    {"load", 12, &Chaos::unloaded, &Chaos::load},
    {"wndproc", 1, nullptr, &Chaos::windowProcedure},
    {"settings", 2, nullptr, &Chaos::settingsFiles},
    {"hold-queue", 1, &Chaos::loaderFree, &Chaos::holdLoader},
    {"resize", 2, nullptr, &Chaos::resize},
    {"device", 2, nullptr, &Chaos::recreateDevice},
    {"new-window", 1, nullptr, &Chaos::recreateWindow},
    {"foreign-hook", 2, nullptr, &Chaos::foreignHook},
};

bool Chaos::exec(std::vector<std::string> words, Failure& f) {
  Command c;
  c.line = static_cast<int>(event_);
  c.name = words.front();
  c.args.assign(words.begin() + 1, words.end());
  return sim_.execute(c, f);
}

bool Chaos::setUp(Failure& f) {
  auto& sdk = SdkHost::instance();
  if (!sdk.loaded()) {
    if (!exec({"ini", "ZorTabcastPlugin.ini", "gps", "calibration_mode", "0"}, f) ||
        !exec({"ini", "ZorTabcastFirstRun.ini", "setup", "completed", "1"}, f) ||
        !exec({"truck", "vehicle.kenworth.w900"}, f) || !exec({"load"}, f))
      return false;
  }
  if (!sdk.pluginExport("zor_test_panel_frame"))
    return fail(f, kExitPlugin, "the chaos run reads the panel through the test build ZorTabcastPlugin_playback.dll");
  if (!exec({"channel", "electric", "1"}, f) || !exec({"channel", "engine", "1"}, f) || !exec({"event", "started"}, f) ||
      !exec({"wait-hooked", "30000"}, f))
    return false;
  if (!sim_.cab_.cabLoaded() && !exec({"cab"}, f)) return false;
  if (sim_.media_.empty() && !exec({"media", "open", kMediaIds[0], kTitles[0]}, f)) return false;
  logChecked_ = sdk.logCount();
  return exec({"run", "500"}, f) && check(f);
}

bool Chaos::run(unsigned long long events, Failure& f) {
  unsigned total = 0;
  for (const Event& e : kEvents) total += e.weight;
  for (event_ = 1; event_ <= events; ++event_) {
    const Event* chosen = nullptr;
    while (!chosen) {
      unsigned r = rng_.below(total);
      for (const Event& e : kEvents) {
        if (r < e.weight) {
          if (!e.ready || (this->*e.ready)()) chosen = &e;
          break;
        }
        r -= e.weight;
      }
    }
    const std::string where = "chaos seed " + std::to_string(seed_) + ", event " + std::to_string(event_) + " (" +
                              chosen->kind + ")";
    setWatchdogNote(where + ": the game hung");
    armWatchdog(60000);
    say("chaos: event " + std::to_string(event_) + ": " + chosen->kind);
    skipped_ = false;
    if (!(this->*chosen->apply)(f) || !check(f)) {
      f.message = where + ": " + f.message;
      return false;
    }
    skipped_ ? ++skips_ : ++counts_[chosen->kind];
  }
  if (readOnly_ && !exec({"settings", "writable"}, f)) return false;
  // The game closes: the plugin is unloaded a last time under the same rules.
  setWatchdogNote("chaos seed " + std::to_string(seed_) + ", the last unload: the game hung");
  if (loaded() && !unload(f)) {
    f.message = "chaos seed " + std::to_string(seed_) + ", the last unload: " + f.message;
    return false;
  }
  setWatchdogNote({});
  return true;
}

bool Chaos::check(Failure& f) {
  // The game still renders: Present returns and the frame count moves on (the frames that show
  // whether the panel is drawn count).
  const unsigned long long before = sim_.cab_.frameCount();
  PanelFrame frame;
  if (!sim_.renderFrames(rng_.below(3), f)) return false;
  if (!(loaded() ? sim_.nextPanelFrame(frame, f, 3) : sim_.renderFrames(2, f))) return false;
  if (sim_.cab_.frameCount() <= before) return fail(f, kExitExpectation, "no frame was presented");
  // The input lock holds exactly while the panel is drawn.
  panelShown_ = frame.number != 0;
  // Of two points beside the panel, the one the cursor is not at (within 1024 x 640: Wine
  // sometimes starts with a narrower desktop than the X screen and clamps the cursor to it).
  POINT at{}, corner{720, 600};
  GetCursorPos(&at);
  ScreenToClient(sim_.cab_.window(), &at);
  const int step = at.x == corner.x && at.y == corner.y ? 20 : 0;
  const int x = corner.x - step, y = corner.y - step;
  if (!exec({"cursor-warp", std::to_string(x), std::to_string(y), panelShown_ ? "kept" : "moved"}, f)) {
    f.message = std::string("the input lock is ") + (panelShown_ ? "off while the panel is shown" : "on while the panel is not shown") +
                ": " + f.message;
    return false;
  }
  if (!checkTablet(f)) return false;
  // Nobody released the game's old device more often than it held it.
  if (const long holders = sim_.cab_.retiredDeviceHolders(); holders < 0)
    return fail(f, kExitExpectation, "the old device was released " + std::to_string(-holders) +
                                         " time(s) more than it was held");
  // No ERROR line in the plugin's log.
  auto& sdk = SdkHost::instance();
  for (const std::string& line : sdk.logLines(logChecked_))
    if (line.rfind("plugin.error:", 0) == 0) return fail(f, kExitExpectation, "the plugin logged an error: " + line);
  logChecked_ = sdk.logCount();
  return true;
}

int Chaos::tabletReplaced() const {
  using Fn = int (*)();
  auto replaced = loaded() ? reinterpret_cast<Fn>(SdkHost::instance().pluginExport("zor_test_tablet_replaced")) : nullptr;
  return replaced ? replaced() : 0;
}

// The tablet shows what the plugin's state says, within 60 frames and two seconds: the game's map
// while the plugin leaves it alone; while it plays a window onto the tablet, its own picture (the
// media program's, black for a window with nothing to show, a test pattern), never the game's;
// in a pause, or while it waits for a lost window, either.
bool Chaos::checkTablet(Failure& f) {
  const unsigned long long begin = uptimeMs();
  for (int frames = 1;; ++frames) {
    const int before = tabletReplaced();
    FrameCapture frame;
    Rect rect;
    ProbeResult r;
    if (!sim_.probe("tablet", frame, rect, r, f)) return false;
    const int after = tabletReplaced();
    const std::string& sig = r.signature;
    // The plugin's picture is whatever is not the game's own (a window that hangs is shown as far
    // as it was painted, black around it).
    const bool plugins = sig != "map" && sig != "navmap" && sig != "gauge" && sig != "panel";
    if (before == after && (after == 2 ? plugins || sig == "map" : after ? plugins : sig == "map")) return true;
    if (frames >= 60 && uptimeMs() - begin >= 2000) {
      say(formatProbe("tablet", rect, r));
      using StateFn = int (*)(char*, int);
      char state[400] = "";
      auto gpsState = loaded() ? reinterpret_cast<StateFn>(SdkHost::instance().pluginExport("zor_test_gps_state")) : nullptr;
      if (gpsState && gpsState(state, sizeof state) > 0) say(std::string("plugin gps state: ") + state);
      exec({"screenshot", "chaos_tablet_" + std::to_string(event_) + ".png"}, f);
      return fail(f, kExitExpectation,
                  std::string("the tablet shows ") + sig + " after " + std::to_string(frames) + " frames, while the plugin " +
                      (after ? "plays a window onto it" : "leaves it to the game"));
    }
  }
}

bool Chaos::pause(Failure& f) { return exec({"event", SdkHost::instance().paused() ? "started" : "paused"}, f); }

// A loading screen: the game pauses, loads the cab's textures again, and goes on.
bool Chaos::loadingScreen(Failure& f) {
  const bool wasPaused = SdkHost::instance().paused();
  return exec({"event", "paused"}, f) && sim_.renderFrames(2 + rng_.below(20), f) && exec({"cab", "reload"}, f) &&
         (wasPaused || exec({"event", "started"}, f));
}

bool Chaos::ignition(Failure& f) {
  electric_ = !electric_;
  if (!electric_ && engine_) {
    engine_ = false;
    if (!exec({"channel", "engine", "0"}, f)) return false;
  }
  return exec({"channel", "electric", electric_ ? "1" : "0"}, f);
}

bool Chaos::engine(Failure& f) {
  engine_ = !engine_;
  return exec({"channel", "engine", engine_ ? "1" : "0"}, f);
}

bool Chaos::truck(Failure& f) {
  size_t count = 0;
  const TruckModel* models = truckModels(&count);
  const uint32_t which = rng_.below(static_cast<uint32_t>(count + 1));
  if (which == count) return exec({"truck", kUnknownTruck[0], kUnknownTruck[1], kUnknownTruck[2]}, f);
  return exec({"truck", models[which].vehicleId}, f);
}

bool Chaos::mediaStart(Failure& f) {
  for (const char* id : kMediaIds)
    if (!sim_.media_.count(id)) return exec({"media", "open", id, pick(rng_, kTitles)}, f);
  return true;
}

bool Chaos::mediaClose(Failure& f) { return exec({"media", "close", openMediaId()}, f); }

bool Chaos::mediaRetitle(Failure& f) {
  const std::string id = openMediaId();
  return exec({"media", "title", id, pick(rng_, kTitles)}, f);
}

bool Chaos::mediaMinimise(Failure& f) {
  const std::string id = openMediaId();
  return exec({"media", rng_.below(2) ? "minimize" : "restore", id}, f);
}

bool Chaos::playback(Failure& f) {
  if (rng_.below(3) == 0) return exec({"playback", "restore"}, f);
  return exec({"playback", "start", pick(rng_, kKeywords)}, f);
}

bool Chaos::panelToggle(Failure& f) { return exec({"key", "ctrl+F8"}, f); }

// A click on one of the labelled items the panel shows enabled now (a skip when it shows none).
bool Chaos::clickOneOf(const char* const* labels, size_t count, Failure& f) {
  PanelFrame frame;
  if (!sim_.nextPanelFrame(frame, f, 4)) return false;
  std::vector<const char*> shown;
  for (size_t i = 0; i < count; ++i) {
    const PanelItem* item = frame.find(labels[i]);
    if (item && !item->disabled) shown.push_back(labels[i]);
  }
  if (shown.empty()) {
    skipped_ = true;
    return true;
  }
  return exec({"click-item", shown[rng_.below(static_cast<uint32_t>(shown.size()))]}, f);
}

// Unloads the plugin: its module must be gone afterwards, or the plugin must have said why it
// stays (a thread or another module still needs its code).
bool Chaos::unload(Failure& f) {
  auto& sdk = SdkHost::instance();
  const size_t from = sdk.logCount();
  std::string error;
  if (!sdk.unload(error, false, sim_.loaderHeld_)) {
    // A module kept loaded stays so until the game closes.
    if (sdk.logContains(kPinnedReport, from)) {
      pinnedAt_ = event_;
      say("chaos: the plugin keeps its module loaded, as it reported");
    } else if (pinnedAt_) {
      say("chaos: the plugin's module stays loaded since event " + std::to_string(pinnedAt_));
    } else {
      return fail(f, kExitPlugin, error + ", and the plugin did not report that it keeps its module loaded");
    }
  }
  panelShown_ = false;
  return true;
}

// The next load works: the plugin starts and hooks the game again.
bool Chaos::load(Failure& f) {
  foreignOnTop_ = false;
  return exec({"load"}, f) && exec({"wait-hooked", "15000"}, f);
}

// Another overlay's hook on Present: made (over the plugin's, or there before its next load),
// taken away by its owner, or written again over whatever is there. When its owner wrote over a
// plugin that hooked after it, the plugin's patch is gone until its watch puts it back (within a
// second): the run waits for that, as it waits for the hooks after a load.
bool Chaos::foreignHook(Failure& f) {
  const ForeignHookState state = foreignHookState();
  if (state == ForeignHookState::None || (state == ForeignHookState::TakenAway && rng_.below(2))) {
    foreignOnTop_ = loaded();
    return exec({"foreign-hook", "install"}, f);
  }
  return exec({"foreign-hook", state == ForeignHookState::Installed ? "take-away" : "write-again"}, f) &&
         (!loaded() || foreignOnTop_ || exec({"run", "1500"}, f));
}

// Another module's procedure on top of the game window's, or gone again: a plain one, or a mod
// menu's that swallows private messages and keeps the top.
bool Chaos::windowProcedure(Failure& f) {
  chained_ = !chained_;
  return exec({"wndproc-chain", !chained_ ? "remove" : rng_.below(2) ? "add-swallowing" : "add"}, f);
}

bool Chaos::mediaHang(Failure& f) {
  return exec({"media", "hang", openMediaId(), std::to_string(500 + 500 * rng_.below(12))}, f);
}

// The settings files read-only for a while (a copy from a backup, a synced folder): whatever the
// plugin saves meanwhile fails, and nothing else may.
bool Chaos::settingsFiles(Failure& f) {
  readOnly_ = !readOnly_;
  return exec({"settings", readOnly_ ? "read-only" : "writable"}, f);
}

bool Chaos::holdLoader(Failure& f) { return exec({"hold-queue", std::to_string(100 + rng_.below(1400))}, f); }

// The game window and its buffers to another size (the panel's items move with it).
bool Chaos::resize(Failure& f) {
  static const char* const kSizes[][2] = {{"1280", "720"}, {"1600", "900"}, {"1024", "640"}, {"1366", "768"}};
  const auto& size = kSizes[rng_.below(std::size(kSizes))];
  return exec({"resize", size[0], size[1]}, f);
}

// The game makes its device anew (graphics settings changed), with the plugin loaded or not.
bool Chaos::recreateDevice(Failure& f) { return exec({"device", "recreate"}, f); }

// The game makes a new window with its new device (a change of display mode); another module's
// procedure went with the old window.
bool Chaos::recreateWindow(Failure& f) {
  chained_ = false;
  return exec({"device", "new-window"}, f);
}

std::string Chaos::summary(const std::string& outcome, unsigned long long ms) const {
  std::string kinds;
  for (const Event& e : kEvents) {
    auto it = counts_.find(e.kind);
    kinds += std::string(kinds.empty() ? "" : ", ") + e.kind + " " + std::to_string(it == counts_.end() ? 0 : it->second);
  }
  char figures[100];
  std::snprintf(figures, sizeof figures, "; %llu frames in %.0f s; ", sim_.cab_.frameCount(), ms / 1000.0);
  return "chaos: seed " + std::to_string(seed_) + ": " + outcome + figures + kinds + ", skipped " + std::to_string(skips_);
}

bool Simulator::privatePluginCopy(Failure& f) {
  const std::wstring folder = options_.outDir + L"\\plugin";
  CreateDirectoryW(folder.c_str(), nullptr);
  CreateDirectoryW((folder + L"\\ZOR").c_str(), nullptr);
  const std::wstring copy = folder + L"\\" + options_.pluginPath.substr(options_.pluginPath.find_last_of(L"\\/") + 1);
  if (!CopyFileW(options_.pluginPath.c_str(), copy.c_str(), FALSE))
    return f = {kExitPlugin, "cannot copy the plugin " + narrow(options_.pluginPath)}, false;
  options_.pluginPath = copy;
  return true;
}

bool Simulator::cmdChaos(const Command& c, Failure& f) {
  Chaos chaos(*this, number(c, 0));
  const unsigned long long begin = uptimeMs(), events = number(c, 1);
  if (!chaos.setUp(f) || !chaos.run(events, f)) {
    say(chaos.summary("FAILED: " + f.message, uptimeMs() - begin));
    return false;
  }
  say(chaos.summary(std::to_string(events) + " events, 0 failures", uptimeMs() - begin));
  return true;
}

bool Simulator::cmdFigures(const Command& c, Failure& f) {
  const ProcessFigures p = processFigures();
  char line[200];
  std::snprintf(line, sizeof line, "figures%s%s: private bytes %.1f MB, handles %lu, GDI objects %zu", c.args.empty() ? "" : " ",
                c.args.empty() ? "" : c.args[0].c_str(), p.privateMb, p.handles, p.gdiObjects);
  say(line);
  return true;
}

int Simulator::runChaos() {
  Failure f{kExitOk, {}};
  armWatchdog(120000);
  if (!start(f) || !privatePluginCopy(f)) return finish(f.code, f.message);
  Command c{0, "chaos", {std::to_string(options_.chaosSeed), std::to_string(options_.chaosEvents)}};
  if (!cmdChaos(c, f)) return finish(f.code, f.message);
  return finish(kExitOk, {});
}

// Ctrl+F8 through the system's own input (SendInput), not the X input tool: Wine keeps a handle
// of ours for every Unix program we start (one File handle a run, measured with /usr/bin/true),
// which would show as the soak's growth.
bool Simulator::toggleWithSystemInput(Failure& f) {
  auto key = [](WORD vk, bool down) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    return SendInput(1, &in, sizeof in) == 1;
  };
  if (!key(VK_CONTROL, true) || !key(VK_F8, true)) return f = {kExitEnvironment, "SendInput refused Ctrl+F8"}, false;
  const bool rendered = renderFrames(3, f);
  key(VK_F8, false);
  key(VK_CONTROL, false);
  return rendered && renderFrames(3, f);
}

// A media program whose picture moves and whose title changes every few seconds plays on the
// tablet; the panel opens and closes every two minutes, the truck changes every three. The
// invariants are checked every few seconds. The first minute opens the panel once and drives
// each truck once, so what their first use makes (the panel's renderer, a truck's dashboard
// resource) is in the first minute's figures and the growth after it is what repeating costs.
int Simulator::runSoak() {
  Failure f{kExitOk, {}};
  const unsigned long long minutes = options_.soakMinutes;
  armWatchdog(120000);
  if (!start(f) || !privatePluginCopy(f)) return finish(f.code, f.message);
  Chaos chaos(*this, 1);
  if (!chaos.setUp(f) || !chaos.exec({"playback", "start", "YouTube"}, f)) return finish(f.code, f.message);
  auto report = [](const char* when, const ProcessFigures& p) {
    char line[200];
    std::snprintf(line, sizeof line, "soak: %s: private bytes %.1f MB, handles %lu, GDI objects %zu", when, p.privateMb,
                  p.handles, p.gdiObjects);
    say(line);
  };
  const ProcessFigures atStart = processFigures();
  report("start", atStart);
  ProcessFigures firstMinute = atStart, last = atStart;
  const unsigned long long begin = uptimeMs();
  unsigned long long nextCheck = 0, nextTitle = 0, title = 0, minute = 0, warmUp = 0;
  const char* const trucks[] = {"vehicle.kenworth.t680", "vehicle.kenworth.w900", "vehicle.zor.nogps"};
  auto togglePanel = [&](const std::string& when) {
    PanelFrame shown;
    if (!toggleWithSystemInput(f) || !nextPanelFrame(shown, f, 3) || !renderFor(3000, f) || !toggleWithSystemInput(f))
      return false;
    if (!shown.number) f = {kExitExpectation, "soak at " + when + ": Ctrl+F8 did not show the panel"};
    return shown.number != 0;
  };
  while (minute < minutes) {
    armWatchdog(60000);
    const unsigned long long now = uptimeMs() - begin;
    // The first minute: the panel at 10 s, then each truck (the first again last) 10 s apart.
    if (warmUp < 5 && now >= (warmUp + 1) * 10000) {
      const bool ok = warmUp == 0 ? togglePanel("the first minute")
                                  : chaos.exec({"truck", trucks[warmUp % std::size(trucks)]}, f);
      if (!ok) return finish(f.code, f.message);
      ++warmUp;
    }
    if (now >= nextTitle) {
      nextTitle += 5000;
      if (!chaos.exec({"media", "title", kMediaIds[0], "Canci\xC3\xB3n " + std::to_string(++title) + " - YouTube"}, f))
        return finish(f.code, f.message);
    }
    if (now >= nextCheck) {
      nextCheck += 3000;
      if (!chaos.check(f)) return finish(f.code, "soak at " + std::to_string(now / 1000) + " s: " + f.message);
    }
    if (now >= (minute + 1) * 60000) {
      ++minute;
      last = processFigures();
      if (minute == 1) firstMinute = last;
      report(("minute " + std::to_string(minute)).c_str(), last);
      if (minute % 2 == 0 && !togglePanel("minute " + std::to_string(minute))) return finish(f.code, f.message);
      if (minute % 3 == 0 && !chaos.exec({"truck", trucks[(minute / 3) % std::size(trucks)]}, f))
        return finish(f.code, f.message);
    }
    if (!renderOne(nullptr, nullptr, f)) return finish(f.code, f.message);
  }
  const double grown = last.privateMb - firstMinute.privateMb;
  const long handles = static_cast<long>(last.handles) - static_cast<long>(firstMinute.handles);
  const long gdi = static_cast<long>(last.gdiObjects) - static_cast<long>(firstMinute.gdiObjects);
  char line[300];
  std::snprintf(line, sizeof line,
                "soak: %llu minutes, 0 invariant failures; after the first minute private bytes %+.1f MB, handles %+ld, "
                "GDI objects %+ld",
                minutes, grown, handles, gdi);
  say(line);
  if (grown >= 5.0 || handles > 20 || handles < -20 || gdi > 20 || gdi < -20)
    return finish(kExitExpectation, "the soak grew beyond 5 MB of private bytes or 20 handles or GDI objects");
  return finish(kExitOk, {});
}

}  // namespace zor::sim
