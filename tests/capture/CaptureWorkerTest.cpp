// The capture worker on a real window, with the clock moved by hand: what it logs, when it
// captures, what its frames hold, and what it leaves behind.
#include <atomic>
#include <climits>
#include <cstring>
#include <vector>

#include "CaptureTestKit.h"
#include "core/Clock.h"
#include "core/DetourGuard.h"
#include "core/TimedWake.h"
#include "core/Utf8.h"
#include "capture/ChosenWindow.h"
#include "capture/WindowMatching.h"

namespace zor::test {
namespace {

class CaptureWorker : public CaptureFixture {
 protected:
  // The milliseconds at which captures start while the game takes a picture every 20 ms (after
  // the first 100 ms), 30 captures a second.
  std::vector<uint64_t> captureStartsBesideUploadsEvery20Ms() {
    std::vector<uint64_t> starts;
    for (uint64_t t = 0; t < 600; ++t) {
      if (t % 20 == 0) engine_.markUploadPoint();
      const uint64_t calls = printWindowCalls();
      advance(1);
      if (printWindowCalls() != calls && t >= 100) starts.push_back(t + 1);
    }
    return starts;
  }
};

// Checks the letterbox: a picture of 96 % of the frame, centred on black; top and bottom of the
// window in the given rows of memory.
void expectPicture(const CaptureFrame& f, uint32_t width, uint32_t height, uint32_t pictureX, uint32_t pictureY,
                   bool topRowsFirst) {
  ASSERT_EQ(f.width, width);
  ASSERT_EQ(f.height, height);
  ASSERT_EQ(f.stride, width * 4);
  const uint32_t pw = width * 96 / 100, ph = height * 96 / 100;
  EXPECT_EQ(pictureX, (width - pw) / 2);
  EXPECT_EQ(pictureY, (height - ph) / 2);
  const uint32_t midY = height / 2 + 2, midX = width / 2;
  EXPECT_EQ(pixelAt(f, pictureX - 1, midY), 0u);
  EXPECT_NE(pixelAt(f, pictureX, midY), 0u);
  EXPECT_NE(pixelAt(f, pictureX + pw - 1, midY), 0u);
  EXPECT_EQ(pixelAt(f, pictureX + pw, midY), 0u);
  EXPECT_EQ(pixelAt(f, midX, pictureY - 1), 0u);
  EXPECT_EQ(pixelAt(f, midX, pictureY + ph), 0u);
  const uint32_t first = pixelAt(f, midX, pictureY), last = pixelAt(f, midX, pictureY + ph - 1);
  EXPECT_EQ(first, pixelOf(topRowsFirst ? kTop : kBottom));
  EXPECT_EQ(last, pixelOf(topRowsFirst ? kBottom : kTop));
}

TEST_F(CaptureWorker, FindsTheWindowAndPublishesItLetterboxedAt96PercentInEitherRowOrder) {
  ComRef<ID3D11Texture2D> target = texture(854, 480);
  startCapturing(target.get(), /*flip=*/true);
  // The start without a known window, then the worker's search.
  const int prepared = log_.indexOf("[WindowCapture] Perfil preparado; el trabajador buscara la ventana cada 2 segundos.");
  const int started = log_.indexOf("Captura de ventana iniciada.");  // the start line as the log shows it
  const int capped = log_.indexOf("Captura limitada a maximo 30 FPS; GenerateMips solo se ejecuta cuando existe un frame nuevo.");
  const int lost = log_.indexOf("Ventana de captura perdida; recuperacion automatica en espera.");
  const int found = log_.indexOf("Ventana de captura recuperada automaticamente.");
  EXPECT_TRUE(prepared == 0 && started == 1 && capped == 2 && lost == 3 && found == 4) << log_.dump();
  EXPECT_EQ(engine_.currentWindow(), window_->hwnd());
  expectPicture(frame_, 854, 480, 17, 10, /*topRowsFirst=*/true);

  // Bottom-up rows without flip; a bigger texture takes the frame of the old size out of play.
  engine_.deactivate();
  ComRef<ID3D11Texture2D> big = texture(1920, 1080);
  ASSERT_TRUE(start(uniqueToken(), 30, /*flip=*/false));
  EXPECT_EQ(log_.count("Perfil preparado"), 1u);  // the window is still bound
  const uint64_t generation = engine_.generation();
  EXPECT_FALSE(engine_.uploadLatestFrame(big.get()));
  EXPECT_EQ(engine_.generation(), generation + 1);
  EXPECT_EQ(engine_.outputWidth(), 1920u);
  ASSERT_TRUE(settle());
  ASSERT_TRUE(engine_.latestFrame(frame_));
  expectPicture(frame_, 1920, 1080, 38, 22, /*topRowsFirst=*/false);
}

TEST_F(CaptureWorker, FrameIntervalFollowsTheFpsCap) {
  ComRef<ID3D11Texture2D> target = texture(64, 64);
  startCapturing(target.get());
  const struct {
    uint32_t fps;
    uint64_t intervalMs;
    int32_t effective;
  } rows[] = {{0, 33, 30}, {60, 33, 30}, {7, 142, 7}, {30, 33, 30}};
  for (const auto& row : rows) {
    SCOPED_TRACE("fps " + std::to_string(row.fps));
    engine_.setFps(row.fps);
    EXPECT_EQ(engine_.effectiveFps(), row.effective);
    advance(200);  // one attempt now: the next is due one interval later
    const uint64_t before = printWindowCalls();
    advance(row.intervalMs - 1);
    EXPECT_EQ(printWindowCalls(), before);
    advance(1);
    EXPECT_EQ(printWindowCalls(), before + 1);
  }
}

// The game takes a picture every 20 ms; captures at 30 a second start just before one of those
// moments, one every other frame, instead of whenever their interval ends.
TEST_F(CaptureWorker, CapturesAreReadyJustBeforeTheGameTakesAPicture) {
  ComRef<ID3D11Texture2D> target = texture(64, 64);
  startCapturing(target.get());
  const std::vector<uint64_t> starts = captureStartsBesideUploadsEvery20Ms();
  ASSERT_GE(starts.size(), 10u);
  for (size_t i = 0; i < starts.size(); ++i) {
    const uint64_t beforeMark = (20 - starts[i] % 20) % 20;
    EXPECT_TRUE(beforeMark >= 1 && beforeMark <= 6) << "a capture at " << starts[i] << " ms";
    if (i > 0) {
      EXPECT_NEAR(static_cast<double>(starts[i] - starts[i - 1]), 40, 1);
    }
  }
}

// Where the system has no high-resolution timer (Windows before 10 1803), a wake-up comes up to a
// tick late and an aimed capture would miss its upload: captures keep their bare interval.
class NoFineTimer {
 protected:
  NoFineTimer() { TimedWake::refuseHighResolution(true); }  // before the engine makes its timer
  ~NoFineTimer() { TimedWake::refuseHighResolution(false); }
};
class CaptureWithoutFineTimer : public NoFineTimer, public CaptureWorker {};

TEST_F(CaptureWithoutFineTimer, CapturesKeepTheirIntervalAndAreNotAimed) {
  ComRef<ID3D11Texture2D> target = texture(64, 64);
  startCapturing(target.get());
  const std::vector<uint64_t> starts = captureStartsBesideUploadsEvery20Ms();
  ASSERT_GE(starts.size(), 10u);
  for (size_t i = 1; i < starts.size(); ++i) EXPECT_EQ(starts[i] - starts[i - 1], 33u) << "a capture at " << starts[i];
}

// PrintWindow failing, as for a window that closes while it is printed (Wine's never fails: a
// stand-in fails it): said once per window, so one window cannot use the line up for the next.
BOOL WINAPI failingPrint(HWND, HDC, UINT) { return FALSE; }

TEST_F(CaptureWorker, APrintWindowFailureIsSaidOncePerWindow) {
  ComRef<ID3D11Texture2D> target = texture(64, 64);
  startCapturing(target.get());
  AppWindow hidden(L"Hidden " + uniqueToken(), 0);  // never shown: destroyed without Wine's 2 s
  const char* kFailed = "[WindowCapture] PrintWindow fallo. Prueba dejando la ventana visible (no minimizada).";
  engine_.setPrintFunction(&failingPrint);
  for (int frame = 0; frame < 4; ++frame) advance(34);
  EXPECT_EQ(log_.count(kFailed), 1u) << log_.dump();
  engine_.setWindowTarget(CaptureTarget{resolveChosenWindow(hidden.hwnd()), L"Hidden", {}});
  for (int frame = 0; frame < 4; ++frame) advance(34);
  EXPECT_EQ(log_.count(kFailed), 2u) << log_.dump();
  engine_.setPrintFunction(nullptr);
}

TEST_F(CaptureWorker, PauseResetsTheBufferAndStopsAllGdiWorkUntilItEnds) {
  ComRef<ID3D11Texture2D> target = texture(64, 64);
  startCapturing(target.get());
  const uint64_t generation = engine_.generation();
  engine_.setPaused(true);
  EXPECT_EQ(engine_.generation(), generation + 1);
  EXPECT_FALSE(engine_.latestFrame(frame_));
  EXPECT_FALSE(engine_.uploadLatestFrame(target.get()));
  engine_.setPaused(true);  // no change, no new generation
  EXPECT_EQ(engine_.generation(), generation + 1);
  const uint64_t calls = printWindowCalls();
  advance(5000);
  EXPECT_EQ(printWindowCalls(), calls);
  engine_.setPaused(false);  // captures at once, without waiting for the interval
  ASSERT_TRUE(settle());
  EXPECT_EQ(printWindowCalls(), calls + 1);
  EXPECT_TRUE(engine_.latestFrame(frame_));
}

TEST_F(CaptureWorker, LostWindowIsLoggedOnceSearchedEvery2sAndRecovered) {
  ComRef<ID3D11Texture2D> target = texture(64, 64);
  startCapturing(target.get());
  log_.clear();
  const std::wstring other = L"Radio " + uniqueToken();
  engine_.setWindowKeyword(other);
  EXPECT_FALSE(engine_.hasWindow());  // dropped at once
  EXPECT_FALSE(engine_.latestFrame(frame_));
  EXPECT_EQ(engine_.windowKeyword(), other);
  ASSERT_TRUE(settle());
  uint64_t searches = engine_.counters().windowSearches;  // searched at once
  EXPECT_EQ(log_.count("Ventana de captura perdida; recuperacion automatica en espera."), 1u);
  advance(1999);
  EXPECT_EQ(engine_.counters().windowSearches, searches);
  advance(1);
  EXPECT_EQ(engine_.counters().windowSearches, ++searches);
  advance(2000);
  EXPECT_EQ(engine_.counters().windowSearches, ++searches);
  EXPECT_EQ(log_.count("Ventana de captura perdida"), 1u);

  window_->setTitle(other + L" - live");
  advance(2000);
  EXPECT_EQ(log_.count("Ventana de captura recuperada automaticamente."), 1u);
  EXPECT_EQ(engine_.currentWindow(), window_->hwnd());
  EXPECT_TRUE(engine_.latestFrame(frame_));

  // The same keyword again changes nothing; an empty one waits without searching.
  const uint64_t generation = engine_.generation();
  engine_.setWindowKeyword(other);
  EXPECT_EQ(engine_.generation(), generation);
  engine_.setWindowKeyword(L"");
  ASSERT_TRUE(settle());
  searches = engine_.counters().windowSearches;
  advance(2000);
  advance(2000);
  EXPECT_EQ(engine_.counters().windowSearches, searches);
  EXPECT_EQ(log_.count("Ventana de captura perdida"), 2u);
}

// A minimised window gives no frame: one line says so, the watchdog restarts the flow every 8 s or
// more but warns only at the first restart and then every 10 minutes. The window the player chose
// stays the source: nothing is searched while it exists, whatever else matches its title.
TEST_F(CaptureWorker, AMinimisedWindowIsSaidOnceKeptAsTheSourceAndTheWatchdogWarnsFirstThenEvery10Minutes) {
  ComRef<ID3D11Texture2D> target = texture(64, 64);
  startCapturing(target.get());
  ShowWindow(window_->hwnd(), SW_MINIMIZE);
  log_.clear();
  const uint64_t released = engine_.counters().surfacesReleased;
  const uint64_t searches = engine_.counters().windowSearches;
  for (int second = 0; second < 13; ++second) advance(1000);
  EXPECT_EQ(engine_.counters().windowSearches, searches);
  EXPECT_EQ(engine_.currentWindow(), window_->hwnd());
  EXPECT_GT(engine_.counters().surfacesReleased, released);  // a light restart drops the surfaces
  const char* kRestart = "Watchdog de captura: flujo de frames detenido; reinicio ligero iniciado.";
  EXPECT_EQ(log_.count(kRestart), 1u);
  EXPECT_EQ(log_.count("La ventana capturada esta minimizada"), 1u) << log_.dump();
  // The first warning came at 4 s: the next one 10 minutes later.
  for (uint64_t ms = 13000; ms + 9000 < 604000; ms += 9000) advance(9000);
  EXPECT_EQ(log_.count(kRestart), 1u);
  advance(9000);
  EXPECT_EQ(log_.count(kRestart), 2u);

  ShowWindow(window_->hwnd(), SW_RESTORE);
  advance(40);
  EXPECT_EQ(log_.count("Watchdog de captura: flujo de frames recuperado correctamente."), 1u) << log_.dump();
  EXPECT_TRUE(engine_.latestFrame(frame_));
  EXPECT_EQ(log_.count("La ventana capturada esta minimizada"), 1u);
}

// A window with a caption and borders (as VLC or OBS have): its client area alone fills the
// picture, as the copy from its device context does. (Wine paints no frame into the picture
// either way; Windows paints it unless the window is asked for its client area only.)
TEST_F(CaptureWorker, AFramedWindowIsPaintedWithoutItsFrame) {
  AppWindow framed(L"Framed " + uniqueToken(), WS_VISIBLE | WS_CAPTION | WS_THICKFRAME, 700, 300, 200, 120);
  framed.toFront();
  ComRef<ID3D11Texture2D> target = texture(100, 100);
  ASSERT_TRUE(start(L"Framed " + uniqueToken()));
  EXPECT_FALSE(engine_.uploadLatestFrame(target.get()));
  ASSERT_TRUE(settle());
  ASSERT_TRUE(engine_.latestFrame(frame_)) << log_.dump();
  EXPECT_EQ(framed.lastPrintFlags() & PRF_NONCLIENT, 0u);
  expectPicture(frame_, 100, 100, 2, 2, /*topRowsFirst=*/true);
  EXPECT_EQ(pixelAt(frame_, 2, 25), pixelOf(kTop)) << "the left edge is the client's";
}

// Crops pick a part of the client area (320 x 180: red top half, blue bottom half); those
// outside it or of no size give no frame.
TEST_F(CaptureWorker, CropSelectsTheSourceRectangleAndBadCropsGiveNoFrame) {
  ComRef<ID3D11Texture2D> target = texture(100, 100);
  const uint32_t red = pixelOf(kTop), blue = pixelOf(kBottom);
  const struct {
    const char* name;
    int32_t left, top, width, height;
    bool frame;
    uint32_t upper, lower;  // picture rows near its top and its bottom (flip: top rows first)
  } rows[] = {
      {"whole client area", 0, 0, 0, 0, true, red, blue},
      {"top half", 0, 0, 320, 90, true, red, red},
      {"bottom half", 0, 90, 320, 90, true, blue, blue},
      {"width without height", 0, 90, 320, 0, true, red, blue},
      {"cut at the client edge", 10, 100, 100000, 100000, true, blue, blue},
      {"huge sizes", 0, 0, INT_MAX, INT_MAX, true, red, blue},
      {"negative origin counts from the edge", -500, -7, 320, 90, true, red, red},
      {"left beyond the client width", 320, 0, 10, 10, false, 0, 0},
      {"top beyond the client height", 0, 180, 10, 10, false, 0, 0},
      {"everything huge", INT_MAX, INT_MAX, INT_MAX, INT_MAX, false, 0, 0},
      {"negative size", 0, 0, -5, -5, false, 0, 0},
  };
  bool sized = false;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    engine_.deactivate();
    ASSERT_TRUE(start(uniqueToken(), 30, true, row.left, row.top, row.width, row.height));
    if (!sized) {
      EXPECT_FALSE(engine_.uploadLatestFrame(target.get()));
      sized = true;
    }
    ASSERT_TRUE(settle());
    const uint64_t calls = printWindowCalls();
    advance(40);
    EXPECT_GT(printWindowCalls(), calls);  // the worker tried
    ASSERT_EQ(engine_.latestFrame(frame_), row.frame);
    if (!row.frame) continue;
    EXPECT_EQ(pixelAt(frame_, 50, 5), row.upper);
    EXPECT_EQ(pixelAt(frame_, 50, 94), row.lower);
  }
}

// A window whose picture stays the same (a browser that stopped painting it): said once after
// 10 s with its program, shown to the panel, and said again when it changes.
TEST_F(CaptureWorker, APictureStillFor10sIsSaidOnceWithItsProgramAndSoIsItsChange) {
  ComRef<ID3D11Texture2D> target = texture(64, 64);
  startCapturing(target.get());
  const std::string program = "programa=" + toUtf8(processImageName(GetCurrentProcessId()));
  for (int second = 1; second < 10; ++second) advance(1000);
  EXPECT_EQ(log_.count("La ventana capturada no cambia"), 0u);
  EXPECT_FALSE(engine_.stillPicture().still);
  EXPECT_EQ(engine_.stillPicture().unchangedForMs, 9000u);
  advance(1000);
  advance(5000);
  ASSERT_EQ(log_.count("La ventana capturada no cambia desde hace 10 s"), 1u) << log_.dump();
  EXPECT_EQ(log_.count(program), 1u) << log_.dump();
  const StillPictureReport still = engine_.stillPicture();
  EXPECT_TRUE(still.still);
  EXPECT_EQ(still.window, window_->hwnd());
  EXPECT_EQ(still.program, processImageName(GetCurrentProcessId()));

  window_->setColours(kBottom, kTop);
  advance(1000);
  EXPECT_EQ(log_.count("La ventana capturada vuelve a cambiar | " + program + "."), 1u) << log_.dump();
  EXPECT_FALSE(engine_.stillPicture().still);
}

// The sound of a still picture's application is asked by the worker, never the game's thread:
// from 8 s of the same picture, then every 5 s. A silent application's picture is not said.
std::atomic<int> g_soundAsks{0};
std::atomic<DWORD> g_soundAskThread{0};
SourceSound silentApplication(HWND) {
  g_soundAsks.fetch_add(1);
  g_soundAskThread.store(GetCurrentThreadId());
  return SourceSound::Silent;
}

TEST_F(CaptureWorker, TheWorkerAsksWhetherAStillPicturesApplicationSoundsAndASilentOneIsNotSaid) {
  ComRef<ID3D11Texture2D> target = texture(64, 64);
  engine_.setSoundProbe(&silentApplication);
  startCapturing(target.get());
  for (int second = 1; second < 8; ++second) advance(1000);
  EXPECT_EQ(g_soundAsks.load(), 0);
  advance(1000);
  EXPECT_EQ(g_soundAsks.load(), 1);
  EXPECT_EQ(g_soundAskThread.load(), engine_.workerThreadId());
  for (int second = 0; second < 10; ++second) advance(1000);
  EXPECT_EQ(g_soundAsks.load(), 3);
  EXPECT_EQ(log_.count("La ventana capturada no cambia"), 0u) << log_.dump();
  engine_.setSoundProbe(nullptr);
}

TEST_F(CaptureWorker, StartTwiceChangesNothingAndBadArgumentsAreRefused) {
  ComRef<ID3D11Texture2D> target = texture(64, 64);
  EXPECT_FALSE(engine_.start(nullptr, context_.get(), uniqueToken(), 30, true, 0, 0, 0, 0));
  EXPECT_FALSE(engine_.start(device_.get(), nullptr, uniqueToken(), 30, true, 0, 0, 0, 0));
  EXPECT_FALSE(engine_.workerRunning());
  startCapturing(target.get());
  const uint64_t generation = engine_.generation();
  EXPECT_TRUE(start(L"another keyword", 7));
  EXPECT_EQ(engine_.windowKeyword(), uniqueToken());
  EXPECT_EQ(engine_.effectiveFps(), 30);
  EXPECT_EQ(engine_.generation(), generation);
  EXPECT_EQ(log_.count("Captura de ventana iniciada."), 1u);
}

// The worker calls shutdown on itself (from the clock it reads): refused, and the engine goes on.
TEST_F(CaptureWorker, ShutdownFromTheWorkerThreadIsRefused) {
  struct SelfStop {
    GdiWindowCapture* engine;
    DWORD testThread;
    std::atomic<int> calls{0};
    clock::Source source;
  } self{&engine_, GetCurrentThreadId()};
  self.source = {[](void*) { return GetTickCount64(); },
                 [](void* p) {
                   auto* s = static_cast<SelfStop*>(p);
                   if (GetCurrentThreadId() != s->testThread && s->calls.fetch_add(1) == 0) s->engine->shutdown();
                   return static_cast<uint64_t>(GetTickCount64()) * 1'000'000ull;
                 },
                 &self};
  clock::setSource(&self.source);
  ComRef<ID3D11Texture2D> target = texture(64, 64);
  ASSERT_TRUE(start(uniqueToken()));
  EXPECT_FALSE(engine_.uploadLatestFrame(target.get()));
  for (int i = 0; i < 200 && !engine_.latestFrame(frame_); ++i) Sleep(10);
  clock::setSource(nullptr);
  EXPECT_GE(self.calls.load(), 1);
  EXPECT_TRUE(log_.has(LogLevel::ERROR, "WindowCapture::shutdown llamado desde el hilo de captura")) << log_.dump();
  EXPECT_TRUE(engine_.isActive());
  EXPECT_TRUE(engine_.workerRunning());
  EXPECT_TRUE(engine_.latestFrame(frame_));  // the worker carried on
  engine_.shutdown();
  EXPECT_FALSE(engine_.workerRunning());
  EXPECT_EQ(engine_.outputWidth(), 0u);
  // A later start brings a new worker.
  ASSERT_TRUE(start(uniqueToken()));
  EXPECT_TRUE(engine_.workerRunning());
}

TEST_F(CaptureWorker, AWindowThatClosesWhileBeingPrintedIsLostNotFatal) {
  AppWindow doomed(L"Doomed " + uniqueToken(), WS_VISIBLE, 700, 300, 200, 120);
  doomed.toFront();
  ComRef<ID3D11Texture2D> target = texture(64, 64);
  ASSERT_TRUE(start(L"Doomed " + uniqueToken()));
  EXPECT_FALSE(engine_.uploadLatestFrame(target.get()));
  ASSERT_TRUE(settle());
  ASSERT_EQ(engine_.currentWindow(), doomed.hwnd());
  log_.clear();
  doomed.destroyOnNextPrint();
  advance(40);
  for (int i = 0; i < 300 && IsWindow(doomed.hwnd()); ++i) Sleep(10);
  advance(40);
  EXPECT_FALSE(engine_.hasWindow());
  EXPECT_EQ(log_.count("Ventana de captura perdida; recuperacion automatica en espera."), 1u) << log_.dump();
  EXPECT_TRUE(engine_.isActive());
}

// A window that stops answering while the worker prints it: the game's shut-down waits for the
// worker no longer than its time bound and lets go of the staging textures all the same, no new
// worker starts while the old one is still inside, and the old one ends by itself once the
// window answers.
TEST_F(CaptureWorker, AWindowThatHangsWhileBeingPrintedCostsShutDownItsTimeBoundOnly) {
  clock::setSource(nullptr);  // the bound runs on real time here
  detour::setShutdownBudgetMs(300);
  AppWindow stuck(L"Stuck " + uniqueToken(), WS_VISIBLE, 700, 300, 200, 120);
  stuck.toFront();
  ComRef<ID3D11Texture2D> target = texture(64, 64);
  const ULONG deviceRefs = refCount(device_.get());
  ASSERT_TRUE(start(L"Stuck " + uniqueToken()));
  EXPECT_FALSE(engine_.uploadLatestFrame(target.get()));  // hands over the size
  for (int i = 0; i < 500 && !engine_.latestFrame(frame_); ++i) Sleep(10);
  ASSERT_TRUE(engine_.latestFrame(frame_));
  stuck.hangOnNextPrint(3000);
  for (int i = 0; i < 300 && !stuck.hanging(); ++i) Sleep(10);
  ASSERT_TRUE(stuck.hanging());

  const ULONGLONG begin = GetTickCount64();
  engine_.shutdown();
  const ULONGLONG took = GetTickCount64() - begin;
  detour::setShutdownBudgetMs(detour::kDefaultShutdownBudgetMs);
  EXPECT_LT(took, 1500u);
  EXPECT_TRUE(log_.has(LogLevel::WARNING, "La ventana capturada no responde")) << log_.dump();
  EXPECT_TRUE(engine_.workerRunning());
  // What the render side holds of the game's device goes all the same.
  EXPECT_EQ(refCount(device_.get()), deviceRefs);
  EXPECT_FALSE(start(L"Stuck " + uniqueToken())) << "a second worker while the first is inside";
  EXPECT_FALSE(start(L"Stuck " + uniqueToken()));
  EXPECT_EQ(log_.count("El hilo de captura anterior sigue esperando"), 1u) << log_.dump();
  // A second shut-down meanwhile leaves the surfaces the worker is painting into alone.
  const uint64_t released = engine_.counters().surfacesReleased;
  engine_.shutdown();
  EXPECT_EQ(engine_.counters().surfacesReleased, released);
  EXPECT_TRUE(engine_.workerRunning());

  for (int i = 0; i < 600 && engine_.workerRunning(); ++i) Sleep(10);
  EXPECT_FALSE(engine_.workerRunning()) << "the worker ends once the window answers";
  ASSERT_TRUE(start(L"Stuck " + uniqueToken()));
  EXPECT_TRUE(engine_.workerRunning());
}

// 1,000 captured and uploaded frames leave no GDI object and no COM reference behind.
TEST_F(CaptureWorker, AThousandFramesLeakNoGdiObjectNorComReference) {
  ComRef<ID3D11Texture2D> target = texture(256, 256);
  startCapturing(target.get());
  ASSERT_TRUE(engine_.uploadLatestFrame(target.get()));
  const size_t gdiBefore = liveGdiObjects();
  const ULONG textureRefs = refCount(target.get());
  const ULONG contextRefs = refCount(context_.get());
  const ULONG deviceRefs = refCount(device_.get());
  const CaptureCounters before = engine_.counters();
  int uploaded = 0;
  for (int i = 0; i < 1000; ++i) {
    advance(34);
    uploaded += engine_.uploadLatestFrame(target.get());
  }
  const CaptureCounters after = engine_.counters();
  EXPECT_EQ(uploaded, 1000);
  EXPECT_EQ(after.framesPublished - before.framesPublished, 1000u);
  EXPECT_EQ(after.surfacesCreated, before.surfacesCreated);  // surfaces reused
  EXPECT_EQ(liveGdiObjects(), gdiBefore);
  EXPECT_EQ(refCount(target.get()), textureRefs);
  EXPECT_EQ(refCount(context_.get()), contextRefs);
  EXPECT_EQ(refCount(device_.get()), deviceRefs);
  engine_.shutdown();
  EXPECT_EQ(engine_.counters().surfacesReleased, engine_.counters().surfacesCreated);
  EXPECT_EQ(liveGdiObjects(), gdiBefore - 2);  // the painted surface (its DC and DIB section) is gone
}

// A window that PrintWindow paints goes dark (a fade, credits, a night scene) but for a small
// bright square that no black sample falls on: the picture PrintWindow gave is shown as it is,
// square and all, and nothing else is asked to paint it.
TEST_F(CaptureWorker, ADarkPictureOfTheKeptMethodIsShownAsItIs) {
  ComRef<ID3D11Texture2D> target = texture(320, 180);
  startCapturing(target.get());
  const uint64_t copies = engine_.counters().deviceContextCopies;
  window_->setColours(RGB(0, 0, 0), RGB(0, 0, 0));
  window_->setSpot({148, 60, 172, 74}, RGB(250, 250, 250));  // between the samples' rows and columns
  for (int i = 0; i < 30; ++i) advance(34);
  ASSERT_TRUE(engine_.latestFrame(frame_));
  // The square's centre (160, 67) in the picture of 307 x 172 at (6, 4), top rows first.
  EXPECT_GT(pixelAt(frame_, 6 + 160 * 307 / 320, 4 + 67 * 172 / 180) & 0xFF, 240u);
  EXPECT_EQ(pixelAt(frame_, 6 + 40 * 307 / 320, 4 + 140 * 172 / 180), 0u);
  EXPECT_EQ(engine_.counters().deviceContextCopies, copies);
}

// Each window keeps the method that gave it a picture: PrintWindow for a window that answers it,
// the device context's copy for one that PrintWindow leaves black (another process's window on
// some hosts), found again when the worker comes back to it; a new size tries PrintWindow again,
// and so does the fallback every few seconds, which is how a window that answers again gets it back.
TEST_F(CaptureWorker, EachWindowKeepsThePaintMethodThatGaveItAPicture) {
  AppWindow unprintable(L"Radio " + uniqueToken(), WS_VISIBLE, 700, 300, 200, 120);
  unprintable.setPrintable(false);
  unprintable.toFront();
  ComRef<ID3D11Texture2D> target = texture(100, 100);
  ASSERT_TRUE(start(L"Radio " + uniqueToken()));
  EXPECT_FALSE(engine_.uploadLatestFrame(target.get()));
  ASSERT_TRUE(settle());
  ASSERT_TRUE(engine_.latestFrame(frame_)) << log_.dump();
  EXPECT_EQ(pixelAt(frame_, 50, 25), pixelOf(kTop));
  const struct Step {
    const char* what;
    const wchar_t* keyword;  // the window captured from here on (null: the same)
    int frames;
    uint64_t prints, copies;  // calls over those frames
  } steps[] = {
      {"the fallback kept", nullptr, 30, 0, 30},
      {"a window that PrintWindow paints", L"Player ", 30, 30, 0},
      {"back to the first window: its method is remembered", L"Radio ", 30, 0, 30},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    if (step.keyword) {
      engine_.setWindowKeyword(step.keyword + uniqueToken());
      advance(34);  // the search, and the first frame of the window
    }
    const CaptureCounters before = engine_.counters();
    for (int i = 0; i < step.frames; ++i) advance(34);
    const CaptureCounters after = engine_.counters();
    EXPECT_EQ(after.framesPublished - before.framesPublished, static_cast<uint64_t>(step.frames));
    EXPECT_EQ(after.printWindowCalls - before.printWindowCalls, step.prints);
    EXPECT_EQ(after.deviceContextCopies - before.deviceContextCopies, step.copies);
  }
  unprintable.resizeClient(240, 120);
  const uint64_t prints = printWindowCalls();
  advance(34);
  EXPECT_EQ(printWindowCalls(), prints + 1) << "a new size tries PrintWindow again";
  for (int i = 0; i < 60; ++i) advance(34);
  EXPECT_EQ(printWindowCalls(), prints + 1);
  unprintable.setPrintable(true);
  for (int i = 0; i < 150; ++i) advance(34);  // five seconds
  const uint64_t copies = engine_.counters().deviceContextCopies;
  for (int i = 0; i < 10; ++i) advance(34);
  EXPECT_EQ(engine_.counters().deviceContextCopies, copies) << "PrintWindow is back";
  EXPECT_EQ(log_.count("se copia desde su contexto de dispositivo"), 1u);
}

}  // namespace
}  // namespace zor::test
