// The diagnostics center: on request, a fixed series of checks of the plugin's parts inside the
// running game (host process, GPS texture, capture, replacement, visibility, CPU, memory, GPU,
// configured frame rate, uptime, application library), the result list with a one-line verdict,
// and one repair action that restarts the search for the captured window. Everything runs on the
// render thread when the player presses a button; nothing runs in the background.
//
// What the checks read of the machine (process times, memory, adapter, wall clock, the pause of
// the CPU sample) goes through SystemProbe, so tests give exact readings and never sleep.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zor {

struct DiagnosticItem {
  enum Status : int32_t { Pending = 0, Ok = 1, Warning = 2, Error = 3 };
  std::string name;
  int32_t status = Pending;
  std::string detail;
  int64_t durationMs = -1;  // -1: not measured
};

// "OK", "ADVERTENCIA", "ERROR", anything else "PENDIENTE".
const char* diagnosticStatusLabel(int32_t status);

// Process CPU times and creation time, in 100 ns units (FILETIME values).
struct ProcessTimes {
  uint64_t creation = 0;
  uint64_t kernel = 0;
  uint64_t user = 0;
};

// The readings of the machine the checks take. The default reads the system.
class SystemProbe {
 public:
  virtual ~SystemProbe() = default;
  // The host executable's path (GetModuleFileNameW, at most 260 characters); empty on failure.
  virtual std::wstring hostExecutablePath();
  virtual bool processTimes(ProcessTimes& out);
  // Number of processors (GetSystemInfo); 0 when unknown.
  virtual uint32_t processorCount();
  // Working-set size of the process in bytes; 0 on failure.
  virtual uint64_t workingSetBytes();
  // Description of DXGI adapter 0; empty on failure.
  virtual std::wstring adapterDescription();
  // GetSystemTimeAsFileTime.
  virtual uint64_t systemTimeNow();
  virtual SYSTEMTIME localTime();
  virtual void sleepMs(uint32_t ms);

  // The probe in use; install(nullptr) restores the system one. Tests only, never while checks run.
  static SystemProbe& current();
  static void install(SystemProbe* probe);
};

class DiagnosticsCenter {
 public:
  static constexpr size_t kCheckCount = 12;

  static DiagnosticsCenter& instance();

  // Builds the initial list (eleven items "Sin comprobar") when the list is empty, and logs
  // that the module is ready. Called by the overlay when it starts.
  void initialize();
  // One check of every part; results in the fields below.
  void runChecks();
  // Restarts the search for the captured window (keyword cleared, 60 ms, restored) and checks
  // again. False, with only the message set, when no window is configured.
  bool repairCapture();
  // Process CPU usage over a 120 ms sample, 0..100; -1 when it cannot be measured.
  static double measureCpuUsage();

  std::vector<DiagnosticItem> items;
  std::string summary = "Pulse Comprobar sistema.";
  std::string lastCheck;  // "DD/MM/YYYY HH:MM:SS", local time
  int32_t durationMs = 0;
  std::wstring reportPath;  // last report written
  std::string reportText;   // its content, UTF-8
  std::string actionMessage;
  bool checked = false;

  // Back to a fresh process's state (tests).
  void reset();

 private:
  DiagnosticsCenter() = default;
};

}  // namespace zor
