// The capture engine's costs, each as a ratio against a baseline timed in the same run
// (median of alternating rounds):
//  - the worker's cost per frame at 1024x1024 and 1280x720 output, split into its steps, against
//    the floor of one BitBlt of the same window plus one copy of the frame (and against BitBlt
//    plus one copy of the painted pixels, the one pass over them any hand-off must make); for the
//    media program (a process of its own: PrintWindow paints nothing there, the device-context
//    copy serves it)
//    at 1280x720 and at 1920x1080, and for a 960x540 window of this process (PrintWindow paints
//    it); the worker as it was before (PrintWindow every frame, area average) and as it is, with
//    the PrintWindow calls and the worker thread's heap allocations per frame;
//  - the render thread's uploadLatestFrame + GenerateMips for a new frame and for a Present
//    without one (GPU work counted), against one Present of the game's 1280x720 swap chain;
//  - the black test of a painted window against the paint it guards;
//  - the scaling step alone (the frame scaler from a painted surface into a frame) against
//    StretchBlt COLORONCOLOR between two DIB sections of the same sizes, and against the whole
//    step it replaces (PatBlt, StretchBlt and the copy of the frame into a slot).
#include <d3d11.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "BenchKit.h"
#include "CaptureBenchKit.h"
#include "capture/BlackSamples.h"
#include "capture/FrameScaler.h"
#include "capture/GdiWindowCapture.h"
#include "core/ComRef.h"
#include "core/Clock.h"

using namespace zor;

// Heap allocations made on one thread (the capture worker's, while a row counts them).
namespace {
std::atomic<DWORD> g_countedThread{0};
std::atomic<uint64_t> g_allocations{0};
}  // namespace

void* operator new(size_t size) {
  if (g_countedThread.load(std::memory_order_relaxed) == GetCurrentThreadId()) g_allocations.fetch_add(1);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // this operator new takes its memory from malloc
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

constexpr int kRounds = 7;

bench::HandClock g_clock;
using bench::finishGpu;
using bench::gpsTexture;
using bench::workerFrame;

struct Program {
  PROCESS_INFORMATION pi{};
  HWND window = nullptr;
};

HWND findWindowOf(DWORD pid) {
  struct S {
    DWORD pid;
    HWND found;
  } s{pid, nullptr};
  EnumWindows(
      [](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<S*>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(h, &owner);
        if (owner != s->pid || !IsWindowVisible(h)) return TRUE;
        s->found = h;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.found;
}

// The media program at the top-left corner: its moving picture, or its still chart (frameless),
// at the given size.
bool startProgram(const std::wstring& title, Program& p, const wchar_t* size, bool chart = false) {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring exe(path);
  exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"zor_media.exe";
  std::wstring cmd = L"\"" + exe + L"\" --title \"" + title + L"\" --x 0 --y 0 " + (chart ? L"--chart " : L"") + size;
  STARTUPINFOW si{sizeof si};
  if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si, &p.pi))
    return false;
  for (int i = 0; i < 500 && !p.window; ++i) {
    Sleep(20);
    p.window = findWindowOf(p.pi.dwProcessId);
  }
  if (p.window) SetWindowPos(p.window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  return p.window != nullptr;
}

void stopProgram(Program& p) {
  if (p.window) PostMessageW(p.window, WM_CLOSE, 0, 0);
  if (p.pi.hProcess) {
    if (WaitForSingleObject(p.pi.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(p.pi.hProcess, 1);
    CloseHandle(p.pi.hProcess);
    CloseHandle(p.pi.hThread);
  }
}

// A window of this process painting colour bars on its own thread (PrintWindow paints it).
LRESULT CALLBACK ownProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_PAINT || msg == WM_PRINTCLIENT) {
    PAINTSTRUCT ps{};
    HDC dc = msg == WM_PAINT ? BeginPaint(h, &ps) : reinterpret_cast<HDC>(wp);
    RECT rc;
    GetClientRect(h, &rc);
    for (int i = 0; i < 6; ++i) {
      RECT bar{rc.right * i / 6, 0, rc.right * (i + 1) / 6, rc.bottom};
      HBRUSH b = CreateSolidBrush(RGB(40 * i, 255 - 40 * i, 128));
      FillRect(dc, &bar, b);
      DeleteObject(b);
    }
    if (msg == WM_PAINT) EndPaint(h, &ps);
    return 0;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

HWND startOwnWindow(const std::wstring& title) {
  return bench::startWindowThread(title, L"ZorBench.Own", ownProc, RECT{980, 0, 980 + 960, 540});
}




struct WorkerFigures {
  double floor = 0, total = 0, paint = 0, compose = 0, publish = 0, wall = 0;
  double pixelsFloor = 0;  // BitBlt + one copy of the painted pixels (the pass the scale makes over them)
  double printsPerFrame = 0, allocationsPerFrame = 0;
  bool ok = false;
};

// The worker on one window and output size, before or as it is now.
WorkerFigures workerFigures(HWND window, const std::wstring& keyword, UINT outW, UINT outH, bool before,
                            ID3D11Device* device, ID3D11DeviceContext* context) {
  WorkerFigures out;
  GdiWindowCapture engine;
  engine.setLegacyPainting(before);
  ComRef<ID3D11Texture2D> texture = gpsTexture(device, outW, outH, nullptr);
  engine.start(device, context, keyword, 30, false, 0, 0, 0, 0);
  engine.uploadLatestFrame(texture.get());
  engine.waitUntilIdle(10000);
  if (engine.currentWindow() != window) return out;
  workerFrame(engine, g_clock);  // the method is known from here on
  // The floor: one BitBlt of the window's client area into a DIB, one copy of a frame.
  RECT rc;
  GetClientRect(window, &rc);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), rc.right, rc.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(mem, dib);
  std::vector<uint8_t> frameA(static_cast<size_t>(outW) * outH * 4, 1), frameB(frameA.size());
  std::vector<uint8_t> pixels(static_cast<size_t>(rc.right) * rc.bottom * 4);

  constexpr int kFrames = 15;
  std::vector<double> floor, pixelsFloor, total, paint, compose, publish, wall;
  // The floor runs on a thread of its own, as the worker does (this thread holds the game's
  // device and swap chain, and under Wine its GDI calls to the display cost about twice as much).
  double floorNs = 0, pixelsFloorNs = 0;
  HANDLE go = CreateEventW(nullptr, FALSE, FALSE, nullptr), done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  bool quit = false;
  std::thread floorThread([&] {
    while (WaitForSingleObject(go, INFINITE) == WAIT_OBJECT_0 && !quit) {
      const double t0 = bench::nowNs();
      HDC wdc = GetDC(window);
      BitBlt(mem, 0, 0, rc.right, rc.bottom, wdc, 0, 0, SRCCOPY);
      ReleaseDC(window, wdc);
      GdiFlush();
      const double t1 = bench::nowNs();
      std::memcpy(pixels.data(), bits, pixels.size());
      const double t2 = bench::nowNs();
      std::memcpy(frameB.data(), frameA.data(), frameA.size());
      floorNs += (t1 - t0) + (bench::nowNs() - t2);
      pixelsFloorNs += t2 - t0;
      SetEvent(done);
    }
  });
  auto floorFrame = [&] {
    SetEvent(go);
    WaitForSingleObject(done, INFINITE);
  };
  floorFrame();  // the thread's first call to the display sets it up
  for (int r = 0; r < kRounds; ++r) {
    // One floor and one worker frame in turn: both meet the same display server and window.
    const CaptureCounters before = engine.counters();
    double elapsed = 0;
    floorNs = pixelsFloorNs = 0;
    for (int i = 0; i < kFrames; ++i) {
      floorFrame();
      const double t0 = bench::nowNs();
      workerFrame(engine, g_clock);
      elapsed += bench::nowNs() - t0;
    }
    floor.push_back(floorNs / kFrames);
    pixelsFloor.push_back(pixelsFloorNs / kFrames);
    const CaptureCounters after = engine.counters();
    const double frames = static_cast<double>(after.framesPublished - before.framesPublished);
    if (frames < 1) continue;
    paint.push_back((after.paintNs - before.paintNs) / frames);
    compose.push_back((after.composeNs - before.composeNs) / frames);
    publish.push_back((after.publishNs - before.publishNs) / frames);
    total.push_back(paint.back() + compose.back() + publish.back());
    wall.push_back(elapsed / frames);
  }
  quit = true;
  SetEvent(go);
  floorThread.join();
  CloseHandle(go);
  CloseHandle(done);
  SelectObject(mem, old);
  DeleteObject(dib);
  DeleteDC(mem);
  // PrintWindow calls and heap allocations over 300 more frames (10 s of the clock: the fallback
  // tries PrintWindow again every 5 s).
  const CaptureCounters a = engine.counters();
  g_allocations = 0;
  g_countedThread = engine.workerThreadId();
  for (int i = 0; i < 300; ++i) workerFrame(engine, g_clock);
  g_countedThread = 0;
  const CaptureCounters b = engine.counters();
  engine.shutdown();
  const double frames = static_cast<double>(b.framesPublished - a.framesPublished);
  if (total.empty() || frames < 1) return out;
  out.floor = bench::median(floor);
  out.pixelsFloor = bench::median(pixelsFloor);
  out.total = bench::median(total);
  out.paint = bench::median(paint);
  out.compose = bench::median(compose);
  out.publish = bench::median(publish);
  out.wall = bench::median(wall);
  out.printsPerFrame = static_cast<double>(b.printWindowCalls - a.printWindowCalls) / frames;
  out.allocationsPerFrame = static_cast<double>(g_allocations.load()) / frames;
  out.ok = true;
  return out;
}

void workerRows(const char* source, HWND window, const std::wstring& keyword, ID3D11Device* device,
                ID3D11DeviceContext* context) {
  RECT rc{};
  GetClientRect(window, &rc);
  for (auto [w, h] : {std::pair<UINT, UINT>{1024, 1024}, {1280, 720}}) {
    std::printf("   %s %ldx%ld -> %ux%u:\n", source, rc.right, rc.bottom, w, h);
    for (const bool before : {true, false}) {
      const WorkerFigures f = workerFigures(window, keyword, w, h, before, device, context);
      if (!f.ok) {
        std::printf("     %s: no frames\n", before ? "before" : "now   ");
        continue;
      }
      std::printf("     %s floor (BitBlt + copy) %6.0f us | worker %6.0f us = %5.2fx: paint %5.2fx, scale %5.2fx, "
                  "publish %5.2fx | with hand-off %5.2fx | against BitBlt + a copy of the painted pixels (%6.0f us) "
                  "%5.2fx | PrintWindow calls %.4f, heap allocations %.2f per frame\n",
                  before ? "before" : "now   ", f.floor / 1000, f.total / 1000, f.total / f.floor, f.paint / f.floor,
                  f.compose / f.floor, f.publish / f.floor, f.wall / f.floor, f.pixelsFloor / 1000,
                  f.total / f.pixelsFloor, f.printsPerFrame, f.allocationsPerFrame);
    }
  }
}

void renderRows(HWND program, const std::wstring& keyword, ID3D11Device* device, ID3D11DeviceContext* context,
                IDXGISwapChain* swapChain) {
  GdiWindowCapture engine;
  ComRef<ID3D11ShaderResourceView> view;
  ComRef<ID3D11Texture2D> texture = gpsTexture(device, 1024, 1024, &view);
  engine.start(device, context, keyword, 30, false, 0, 0, 0, 0);
  engine.uploadLatestFrame(texture.get());
  engine.waitUntilIdle(10000);
  if (engine.currentWindow() != program) return;
  uint64_t mips = 0;
  auto present = [&] {
    const bool fresh = engine.uploadLatestFrame(texture.get());
    if (fresh) {
      context->GenerateMips(view.get());
      ++mips;
    }
    return fresh;
  };
  constexpr int kNew = 8, kIdle = 2000, kPresents = 8;
  std::vector<double> base, upload, generate, done, idle;
  uint64_t idleUploads = 0, idleMips = 0;
  for (int r = 0; r < kRounds; ++r) {
    double t0 = bench::nowNs();
    for (int i = 0; i < kPresents; ++i) {
      swapChain->Present(0, 0);
      finishGpu(device, context);
    }
    base.push_back((bench::nowNs() - t0) / kPresents);

    double up = 0, gen = 0, all = 0;
    for (int i = 0; i < kNew; ++i) {
      workerFrame(engine, g_clock);
      finishGpu(device, context);
      t0 = bench::nowNs();
      const bool fresh = engine.uploadLatestFrame(texture.get());
      const double t1 = bench::nowNs();
      if (fresh) context->GenerateMips(view.get());
      const double t2 = bench::nowNs();
      finishGpu(device, context);
      up += t1 - t0;
      gen += t2 - t1;
      all += bench::nowNs() - t0;
    }
    upload.push_back(up / kNew);
    generate.push_back(gen / kNew);
    done.push_back(all / kNew);

    const uint64_t uploads = engine.counters().uploads, mipsBefore = mips;
    t0 = bench::nowNs();
    for (int i = 0; i < kIdle; ++i) present();
    idle.push_back((bench::nowNs() - t0) / kIdle);
    idleUploads += engine.counters().uploads - uploads;
    idleMips += mips - mipsBefore;
  }
  engine.shutdown();
  const double b = bench::median(base);
  std::printf("   render thread, 1024x1024 texture, against one Present of the 1280x720 game frame until the GPU is "
              "done (%.0f us):\n",
              b / 1000);
  std::printf("     new frame: uploadLatestFrame call %6.0f us = %6.3fx, GenerateMips call %6.0f us = %6.3fx, both until "
              "the GPU is done %6.0f us = %6.3fx\n",
              bench::median(upload) / 1000, bench::median(upload) / b, bench::median(generate) / 1000,
              bench::median(generate) / b, bench::median(done) / 1000, bench::median(done) / b);
  std::printf("     no new frame: uploadLatestFrame %7.3f us = %8.6fx; GPU work in %d such Presents: %llu uploads, %llu "
              "mip generations\n",
              bench::median(idle) / 1000, bench::median(idle) / b, kRounds * kIdle,
              static_cast<unsigned long long>(idleUploads), static_cast<unsigned long long>(idleMips));
}

void blackTestRow(const std::vector<double>& paintNsPerFrame) {
  std::vector<uint32_t> surface(960 * 540, 0x00102030u);
  constexpr int kCalls = 20000;
  std::vector<double> cost;
  volatile bool sink = false;
  for (int r = 0; r < kRounds; ++r) {
    const double t0 = bench::nowNs();
    for (int i = 0; i < kCalls; ++i) {
      blacksamples::clear(surface.data(), 960, 540);
      surface[270 * 960 + 480] = 0x00FFFFFFu;
      sink = blacksamples::allBlack(surface.data(), 960, 540);
    }
    cost.push_back((bench::nowNs() - t0) / kCalls);
  }
  (void)sink;
  std::printf("   black test (clear 64 samples + test them, 960x540): %6.0f ns = %8.5fx of the cheapest paint above\n",
              bench::median(cost), bench::median(cost) / bench::median(paintNsPerFrame));
}

// A 32-bit bottom-up DIB section selected into a memory DC, filled with a fine pattern.
struct Dib {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previous = nullptr;
  uint8_t* bits = nullptr;
  Dib(int w, int h) {
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* p = nullptr;
    bitmap = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &p, nullptr, 0);
    dc = CreateCompatibleDC(nullptr);
    previous = SelectObject(dc, bitmap);
    bits = static_cast<uint8_t*>(p);
    for (size_t i = 0; bits && i < static_cast<size_t>(w) * h * 4; ++i) bits[i] = static_cast<uint8_t>(i * 7 + i / 4096);
  }
  ~Dib() {
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
};

void scalingRows() {
  std::printf("   scaling step alone, median of %d alternating rounds: the frame scaler (the picture, straight into "
              "a slot; its tent, and the area average it had before) against StretchBlt COLORONCOLOR of the same "
              "rectangles, against the whole GDI step (PatBlt, StretchBlt, the copy into a slot), and against "
              "itself in 128-bit loops only (256-bit ones %s here)\n",
              kRounds, FrameScaler::wideVectorsAvailable() ? "available" : "NOT available");
  const struct {
    int sw, sh, ow, oh;
  } sizes[] = {{1280, 720, 1024, 1024}, {1280, 720, 1280, 720}, {1920, 1080, 1024, 1024}, {1920, 1080, 1280, 720}};
  for (const auto& z : sizes) {
    Dib source(z.sw, z.sh), target(z.ow, z.oh);
    const int pw = z.ow * 96 / 100, ph = z.oh * 96 / 100, px = (z.ow - pw) / 2, py = (z.oh - ph) / 2;
    SetStretchBltMode(target.dc, COLORONCOLOR);
    FrameScaler scaler, area, narrow;
    narrow.useWideVectors(false);
    const FrameGeometry geometry{z.sw, z.sh, true, 0, 0, z.sw, z.sh, z.ow, z.oh, px, py, pw, ph, false};
    FrameGeometry areaGeometry = geometry;
    areaGeometry.shrink = ShrinkFilter::Area;
    scaler.prepare(geometry);
    area.prepare(areaGeometry);
    narrow.prepare(geometry);
    std::vector<uint8_t> frame(static_cast<size_t>(z.ow) * z.oh * 4);
    const size_t pitch = static_cast<size_t>(z.ow) * 4;
    auto stretch = [&] { StretchBlt(target.dc, px, py, pw, ph, source.dc, 0, 0, z.sw, z.sh, SRCCOPY); };
    const std::function<void()> variants[] = {
        [&] {
          stretch();
          GdiFlush();
        },
        [&] {
          PatBlt(target.dc, 0, 0, z.ow, z.oh, BLACKNESS);
          stretch();
          GdiFlush();
          std::memcpy(frame.data(), target.bits, frame.size());
        },
        [&] { scaler.compose(source.bits, frame.data() + geometry.pictureOffset(pitch), pitch); },
        [&] { area.compose(source.bits, frame.data() + geometry.pictureOffset(pitch), pitch); },
        [&] { narrow.compose(source.bits, frame.data() + geometry.pictureOffset(pitch), pitch); }};
    constexpr int kVariants = std::size(variants);
    std::vector<double> times[kVariants];
    constexpr int kCalls = 10;
    for (int r = 0; r < kRounds; ++r) {
      for (int v = 0; v < kVariants; ++v) {
        const double t0 = bench::nowNs();
        for (int i = 0; i < kCalls; ++i) variants[v]();
        times[v].push_back((bench::nowNs() - t0) / kCalls);
      }
    }
    const double stretchNs = bench::median(times[0]), oldNs = bench::median(times[1]), newNs = bench::median(times[2]),
                 areaNs = bench::median(times[3]), narrowNs = bench::median(times[4]);
    std::printf("   %4dx%-4d -> %4dx%-4d StretchBlt %6.0f us, GDI step %6.0f us, scaler %6.0f us (area average %6.0f us, "
                "128-bit %6.0f us): %5.2fx of StretchBlt, %5.2fx of the GDI step, %5.2fx of the area average, %5.2fx of "
                "128-bit\n",
                z.sw, z.sh, z.ow, z.oh, stretchNs / 1000, oldNs / 1000, newNs / 1000, areaNs / 1000, narrowNs / 1000,
                newNs / stretchNs, newNs / oldNs, newNs / areaNs, newNs / narrowNs);
  }
}

}  // namespace

int main() {
  clock::setSource(&g_clock.source);
  ComRef<ID3D11Device> device;
  ComRef<ID3D11DeviceContext> context;
  ComRef<IDXGISwapChain> swapChain;
  WNDCLASSEXW wc{sizeof wc};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ZorBench.Game";
  RegisterClassExW(&wc);
  HWND game = CreateWindowExW(0, wc.lpszClassName, L"bench game", WS_POPUP | WS_VISIBLE, 0, 560, 1280, 720, nullptr,
                              nullptr, wc.hInstance, nullptr);
  DXGI_SWAP_CHAIN_DESC sd{};
  sd.BufferDesc.Width = 1280;
  sd.BufferDesc.Height = 720;
  sd.BufferDesc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
  sd.SampleDesc.Count = 1;
  sd.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
  sd.BufferCount = 1;
  sd.OutputWindow = game;
  sd.Windowed = TRUE;
  sd.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;
  D3D_FEATURE_LEVEL level{};
  if (FAILED(D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0,
                                           D3D11_SDK_VERSION, &sd, swapChain.put(), device.put(), &level,
                                           context.put()))) {
    std::printf("   no D3D11 device\n");
    return 1;
  }
  const std::wstring programTitle = L"Bench radio " + std::to_wstring(GetCurrentProcessId()) + L" - YouTube";
  const std::wstring ownTitle = L"Bench own window " + std::to_wstring(GetCurrentProcessId());
  Program program;
  if (!startProgram(programTitle, program, L"--width 1280 --height 720")) {
    std::printf("   zor_media.exe did not start\n");
    return 1;
  }
  HWND own = startOwnWindow(ownTitle);
  std::printf("   worker per frame, median of %d rounds; ratios against the floor of the same row\n", kRounds);
  workerRows("media program (other process)", program.window, programTitle, device.get(), context.get());
  {  // a browser in full screen: a 1920x1080 window of another process
    const std::wstring bigTitle = L"Bench chart " + std::to_wstring(GetCurrentProcessId()) + L" - YouTube";
    Program big;
    if (startProgram(bigTitle, big, L"--width 1920 --height 1080", true)) {
      workerRows("media chart (other process)", big.window, bigTitle, device.get(), context.get());
    } else {
      std::printf("   zor_media.exe --chart did not start\n");
    }
    stopProgram(big);
  }
  workerRows("window of this process", own, ownTitle, device.get(), context.get());
  renderRows(program.window, programTitle, device.get(), context.get(), swapChain.get());
  // The paint of the cheaper source at 1280x720 stands for a frame's smallest paint.
  {
    GdiWindowCapture engine;
    ComRef<ID3D11Texture2D> texture = gpsTexture(device.get(), 1280, 720, nullptr);
    engine.start(device.get(), context.get(), ownTitle, 30, false, 0, 0, 0, 0);
    engine.uploadLatestFrame(texture.get());
    engine.waitUntilIdle(10000);
    std::vector<double> paint;
    for (int r = 0; r < kRounds; ++r) {
      const CaptureCounters a = engine.counters();
      for (int i = 0; i < 5; ++i) workerFrame(engine, g_clock);
      const CaptureCounters b = engine.counters();
      if (b.framesPublished > a.framesPublished)
        paint.push_back(static_cast<double>(b.paintNs - a.paintNs) / static_cast<double>(b.framesPublished - a.framesPublished));
    }
    engine.shutdown();
    if (!paint.empty()) blackTestRow(paint);
  }
  stopProgram(program);
  scalingRows();
  clock::setSource(nullptr);
  return 0;
}
