// What the diagnostics tests share: readings of the machine given by the test (a probe whose
// pause moves a manual clock), a capture engine with a scripted state, the real replacer and
// application library, and a fresh diagnostics center.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "capture/WindowCapture.h"
#include "diagnostics/DiagnosticsCenter.h"
#include "diagnostics/SupportReport.h"
#include "gps/GpsTextureReplacer.h"
#include "media/AppLibrary.h"
#include "media/MediaFiles.h"
#include "support/GfxTestKit.h"
#include "support/ManualClock.h"
#include "support/TempFolder.h"

namespace zor::test {

// Readings chosen by the test. A pause moves the clock by its length (unless frozen) and adds
// busyPerPause to the process's kernel time, as if the process had worked while it waited.
// With holdPauses set, a pause lasts until the test lets it through (at most ten seconds, so
// that a fault fails the test instead of hanging it).
class ScriptedProbe final : public SystemProbe {
 public:
  explicit ScriptedProbe(ManualClock& clock) : clock_(clock) {}

  std::wstring hostPath = L"C:\\Juegos\\American Truck Simulator\\bin\\win_x64\\amtrucks.exe";
  bool timesFail = false;
  uint64_t creation = 133'000'000'000'000'000ull;  // a FILETIME
  uint64_t kernel = 5'000'000, user = 7'000'000;
  uint64_t busyPerPause = 0;
  bool clockFrozen = false;
  uint32_t processors = 1;
  uint64_t workingSet = 200ull << 20;
  std::wstring adapter = L"Adaptador de prueba";
  uint64_t now = creation + 36'000'000'000ull;  // one hour later
  SYSTEMTIME local{2025, 3, 3, 5, 7, 8, 9, 0};  // 05/03/2025 07:08:09
  std::vector<uint32_t> pauses;
  bool holdPauses = false;
  std::vector<std::string> overlays;  // the other overlays in the process

  bool waitUntilPausing() {  // true once a thread waits in a held pause
    std::unique_lock<std::mutex> lock(gate_);
    return gateMoved_.wait_for(lock, std::chrono::seconds(10), [&] { return pausing_; });
  }
  void letPauseThrough() {
    std::lock_guard<std::mutex> lock(gate_);
    ++passes_;
    gateMoved_.notify_all();
  }

  std::wstring hostExecutablePath() override { return hostPath; }
  bool processTimes(ProcessTimes& out) override {
    if (timesFail) return false;
    out = {creation, kernel, user};
    return true;
  }
  uint32_t processorCount() override { return processors; }
  uint64_t workingSetBytes() override { return workingSet; }
  std::wstring adapterDescription() override { return adapter; }
  uint64_t systemTimeNow() override { return now; }
  SYSTEMTIME localTime() override { return local; }
  std::vector<std::string> otherOverlays() override { return overlays; }
  void sleepMs(uint32_t ms) override {
    pauses.push_back(ms);
    if (holdPauses) {
      std::unique_lock<std::mutex> lock(gate_);
      pausing_ = true;
      gateMoved_.notify_all();
      gateMoved_.wait_for(lock, std::chrono::seconds(10), [&] { return passes_ > 0; });
      if (passes_ > 0) --passes_;
      pausing_ = false;
    }
    if (!clockFrozen) clock_.advanceMs(ms);
    kernel += busyPerPause;
  }

 private:
  ManualClock& clock_;
  std::mutex gate_;
  std::condition_variable gateMoved_;
  bool pausing_ = false;
  int passes_ = 0;
};

// A capture engine in the state the test sets; remembers the keywords it is given.
class ScriptedCapture final : public WindowCapture {
 public:
  bool window = false;
  bool active = false;
  std::wstring keyword;
  int32_t fps = 30;
  int64_t intervalMs = 33;
  StillPictureReport still;  // what stillPicture answers
  std::vector<std::wstring> keywordsSet;

  void setPaused(bool) override {}
  bool hasWindow() override { return window; }
  bool start(ID3D11Device*, ID3D11DeviceContext*, const std::wstring&, uint32_t, bool, int32_t, int32_t, int32_t,
             int32_t) override {
    return false;
  }
  void deactivate() override {}
  bool isActive() override { return active; }
  bool uploadLatestFrame(ID3D11Texture2D*) override { return false; }
  void shutdown() override {}
  void setWindowKeyword(const std::wstring& value) override {
    keyword = value;
    keywordsSet.push_back(value);
  }
  std::wstring windowKeyword() override { return keyword; }
  int32_t effectiveFps() override { return fps; }
  int64_t frameIntervalMs() override { return intervalMs; }
  StillPictureReport stillPicture() override { return still; }
};

class DiagnosticsTest : public ::testing::Test {
 protected:
  DiagnosticsTest() {
    media::setSettingsFolder(settings.path());
    SupportReport::setFolder(pluginFolder.path());
    SystemProbe::install(&probe);
    WindowCapture::install(&capture);
    GpsTextureReplacer::instance().close();
    GpsTextureReplacer::instance().initialize();  // counters back to zero
    GpsTextureReplacer::instance().close();
    AppLibrary::instance().reset();
    center.reset();
  }
  ~DiagnosticsTest() override {
    center.reset();
    AppLibrary::instance().reset();
    GpsTextureReplacer::instance().close();
    WindowCapture::install(nullptr);
    SystemProbe::install(nullptr);
    SupportReport::setFolder({});
    SupportReport::setShellOpen(nullptr);
    media::setSettingsFolder({});
  }

  // The row of the last check with this name (fails the test when there is none).
  const DiagnosticItem& row(const std::string& name) {
    for (const DiagnosticItem& i : center.items)
      if (i.name == name) return i;
    ADD_FAILURE() << "no row " << name;
    static const DiagnosticItem none;
    return none;
  }

  TempFolder settings{L"zor-diag-settings"};
  TempFolder pluginFolder{L"zor-diag-plugin"};
  ManualClock clock;
  ScriptedProbe probe{clock};
  ScriptedCapture capture;
  LogCapture log;
  DiagnosticsCenter& center = DiagnosticsCenter::instance();
};

}  // namespace zor::test
