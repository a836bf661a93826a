// Owner of every GPU object the plugin shows in the game: the replacement texture and view put
// in place of the tablet GPS screen, the private dashboard resource, the red diagnostic
// resource and the red start-up test texture. It also keeps the GPS textures and views that
// identification registered and answers, per binding, which view to bind instead.
#pragma once

#include <d3d11.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "core/ComRef.h"
#include "gps/GpsPatterns.h"

namespace zor {

// The unhooked ID3D11Device::CreateTexture2D entry.
using CreateTexture2DFn = HRESULT(STDMETHODCALLTYPE*)(ID3D11Device*, const D3D11_TEXTURE2D_DESC*,
                                                     const D3D11_SUBRESOURCE_DATA*, ID3D11Texture2D**);

struct GpsMatchCounters {
  std::atomic<uint64_t> matchesByView{0};
  std::atomic<uint64_t> matchesByTexture{0};  // reported only; nothing raises it
};
GpsMatchCounters& gpsMatchCounters() noexcept;

class GpsTextureReplacer {
 public:
  static constexpr size_t kMaxTracked = 24;

  static GpsTextureReplacer& instance() noexcept;
  ~GpsTextureReplacer();

  // At context acquisition; effective once until close().
  void initialize();
  // Keeps its own references to the device and its immediate context and makes sure a
  // replacement exists (the visual pattern when none does).
  bool attachDevice(ID3D11Device* device);
  // Unhooked CreateTexture2D used for the textures created here (nullptr: the device's own).
  void setCreateTexture2D(CreateTexture2DFn fn);

  void registerGpsTexture(ID3D11Texture2D* texture);
  void registerGpsView(ID3D11ShaderResourceView* view);
  // The replacement view with a reference added for the caller, or nullptr.
  ID3D11ShaderResourceView* findReplacement(ID3D11ShaderResourceView* view);

  bool prepareForGpsSize();
  bool createForConfiguredSize(uint32_t width, uint32_t height);
  bool createDashboardResource(uint32_t width, uint32_t height);
  void releaseDashboardResource();
  // No reference added.
  ID3D11ShaderResourceView* getRedDiagnosticView();
  // The same with a reference added under the lock, for a caller that binds it while another
  // thread may release the red resources (a truck change).
  ID3D11ShaderResourceView* redDiagnosticViewRef();
  // The red view with a reference added when it exists already; never makes it (for callers
  // that must not write through the immediate context).
  ID3D11ShaderResourceView* readyRedDiagnosticViewRef();

  // The 1024 x 512 red test texture made right after the context is acquired; held until the
  // graphics core shuts down and releases it.
  bool createRedTestTexture(ID3D11Device* device);
  void releaseRedTestTexture();

  void releaseTracked();
  void releaseAll();
  void close();

  // Frame upload (render thread, immediate context): under the lock, when a context and the
  // target's texture (the dashboard resource or the replacement) exist, write(texture, arg)
  // fills its mip 0 and returns whether it wrote a new frame; the mips are then regenerated.
  // With liftPredication, the game's predicate is cleared around both and set again after.
  // Returns whether a frame was written.
  using FrameWriter = bool (*)(ID3D11Texture2D* texture, void* arg);
  bool writeTargetFrame(bool dashboard, FrameWriter write, void* arg, bool liftPredication = false);
  // Changes whenever a texture of ours is made or gets its test pattern back: what was written
  // into the old content (the capture's black bars) must be written again.
  uint64_t contentEpoch() const noexcept { return contentEpoch_.load(std::memory_order_acquire); }

  // Render thread: the replacement and the dashboard resource show their test pattern again
  // (calibration back on after captured frames were written into them).
  void restoreTestPatterns();

  // Stamps a substitution made elsewhere (dashboard draw).
  void noteReplacement() noexcept;
  bool replacedWithin(uint64_t milliseconds) const noexcept;
  uint64_t msSinceLastReplacement() const noexcept;
  uint64_t lastReplacementTick() const noexcept { return lastReplacementTick_.load(std::memory_order_acquire); }
  uint64_t replacementCount() const noexcept { return replacementCount_.load(std::memory_order_acquire); }
  bool isInitialized() const noexcept { return initialized_.load(std::memory_order_acquire); }
  size_t trackedTextureCount();
  // Tracked textures, tracked views, replacement texture and view all exist.
  bool trackingComplete();

  // Current replacement view, read under the lock; no reference added.
  ID3D11ShaderResourceView* currentReplacementView();
  // Dashboard view without the lock (render-thread readers only); no reference added.
  ID3D11ShaderResourceView* dashboardViewUnlocked() const noexcept { return dashboardViewPeek_.load(std::memory_order_acquire); }

  // References added for the caller (diagnostics and tests).
  ID3D11Texture2D* replacementTextureRef();
  ID3D11ShaderResourceView* replacementViewRef();
  ID3D11Texture2D* dashboardTextureRef();
  ID3D11Texture2D* redTestTextureRef();
  ID3D11ShaderResourceView* redTestViewRef();
  ID3D11Texture2D* currentGpsTexture();  // no reference added
  // The direct pattern prepared for the current GPS texture (copy).
  std::vector<uint32_t> directPattern(uint32_t* width, uint32_t* height, uint32_t* format);

 private:
  GpsTextureReplacer() = default;

  // One texture of ours with its shader view; both references owned.
  struct OwnedTexture {
    ComRef<ID3D11Texture2D> texture;
    ComRef<ID3D11ShaderResourceView> view;
    bool ready() const noexcept { return texture && view; }
    void release() noexcept {
      view.reset();
      texture.reset();
    }
  };
  // How one kind of texture of ours is made.
  struct TextureRecipe {
    D3D11_TEXTURE2D_DESC desc;
    DXGI_FORMAT viewFormat;
    UINT viewMips;
    const uint32_t* pixels;  // mip 0, 4 bytes a texel, rows of desc.Width
    bool initialData;        // given at creation as well as written afterwards
    bool writePixels;        // written with UpdateSubresource after creation
    bool generateMips;
    bool unhookedCreate;     // through the unhooked CreateTexture2D when we have it
    const char* textureFailed;  // logged on failure; null: not logged (the caller thins its reports)
    const char* viewFailed;
  };

  ID3D11ShaderResourceView* redDiagnosticViewLocked();
  void releaseAllLocked();
  void releaseTrackedLocked();
  void writeReadyLineIfDue();
  bool createVisualPatternLocked();
  bool recreateCheckerLocked(OwnedTexture& slot, uint32_t width, uint32_t height, const char* textureFailed,
                             const char* viewFailed);
  // Creates recipe's texture and view on device (the replacer's own when null) into out,
  // releasing what out held only on success. Logs the recipe's failure text on failure.
  bool createOwned(const TextureRecipe& recipe, OwnedTexture& out, ID3D11Device* device = nullptr);
  HRESULT createTexture(const D3D11_TEXTURE2D_DESC& desc, const D3D11_SUBRESOURCE_DATA* init, ID3D11Texture2D** out);
  bool hasSize(ID3D11Texture2D* texture, uint32_t width, uint32_t height, DXGI_FORMAT format);
  bool isTracked(ID3D11ShaderResourceView* view) const;
  void publishDashboardView() noexcept;

  std::mutex mutex_;
  std::atomic<bool> initialized_{false};
  std::atomic<uint64_t> replacementCount_{0};
  std::atomic<uint64_t> lastReplacementTick_{0};
  std::atomic<uint64_t> contentEpoch_{1};
  ComRef<ID3D11Device> device_;
  CreateTexture2DFn createTexture2D_ = nullptr;
  ComRef<ID3D11DeviceContext> context_;
  ID3D11Texture2D* currentGpsTexture_ = nullptr;       // no own reference
  ID3D11ShaderResourceView* currentGpsView_ = nullptr;  // no own reference
  std::vector<ComRef<ID3D11Texture2D>> trackedTextures_;
  std::vector<ComRef<ID3D11ShaderResourceView>> trackedViews_;
  OwnedTexture replacement_;
  OwnedTexture dashboard_;
  std::atomic<ID3D11ShaderResourceView*> dashboardViewPeek_{nullptr};
  uint64_t dashboardFailures_ = 0;  // failed creations in a row
  OwnedTexture red_;
  OwnedTexture redTest_;
  std::vector<uint32_t> directPattern_;
  uint32_t directWidth_ = 0;
  uint32_t directHeight_ = 0;
  uint32_t directFormat_ = 0;
  uint64_t directWriteCount_ = 0;
  bool readyLogged_ = false;
};

}  // namespace zor
