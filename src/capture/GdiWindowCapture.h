// The capture engine: a worker thread finds the user's window by its title fragment, paints it
// into a memory surface (with PrintWindow, or by copying its device context where PrintWindow
// leaves it black: the method that gave a picture is kept per window), scales it (96 % of the
// GPS texture, centred; FrameScaler.h) straight into a staging texture the render thread mapped
// for it (StagingRing.h) and publishes it, at most 30 times a second. The render thread has the
// GPU copy the newest picture into the GPS texture (uploadLatestFrame) without ever waiting for
// the worker; the black bars around the picture are written once per texture.
//
// Every change that makes frames in flight stale (start, deactivate, pause, keyword, output
// size, shutdown) bumps the capture generation; the worker drops frames of an old generation
// and the render thread never sees a frame of another size. Waits are condition-variable waits
// on deadlines read from the clock seam, so tests move time by hand (wake() re-evaluates them).
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/FrameScaler.h"
#include "capture/StagingRing.h"
#include "capture/StillPicture.h"
#include "capture/UploadCadence.h"
#include "capture/WindowCapture.h"
#include "core/TimedWake.h"

namespace zor {

// A whole frame as the GPS texture receives it: 32-bit pixels as GDI leaves them (blue, green,
// red, fourth byte), the picture on black (tests and benchmarks read it with latestFrame).
struct CaptureFrame {
  std::vector<uint8_t> pixels;  // height rows of stride bytes
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t stride = 0;  // width * 4
  uint64_t sequence = 0;  // 0 = never published
};

// What the engine has done so far (tests and benchmarks count work with these).
struct CaptureCounters {
  uint64_t printWindowCalls = 0;
  uint64_t deviceContextCopies = 0;  // BitBlt copies of the window's device context
  uint64_t framesPublished = 0;
  uint64_t windowSearches = 0;
  uint64_t uploads = 0;  // pictures copied into the GPS texture
  // Bytes the render thread handed to the context from CPU memory (the black bars, once per
  // texture); the pictures themselves go from staging memory by the GPU's copy.
  uint64_t renderThreadBytes = 0;
  uint64_t barWrites = 0;       // textures whose bars were made black
  uint64_t noStagingMemory = 0;  // pictures not composed: no mapped staging texture was free
  uint64_t surfacesCreated = 0;
  uint64_t surfacesReleased = 0;
  // Time spent in the steps of the published frames (steady nanoseconds, summed): painting the
  // window (PrintWindow, the black test and any device-context copy), composing (the scaling
  // into a slot), publishing (the rest of the hand-over).
  uint64_t paintNs = 0;
  uint64_t composeNs = 0;
  uint64_t publishNs = 0;
};

class GdiWindowCapture final : public WindowCapture {
 public:
  GdiWindowCapture() = default;
  ~GdiWindowCapture() override;
  GdiWindowCapture(const GdiWindowCapture&) = delete;
  GdiWindowCapture& operator=(const GdiWindowCapture&) = delete;

  // The process's engine (what WindowCapture::instance() gives unless another is installed).
  static GdiWindowCapture& processEngine() noexcept;

  bool start(ID3D11Device* device, ID3D11DeviceContext* context, const std::wstring& keyword, uint32_t fps, bool flip,
             int32_t cropLeft, int32_t cropTop, int32_t cropWidth, int32_t cropHeight) override;
  void deactivate() override;
  // Refused (ERROR line, nothing changes) when called from the worker thread itself.
  void shutdown() override;
  void setPaused(bool paused) override;
  void setFps(uint32_t fps) override;
  void setWindowKeyword(const std::wstring& keyword) override;
  void setWindowTarget(const CaptureTarget& target) override;
  std::wstring windowKeyword() override;
  bool hasWindow() override;
  HWND currentWindow() override;
  int32_t effectiveFps() override;
  int64_t frameIntervalMs() override;
  bool isActive() override { return active_.load(std::memory_order_acquire); }
  bool uploadLatestFrame(ID3D11Texture2D* texture) override;
  bool hasNewFrame() override;
  void releaseDeviceObjects() override;
  StillPictureReport stillPicture() override;
  void setSourceSound(HWND window, SourceSound sound) override;
  void setSoundProbe(SoundProbe probe) override { soundProbe_.store(probe, std::memory_order_release); }
  void prepareFramesFor(ID3D11Texture2D* texture) override;
  void markUploadPoint() override;
  void renderThreadTurn() override;
  void releaseBeforeHooksGo(uint64_t deadlineNs, bool onRenderThread) override;

  // For tests and benchmarks.
  // Re-evaluates every wait of the worker now (after a test moved the clock).
  void wake();
  // Blocks until the worker waits with nothing left to act on (true), or the timeout passes.
  bool waitUntilIdle(uint32_t timeoutMs);
  // A copy of the newest published frame; false when none, or when called off the render thread
  // (the thread that hands the engine its textures).
  bool latestFrame(CaptureFrame& out);
  // Every staging texture is let go of (tests).
  bool ringReleased() const { return ring_.empty(); }
  uint64_t generation() const { return generation_.load(); }
  uint32_t outputWidth() const { return outputWidth_.load(); }
  uint32_t outputHeight() const { return outputHeight_.load(); }
  // Clock-seam steady time at which the newest picture was published (0: none yet).
  uint64_t latestPublishedAtNs() const { return latestPublishedAtNs_.load(std::memory_order_acquire); }
  // A worker thread exists: ours, or one a shut-down had to leave inside a window that did not
  // answer (it ends by itself once the window answers).
  bool workerRunning();
  DWORD workerThreadId() const { return workerThreadId_.load(); }
  // Benchmarks: the worker as it was before it kept a paint method per window and shrank with the
  // tent (PrintWindow every frame, then the device context when it was all black; area average
  // in 128-bit loops). Set before start.
  void setLegacyPainting(bool legacy) {
    legacyPainting_ = legacy;
    scaler_.useWideVectors(!legacy);
  }
  // Benchmarks: captures at their bare interval, not aimed at the game's uploads. Captures are
  // never aimed without a high-resolution timer: a wake-up late by up to a tick would miss the
  // upload it was aimed at more often than a capture started when due.
  void setAimedCaptures(bool aimed);
  // Tests: what the worker calls in place of PrintWindow (nullptr: PrintWindow), set while it
  // is not painting. Wine's PrintWindow never reports a failure.
  using PrintFunction = BOOL(WINAPI*)(HWND window, HDC dc, UINT flags);
  void setPrintFunction(PrintFunction print) { print_.store(print); }
  CaptureCounters counters() const;

 private:
  // The worker's snapshot, taken under the state lock at every pass. The texts are copied only
  // when they changed (targetRevision), so a pass allocates nothing.
  struct Settings {
    HWND window = nullptr;
    std::wstring keyword;
    std::wstring program;  // its main window is found when no title holds the keyword
    uint64_t targetRevision = 0;
    int32_t cropLeft = 0, cropTop = 0, cropWidth = 0, cropHeight = 0;
    uint32_t outputWidth = 0, outputHeight = 0;
    int64_t intervalMs = 33;
    bool flip = false;
    uint64_t generation = 0;
  };
  struct Surface {  // a memory DC with a 32-bit DIB section selected into it
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    void* bits = nullptr;
    int width = 0, height = 0;
    bool flip = false;
  };
  struct WorkerClock {  // steady nanoseconds
    uint64_t lastAttempt = 0, lastSearch = 0, lastFrame = 0, lastWatchdog = 0, lastRestart = 0;
    uint64_t lastRestartWarning = 0;  // the watchdog's last WARNING (thinned)
    bool lossLogged = false;
    bool restartPending = false;
    bool minimisedLogged = false;  // the window was minimised at the last attempt (and said so)
    uint64_t seenGeneration = 0;
    // The next capture's start, and the game's upload it is aimed at (0: not aimed).
    uint64_t plannedStart = 0, plannedPoint = 0;
    uint64_t plannedFrom = 0;  // the newest upload mark when the capture was planned
    uint64_t aimedPoint = 0;  // the upload the last capture was aimed at
  };

  struct StepTimes {
    uint64_t paintNs = 0;
    uint64_t composeNs = 0;
    uint64_t fingerprint = 0;  // of the painted pixels the picture was composed from
  };

  // How a window gives its picture. Kept per window: the method that last gave a picture at the
  // client size it was found for; the other one is tried again when the kept one gives black, and
  // every few seconds while the fallback is kept, never oftener than that.
  enum class PaintMethod : uint8_t { Unknown, PrintWindow, DeviceContext };
  struct PaintChoice {
    HWND window = nullptr;
    PaintMethod method = PaintMethod::Unknown;
    int width = 0, height = 0;
    uint64_t otherTriedNs = 0;
    uint64_t usedNs = 0;  // the entry used longest ago gives way to a new window
  };
  static constexpr size_t kPaintChoices = 8;

  void workerLoop();
  // One pass of the loop; false when the worker must leave.
  bool iterate(WorkerClock& w);
  bool captureInto(HWND window, const Settings& s, StepTimes& steps);
  PaintChoice& paintChoiceFor(HWND window, int width, int height, uint64_t now);
  // Paints the window into the surface with the method; false when the call failed.
  bool paintWith(PaintMethod method, HWND window, Surface& surface);
  bool sizeSurface(Surface& surface, int width, int height);
  // Composes the picture into a staging texture and publishes it.
  bool publish(const Settings& s, StepTimes& steps);
  // The still-picture rule for a published frame of window (PictureWatch.cpp).
  void watchPicture(HWND window, uint64_t generation, uint64_t fingerprint);

  // Waits under the state lock until the clock reaches deadline, or stop, deactivation, pause or
  // a generation other than `generation`.
  void waitUntil(std::unique_lock<std::mutex>& lock, uint64_t deadlineNs, uint64_t generation);
  template <class Predicate>
  void waitFor(std::unique_lock<std::mutex>& lock, Predicate done);
  void blockOnce(std::unique_lock<std::mutex>& lock, uint64_t timeoutNs);
  void notifyWorker();
  void setWorkerExited(bool exited);
  // Waits until the worker loop has ended or the steady clock reaches deadlineNs (false).
  bool waitForWorkerExit(uint64_t deadlineNs);
  void resetFrameBuffer();
  // Render thread: the staging ring for the current output size on context (false: not usable yet).
  bool serviceRing(ID3D11DeviceContext* context, const D3D11_TEXTURE2D_DESC& desc);
  void endOnDriverFault();
  void letGoOfDevice();
  // Render thread: the bars around the picture box are black in texture (once per texture);
  // false when the driver faulted (capture has ended on the device).
  bool blackenBars(ID3D11DeviceContext* context, ID3D11Texture2D* texture, const D3D11_TEXTURE2D_DESC& desc,
                   uint32_t boxX, uint32_t boxY);
  // The frames are for a texture of this size from now on; false when that is a change (the
  // frame buffer is emptied and the worker starts again at the new size).
  bool keepOutputSize(uint32_t width, uint32_t height);
  void bumpGeneration() { generation_.fetch_add(1, std::memory_order_acq_rel); }
  bool createSurface(Surface& surface, int width, int height, bool topDown);
  void releaseSurface(Surface& surface);
  void releaseSurfaces();

  // Borrowed from start(); read by the render thread without a lock.
  std::atomic<ID3D11DeviceContext*> context_{nullptr};

  // State lock: the fields below up to the condition variables.
  std::mutex stateMutex_;
  HWND window_ = nullptr;
  std::wstring keyword_;
  std::wstring program_;
  uint64_t targetRevision_ = 1;  // bumped whenever keyword_ or program_ change
  int32_t cropLeft_ = 0, cropTop_ = 0, cropWidth_ = 0, cropHeight_ = 0;
  bool flip_ = false;
  int64_t intervalMs_ = 33;
  uint64_t wakeSequence_ = 0;     // bumped by every notification
  uint64_t blockedSequence_ = 0;  // the notification count when the worker last blocked
  bool blocked_ = false;          // the worker is waiting
  bool workerExited_ = true;      // no worker loop runs
  std::condition_variable wakeup_;
  std::condition_variable idle_;  // tests: the worker blocked
  TimedWake timedWake_;           // the worker's timed waits; woken with wakeup_

  std::atomic<uint32_t> outputWidth_{0};
  std::atomic<uint32_t> outputHeight_{0};
  std::atomic<bool> active_{false};
  std::atomic<bool> stop_{false};
  std::atomic<bool> paused_{false};
  std::atomic<uint64_t> generation_{0};
  std::thread thread_;
  std::atomic<DWORD> workerThreadId_{0};

  // The pictures on their way: composed by the worker into the ring, copied by the render
  // thread. No lock: see StagingRing.h.
  StagingRing ring_;
  uint64_t nextSequence_ = 1;  // worker only
  std::atomic<uint64_t> latestPublished_{0};
  std::atomic<uint64_t> lastUploaded_{0};
  std::atomic<uint64_t> latestPublishedAtNs_{0};
  std::atomic<DWORD> renderThreadId_{0};  // the thread that last serviced the ring
  // Shut-down asks the render thread to let go of the ring at its next turn.
  static constexpr int kTurnIdle = 0, kTurnAsked = 1, kTurnRunning = 2;
  std::atomic<int> turn_{kTurnIdle};
  std::atomic<bool> ringHeld_{false};  // the ring may hold textures (serviced since its last release)
  std::mutex turnMutex_;
  std::condition_variable turnDone_;
  // Render thread only: the texture (and its content epoch) whose bars are black, and where the
  // picture sat then.
  UploadCadence cadence_;
  std::atomic<bool> aimedCaptures_{true};
  ID3D11Texture2D* barsTexture_ = nullptr;
  uint64_t barsEpoch_ = 0;
  uint32_t barsBoxX_ = 0, barsBoxY_ = 0;

  // Worker-only (and shutdown after the join).
  Settings settings_;
  Surface source_;
  Surface other_;  // the method not kept, when it is tried beside the kept one
  PaintChoice paintChoices_[kPaintChoices];
  CaptureLead lead_;
  bool legacyPainting_ = false;
  FrameScaler scaler_;
  HWND fallbackLoggedWindow_ = nullptr;
  StillPictureRule still_;
  HWND stillWindow_ = nullptr;
  uint64_t stillGeneration_ = 0;

  // The still picture as other threads see it; the program under its own lock (read only
  // while the picture is still).
  std::atomic<bool> pictureStill_{false};
  std::atomic<uint64_t> unchangedSinceNs_{0};
  std::atomic<HWND> watchedWindow_{nullptr};
  std::mutex stillMutex_;
  std::wstring stillProgram_;
  std::atomic<HWND> soundWindow_{nullptr};
  std::atomic<SourceSound> sound_{SourceSound::Unknown};
  std::atomic<SoundProbe> soundProbe_{nullptr};
  uint64_t soundAskedNs_ = 0;  // worker: when the probe last answered for stillWindow_ (0: not yet)

  std::atomic<PrintFunction> print_{nullptr};
  HWND printFailureWindow_ = nullptr;  // worker: the window whose PrintWindow failure was said last

  // One-shot messages of the engine's life (the process engine lives as long as the process).
  std::atomic<bool> firstFrameLogged_{false};
  std::atomic<bool> strandedWarned_{false};  // a start met the worker a shut-down left behind

  std::atomic<uint64_t> printWindowCalls_{0}, deviceContextCopies_{0}, framesPublished_{0}, windowSearches_{0},
      uploads_{0}, surfacesCreated_{0}, surfacesReleased_{0}, paintNs_{0}, composeNs_{0}, publishNs_{0},
      renderThreadBytes_{0}, barWrites_{0}, noStagingMemory_{0};
};

}  // namespace zor
