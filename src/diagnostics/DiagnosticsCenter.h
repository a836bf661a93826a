// The diagnostics center: on request, a fixed series of checks of the plugin's parts inside the
// running game (host process, GPS texture, capture, replacement, visibility, CPU, memory, GPU,
// configured frame rate, uptime, application library), the result list with a one-line verdict,
// and one repair action that restarts the search for the captured window, both on the player's
// request. The panel starts them without waiting: what takes time (the repair's pause, the CPU
// sample and the other readings of the machine) runs on a short-lived worker, and the render
// thread puts the results in place on the first frame after it has ended.
//
// What the checks read of the machine (process times, memory, adapter, wall clock, the pause of
// the CPU sample) goes through SystemProbe, so tests give exact readings and never sleep.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace zor {

struct DiagnosticItem {
  // Info: nothing wrong, something worth knowing (another overlay in the game).
  enum Status : int32_t { Pending = 0, Ok = 1, Warning = 2, Error = 3, Info = 4 };
  std::string name;
  int32_t status = Pending;
  std::string detail;
  int64_t durationMs = -1;  // -1: not measured
};

// "OK", "ADVERTENCIA", "ERROR", "INFO", anything else "PENDIENTE".
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
  // The other overlays and injectors loaded in the process (otherOverlaysInProcess).
  virtual std::vector<std::string> otherOverlays();

  // The probe in use; install(nullptr) restores the system one. Tests only, never while checks run.
  static SystemProbe& current();
  static void install(SystemProbe* probe);
};

class DiagnosticsCenter {
 public:
  static constexpr size_t kCheckCount = 13;

  static DiagnosticsCenter& instance();
  ~DiagnosticsCenter();

  // Builds the initial list (eleven items "Sin comprobar") when the list is empty, and logs
  // that the module is ready. Called by the overlay when it starts.
  void initialize();
  // One check of every part, on the calling thread (which waits for the CPU sample); results in
  // the fields below.
  void runChecks();
  // Restarts the search for the captured window (keyword cleared, 60 ms, restored) and checks
  // again, on the calling thread. False, with only the message set, when no window is configured.
  bool repairCapture();

  // The same two for the render thread, which never waits: they return at once, the worker
  // does the waiting, and collect() finishes the work. False when one is already under way
  // (nothing is started); startRepair is also false, with only the message set, when no window
  // is configured.
  bool startChecks();
  bool startRepair();
  // Render thread, every frame: when the worker has ended, finishes its step (the repair's
  // window search restored, then the check's rows, summary and log line). True when a check's
  // results have just been put in place.
  bool collect();
  // A check or repair is under way (the panel shows "Comprobando...").
  bool busy() const { return phase_ != Phase::Idle; }
  // Overlay shut-down: waits for the worker (at most what is left of its pause) and drops its
  // work; the window search of an unfinished repair is restored.
  void stop();
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
  // The other overlays and injectors the last check found in the process (see OtherOverlays.h).
  std::vector<std::string> otherOverlays;

  // Back to a fresh process's state (tests).
  void reset();

  // What a check reads of the machine; the CPU sample waits, so off the render thread.
  struct MachineReadings {
    DiagnosticItem host, cpu, memory, gpu, uptime, overlays;
    std::vector<std::string> otherOverlays;
    SYSTEMTIME localTime{};
  };

 private:
  DiagnosticsCenter() = default;
  enum class Phase { Idle, RepairPause, Checking };

  void beginCheck();
  void finishCheck(std::vector<DiagnosticItem> pluginRows, const MachineReadings& machine, uint64_t startNs);
  void endRepairPause();
  // Runs job on the worker (on this thread when no thread can be made), then marks it done.
  void launch(const std::function<void()>& job) noexcept;

  // Render thread only.
  Phase phase_ = Phase::Idle;
  std::wstring repairKeyword_;
  std::vector<DiagnosticItem> pluginRows_;  // read when the check began
  uint64_t checkStartNs_ = 0;
  // The worker's; read by the render thread once done_ is set.
  std::thread worker_;
  std::atomic<bool> done_{false};
  MachineReadings machine_;
};

}  // namespace zor
