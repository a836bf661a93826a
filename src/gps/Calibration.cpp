#include "gps/Calibration.h"

#include <atomic>

#include "core/IniFile.h"
#include "core/Logger.h"

namespace zor {
namespace {
std::atomic<bool> g_calibration{true};
std::atomic<bool> g_restorePattern{false};
}  // namespace

bool calibrationMode() noexcept { return g_calibration.load(std::memory_order_relaxed); }

void storeCalibrationMode(bool on) noexcept {
  g_calibration.store(on, std::memory_order_relaxed);
  g_restorePattern.store(false, std::memory_order_relaxed);
}

bool switchCalibrationMode(bool on, const std::wstring& path, const char* by) {
  if (g_calibration.exchange(on, std::memory_order_acq_rel) == on) return true;
  if (on) g_restorePattern.store(true, std::memory_order_release);
  const std::string who = by ? by : "";
  logInfo(on ? "Modo calibracion activado por " + who + ": el GPS muestra el patron de prueba."
             : "Modo calibracion desactivado por " + who + ": el GPS muestra la ventana elegida.");
  return ini::updateKeys(path, {{L"gps", L"calibration_mode", on ? L"1" : L"0"}});
}

bool takePatternRestore() noexcept {
  return g_restorePattern.load(std::memory_order_relaxed) && g_restorePattern.exchange(false, std::memory_order_acq_rel);
}

}  // namespace zor
