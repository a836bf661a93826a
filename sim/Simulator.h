// Runs a scenario against the cab and the plugin, command by command (CommandTable.h), and the
// frame-time benchmarks (Benchmarks.cpp).
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "Cab.h"
#include "CommandTable.h"
#include "MediaProgram.h"
#include "PanelFrame.h"
#include "Scenario.h"

namespace zor::sim {

enum ExitCode : int {
  kExitOk = 0,
  kExitExpectation = 1,  // a scenario's own expectation failed
  kExitBadInput = 2,     // bad command line, scenario line, probe region
  kExitPlugin = 3,       // plugin missing, without the exports, init failed, not unloadable
  kExitCrash = 4,        // unhandled exception
  kExitTimeout = 5,      // the scenario's time limit passed
  kExitEnvironment = 6,  // no window, device, media window or input tool
};

struct Options {
  std::wstring pluginPath;
  std::wstring scenarioPath;
  std::wstring outDir;
  int width = 1280, height = 720;
  int benchRounds = 0;  // > 0: benchmark mode
  int benchFrames = 60;
  // The benchmark compares the plugin's two playback targets (tablet, dashboard of the W900)
  // instead of the cab without and with the plugin.
  bool benchTarget = false;
  std::wstring barePluginPath;  // --bench-overlay: the plugin built without its overlay
  bool benchPlayback = false;  // playing against not playing, instead of with against without the plugin
  // --chaos SEED --events N, or --soak MINUTES, instead of a scenario (Chaos.cpp).
  bool chaos = false;
  unsigned long long chaosSeed = 0, chaosEvents = 300;
  unsigned long long soakMinutes = 0;
};

class Simulator {
 public:
  explicit Simulator(Options options) : options_(std::move(options)) {}
  int runScenario(const Scenario& scenario);
  int runBenchmark();
  int runTargetBenchmark();
  // The plugin with its panel hidden and shown against the plugin built without the overlay.
  int runOverlayBenchmark();
  // The chaos run and the soak (Chaos.cpp), in a private copy of the plugin.
  int runChaos();
  int runSoak();

 private:
  struct Failure {
    int code;
    std::string message;
  };
  // The commands' handlers, one per row of the command table (CommandTable.h).
#define ZOR_HANDLER(name, args, usage, help, handler) bool handler(const Command& c, Failure& f);
  ZOR_SIM_COMMANDS(ZOR_HANDLER)
#undef ZOR_HANDLER

  friend class Chaos;

  bool start(Failure& f);
  bool execute(const Command& c, Failure& f);
  int finish(int code, const std::string& message);
  // A number argument, and an expectation that fails the scenario at the command's line.
  static unsigned long long number(const Command& c, size_t i);
  static bool expect(const Command& c, bool good, const std::string& what, Failure& f);

  // Frames and probes (FrameCommands.cpp).
  bool renderFrames(unsigned long long n, Failure& f);
  bool toggleWithSystemInput(Failure& f);  // Ctrl+F8 through SendInput
  bool renderFor(unsigned long long ms, Failure& f);
  bool renderOne(FrameCapture* capture, std::vector<DrawRecord>* trace, Failure& f);
  bool regionOfFrame(const std::string& region, Rect& rect, Failure& f);
  bool probe(const std::string& region, FrameCapture& frame, Rect& rect, ProbeResult& result, Failure& f);
  bool probeScreen(const std::string& region, Rect& rect, ProbeResult& result, Failure& f);
  // probe-screen and wait-probe-screen.
  bool probeScreenCommand(const Command& c, bool wait, Failure& f);

  // The plugin's lifecycle (PluginCommands.cpp).
  bool loadPlugin(Failure& f);
  bool unloadPlugin(Failure& f, bool expectKept = false);
  bool cycle(const Command& c, bool reload, Failure& f);
  bool registrations(const Command& c, bool expected, Failure& f);
  // Loads the plugin at a point of the next frame and holds the frame until its hooks are in.
  bool loadAt(FramePoint point, unsigned long long waitMs, int line, Failure& f);
  // A loader thread held inside the engine's texture-queue function for ms.
  bool holdQueue(unsigned long long ms, int line, Failure& f);
  void joinHeldLoader();
  bool setTruck(const std::vector<std::string>& args, Failure& f);
  std::wstring pluginLogPath() const;
  std::string readPluginLog() const;

  // Real input (InputCommands.cpp).
  bool pressKeys(const std::string& combo, Failure& f);
  bool click(int x, int y, Failure& f);
  bool xdotoolAt(int x, int y, const std::string& action, Failure& f);
  bool waitKeyState(int vk, bool down, DWORD timeoutMs, Failure& f);

  // The panel (PanelCommands.cpp): a record of a panel frame drawn after this call (the
  // plugin's test export), and a failure that prints the frame.
  // A hidden panel draws nothing: the record stays empty after maxFrames frames.
  bool nextPanelFrame(PanelFrame& frame, Failure& f, int maxFrames = 30);
  bool panelFailure(const Command& c, const std::string& what, const PanelFrame& frame, Failure& f);
  bool expectText(const Command& c, bool wanted, Failure& f);

  // Benchmarks (Benchmarks.cpp).
  int runPlaybackBenchmark();
  bool benchCab(Failure& f);

  std::wstring outPath(const std::string& name) const;
  // The plugin copied into a folder of the output, so its settings stay out of the build folder.
  bool privatePluginCopy(Failure& f);

  Options options_;
  Cab cab_;

  std::map<std::string, std::unique_ptr<MediaProgram>> media_;
  std::vector<HANDLE> heldSettings_;  // the settings files held open while they are read-only
  std::map<std::string, std::wstring> mediaTitles_;  // the last title of every program opened
  int mediaOpened_ = 0;
  int fps_ = 60;
  unsigned long long lastFrameMs_ = 0;
  unsigned long long pluginLogStart_ = 0;
  std::thread heldLoader_;
  std::atomic<bool> loaderHeld_{false};
  double frameMsTotal_ = 0;
  unsigned long long framesTimed_ = 0;
};

// Arms the whole-run watchdog (again); 0 disarms it.
void armWatchdog(unsigned long long ms);
// What the watchdog's message names besides the time limit (the chaos run's seed and event).
void setWatchdogNote(const std::string& note);
void installCrashHandler();

}  // namespace zor::sim
