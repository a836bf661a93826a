// The bootstrap thread: waits for the game's graphics runtimes and main window, takes a census
// of the adapters, discovers the method addresses on an auxiliary device and installs the hooks.
#include <windows.h>
// After windows.h.
#include <dxgi1_2.h>

#include <chrono>
#include <string>

#include "core/Clock.h"
#include "core/Logger.h"
#include "core/ComRef.h"
#include "dx11/Dx11Core.h"
#include "core/HookApi.h"

namespace zor {

namespace {

constexpr uint64_t kAttemptPauseNs = 250'000'000ull;
constexpr wchar_t kDiscoveryClass[] = L"ZorTabcast.SwapChainDiscoveryWindow";

struct WindowSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK matchGameWindow(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  if (!isGameWindow(hwnd, search->processId)) return TRUE;
  search->found = hwnd;
  return FALSE;
}

void* vtableEntry(void* object, size_t slot) { return (*reinterpret_cast<void***>(object))[slot]; }

std::string adapterNameUtf8(const wchar_t* description) {
  char buf[128] = {};
  int n = WideCharToMultiByte(CP_UTF8, 0, description, -1, buf, sizeof buf, nullptr, nullptr);
  if (n <= 0) {
    // Longer than the buffer: convert whole, then cut at 127 bytes without splitting a character.
    int need = WideCharToMultiByte(CP_UTF8, 0, description, -1, nullptr, 0, nullptr, nullptr);
    if (need <= 0) return {};
    std::string full(static_cast<size_t>(need), '\0');
    WideCharToMultiByte(CP_UTF8, 0, description, -1, full.data(), need, nullptr, nullptr);
    full.resize(full.size() - 1);
    size_t cut = full.size() < 127 ? full.size() : 127;
    while (cut > 0 && cut < full.size() && (static_cast<unsigned char>(full[cut]) & 0xC0) == 0x80) --cut;
    return full.substr(0, cut);
  }
  return std::string(buf);
}

}  // namespace

bool isGameWindow(HWND hwnd, DWORD processId) {
  DWORD pid = 0;
  if (!hwnd || !GetWindowThreadProcessId(hwnd, &pid) || pid != processId) return false;
  if (!IsWindowVisible(hwnd) || GetWindow(hwnd, GW_OWNER) != nullptr) return false;
  if (GetAncestor(hwnd, GA_ROOT) != hwnd) return false;
  RECT rc{};
  if (!GetClientRect(hwnd, &rc)) return false;
  return rc.right - rc.left >= 320 && rc.bottom - rc.top >= 200;
}

HWND findGameWindow(DWORD processId) {
  WindowSearch search{processId, nullptr};
  EnumWindows(&matchGameWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool readVtableTargets(IDXGISwapChain* swapChain, ID3D11Device* device, ID3D11DeviceContext* context,
                       VtableTargets& out) {
  if (!swapChain || !device || !context) return false;
  auto set = [&out](Hook h, void* p) { out.address[static_cast<size_t>(h)] = p; };
  set(Hook::Present, vtableEntry(swapChain, 8));
  set(Hook::ResizeBuffers, vtableEntry(swapChain, 13));
  set(Hook::PSSetShaderResources, vtableEntry(context, 8));
  set(Hook::PSSetShader, vtableEntry(context, 9));
  set(Hook::DrawIndexed, vtableEntry(context, 12));
  set(Hook::IASetIndexBuffer, vtableEntry(context, 19));
  set(Hook::CreateTexture2D, vtableEntry(device, 5));
  set(Hook::CreateShaderResourceView, vtableEntry(device, 7));
  for (size_t i = 0; i < static_cast<size_t>(Hook::CreateSwapChain); ++i) {
    if (!out.address[i]) return false;
  }
  // The factory's: a new swap chain of the game's is seen as it is made.
  ComRef<IDXGIFactory> factory;
  if (SUCCEEDED(swapChain->GetParent(__uuidof(IDXGIFactory), reinterpret_cast<void**>(factory.put()))) && factory) {
    set(Hook::CreateSwapChain, vtableEntry(factory.get(), 10));
    ComRef<IDXGIFactory2> factory2;
    if (SUCCEEDED(factory->QueryInterface(__uuidof(IDXGIFactory2), reinterpret_cast<void**>(factory2.put()))) &&
        factory2) {
      set(Hook::CreateSwapChainForHwnd, vtableEntry(factory2.get(), 15));
    }
  }
  return true;
}

bool discoverVtables(D3D11CreateDeviceAndSwapChainFn create, VtableTargets& out) {
  if (!create) return false;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance;
  wc.lpszClassName = kDiscoveryClass;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

  bool ok = false;
  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, kDiscoveryClass, L"Zor DX11 Discovery", WS_POPUP, 0, 0, 100, 100,
                                nullptr, nullptr, instance, nullptr);
  if (window) {
    DXGI_SWAP_CHAIN_DESC sd{};
    sd.BufferDesc.Width = 100;
    sd.BufferDesc.Height = 100;
    sd.BufferDesc.RefreshRate.Numerator = 0;
    sd.BufferDesc.RefreshRate.Denominator = 0;
    sd.BufferDesc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    sd.SampleDesc.Count = 1;
    sd.SampleDesc.Quality = 0;
    sd.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    sd.BufferCount = 1;
    sd.OutputWindow = window;
    sd.Windowed = TRUE;
    sd.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;
    sd.Flags = 0;
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                        D3D_FEATURE_LEVEL_10_0};
    ComRef<IDXGISwapChain> swapChain;
    ComRef<ID3D11Device> device;
    ComRef<ID3D11DeviceContext> context;
    D3D_FEATURE_LEVEL got{};
    HRESULT hr = create(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, levels, 4, D3D11_SDK_VERSION, &sd,
                        swapChain.put(), device.put(), &got, context.put());
    if (hr == E_INVALIDARG) {
      hr = create(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, levels + 1, 3, D3D11_SDK_VERSION, &sd,
                  swapChain.put(), device.put(), &got, context.put());
    }
    if (SUCCEEDED(hr)) ok = readVtableTargets(swapChain.get(), device.get(), context.get(), out);
    // The auxiliary objects go before their window.
    context.reset();
    device.reset();
    swapChain.reset();
    DestroyWindow(window);
  }
  UnregisterClassW(kDiscoveryClass, instance);
  return ok;
}

bool Dx11Core::sleepBetweenAttempts(uint64_t attemptEndNs) {
  std::unique_lock<std::mutex> lock(bootstrapMutex_);
  const uint64_t due = attemptEndNs + kAttemptPauseNs;
  for (;;) {
    if (stopRequested_.load()) return false;
    const uint64_t now = clock::steadyNs();
    if (now >= due) return true;
    const uint64_t waitMs = (due - now + 999'999ull) / 1'000'000ull;
    bootstrapWake_.wait_for(lock, std::chrono::milliseconds(waitMs));
  }
}

void Dx11Core::bootstrap() {
  if (stopRequested_.load()) return;
  for (;;) {
    bool done = false;
    try {
      done = bootstrapAttempt();
    } catch (...) {
      done = false;
    }
    if (done) {
      // The hooks are in: this thread now keeps an eye on them until shut-down.
      bootstrapRunning_.store(false);
      watchHookPatches();
      return;
    }
    if (!sleepBetweenAttempts(clock::steadyNs())) return;
  }
}

bool Dx11Core::bootstrapAttempt() {
  // 1. The runtimes the game loaded (never loaded by us).
  HMODULE dxgi = GetModuleHandleW(L"dxgi.dll");
  HMODULE d3d11 = GetModuleHandleW(L"d3d11.dll");
  if (!dxgi || !d3d11) return false;

  // 2-3. Entry points.
  auto createDevice = reinterpret_cast<D3D11CreateDeviceFn>(GetProcAddress(d3d11, "D3D11CreateDevice"));
  auto createDeviceAndSwapChain =
      reinterpret_cast<D3D11CreateDeviceAndSwapChainFn>(GetProcAddress(d3d11, "D3D11CreateDeviceAndSwapChain"));
  auto createFactory = reinterpret_cast<CreateDXGIFactory1Fn>(GetProcAddress(dxgi, "CreateDXGIFactory1"));
  if (!createDevice || !createFactory || !createDeviceAndSwapChain) {
    logError(
        "V1.1.0: los runtimes DX11 estan cargados, pero no fue posible resolver D3D11CreateDevice/CreateDXGIFactory1.");
    return false;
  }

  // 4-5. The hook engine (a lease of the graphics core; other parts hold their own).
  MH_STATUS st = acquireHookEngine(HookOwner::Graphics);
  if (st != MH_OK) {
    logError(std::string("V1.1.0: MH_Initialize fallo: ") + hookStatusText(st));
    return false;
  }
  minHookReady_.store(true);

  // 6. The game's main window.
  HWND window = findGameWindow(GetCurrentProcessId());
  if (!window) {
    logError("V1.1.0: runtime DX11 listo, pero no se encontro una ventana principal valida de ATS.");
    return false;
  }

  // 7. Adapter census.
  ComRef<IDXGIFactory1> factory;
  HRESULT hr = createFactory(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(factory.put()));
  if (FAILED(hr) || !factory) {
    logError("V1.1.0: CreateDXGIFactory1 fallo durante la observacion de DXGI.");
    return false;
  }
  UINT adapters = 0, outputs = 0;
  bool haveName = false;
  std::string adapterName;
  for (UINT i = 0;; ++i) {
    ComRef<IDXGIAdapter1> adapter;
    hr = factory->EnumAdapters1(i, adapter.put());
    if (hr == DXGI_ERROR_NOT_FOUND || FAILED(hr) || !adapter) break;
    ++adapters;
    if (!haveName) {
      DXGI_ADAPTER_DESC1 desc{};
      if (SUCCEEDED(adapter->GetDesc1(&desc))) {
        haveName = true;
        adapterName = adapterNameUtf8(desc.Description);
      }
    }
    for (UINT o = 0;; ++o) {
      ComRef<IDXGIOutput> output;
      hr = adapter->EnumOutputs(o, output.put());
      if (hr == DXGI_ERROR_NOT_FOUND || FAILED(hr) || !output) break;
      ++outputs;
    }
  }
  factory.reset();

  // 8-10. Report.
  RECT rc{};
  GetClientRect(window, &rc);
  if (!haveName) adapterName = "desconocido";
  {
    char line[512];
    wsprintfA(line,
              "V1.1.0: bootstrap correcto. MinHook listo, HWND=0x%p, cliente=%ldx%ld, adaptadores=%u, salidas=%u, "
              "adaptador principal=%s. Preparando descubrimiento de Present; el swap chain auxiliar se crea y libera "
              "de forma aislada.",
              window, static_cast<long>(rc.right - rc.left), static_cast<long>(rc.bottom - rc.top), adapters, outputs,
              adapterName.c_str());
    logInfo(line);
  }

  // 11-12. Discovery.
  VtableTargets found;
  if (!discoverVtables(createDeviceAndSwapChain, found)) {
    logError(
        "V1.3.3: no fue posible descubrir Present, ResizeBuffers o PSSetShaderResources. No se instalaron hooks.");
    return false;
  }
  for (size_t i = 0; i < kHookCount; ++i) targets_[i].store(found.address[i]);
  {
    char line[320];
    wsprintfA(line,
              "V1.3.3: VTables descubiertas. Present=0x%p, ResizeBuffers=0x%p, PSSetShaderResources=0x%p. Se "
              "instalaran Present y PSSetShaderResources.",
              found.address[static_cast<size_t>(Hook::Present)],
              found.address[static_cast<size_t>(Hook::ResizeBuffers)],
              found.address[static_cast<size_t>(Hook::PSSetShaderResources)]);
    logInfo(line);
  }

  // 13. Hooks.
  if (installHooks()) {
    logInfo(
        "V1.3.3: hooks de Present y PSSetShaderResources instalados. Se filtraran candidatos GPS y se medira su "
        "frecuencia sin reemplazar ni modificar SRV.");
    return true;
  }
  logError("V1.3.3: no fue posible instalar los hooks de Present y PSSetShaderResources.");
  return false;
}

}  // namespace zor
