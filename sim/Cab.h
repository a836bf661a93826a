// The game's window, device and cab scene. Every frame renders the game's map into the
// tablet GPS texture, then draws the cab: windshield, dashboard body, the truck's other
// instrument, the dashboard GPS screen, the tablet (two passes over its screen) and presents.
#pragma once

#include <d3d11.h>
#include <windows.h>
#include <wrl/client.h>

#include <functional>
#include <string>
#include <vector>

#include "Probe.h"
#include "Trucks.h"

namespace zor::sim {

using Microsoft::WRL::ComPtr;

// One DrawIndexed as the scene issued it, with the state the context really had.
struct DrawRecord {
  std::string object;
  UINT indexCount = 0;
  std::string pixelShader;
  std::string indexBuffer;
  bool hasSlot6 = false;
  D3D11_TEXTURE2D_DESC slot6{};  // texture of the view the scene bound in slot 6
  bool slot6Replaced = false;    // the context held another view after the scene bound its own
};

// Points of a frame at which a scenario can act (start the plugin) while the frame is drawn.
enum class FramePoint { None, BeforeTablet, AfterTablet };

struct FrameCapture {
  std::vector<uint8_t> rgba;
  int width = 0, height = 0;
  Image image() const { return Image{rgba.data(), width, height, width * 4}; }
};

class Cab {
 public:
  bool create(int width, int height, std::string& error);
  void destroy();
  HWND window() const { return window_; }
  int width() const { return width_; }
  int height() const { return height_; }
  bool closedByUser() const { return closed_; }
  // The game window's client area and the swap chain's buffers to this size (ResizeBuffers).
  bool resize(int width, int height, std::string& error);

  // The game makes its device and swap chain anew on the same window at the current size (a
  // change of graphics settings, a lost device): everything made on the old device is released
  // first, and a loaded cab is loaded again through the engine's texture queue. Frame count,
  // truck, speed and distance stay. othersHolding: the references to the old device that others
  // than the cab still hold (the simulator keeps two of its own until releaseRetiredDevice, so a
  // Release too many by someone else shows as a negative count instead of a device freed under
  // its holders).
  bool recreateDevice(long& othersHolding, std::string& error);
  // The same on a new window: the game destroys its window and makes another (a change of
  // display mode), with a new device and swap chain on it.
  bool recreateWindow(long& othersHolding, std::string& error);
  long retiredDeviceHolders() const;
  bool hasRetiredDevice() const { return retiredDevice_ != nullptr; }
  // Lets go of the old device: what its last Release returned (0: it is gone). A device someone
  // released too often is left alone (nothing may free it twice).
  unsigned long releaseRetiredDevice();

  // Loads the cab: its textures go through the engine's texture queue first.
  bool loadCab(std::string& error);
  bool cabLoaded() const { return cabLoaded_; }
  bool setTruck(const TruckModel& truck, std::string& error);
  const TruckModel& truck() const { return *truck_; }
  void setSpeed(int kmh) { speedKmh_ = kmh; }

  // Pumps the window's messages; false once the window is gone.
  bool pumpMessages();
  // Renders and presents one frame; reads the back buffer back before Present when asked.
  bool renderFrame(FrameCapture* capture, std::vector<DrawRecord>* trace, std::string& error);
  unsigned long long frameCount() const { return frames_; }
  // Presents after which the context no longer had the game's render target and depth view bound.
  unsigned long long targetsChangedByPresent() const { return targetsChanged_; }
  // Whether the swap chain's Present no longer starts with the bytes it had when it was made
  // (a plugin has patched it).
  bool presentPatched() const;
  IDXGISwapChain* swapChain() const { return swapChain_.Get(); }
  // The same for the immediate context's DrawIndexed.
  bool drawIndexedPatched() const;
  // The context's IASetIndexBuffer is patched: the plugin's start-up hooks are all in.
  bool drawStatePatched() const;
  // Whether both Present and the context's PSSetShaderResources have been patched.
  bool bindingHooksPatched() const;
  // Runs `action` once, at that point of the next frame drawn with the cab (before the tablet
  // screen's first draw, or after its last one, just before Present).
  void atFramePoint(FramePoint point, std::function<void()> action);

  // Pixel rectangle of a named region of the frame (false for unknown names).
  bool regionRect(const std::string& name, Rect& out) const;

  // While kept, every frame remembers the view the context really held in slot 6 when the tablet
  // screen was drawn (the plugin's replacement when it substitutes one).
  void keepTabletView(bool keep) { keepTabletView_ = keep, tabletView_.Reset(); }
  ID3D11ShaderResourceView* tabletView() const { return tabletView_.Get(); }
  ID3D11ShaderResourceView* ownTabletView() const { return tablet_.srv.Get(); }
  // The top mip of a 32-bit texture, rows top first, bytes as stored (false when unreadable).
  bool readTopMip(ID3D11Texture2D* texture, FrameCapture& out, std::string& error);

 private:
  struct Texture {
    ComPtr<ID3D11Texture2D> tex;
    ComPtr<ID3D11ShaderResourceView> srv;
    ComPtr<ID3D11RenderTargetView> rtv;
  };
  struct Mesh {
    ComPtr<ID3D11Buffer> vb, ib;
    UINT indexCount = 0;
    std::string name;
  };

  // The device, swap chain and everything the scene draws with, at width_ x height_.
  bool createWindow(std::string& error);
  bool createDevice(std::string& error);
  void retireDevice(long& othersHolding);
  void releaseDevice();
  bool compileShaders(std::string& error);
  bool makeBackBufferViews(std::string& error);
  bool makeTexture(UINT w, UINT h, UINT mips, DXGI_FORMAT fmt, UINT bind, UINT misc, const std::vector<uint32_t>* pixels,
                   Texture& out, std::string& error);
  // bottomUp: the texture's first row is shown at the bottom (the cab's screens read their
  // pictures that way, as a GDI bottom-up bitmap stores them).
  bool makeMesh(const char* name, float x0, float y0, float x1, float y1, UINT quads, Mesh& out, std::string& error,
                bool bottomUp = false);
  bool makeDashboardTextures(std::string& error);
  void runAction(FramePoint point);
  void draw(std::vector<DrawRecord>* trace, const char* object, const Mesh& mesh, ID3D11PixelShader* ps,
            const char* psName, ID3D11ShaderResourceView* slot6, const D3D11_TEXTURE2D_DESC* slot6Desc);
  static LRESULT CALLBACK wndProc(HWND, UINT, WPARAM, LPARAM);

  HWND window_ = nullptr;
  bool closed_ = false;
  int width_ = 0, height_ = 0;
  ComPtr<ID3D11Device> device_;
  ComPtr<ID3D11DeviceContext> context_;
  ComPtr<IDXGISwapChain> swapChain_;
  ComPtr<ID3D11Device> retiredDevice_;  // the device before the last recreateDevice
  // Its swap chain, kept as long as the device: Wine's wined3d keeps a pointer to the last swap
  // chain each of a device's contexts drew to, and a device used after that swap chain is gone
  // reads freed memory (a crash inside wined3d_context_gl_activate, seen in a chaos run after a
  // holder of the old device let go of its textures). Windows has no such fault.
  ComPtr<IDXGISwapChain> retiredSwapChain_;
  unsigned char presentEntry_[8] = {};
  unsigned char bindEntry_[8] = {};
  FramePoint actionPoint_ = FramePoint::None;
  std::function<void()> action_;
  unsigned char drawIndexedEntry_[8] = {};
  unsigned char indexBufferEntry_[8] = {};
  ComPtr<ID3D11RenderTargetView> backBufferRtv_;
  ComPtr<ID3D11Texture2D> depth_;
  ComPtr<ID3D11DepthStencilView> depthView_;  // bound with the back buffer at Present
  unsigned long long targetsChanged_ = 0;
  ComPtr<ID3D11Texture2D> backBuffer_, staging_;
  ComPtr<ID3D11VertexShader> vs_;
  ComPtr<ID3D11InputLayout> layout_;
  ComPtr<ID3D11PixelShader> psSolid_, psWindshield_, psPanel_, psBezel_, psMap_, psScreen_, psGlass_;
  ComPtr<ID3D11SamplerState> sampler_;
  ComPtr<ID3D11BlendState> opaque_, alpha_;
  ComPtr<ID3D11RasterizerState> raster_;
  ComPtr<ID3D11Buffer> constants_;

  Texture sky_, panel_, detail_, bezel_, icons_, environment_;  // scenery, in slots 0-3 and 5
  Texture tablet_;                                            // the tablet GPS (map render target)
  Texture dashboard_, instrument_;                            // the truck's screens, slot 6
  D3D11_TEXTURE2D_DESC tabletDesc_{}, dashboardDesc_{}, instrumentDesc_{};
  Mesh fullQuad_, mapQuad_, windshield_, panelMesh_, bezelMesh_, tabletMesh_, loadingBar_, dashboardMesh_, instrumentMesh_;

  bool keepTabletView_ = false;
  ComPtr<ID3D11ShaderResourceView> tabletView_;
  bool cabLoaded_ = false;
  const TruckModel* truck_ = nullptr;
  int speedKmh_ = 0;
  double distance_ = 0;
  unsigned long long frames_ = 0;
  unsigned long long lastFrameMs_ = 0;
};

}  // namespace zor::sim
