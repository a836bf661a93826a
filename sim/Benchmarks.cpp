// The frame-time benchmarks: the cab without and with the plugin, the plugin's two playback
// targets, playing against not playing, and the panel against a build without the overlay.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "Console.h"
#include "SdkHost.h"
#include "SimText.h"
#include "Simulator.h"

namespace zor::sim {

namespace {
double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}
}  // namespace

int Simulator::runBenchmark() {
  if (options_.benchPlayback) return runPlaybackBenchmark();
  Failure f{kExitOk, {}};
  armWatchdog(static_cast<unsigned long long>(options_.benchRounds) * 30000 + 60000);
  if (!start(f)) return finish(f.code, f.message);
  fps_ = 0;
  std::string error;
  if (!cab_.loadCab(error)) return finish(kExitEnvironment, error);
  auto& sdk = SdkHost::instance();
  sdk.setChannel("truck.engine.enabled", true);
  sdk.setChannel("truck.electric.enabled", true);
  sdk.setPaused(false);
  cab_.setSpeed(80);
  auto measure = [&](double& perFrame) {
    auto t0 = std::chrono::steady_clock::now();
    if (!renderFrames(static_cast<unsigned long long>(options_.benchFrames), f)) return false;
    perFrame = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / options_.benchFrames;
    return true;
  };
  if (!renderFrames(20, f)) return finish(f.code, f.message);  // warm-up
  std::vector<double> without, with;
  for (int round = 0; round < options_.benchRounds; ++round) {
    double a = 0, b = 0;
    if (!measure(a)) return finish(f.code, f.message);
    if (!loadPlugin(f) || !renderFor(700, f) || !measure(b) || !unloadPlugin(f)) return finish(f.code, f.message);
    without.push_back(a);
    with.push_back(b);
    char line[160];
    std::snprintf(line, sizeof line, "bench round %d: %.2f ms/frame without the plugin, %.2f ms/frame with it", round + 1,
                  a, b);
    say(line);
  }
  double m0 = median(without), m1 = median(with);
  char line[200];
  std::snprintf(line, sizeof line,
                "sim_frame: cab scene %dx%d, %d rounds of %d frames: median %.2f ms/frame without the plugin, %.2f ms "
                "with it; ratio %.3f",
                options_.width, options_.height, options_.benchRounds, options_.benchFrames, m0, m1, m0 > 0 ? m1 / m0 : 0.0);
  say(line);
  return finish(kExitOk, {});
}

// The cab of the default truck (the W900) loaded, ignition and engine on, driving, frames unpaced.
bool Simulator::benchCab(Failure& f) {
  fps_ = 0;
  std::string error;
  const TruckModel& w900 = defaultTruck();
  if (!cab_.loadCab(error) || !cab_.setTruck(w900, error)) {
    f = {kExitEnvironment, error};
    return false;
  }
  auto& sdk = SdkHost::instance();
  sdk.setTruck(TruckConfig{w900.vehicleId, w900.brandId, w900.name});
  sdk.setChannel("truck.engine.enabled", true);
  sdk.setChannel("truck.electric.enabled", true);
  sdk.setPaused(false);
  cab_.setSpeed(80);
  return true;
}

int Simulator::runTargetBenchmark() {
  Failure f{kExitOk, {}};
  armWatchdog(static_cast<unsigned long long>(options_.benchRounds) * 40000 + 60000);
  if (!start(f)) return finish(f.code, f.message);
  if (!benchCab(f)) return finish(f.code, f.message);
  const TruckModel& w900 = defaultTruck();
  // The target the plugin restores when it adopts the device: [gps_output] mode beside the DLL.
  const std::wstring folder = folderOf(options_.pluginPath) + L"\\ZOR";
  const std::wstring ini = folder + L"\\ZorTabcastPlugin.ini";
  CreateDirectoryW(folder.c_str(), nullptr);
  // One load with the target given; false with f set on failure.
  auto measure = [&](const wchar_t* mode, double& perFrame, bool& hooked) {
    if (!WritePrivateProfileStringW(L"gps_output", L"mode", mode, ini.c_str())) {
      f = {kExitEnvironment, "cannot write " + narrow(ini)};
      return false;
    }
    if (!loadPlugin(f)) return false;
    // Until the plugin has hooked Present and adopted the device (a few frames later the
    // dashboard target has its resource and DrawIndexed hooked), at most 30 s.
    const bool dashboard = mode[0] == L'1';
    for (unsigned long long end = uptimeMs() + 30000;;) {
      if (dashboard ? cab_.drawIndexedPatched() : cab_.presentPatched()) break;
      if (uptimeMs() > end) break;
      if (!renderOne(nullptr, nullptr, f)) return false;
    }
    if (!renderFrames(10, f)) return false;
    hooked = cab_.drawIndexedPatched();
    auto t0 = std::chrono::steady_clock::now();
    if (!renderFrames(static_cast<unsigned long long>(options_.benchFrames), f)) return false;
    perFrame = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / options_.benchFrames;
    return unloadPlugin(f);
  };
  if (!renderFrames(20, f)) return finish(f.code, f.message);  // warm-up
  std::vector<double> tablet, dashboard;
  bool tabletHooked = false, dashboardHooked = true;
  for (int round = 0; round < options_.benchRounds; ++round) {
    double a = 0, b = 0;
    bool ha = false, hb = false;
    if (!measure(L"0", a, ha) || !measure(L"1", b, hb)) break;
    tablet.push_back(a);
    dashboard.push_back(b);
    tabletHooked = tabletHooked || ha;
    dashboardHooked = dashboardHooked && hb;
    char line[200];
    std::snprintf(line, sizeof line,
                  "bench round %d: %.2f ms/frame tablet target (DrawIndexed %s), %.2f ms/frame dashboard target (DrawIndexed %s)",
                  round + 1, a, ha ? "hooked" : "not hooked", b, hb ? "hooked" : "not hooked");
    say(line);
  }
  WritePrivateProfileStringW(L"gps_output", L"mode", nullptr, ini.c_str());
  if (f.code != kExitOk) return finish(f.code, f.message);
  double m0 = median(tablet), m1 = median(dashboard);
  char line[320];
  std::snprintf(line, sizeof line,
                "sim_target: cab scene %dx%d, %s, %d rounds of %d frames: median %.2f ms/frame with the tablet target "
                "(DrawIndexed %s), %.2f ms with the dashboard target (DrawIndexed %s); ratio %.3f",
                options_.width, options_.height, w900.vehicleId, options_.benchRounds, options_.benchFrames, m0,
                tabletHooked ? "HOOKED" : "never hooked", m1, dashboardHooked ? "hooked" : "NOT ALWAYS HOOKED",
                m0 > 0 ? m1 / m0 : 0.0);
  say(line);
  if (tabletHooked || !dashboardHooked) return finish(kExitExpectation, "DrawIndexed hooked with the wrong target");
  return finish(kExitOk, {});
}

// The cab with the plugin loaded (calibration off), the media program open: frames while the
// tablet plays the program against frames while nothing plays, in alternating rounds.
int Simulator::runPlaybackBenchmark() {
  Failure f{kExitOk, {}};
  armWatchdog(static_cast<unsigned long long>(options_.benchRounds) * 30000 + 90000);
  if (!start(f)) return finish(f.code, f.message);
  if (!privatePluginCopy(f)) return finish(f.code, f.message);
  const std::wstring folder = folderOf(options_.pluginPath);
  WritePrivateProfileStringW(L"gps", L"calibration_mode", L"0", (folder + L"\\ZOR\\ZorTabcastPlugin.ini").c_str());
  fps_ = 0;
  std::string error;
  auto& sdk = SdkHost::instance();
  if (!setTruck({"vehicle.kenworth.w900"}, f)) return finish(f.code, f.message);
  sdk.setChannel("truck.engine.enabled", true);
  sdk.setChannel("truck.electric.enabled", true);
  sdk.setPaused(false);
  cab_.setSpeed(80);
  if (!loadPlugin(f) || !renderFor(1500, f)) return finish(f.code, f.message);
  if (!cab_.loadCab(error)) return finish(kExitEnvironment, error);  // the game's order: the cab after the plugin
  using RequestFn = int (*)(const char*, int);
  auto request = reinterpret_cast<RequestFn>(sdk.pluginExport("zor_test_request_playback"));
  if (!request) return finish(kExitPlugin, "the plugin has no playback test export");
  auto program = std::make_unique<MediaProgram>("bench", L"Lofi radio - YouTube", 0);
  if (!program->open(10000, error)) return finish(kExitEnvironment, error);
  if (!renderFor(1500, f)) return finish(f.code, f.message);
  auto measure = [&](double& perFrame) {
    auto t0 = std::chrono::steady_clock::now();
    if (!renderFrames(static_cast<unsigned long long>(options_.benchFrames), f)) return false;
    perFrame = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / options_.benchFrames;
    return true;
  };
  std::vector<double> idle, playing;
  for (int round = 0; round < options_.benchRounds; ++round) {
    double a = 0, b = 0;
    request(nullptr, 30);
    if (!renderFor(500, f) || !measure(a)) return finish(f.code, f.message);
    request("YouTube", 30);
    if (!renderFor(700, f) || !measure(b)) return finish(f.code, f.message);
    idle.push_back(a);
    playing.push_back(b);
    char line[160];
    std::snprintf(line, sizeof line, "bench round %d: %.2f ms/frame not playing, %.2f ms/frame playing", round + 1, a, b);
    say(line);
  }
  request(nullptr, 30);
  renderFrames(3, f);
  program->close(5000);
  const double m0 = median(idle), m1 = median(playing);
  const bool shown = sdk.logContains("Primer frame del trabajador copiado");
  char line[240];
  std::snprintf(line, sizeof line,
                "sim_playback: cab scene %dx%d, %d rounds of %d frames: median %.2f ms/frame not playing, %.2f ms "
                "playing the media program on the tablet; ratio %.3f%s",
                options_.width, options_.height, options_.benchRounds, options_.benchFrames, m0, m1,
                m0 > 0 ? m1 / m0 : 0.0, shown ? "" : " (NO FRAME REACHED THE TABLET)");
  say(line);
  return finish(shown ? kExitOk : kExitExpectation, shown ? std::string() : "no captured frame reached the tablet");
}

int Simulator::runOverlayBenchmark() {
  Failure f{kExitOk, {}};
  armWatchdog(static_cast<unsigned long long>(options_.benchRounds) * 60000 + 60000);
  if (!start(f)) return finish(f.code, f.message);
  if (!benchCab(f)) return finish(f.code, f.message);
  const std::wstring full = options_.pluginPath;
  auto perFrame = [&](double& ms) {
    auto t0 = std::chrono::steady_clock::now();
    if (!renderFrames(static_cast<unsigned long long>(options_.benchFrames), f)) return false;
    ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / options_.benchFrames;
    return true;
  };
  // Loads a build and renders until it has hooked Present and adopted the device.
  auto loadBuild = [&](const std::wstring& path) {
    options_.pluginPath = path;
    if (!loadPlugin(f)) return false;
    for (unsigned long long end = uptimeMs() + 30000; !cab_.presentPatched();) {
      if (uptimeMs() > end) return f = {kExitPlugin, "Present was not hooked within 30 s"}, false;
      if (!renderOne(nullptr, nullptr, f)) return false;
    }
    return renderFrames(10, f);
  };
  auto panelShown = [&]() {
    Rect rect;
    ProbeResult r;
    return probeScreen("overlay", rect, r, f) && r.signature == "overlay";
  };
  if (!renderFrames(20, f)) return finish(f.code, f.message);  // warm-up
  std::vector<double> bare, hidden, shown;
  for (int round = 0; round < options_.benchRounds && f.code == kExitOk; ++round) {
    double a = 0, b = 0, c = 0;
    if (!loadBuild(options_.barePluginPath) || !perFrame(a) || !unloadPlugin(f)) break;
    if (!loadBuild(full) || !perFrame(b)) break;
    if (!pressKeys("ctrl+F8", f) || !renderFrames(10, f)) break;
    if (!panelShown()) {
      if (f.code == kExitOk) f = {kExitEnvironment, "Ctrl+F8 did not show the panel"};
      break;
    }
    if (!perFrame(c) || !unloadPlugin(f)) break;
    bare.push_back(a);
    hidden.push_back(b);
    shown.push_back(c);
    char line[200];
    std::snprintf(line, sizeof line,
                  "bench round %d: %.2f ms/frame without the overlay, %.2f with the panel hidden, %.2f with it shown",
                  round + 1, a, b, c);
    say(line);
  }
  options_.pluginPath = full;
  if (f.code != kExitOk) return finish(f.code, f.message);
  const double m0 = median(bare), m1 = median(hidden), m2 = median(shown);
  char line[320];
  std::snprintf(line, sizeof line,
                "sim_overlay: cab scene %dx%d, %d rounds of %d frames: median %.2f ms/frame without the overlay, %.2f "
                "with the panel hidden (ratio %.3f), %.2f with the panel shown (ratio %.3f)",
                options_.width, options_.height, options_.benchRounds, options_.benchFrames, m0, m1,
                m0 > 0 ? m1 / m0 : 0.0, m2, m0 > 0 ? m2 / m0 : 0.0);
  say(line);
  return finish(kExitOk, {});
}

}  // namespace zor::sim
