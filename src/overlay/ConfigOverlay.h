// The in-game panel's host: the ImGui context with its Win32 and Direct3D 11 backends, the
// game window's procedure, Ctrl+F8, the input lock while the panel is shown, and the panel
// drawn into the back buffer right before the game's Present.
#pragma once

#include <d3d11.h>
#include <dxgi.h>
#include <windows.h>

#include "overlay/InputLock.h"

struct ImGuiContext;

namespace zor {

class ConfigOverlay {
 public:
  static ConfigOverlay& instance() noexcept;

  // Called once by the Present hook when the game's device, context and window are known.
  bool initialize(HWND window, ID3D11Device* device, ID3D11DeviceContext* context);
  // Every Present, right before the game's Present; nothing until initialised.
  void renderFrame(IDXGISwapChain* swapChain);
  // The game made its device anew: ImGui's renderer lets go of the old device now, the panel
  // shown or not, and starts on the new one (the graphics core calls it when it follows the
  // device); nothing unless initialised.
  void followGameDevice(ID3D11Device* device, ID3D11DeviceContext* immediate);
  // The game is done with the device ImGui's renderer runs on: the renderer lets go of it now
  // and starts again on the device of the next frame it draws.
  void releaseRenderer();
  // The game made a new window (the old one is gone): the window procedure and ImGui's Win32
  // backend move onto it, and a panel left shown on the old window is closed; nothing unless
  // initialised.
  void followGameWindow(HWND window);
  // Tear-down; nothing unless initialised.
  void shutdown();
  // Gives the game its mouse, keys and cursor back at once (the panel is hidden, the input lock
  // off), for a shut-down that has to leave the overlay's hooks and procedure in place.
  void releaseInput();

  bool isInitialized() const noexcept;
  bool panelVisible() const noexcept;
  bool wizardVisible() const noexcept;
  HWND gameWindow() const noexcept;
  InputLockHooks inputLockHooks() const noexcept { return installedInputLockHooks(); }
  // The window procedure had to be left in the chain at the last shut-down (and the module
  // pinned).
  bool leftInWindowChain() const noexcept { return leftInChain_; }

  // Where key and mouse-button states are read: GetAsyncKeyState unless a test puts another
  // source in place (nullptr restores it).
  using KeyStateFn = SHORT(WINAPI*)(int virtualKey);
  static void setKeyStateSource(KeyStateFn source) noexcept;
  // Where ImGui's Win32 backend is started on a window: ImGui_ImplWin32_Init unless a test puts
  // another in place (nullptr restores it).
  using PlatformStartFn = bool (*)(void* window);
  static void setPlatformStart(PlatformStartFn start) noexcept;

 private:
  ConfigOverlay();
  ~ConfigOverlay();
  ConfigOverlay(const ConfigOverlay&) = delete;
  ConfigOverlay& operator=(const ConfigOverlay&) = delete;

  void sampleToggle();
  void keepWindowProcedure();
  void setVisible(bool visible);
  void pollMouse();
  void drawFrameContents();
  // Starts ImGui's renderer on the device of this frame when it is not the one it runs on.
  bool followDevice(ID3D11Device* device, ID3D11DeviceContext* immediate);
  // Starts ImGui's Win32 backend on the game's window again after a start that failed there.
  void retryPlatform();

  ImGuiContext* context_ = nullptr;
  ID3D11Device* rendererDevice_ = nullptr;  // the device ImGui's renderer holds (compared only)
  // A device it could not start on (not retried while the graphics core keeps it; compared only).
  ID3D11Device* refusedDevice_ = nullptr;
  bool platformReady_ = false;              // ImGui's Win32 backend runs on the game's window
  bool platformRetry_ = false;              // its start on a new window failed: tried again each frame
  bool setupCompleted_ = false;
  bool firstRunLoaded_ = false;
  int wizardStep_ = 0;
  // The panel key's last sampled state, and which key that was (the player may change it).
  SHORT previousToggleKey_ = 0;
  uint8_t toggleKey_ = 0;
  bool typingInPanel_ = false;  // a text field of the panel had the keyboard in the last frame
  bool previousLeftButton_ = false;
  bool previousRightButton_ = false;
  bool justShown_ = false;
  bool holdsHookLease_ = false;
  bool leftInChain_ = false;
};

}  // namespace zor
