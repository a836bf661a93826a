// The render thread's side of a new picture, the hand-over before and after in one run:
//  1. per new picture into the 1024x1024 GPS texture: the bytes the render thread hands the
//     context from CPU memory, and the call time of upload + mips (and until the GPU is done):
//     before, UpdateSubresource of the whole frame (bars included) and GenerateMips; between,
//     UpdateSubresource of the picture's box only from the worker's memory; after, the engine's
//     staging hand-over (Unmap, CopySubresourceRegion of the box, GenerateMips). Median of
//     alternating rounds.
//  2. a game at 60 frames a second and a window of this process playing a "video" at 60 pictures
//     a second (each picture a colour that names it): publish -> the first presented frame that
//     shows the picture (in game frames, and in Presents that came first without it), and
//     glass-to-glass (the window's repaint -> that frame on the display, ms), median and p95, in
//     alternating rounds: the upload at Present, at the bind, and at the bind with the captures
//     aimed at it. Two games: one busy all frame (the GPS bound half-way, Present at the frame's
//     end), and one that waits for the display inside Present (the GPS bound a quarter of the
//     way, Present called half-way, the frame shown at the next vertical blank; the blanks come
//     1/60 s apart on the clock, as a display's do, while the game's work in a frame varies).
//  3. the worker's wait before an aimed capture: how late a 4 ms wait ends, on a condition
//     variable (as the worker waited before) and on the timed wake, in alternating rounds.
#include <d3d11.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "BenchKit.h"
#include "CaptureBenchKit.h"
#include "capture/GdiWindowCapture.h"
#include "core/Clock.h"
#include "core/ComRef.h"
#include "core/Logger.h"
#include "core/TimedWake.h"

using namespace zor;

namespace {

constexpr int kRounds = 7;
constexpr UINT kSide = 1024;

// A clock moved by hand for part 1 (one worker frame whenever the bench says so).
bench::HandClock g_clock;
using bench::finishGpu;
using bench::gpsTexture;
using bench::workerFrame;

// The "video": a picture number that moves on every 1/60 s; the window shows it as a colour.
constexpr size_t kPictures = 1 << 16;
std::atomic<uint32_t> g_picture{1};
std::vector<double> g_shownAt(kPictures, 0);  // steady ns at which each picture was first painted

uint32_t colourOf(uint32_t picture) { return RGB(picture & 0xFF, (picture >> 8) & 0xFF, 0x80); }
uint32_t pictureOfTexel(uint32_t bgra) { return ((bgra >> 16) & 0xFF) | (((bgra >> 8) & 0xFF) << 8); }

LRESULT CALLBACK videoProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_PAINT || msg == WM_PRINTCLIENT) {
    PAINTSTRUCT ps{};
    HDC dc = msg == WM_PAINT ? BeginPaint(h, &ps) : reinterpret_cast<HDC>(wp);
    RECT rc;
    GetClientRect(h, &rc);
    HBRUSH b = CreateSolidBrush(colourOf(g_picture.load()));
    FillRect(dc, &rc, b);
    DeleteObject(b);
    if (msg == WM_PAINT) EndPaint(h, &ps);
    return 0;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

HWND startVideoWindow(const std::wstring& title) {
  return bench::startWindowThread(title, L"ZorBench.Video", videoProc, RECT{0, 0, 1280, 720});
}




double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

void uploadRows(const std::wstring& title, ID3D11Device* device, ID3D11DeviceContext* context) {
  clock::setSource(&g_clock.source);
  GdiWindowCapture engine;
  ComRef<ID3D11ShaderResourceView> view;
  ComRef<ID3D11Texture2D> texture = gpsTexture(device, kSide, kSide, &view);
  engine.start(device, context, title, 30, false, 0, 0, 0, 0);
  engine.uploadLatestFrame(texture.get());
  engine.waitUntilIdle(10000);
  // The first picture into a texture makes its bars black, once.
  workerFrame(engine, g_clock);
  engine.uploadLatestFrame(texture.get());
  const uint64_t barBytes = engine.counters().renderThreadBytes;
  const UINT box = kSide * 96 / 100, at = (kSide - box) / 2;
  std::vector<uint8_t> frame(static_cast<size_t>(kSide) * kSide * 4, 0x40), picture(static_cast<size_t>(box) * box * 4, 0x40);
  constexpr int kNew = 8;
  struct Variant {
    const char* what;
    std::vector<double> upload, mips, done;
    double bytes = 0;
  } variants[3] = {{"before: UpdateSubresource of the 1024x1024 frame", {}, {}, {}, double(frame.size())},
                   {"between: UpdateSubresource of the 983x983 box", {}, {}, {}, double(picture.size())},
                   {"after: Unmap + CopySubresourceRegion of the box", {}, {}, {}, 0}};
  uint64_t afterBytes = 0, afterPictures = 0;
  for (int r = 0; r < kRounds; ++r) {
    for (int v = 0; v < 3; ++v) {
      double up = 0, mips = 0, done = 0;
      for (int i = 0; i < kNew; ++i) {
        if (v == 2) workerFrame(engine, g_clock);
        finishGpu(device, context);
        const CaptureCounters before = engine.counters();
        const double t0 = bench::nowNs();
        bool fresh = true;
        if (v == 0) {
          context->UpdateSubresource(texture.get(), 0, nullptr, frame.data(), kSide * 4, 0);
        } else if (v == 1) {
          const D3D11_BOX b{at, at, 0, at + box, at + box, 1};
          context->UpdateSubresource(texture.get(), 0, &b, picture.data(), box * 4, 0);
        } else {
          fresh = engine.uploadLatestFrame(texture.get());
        }
        const double t1 = bench::nowNs();
        if (fresh) context->GenerateMips(view.get());
        const double t2 = bench::nowNs();
        finishGpu(device, context);
        up += t1 - t0;
        mips += t2 - t1;
        done += bench::nowNs() - t0;
        if (v == 2 && fresh) {
          const CaptureCounters after = engine.counters();
          afterBytes += after.renderThreadBytes - before.renderThreadBytes;
          ++afterPictures;
        }
      }
      variants[v].upload.push_back(up / kNew);
      variants[v].mips.push_back(mips / kNew);
      variants[v].done.push_back(done / kNew);
    }
  }
  variants[2].bytes = afterPictures ? double(afterBytes) / double(afterPictures) : -1;
  engine.shutdown();
  clock::setSource(nullptr);
  std::printf("   per new picture into the 1024x1024 GPS texture, median of %d alternating rounds (%llu pictures after):\n",
              kRounds, static_cast<unsigned long long>(afterPictures));
  const double base = bench::median(variants[0].upload), baseAll = base + bench::median(variants[0].mips);
  for (const Variant& v : variants) {
    const double u = bench::median(v.upload), m = bench::median(v.mips);
    std::printf("     %-50s bytes from CPU memory %8.0f | upload call %6.0f us (%5.2fx less than before) | + "
                "GenerateMips call %6.0f us = %6.0f us (%5.2fx less) | until the GPU is done %6.0f us\n",
                v.what, v.bytes, u / 1000, base / u, m / 1000, (u + m) / 1000, baseAll / (u + m),
                bench::median(v.done) / 1000);
  }
  std::printf("     (the black bars, %llu bytes, were written once with the texture's first picture)\n",
              static_cast<unsigned long long>(barBytes));

  // The staging calls one by one, on a texture of the box's size written by the CPU each time.
  D3D11_TEXTURE2D_DESC sd{};
  sd.Width = sd.Height = box;
  sd.MipLevels = sd.ArraySize = 1;
  sd.Format = DXGI_FORMAT_B8G8R8A8_TYPELESS;
  sd.SampleDesc.Count = 1;
  sd.Usage = D3D11_USAGE_STAGING;
  sd.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
  ComRef<ID3D11Texture2D> staging;
  device->CreateTexture2D(&sd, nullptr, staging.put());
  std::vector<double> unmapNs, copyNs, mapNs;
  for (int r = 0; r < kRounds * kNew && staging; ++r) {
    D3D11_MAPPED_SUBRESOURCE m{};
    if (FAILED(context->Map(staging.get(), 0, D3D11_MAP_WRITE, 0, &m))) break;
    for (UINT y = 0; y < box; ++y) std::memset(static_cast<uint8_t*>(m.pData) + y * m.RowPitch, r, box * 4);
    double t0 = bench::nowNs();
    context->Unmap(staging.get(), 0);
    double t1 = bench::nowNs();
    context->CopySubresourceRegion(texture.get(), 0, at, at, 0, staging.get(), 0, nullptr);
    double t2 = bench::nowNs();
    unmapNs.push_back(t1 - t0);
    copyNs.push_back(t2 - t1);
    t0 = bench::nowNs();
    const HRESULT busy = context->Map(staging.get(), 0, D3D11_MAP_WRITE, D3D11_MAP_FLAG_DO_NOT_WAIT, &m);
    mapNs.push_back(bench::nowNs() - t0);
    if (SUCCEEDED(busy)) context->Unmap(staging.get(), 0);
    finishGpu(device, context);
  }
  std::printf("     the staging calls alone: Unmap %6.0f us, CopySubresourceRegion %6.0f us, Map right after the copy "
              "(DO_NOT_WAIT) %6.0f us\n",
              bench::median(unmapNs) / 1000, bench::median(copyNs) / 1000, bench::median(mapNs) / 1000);
}

// Part 2: the game's frames at 60 a second, the upload at Present or at the bind.
struct GamePacing {
  const char* what;
  double bindAt, presentAt;  // in frames from the frame's start; the frame is shown at its end
  bool display;  // frames start at the display's blanks, 1/60 s apart; otherwise when the last one ended
};

void latencyRows(const std::wstring& title, ID3D11Device* device, ID3D11DeviceContext* context, const GamePacing& pacing) {
  std::atomic<bool> playing{true};
  std::thread video([&] {
    const double start = bench::nowNs();
    for (uint32_t n = 1; playing.load(); ++n) {
      const double due = start + n * (1e9 / 60);
      while (bench::nowNs() < due) Sleep(1);
      const uint32_t next = (g_picture.load() + 1) % kPictures;
      g_shownAt[next] = bench::nowNs();
      g_picture.store(next);
    }
  });
  GdiWindowCapture engine;
  ComRef<ID3D11ShaderResourceView> view;
  ComRef<ID3D11Texture2D> texture = gpsTexture(device, kSide, kSide, &view);
  engine.start(device, context, title, 30, false, 0, 0, 0, 0);
  engine.uploadLatestFrame(texture.get());
  Sleep(300);
  // A picture uploaded at the bind is drawn in that frame and presented by its Present; one
  // uploaded at Present is drawn by the next frame. Which video picture it holds is read from the
  // picture waiting in the ring just before the upload (its centre).
  constexpr double kFrameNs = 1e9 / 60;
  constexpr int kFramesPerRound = 120;
  constexpr int kModes = 3;  // upload at Present; at the bind; at the bind with aimed captures
  std::vector<double> frames[kModes], missed[kModes], glass[kModes], frameNs[kModes], ahead[kModes];
  std::vector<double> presents;  // the game's recent Presents
  CaptureFrame waiting;
  TimedWake blank;  // the display's blank comes on time: waited for without Sleep's rounding
  for (int r = 0; r < kModes * 5; ++r) {
    const int mode = r % kModes;
    const bool atBind = mode != 0;
    engine.setAimedCaptures(mode == 2);
    struct Upload {
      double publishedNs = 0;
      uint32_t picture = 0;
    } pending;  // uploaded at Present, shown at the next one
    double frameStart = bench::nowNs();
    for (int f = 0; f < kFramesPerRound; ++f) {
      auto upload = [&](Upload& out) {
        if (!engine.hasNewFrame()) return false;
        const double published = static_cast<double>(engine.latestPublishedAtNs());  // this picture or an older one
        ahead[mode].push_back((bench::nowNs() - published) / 1e6);
        const bool seen = engine.latestFrame(waiting);
        if (!engine.uploadLatestFrame(texture.get())) return false;
        context->GenerateMips(view.get());
        out.publishedNs = published;
        out.picture = seen ? pictureOfTexel(reinterpret_cast<const uint32_t*>(waiting.pixels.data())
                                                [static_cast<size_t>(kSide / 2) * kSide + kSide / 2])
                           : 0;
        return true;
      };
      auto until = [&](double at) {
        while (bench::nowNs() < frameStart + at * kFrameNs) Sleep(1);
      };
      Upload shown;  // the picture this frame presents, if a new one
      until(pacing.bindAt);
      Upload now;
      if (atBind) engine.markUploadPoint();
      if (atBind && upload(now)) shown = now;
      until(pacing.presentAt);
      const double presentAt = bench::nowNs();  // the game's Present
      if (presents.size() >= 16) presents.erase(presents.begin());
      if (!atBind) {
        shown = pending;
        pending = Upload{};
        engine.markUploadPoint();
        upload(pending);  // at Present: drawn by the next frame
      }
      if (pacing.display) {
        // The next blank after the frame's work (a frame that ran over waits for the one after).
        double due = frameStart + kFrameNs;
        while (due < bench::nowNs()) due += kFrameNs;
        if (due - bench::nowNs() > 500'000) blank.wait(static_cast<uint64_t>(due - bench::nowNs() - 500'000));
        while (bench::nowNs() < due) YieldProcessor();
        frameStart = due;
      } else {
        until(1);  // the frame on the display
      }
      const double glassAt = bench::nowNs();
      if (shown.publishedNs > 0) {
        frames[mode].push_back(presentAt - shown.publishedNs);  // in game frames below
        missed[mode].push_back(static_cast<double>(std::count_if(
            presents.begin(), presents.end(), [&](double p) { return p > shown.publishedNs && p < presentAt; })));
        if (shown.picture && g_shownAt[shown.picture] > 0) {
          glass[mode].push_back((glassAt - g_shownAt[shown.picture]) / 1e6);
        }
      }
      if (!presents.empty()) frameNs[mode].push_back(presentAt - presents.back());
      presents.push_back(presentAt);
      if (!pacing.display) frameStart = glassAt;
    }
  }
  engine.shutdown();
  playing.store(false);
  video.join();
  const char* names[kModes] = {"upload at Present", "upload at the first bind", "at the bind, captures aimed at it"};
  std::printf("   a game at 60 frames a second %s, a 60-picture-a-second video captured at 30:\n", pacing.what);
  for (int m = 0; m < kModes; ++m) {
    const double frame = percentile(frameNs[m], 0.5);  // the game's frames as they came
    for (double& f : frames[m]) f /= frame;
    std::printf("     %-34s publish -> first Present showing it: median %.2f / p95 %.2f frame times, Presents "
                "that came first without it median %.0f / p95 %.0f (%zu pictures) | glass-to-glass median %.1f / p95 "
                "%.1f ms | publish -> upload median %.1f / p95 %.1f ms (game frame %.1f ms)\n",
                names[m], percentile(frames[m], 0.5), percentile(frames[m], 0.95), percentile(missed[m], 0.5),
                percentile(missed[m], 0.95), frames[m].size(), percentile(glass[m], 0.5), percentile(glass[m], 0.95),
                percentile(ahead[m], 0.5), percentile(ahead[m], 0.95), frame / 1e6);
  }
}

// Part 3: how late a short wait ends.
void wakeRows() {
  constexpr uint64_t kWaitNs = 4'000'000;
  std::mutex mutex;
  std::condition_variable condition;
  TimedWake timed;
  std::vector<double> late[2];
  for (int r = 0; r < 10; ++r) {
    const int way = r % 2;
    for (int i = 0; i < 40; ++i) {
      const double start = bench::nowNs();
      if (way == 0) {
        std::unique_lock<std::mutex> lock(mutex);
        condition.wait_for(lock, std::chrono::nanoseconds(kWaitNs));
      } else {
        timed.wait(kWaitNs);
      }
      late[way].push_back((bench::nowNs() - start - kWaitNs) / 1e6);
    }
  }
  std::printf("   the worker's wait before an aimed capture, 4 ms asked, how late it ends (ms): condition variable "
              "median %.2f / p95 %.2f, timed wake%s median %.2f / p95 %.2f\n",
              percentile(late[0], 0.5), percentile(late[0], 0.95), timed.highResolution() ? " (high resolution)" : "",
              percentile(late[1], 0.5), percentile(late[1], 0.95));
}

}  // namespace

int main(int argc, char** argv) {
  const bool latencyOnly = argc > 1 && std::strcmp(argv[1], "--latency") == 0;  // part 2 alone
  // What the engine warns about (a guarded fault, a staging texture let go of late) is printed.
  Logger::instance().setSink([](LogLevel level, const char* line) {
    if (level != LogLevel::INFO) std::fprintf(stderr, "   log: %s\n", line);
  });
  ComRef<ID3D11Device> device;
  ComRef<ID3D11DeviceContext> context;
  D3D_FEATURE_LEVEL level{};
  if (FAILED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION, device.put(),
                               &level, context.put()))) {
    std::printf("   no D3D11 device\n");
    return 1;
  }
  const std::wstring title = L"Bench video " + std::to_wstring(GetCurrentProcessId());
  if (!startVideoWindow(title)) {
    std::printf("   the video window could not be made\n");
    return 1;
  }
  if (!latencyOnly) uploadRows(title, device.get(), context.get());
  for (const GamePacing& pacing :
       {GamePacing{"busy all frame (the GPS bound half-way, Present at the frame's end)", 0.5, 1.0, false},
        GamePacing{"that waits for the display inside Present (the GPS bound a quarter of the way, Present called "
                   "half-way, the frame shown at the next vertical blank, the blanks 1/60 s apart)",
                   0.25, 0.5, true}}) {
    latencyRows(title, device.get(), context.get(), pacing);
  }
  wakeRows();
  return 0;
}
