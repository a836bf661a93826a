// The capture worker's watch on its own picture: a window whose picture stays the same for 10 s
// while its application may be playing is said once (WARNING, with the program and its cure),
// and so is the moment it changes again (INFO). Browsers stop painting covered windows. The
// application's sound is asked here, on the worker: reading audio sessions takes COM calls into
// the audio service, which the game's thread must not wait for.
#include <windows.h>

#include "capture/GdiWindowCapture.h"
#include "capture/WindowMatching.h"
#include "core/Clock.h"
#include "core/Logger.h"
#include "core/Utf8.h"

namespace zor {

namespace {
constexpr uint64_t kSoundAskAfterNs = 8'000'000'000ull;  // before the picture counts as still
constexpr uint64_t kSoundAskPeriodNs = 5'000'000'000ull;
}  // namespace

void GdiWindowCapture::watchPicture(HWND window, uint64_t generation, uint64_t fingerprint) {
  const uint64_t now = clock::steadyNs();
  if (window != stillWindow_) {
    stillWindow_ = window;
    stillGeneration_ = generation;
    still_.restart(now);
    soundAskedNs_ = 0;
    pictureStill_.store(false, std::memory_order_release);
  } else if (generation != stillGeneration_) {
    stillGeneration_ = generation;
    still_.resume(now);
  }
  const uint64_t since = still_.unchangedSinceNs();
  if (const SoundProbe probe = soundProbe_.load(std::memory_order_acquire);
      probe && now >= since + kSoundAskAfterNs && (soundAskedNs_ == 0 || now - soundAskedNs_ >= kSoundAskPeriodNs)) {
    soundAskedNs_ = now;
    SourceSound asked = SourceSound::Unknown;
    try {
      asked = probe(window);
    } catch (...) {
    }
    setSourceSound(window, asked);
  }
  const SourceSound sound =
      soundWindow_.load(std::memory_order_acquire) == window ? sound_.load(std::memory_order_acquire) : SourceSound::Unknown;
  const StillPictureRule::Event event = still_.observe(fingerprint, now, sound);
  unchangedSinceNs_.store(still_.unchangedSinceNs(), std::memory_order_release);
  watchedWindow_.store(window, std::memory_order_release);
  if (event == StillPictureRule::Event::None) return;
  std::wstring program;
  try {
    program = windowProgram(window);
  } catch (...) {
  }
  const std::string name = program.empty() ? std::string("desconocido") : toUtf8(program);
  if (event == StillPictureRule::Event::Frozen) {
    {
      std::lock_guard<std::mutex> lock(stillMutex_);
      stillProgram_ = program;
    }
    pictureStill_.store(true, std::memory_order_release);
    logWarning("La ventana capturada no cambia desde hace " +
               std::to_string((now - still_.unchangedSinceNs()) / 1'000'000'000ull) +
               " s mientras se reproduce | programa=" + name + " | " + stillPictureHint(program));
  } else {
    pictureStill_.store(false, std::memory_order_release);
    logInfo("La ventana capturada vuelve a cambiar | programa=" + name + ".");
  }
}

StillPictureReport GdiWindowCapture::stillPicture() {
  StillPictureReport report;
  if (!active_.load(std::memory_order_acquire)) return report;
  report.window = watchedWindow_.load(std::memory_order_acquire);
  if (!report.window || !IsWindow(report.window)) return {};
  const uint64_t now = clock::steadyNs(), since = unchangedSinceNs_.load(std::memory_order_acquire);
  report.unchangedForMs = report.window && now > since ? (now - since) / 1'000'000ull : 0;
  if (!pictureStill_.load(std::memory_order_acquire)) return report;
  report.still = true;
  try {
    std::lock_guard<std::mutex> lock(stillMutex_);
    report.program = stillProgram_;
  } catch (...) {
  }
  return report;
}

void GdiWindowCapture::setSourceSound(HWND window, SourceSound sound) {
  sound_.store(sound, std::memory_order_release);
  soundWindow_.store(window, std::memory_order_release);
}

}  // namespace zor
