// The graphics core: finds the game's Direct3D 11 / DXGI methods without touching the game's
// objects, installs and removes the detours, adopts the game's device and immediate context at
// the first Present, and runs the per-frame pipeline (pause, ignition and engine gating,
// playback start and stop, frame upload, visibility, camera return).
//
// Threads: initialize/shutdown and the telemetry handlers on the game's telemetry thread; the
// bootstrap on its own short-lived thread; onPresent and the context detours on the game's
// render thread; the device detours on whatever thread creates resources.
// Locks, outermost first: playbackMutex_, then the GpsTextureReplacer lock, then the Logger.
#pragma once

#include <d3d11.h>
#include <dxgi.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "core/GameState.h"
#include "core/PluginConfig.h"
#include "dx11/GpsIdentification.h"
#include "dx11/ViewDescriptionCache.h"
#include "gps/PlaybackTarget.h"
#include "sdk/telemetry_sdk.h"

namespace zor {

struct TruckGpsProfile;

using D3D11CreateDeviceFn = decltype(&D3D11CreateDevice);
using D3D11CreateDeviceAndSwapChainFn = decltype(&D3D11CreateDeviceAndSwapChain);
using CreateDXGIFactory1Fn = HRESULT(WINAPI*)(REFIID, void**);

// The hooked (and discovered) methods, in the order of the hook table.
enum class Hook : uint32_t;
// The method's name in log lines ("Present").
const char* hookName(Hook h) noexcept;

enum class Hook : uint32_t {
  Present,                   // IDXGISwapChain slot 8
  ResizeBuffers,             // IDXGISwapChain slot 13, discovered only
  PSSetShaderResources,      // ID3D11DeviceContext slot 8
  PSSetShader,               // ID3D11DeviceContext slot 9
  CreateTexture2D,           // ID3D11Device slot 5
  CreateShaderResourceView,  // ID3D11Device slot 7
  IASetIndexBuffer,          // ID3D11DeviceContext slot 19
  DrawIndexed,               // ID3D11DeviceContext slot 12
  CreateSwapChain,           // IDXGIFactory slot 10 (optional)
  CreateSwapChainForHwnd,    // IDXGIFactory2 slot 15 (optional, where the factory has it)
  Count
};
constexpr size_t kHookCount = static_cast<size_t>(Hook::Count);

// Finds the game's main window: the first top-level window of the process that is visible,
// has no owner and a client area of at least 320 x 200 (isGameWindow).
bool isGameWindow(HWND hwnd, DWORD processId);
HWND findGameWindow(DWORD processId);

// The method addresses read from the virtual tables of a device, its immediate context, a swap
// chain and its factory (all non-null on success but the factory's, which are optional).
struct VtableTargets {
  std::array<void*, kHookCount> address{};
};
bool readVtableTargets(IDXGISwapChain* swapChain, ID3D11Device* device, ID3D11DeviceContext* context,
                       VtableTargets& out);
// Creates an auxiliary device and swap chain on a hidden window of its own with create (the
// runtime's D3D11CreateDeviceAndSwapChain), reads the targets and destroys everything again.
bool discoverVtables(D3D11CreateDeviceAndSwapChainFn create, VtableTargets& out);

class Dx11Core {
 public:
  static Dx11Core& instance() noexcept {
    static Dx11Core core;
    return core;
  }
  // The same object without the first-use check, for the hottest detours: they run only once
  // the core exists (it installs them).
  static Dx11Core& existing() noexcept { return *existing_; }
  ~Dx11Core();
  Dx11Core(const Dx11Core&) = delete;
  Dx11Core& operator=(const Dx11Core&) = delete;

  // ---- life cycle (telemetry thread)
  bool initialize();
  void shutdown();
  void bootstrap();
  bool installHooks();
  void removeHooks();
  void restartGpsIdentification();

  // ---- telemetry (game's telemetry thread)
  void onEngineChannel(const scs_value_t* value) noexcept;
  void onElectricChannel(const scs_value_t* value) noexcept;
  void onPausedEvent() noexcept;
  void onStartedEvent() noexcept;
  void onConfigurationEvent(const void* eventInfo) noexcept;
  // Profile matching of the truck reported by the game.
  void applyTruckProfile(const std::string& vehicleId);
  // Render thread: the GPS screen texture was seen in use.
  void noteGpsSighting() noexcept;

  // ---- Present (render thread)
  HRESULT onPresent(IDXGISwapChain* swapChain, UINT syncInterval, UINT flags);
  bool acquireContext(IDXGISwapChain* swapChain);
  // Whether a Present is the game's frame, where ours runs: a swap chain of an ID3D11Device on the
  // adopted window. Another device there (the game made its device anew) moves everything of ours
  // onto it once it has presented a few frames in a row; until then that frame is not ours. A
  // new game window replaces the adopted one once that is gone (followGameWindow). DeviceFollow.cpp.
  bool followGameDevice(IDXGISwapChain* swapChain);
  bool followGameWindow(HWND window);
  // The game makes a swap chain for its window on another device (or on a new window once its
  // window is gone): everything of ours on the adopted device is let go of at once, so that the
  // old swap chain can go, and the next frame on the game's window adopts the new device.
  // Render thread (the thread of the game's frames); elsewhere the next frames do it as before.
  void onSwapChainCreation(HWND window, IUnknown* device);
  // The context is the adopted device's (its immediate context or a deferred one of it).
  bool onAdoptedDevice(ID3D11DeviceContext* context) const noexcept;

  // ---- draw-state and GPS detours (see the detour files)
  void onPSSetShaderResources(ID3D11DeviceContext* context, UINT startSlot, UINT numViews,
                              ID3D11ShaderResourceView* const* views);
  void onPSSetShader(ID3D11DeviceContext* context, ID3D11PixelShader* shader, ID3D11ClassInstance* const* instances,
                     UINT numInstances);
  void onIASetIndexBuffer(ID3D11DeviceContext* context, ID3D11Buffer* buffer, DXGI_FORMAT format, UINT offset);
  HRESULT onCreateTexture2D(ID3D11Device* device, const D3D11_TEXTURE2D_DESC* desc,
                            const D3D11_SUBRESOURCE_DATA* initialData, ID3D11Texture2D** texture);
  HRESULT onCreateShaderResourceView(ID3D11Device* device, ID3D11Resource* resource,
                                     const D3D11_SHADER_RESOURCE_VIEW_DESC* desc, ID3D11ShaderResourceView** view);
  void onDrawIndexed(ID3D11DeviceContext* context, UINT indexCount, UINT startIndex, INT baseVertex);
  // The PSSetShaderResources detour's first look (GpsDetours.cpp), a few loads: the binding goes
  // straight to the game's method, through the full body, or through a look at each of its
  // views - for the registered GPS views, or (identification running) also for views not known
  // to fail the plausibility filter.
  enum class BindingRoute : uint8_t { Forward, Body, ScanRegistered, ScanArmed };
  __attribute__((always_inline)) inline BindingRoute bindingRoute(UINT numViews,
                                                                   ID3D11ShaderResourceView* const* views) const
      noexcept;
  __attribute__((always_inline)) inline bool bindsRegisteredView(UINT numViews,
                                                                  ID3D11ShaderResourceView* const* views) const
      noexcept;
  __attribute__((always_inline)) inline bool bindsViewToLookAt(UINT numViews,
                                                                ID3D11ShaderResourceView* const* views) const
      noexcept;
  // PSSetShader / IASetIndexBuffer recording (the game's calls only).
  void notePixelShader(ID3D11PixelShader* shader) noexcept;
  void noteIndexBuffer(ID3D11Buffer* buffer) noexcept;
  // The same without the first-call line, false while that line is still due (the caller then
  // takes the call above).
  bool notePixelShaderFast(ID3D11PixelShader* shader) noexcept {
    if (!firstPixelShaderSeen_.load(std::memory_order_relaxed)) return false;
    currentPixelShader_.store(shader, std::memory_order_relaxed);
    return true;
  }
  bool noteIndexBufferFast(ID3D11Buffer* buffer) noexcept {
    if (!firstIASetIndexBufferSeen_.load(std::memory_order_relaxed)) return false;
    currentIndexBuffer_.store(buffer, std::memory_order_relaxed);
    return true;
  }
  // The binding detour's note of what the game binds in the dashboard screen's slot of the
  // immediate context (a sub, a compare and a store): the DrawIndexed detour skips its look at
  // the context when that view is known not to be the screen.
  void noteScreenSlotBinding(ID3D11DeviceContext* context, UINT startSlot, UINT numViews,
                             ID3D11ShaderResourceView* const* views) noexcept {
    const UINT i = kScreenSlot - startSlot;  // past the end (wrapped) when startSlot is above it
    if (i < numViews && context == contextPeek_.load(std::memory_order_relaxed)) {
      screenSlotHint_.store(views ? views[i] : nullptr, std::memory_order_relaxed);
    }
  }
  // A view was just created at this address: whatever the view cache knew about it is stale.
  void forgetView(ID3D11ShaderResourceView* view) noexcept {
    if (view) viewCache_.forget(view);
  }
  void updateDrawIndexedHook();
  void prepareDashboardResource();
  void runShaderGroupAnalysis();
  // GPS identification over one binding call (PSSetShaderResources detour, before substitution).
  void trackGpsCandidates(ID3D11DeviceContext* context, UINT startSlot, UINT numViews,
                          ID3D11ShaderResourceView* const* views);
  // Fixes the pixel shader of the size-based rule from the candidate table.
  void analyseShaderGroups();

  // ---- state read by other parts
  GameState& gameState() noexcept { return *state_; }
  const PluginConfig& config() const noexcept { return config_; }
  GpsIdentification& identification() noexcept { return ident_; }
  uint64_t frameCounter() const noexcept { return frameCounter_.load(std::memory_order_relaxed); }
  bool isInitialized() const noexcept { return initialized_.load(); }
  bool hooksInstalled() const noexcept { return hooksInstalled_.load(); }
  bool contextAcquired() const noexcept { return contextAcquired_.load(std::memory_order_acquire); }
  bool playbackActive() const noexcept { return playback_.active.load(std::memory_order_acquire); }
  ID3D11DeviceContext* immediateContext() const noexcept { return contextPeek_.load(std::memory_order_acquire); }
  void* hookTarget(Hook h) const noexcept { return targets_[static_cast<size_t>(h)].load(std::memory_order_acquire); }
  void* trampoline(Hook h) const noexcept {
    return trampolines_[static_cast<size_t>(h)].load(std::memory_order_acquire);
  }
  bool hookInstalled(Hook h) const noexcept { return installed_[static_cast<size_t>(h)].load(); }
  bool bootstrapRunning() const noexcept { return bootstrapRunning_.load(); }

  // Looks at the first bytes of Present and the binding functions (once a second on the
  // bootstrap thread, once the hooks are in). Our patch there, or another module's jump (a hook
  // on top of ours, which still leads to ours): left as it is, the latter told once. Anything
  // else means a hooker below us put its bytes back over our patch: told once, and our hook is
  // built again from the bytes now there.
  void checkHookPatches();

 private:
  friend struct Dx11CoreTestAccess;
  friend struct GpsIdentTestAccess;
  Dx11Core();
  static inline Dx11Core* existing_ = nullptr;  // set by the constructor

  struct PlaybackState {
    std::atomic<bool> active{false};
    std::atomic<bool> resumePending{false};
    bool resumeScheduled = false;  // render thread only
    uint64_t resumeDue = 0;        // steady ns, render thread only
    std::wstring title;            // written under playbackMutex_ on the render thread
    uint32_t fps = 30;
  };

  // initialize() step 2, without starting anything.
  void resetForStart();
  // Shared by initialize() and shutdown().
  void resetIdentificationAndFlags();
  bool bootstrapAttempt();
  bool installRequiredHook(Hook hook, void* detour, const char* createText, const char* enableText);
  void installOptionalHook(Hook hook, void* detour, const char* createText, const char* enableText);
  bool waitForDetours(uint64_t deadlineNs);
  void logDrainTimeout();
  // Removal of hooks already disabled and drained (the third phase of removeHooks).
  void removeDisabledHooks();
  // Shut-down after the hooks are gone: device, context, overlay, capture, replacer, engine lease.
  void releaseAfterHooks();
  // Completes a shut-down that had to leave its hooks in place for a thread still inside a
  // detour; false while such a thread is still inside.
  bool finishStrandedShutdown();
  bool sleepBetweenAttempts(uint64_t attemptEndNs);
  void releaseDeviceAndContext();

  // Present pipeline steps.
  void handlePauseEdge();
  void handleCameraReturn(bool driving);
  void handleLegacyAutoLock();
  void handleIgnitionEdge();
  void handleEngineAndResume();
  void handleStartRequest();
  void handleStopRequest();
  void handleUploadAndVisibility(bool uploadedAtBind);
  // The newest captured picture into the target's texture while it may be shown: driving,
  // calibration off, playback active, the target's resource ready. At the first bind of the
  // GPS screen in a frame (immediate context, before our view goes into the slot), else at
  // Present; once per frame either way.
  bool uploadWanted(bool dashboard) const noexcept;
  void uploadAtBind(bool dashboard);
  // Once: the sampler filters and the mip count the game draws the GPS view with.
  void logGpsSampling(ID3D11DeviceContext* context, ID3D11ShaderResourceView* gameView);
  bool startCaptureLocked(const std::wstring& title, uint32_t fps);

  // GPS identification and substitution steps (GpsCandidateTracking.cpp, GpsSubstitution.cpp).
  void confirmByFingerprint(ID3D11DeviceContext* context, ID3D11Texture2D* texture, ID3D11ShaderResourceView* view);
  void recordCandidate(ID3D11Texture2D* texture, ID3D11ShaderResourceView* view, const D3D11_TEXTURE2D_DESC& desc,
                       uint32_t slot, UINT numViews);
  void trySizeLock(ID3D11DeviceContext* context, ID3D11Texture2D* texture, ID3D11ShaderResourceView* view,
                   const D3D11_TEXTURE2D_DESC& desc, uint32_t slot);
  void confirmOverlayAtCreation(const D3D11_TEXTURE2D_DESC* desc, HRESULT result, ID3D11Texture2D** texture);
  // Registers what identification found with the replacer; context is the binding's (null at
  // creation), which decides whether the replacement is sized now or at the next Present.
  // What a bound view is (from the view cache while the CreateShaderResourceView hook keeps it
  // right, else read from the view); false when its resource is no 2D texture.
  bool describeView(ID3D11ShaderResourceView* view, ViewFacts& facts);
  bool viewCacheInUse() const noexcept {
    return installed_[static_cast<size_t>(Hook::CreateShaderResourceView)].load(std::memory_order_relaxed);
  }
  bool registerGpsResources(ID3D11Texture2D* texture, ID3D11ShaderResourceView* view, ID3D11DeviceContext* context);
  bool searchWindowEnded() const noexcept;
  // Sizes the replacement for a GPS texture confirmed at creation; runs on the render thread.
  void prepareDeferredGpsSize();
  // Makes the red diagnostic view a binding off the render thread asked for; render thread.
  void prepareDeferredRedView();
  // The DrawIndexed detour's look at slot 6 (GpsDetours.cpp).
  ID3D11ShaderResourceView* boundScreenView(ID3D11DeviceContext* context, const TruckGpsProfile& profile);
  bool hintedNotScreen(const TruckGpsProfile& profile) const noexcept;
  ID3D11ShaderResourceView* sizeRuleReplacement(ID3D11ShaderResourceView* view, uint32_t slot);
  void noteMatchedSubstitution(ID3D11DeviceContext* context, ID3D11ShaderResourceView* view, uint32_t slot,
                               UINT startSlot, UINT numViews);

  // ---- lifecycle
  std::atomic<bool> initialized_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> hooksInstalled_{false};
  std::atomic<bool> minHookReady_{false};
  std::atomic<bool> firstPresentSeen_{false};
  std::atomic<bool> contextAcquired_{false};
  std::atomic<bool> contextAcquisitionStarted_{false};
  std::atomic<bool> hooksClosing_{false};
  // A GPS texture confirmed at creation waits for the render thread to size the replacement:
  // the game may create textures on any thread, and the immediate context belongs to the
  // render thread alone.
  std::atomic<bool> gpsSizePending_{false};
  // The red diagnostic view was wanted by a binding off the render thread; made at the next Present.
  std::atomic<bool> redViewPending_{false};
  // Identification may run: the game's device is adopted and the replacer is up to take what it
  // finds (a confirmation made before would be lost for good).
  std::atomic<bool> gpsReady_{false};
  // The last shut-down left its hooks disabled but in place for a thread still inside a detour.
  std::atomic<bool> hooksStranded_{false};

  // ---- hook state
  std::array<std::atomic<bool>, kHookCount> installed_{};
  std::atomic<bool> firstPixelShaderSeen_{false};
  std::atomic<bool> firstPSSetShaderResourcesSeen_{false};
  std::atomic<bool> firstCreateTexture2DSeen_{false};
  std::atomic<bool> firstCreateShaderResourceViewSeen_{false};
  std::atomic<bool> firstIASetIndexBufferSeen_{false};

  // ---- frames presented
  std::atomic<uint64_t> frameCounter_{0};

  // ---- hook targets, trampolines
  std::array<std::atomic<void*>, kHookCount> targets_{};
  std::array<std::atomic<void*>, kHookCount> trampolines_{};

  // ---- draw state
  std::atomic<ID3D11PixelShader*> currentPixelShader_{nullptr};
  std::atomic<ID3D11Buffer*> currentIndexBuffer_{nullptr};
  std::atomic<ID3D11Buffer*> tabletMeshIndexBuffer_{nullptr};

  // ---- DrawIndexed hook
  static constexpr UINT kScreenSlot = 6;  // the dashboard screen's slot (gps/TruckGpsProfile.h)
  // The view last bound in that slot of the immediate context through the binding detour. A
  // hint, never dereferenced: calls that bypass the detour (ClearState, a state swap, a bound
  // output unbinding it) can leave it out of date, so it only ever spares the look at a view
  // known not to be the screen.
  std::atomic<ID3D11ShaderResourceView*> screenSlotHint_{nullptr};
  std::atomic<bool> drawIndexedCreated_{false};
  std::atomic<bool> drawIndexedEnabled_{false};

  // ---- truck profile resource (the rest lives in GameState; the target in gps)
  std::atomic<uint32_t> resourceProfileId_{0};

  // ---- the game's device and immediate context, written under playbackMutex_
  std::mutex playbackMutex_;
  ID3D11Device* device_ = nullptr;
  ID3D11DeviceContext* context_ = nullptr;
  std::atomic<ID3D11DeviceContext*> contextPeek_{nullptr};  // for comparisons in detours
  std::atomic<ID3D11Device*> devicePeek_{nullptr};          // the same for the device
  HWND adoptedWindow_ = nullptr;                            // the swap chain's window; render thread
  // Lets go of the adopted device, its context and all of ours on it, with the playback left to
  // restart on the next device (device_/context_ become null).
  void letGoOfAdoptedDevice();
  void forgetDeviceObjects();
  static void releaseOldDevice(ID3D11Device*& device, ID3D11DeviceContext*& context);
  std::atomic<DWORD> renderThread_{0};     // the thread of the game's last frame
  const void* followCandidate_ = nullptr;  // a new device presenting on the window (compared only)
  int followCandidateFrames_ = 0;          // its Presents since the adopted device's last one
  // The D3D11 device the game made a swap chain for on its window, after the adopted one was let
  // go of for it: adopted at its first frame, any other device only after its frames in a row
  // (compared only; render thread).
  const void* expectedDevice_ = nullptr;
  // Our mark in the adopted device's private data. A wrapper in front of the game's device (a
  // post-processing proxy) that forwards private data shows the same mark: a swap-chain creator
  // handed to us as the device behind the wrapper is then known for the adopted one.
  uint64_t adoptionMark_ = 0;
  void markAdoptedDevice(ID3D11Device* device);
  bool carriesAdoptionMark(ID3D11Device* device) const;
  static void unmarkDevice(ID3D11Device* device);

  // ---- GPS identification
  GpsIdentification ident_;
  ViewDescriptionCache viewCache_;

  // ---- bootstrap thread, then the watch over our patches (checkHookPatches)
  void watchHookPatches();
  std::mutex hookWatchMutex_;
  std::array<uint8_t, kHookCount> patchToldOf_{};  // under hookWatchMutex_: what was logged once
  std::thread bootstrapThread_;
  std::atomic<bool> bootstrapRunning_{false};
  std::mutex bootstrapMutex_;
  std::condition_variable bootstrapWake_;

  // ---- configuration copy, and the settings file it came from (empty until initialize)
  PluginConfig config_;
  std::wstring settingsPath_;

  // ---- Present pipeline
  GameState* state_;
  std::atomic<uint64_t> contextReadyTime_{0};   // steady ns
  std::atomic<uint64_t> lastShaderAnalysis_{0};  // steady ns
  std::atomic<uint64_t> stateCheckTick_{0};     // ms
  std::atomic<uint64_t> lastCameraReturnTick_{0};
  std::atomic<bool> cameraReturnInProgress_{false};
  std::atomic<bool> gpsOffscreen_{false};
  std::atomic<bool> uploadedThisFrame_{false};  // a bind of the GPS screen uploaded (or tried) this frame
  std::atomic<bool> samplingLogged_{false};
  PlaybackState playback_;
};

}  // namespace zor
