// Test doubles for the graphics core: private access to Dx11Core, a recording capture engine,
// a scripted hook engine and a swap chain whose answers a test chooses.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "capture/WindowCapture.h"
#include "dx11/Dx11Core.h"
#include "core/DetourGuard.h"
#include "core/HookApi.h"
#include "gps/Calibration.h"
#include "gps/GpsTextureReplacer.h"
#include "media/PanelState.h"
#include "support/GfxTestKit.h"

namespace zor {

struct Dx11CoreTestAccess {
  static size_t idx(Hook h) { return static_cast<size_t>(h); }
  static void setAdoptedWindow(Dx11Core& c, HWND window) { c.adoptedWindow_ = window; }

  // Back to a freshly created core with the given configuration (no thread, no hooks).
  static void fresh(Dx11Core& c, const PluginConfig& config = PluginConfig{}) {
    c.shutdown();
    {
      std::lock_guard<std::mutex> lock(c.playbackMutex_);
      c.releaseDeviceAndContext();
    }
    GpsTextureReplacer::instance().close();
    GpsTextureReplacer::instance().releaseRedTestTexture();
    GpsTextureReplacer::instance().setCreateTexture2D(nullptr);
    c.resetForStart();
    for (auto& t : c.targets_) t.store(nullptr);
    c.config_ = config;
    c.settingsPath_.clear();
    storePlaybackTarget(kTargetTablet);
    storeCalibrationMode(config.calibrationMode);
    c.resourceProfileId_.store(0);
    c.playback_.active.store(false);
    c.playback_.resumePending.store(false);
    c.playback_.resumeScheduled = false;
    c.playback_.resumeDue = 0;
    c.playback_.title.clear();
    c.playback_.fps = 30;
    c.stateCheckTick_.store(0);
    c.lastShaderAnalysis_.store(0);
    c.hooksStranded_.store(false);
    detour::setShutdownBudgetMs(detour::kDefaultShutdownBudgetMs);
    GameState& s = c.gameState();
    s.engineEnabled.store(true);
    s.engineKnown.store(false);
    s.electricEnabled.store(true);
    s.electricKnown.store(false);
    s.paused.store(true);
    s.pauseKnown.store(true);
    s.stateTick.store(0);
    s.truckProfileId.store(0);
    s.preparedProfileId.store(0);
    s.surgicalLogged.store(false);
    s.lastSeenPaused.store(true);
    s.lastSeenElectric.store(true);
    s.lastSeenEngine.store(true);
    PanelState::instance().reset();
  }
  static void setTrampoline(Dx11Core& c, Hook h, void* p) { c.trampolines_[idx(h)].store(p); }
  static void setTarget(Dx11Core& c, Hook h, void* p) { c.targets_[idx(h)].store(p); }
  static void setMinHookReady(Dx11Core& c, bool v) { c.minHookReady_.store(v); }
  static void markInitialized(Dx11Core& c) { c.initialized_.store(true); }
  static void setPlaybackTarget(Dx11Core&, uint32_t v) { storePlaybackTarget(static_cast<PlaybackTarget>(v)); }
  static void setSettingsPath(Dx11Core& c, const std::wstring& path) { c.settingsPath_ = path; }
  static void setDrawIndexedCreated(Dx11Core& c, bool v) { c.drawIndexedCreated_.store(v); }
  static bool drawIndexedEnabled(Dx11Core& c) { return c.drawIndexedEnabled_.load(); }
  static bool gpsOffscreen(Dx11Core& c) { return c.gpsOffscreen_.load(); }
  static uint64_t lastCameraReturnTick(Dx11Core& c) { return c.lastCameraReturnTick_.load(); }
  static bool resumeScheduled(Dx11Core& c) { return c.playback_.resumeScheduled; }
  static bool resumePending(Dx11Core& c) { return c.playback_.resumePending.load(); }
  static std::wstring title(Dx11Core& c) { return c.playback_.title; }
  // Replaces the configuration initialize() read from the ZOR folder (before the first frame).
  static void setConfig(Dx11Core& c, const PluginConfig& config) {
    c.config_ = config;
    storeCalibrationMode(config.calibrationMode);  // as initialize takes it from the file
  }
  static ID3D11Device* device(Dx11Core& c) { return c.device_; }
  static ID3D11PixelShader* currentPixelShader(Dx11Core& c) { return c.currentPixelShader_.load(); }
  static ID3D11Buffer* currentIndexBuffer(Dx11Core& c) { return c.currentIndexBuffer_.load(); }
};

namespace test {

// Records every call the Present hook makes on the capture engine.
class RecordingCapture : public WindowCapture {
 public:
  void setPaused(bool paused) override { note(paused ? "setPaused(1)" : "setPaused(0)"); }
  bool hasWindow() override { return windowPresent; }
  bool start(ID3D11Device* device, ID3D11DeviceContext* context, const std::wstring& keyword, uint32_t fps, bool flip,
             int32_t cropLeft, int32_t cropTop, int32_t cropWidth, int32_t cropHeight) override {
    std::string k(keyword.begin(), keyword.end());
    note("start(" + k + "," + std::to_string(fps) + "," + std::to_string(flip) + "," + std::to_string(cropLeft) + "," +
         std::to_string(cropTop) + "," + std::to_string(cropWidth) + "," + std::to_string(cropHeight) + ")");
    if (!device || !context) return false;
    active = startResult;
    return active;
  }
  void deactivate() override {
    note("deactivate");
    active = false;
  }
  bool isActive() override { return active; }
  bool uploadLatestFrame(ID3D11Texture2D* texture) override {
    note("upload");
    lastUploadTexture = texture;
    return false;
  }
  void shutdown() override { note("shutdown"); }

  std::vector<std::string> events() {
    std::lock_guard<std::mutex> lock(mutex);
    return log;
  }
  size_t countPrefix(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(mutex);
    size_t n = 0;
    for (auto& e : log) n += e.rfind(prefix, 0) == 0;
    return n;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex);
    log.clear();
  }

  bool startResult = true;
  bool windowPresent = true;
  bool active = false;
  ID3D11Texture2D* lastUploadTexture = nullptr;

 private:
  void note(const std::string& e) {
    std::lock_guard<std::mutex> lock(mutex);
    log.push_back(e);
  }
  std::mutex mutex;
  std::vector<std::string> log;
};

// A hook engine that patches nothing: it records the calls, hands out the "original"
// function a test registered for a target, and fails the calls a test chose.
class ScriptedHooks {
 public:
  // Scripts nest: the newest one is in use until it goes away.
  ScriptedHooks() : previous_(self()) {
    self() = this;
    setHookApi(&api);
  }
  ~ScriptedHooks() {
    self() = previous_;
    setHookApi(previous_ ? &previous_->api : nullptr);
  }

  void name(void* target, const std::string& n, void* original = nullptr) {
    names[target] = n;
    originals[target] = original ? original : target;
  }
  void fail(const std::string& op, void* target, MH_STATUS st) { failures[{op, target}] = st; }

  std::vector<std::string> callsOf(const std::string& op) {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> out;
    for (auto& c : calls) {
      if (c.rfind(op + ":", 0) == 0) out.push_back(c.substr(op.size() + 1));
    }
    return out;
  }
  std::vector<std::string> allCalls() {
    std::lock_guard<std::mutex> lock(mutex);
    return calls;
  }
  std::set<void*> createdHooks() {
    std::lock_guard<std::mutex> lock(mutex);
    return created;
  }
  void clearCalls() {
    std::lock_guard<std::mutex> lock(mutex);
    calls.clear();
  }

  MH_STATUS initStatus = MH_OK;
  bool nullText = false;
  std::function<void(const std::string& op, void* target)> onCall;
  HookApi api{&sInit, &sUninit, &sCreate, &sEnable, &sDisable, &sRemove, &sText};

 private:
  static ScriptedHooks*& self() {
    static ScriptedHooks* s = nullptr;
    return s;
  }
  MH_STATUS record(const std::string& op, void* target) {
    if (onCall) onCall(op, target);
    std::lock_guard<std::mutex> lock(mutex);
    auto n = names.find(target);
    calls.push_back(op + ":" + (n != names.end() ? n->second : std::string("?")));
    auto f = failures.find({op, target});
    return f != failures.end() ? f->second : MH_OK;
  }
  static MH_STATUS WINAPI sInit() { return self()->initStatus; }
  static MH_STATUS WINAPI sUninit() {
    self()->record("uninit", nullptr);
    return MH_OK;
  }
  static MH_STATUS WINAPI sCreate(LPVOID target, LPVOID, LPVOID* original) {
    ScriptedHooks& s = *self();
    MH_STATUS st = s.record("create", target);
    if (st != MH_OK) return st;
    std::lock_guard<std::mutex> lock(s.mutex);
    s.created.insert(target);
    auto o = s.originals.find(target);
    if (original) *original = o != s.originals.end() ? o->second : target;
    return MH_OK;
  }
  static MH_STATUS WINAPI sEnable(LPVOID target) { return self()->record("enable", target); }
  static MH_STATUS WINAPI sDisable(LPVOID target) { return self()->record("disable", target); }
  static MH_STATUS WINAPI sRemove(LPVOID target) {
    ScriptedHooks& s = *self();
    MH_STATUS st = s.record("remove", target);
    std::lock_guard<std::mutex> lock(s.mutex);
    s.created.erase(target);
    return st;
  }
  static const char* WINAPI sText(MH_STATUS st) {
    if (self() && self()->nullText) return nullptr;
    switch (st) {
      case MH_OK: return "MH_OK";
      case MH_ERROR_NOT_EXECUTABLE: return "MH_ERROR_NOT_EXECUTABLE";
      case MH_ERROR_MEMORY_PROTECT: return "MH_ERROR_MEMORY_PROTECT";
      case MH_ERROR_UNSUPPORTED_FUNCTION: return "MH_ERROR_UNSUPPORTED_FUNCTION";
      default: return "MH_OTHER";
    }
  }

  ScriptedHooks* previous_;
  std::mutex mutex;
  std::map<void*, std::string> names;
  std::map<void*, void*> originals;
  std::map<std::pair<std::string, void*>, MH_STATUS> failures;
  std::set<void*> created;
  std::vector<std::string> calls;
};

// A swap chain whose window, device and back buffer a test chooses.
class FakeSwapChain : public IDXGISwapChain {
 public:
  HWND window = nullptr;
  HRESULT deviceResult = S_OK;
  ID3D11Device* device = nullptr;  // borrowed
  HRESULT bufferResult = S_OK;
  ID3D11Texture2D* buffer = nullptr;  // borrowed
  int getDescCalls = 0;
  int getDeviceCalls = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID, UINT, const void*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetPrivateDataInterface(REFGUID, const IUnknown*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID, UINT*, void*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetParent(REFIID, void** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDevice(REFIID riid, void** out) override {
    ++getDeviceCalls;
    *out = nullptr;
    if (FAILED(deviceResult) || !device) return FAILED(deviceResult) ? deviceResult : E_FAIL;
    return device->QueryInterface(riid, out);
  }
  HRESULT STDMETHODCALLTYPE Present(UINT, UINT) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetBuffer(UINT, REFIID riid, void** out) override {
    *out = nullptr;
    if (FAILED(bufferResult) || !buffer) return FAILED(bufferResult) ? bufferResult : E_FAIL;
    return buffer->QueryInterface(riid, out);
  }
  HRESULT STDMETHODCALLTYPE SetFullscreenState(BOOL, IDXGIOutput*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFullscreenState(BOOL*, IDXGIOutput**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDesc(DXGI_SWAP_CHAIN_DESC* desc) override {
    ++getDescCalls;
    *desc = DXGI_SWAP_CHAIN_DESC{};
    desc->OutputWindow = window;
    desc->BufferCount = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ResizeBuffers(UINT, UINT, UINT, DXGI_FORMAT, UINT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ResizeTarget(const DXGI_MODE_DESC*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetContainingOutput(IDXGIOutput** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetFrameStatistics(DXGI_FRAME_STATISTICS*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetLastPresentCount(UINT*) override { return E_NOTIMPL; }
};

inline scs_value_t boolValue(bool v) {
  scs_value_t value{};
  value.type = SCS_VALUE_TYPE_bool;
  value.value_bool.value = v ? 1 : 0;
  return value;
}

// The game's main window of this test process, with a swap chain. Created on first use and
// kept until the process ends (destroying a shown window costs Wine two seconds).
inline TestWindow& gameWindow() {
  static TestWindow* window = new TestWindow(640, 480);
  return *window;
}

// Makes the game window too small to be taken for the game's main window, or gives it back
// its size (a window that qualifies "appears").
inline void setGameWindowQualifies(bool qualifies) {
  HWND hwnd = gameWindow().hwnd;
  RECT rc{0, 0, qualifies ? 640 : 200, qualifies ? 480 : 100};
  AdjustWindowRect(&rc, WS_OVERLAPPEDWINDOW, FALSE);
  SetWindowPos(hwnd, nullptr, 0, 0, rc.right - rc.left, rc.bottom - rc.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  TestWindow::pump();
}

// Polls cond every 10 ms for at most timeoutMs.
inline bool waitFor(const std::function<bool()>& cond, int timeoutMs = 10000) {
  for (int waited = 0; waited < timeoutMs; waited += 10) {
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return cond();
}

}  // namespace test
}  // namespace zor
