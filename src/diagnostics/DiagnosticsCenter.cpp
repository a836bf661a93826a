#include "diagnostics/DiagnosticsCenter.h"

#include <dxgi.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>

#include "capture/WindowCapture.h"
#include "core/Clock.h"
#include "core/ComRef.h"
#include "core/Logger.h"
#include "core/Utf8.h"
#include "diagnostics/OtherOverlays.h"
#include "gps/GpsTextureReplacer.h"
#include "media/AppLibrary.h"

namespace zor {
namespace {

constexpr uint32_t kCpuSampleMs = 120;
constexpr uint32_t kRepairPauseMs = 60;
constexpr uint64_t kVisibleWithinMs = 1800;
constexpr uint64_t k100nsPerSecond = 10'000'000ull;

constexpr const char* kInitialNames[] = {"ATS",  "GPS TabCast", "Aplicacion",       "Captura",       "Reemplazo GPS", "CPU",
                                         "Memoria RAM", "GPU", "FPS configurados", "Tiempo activo", "Biblioteca",
                                         "Otros overlays"};

uint64_t fileTimeValue(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

DiagnosticItem item(const char* name, int32_t status, std::string detail, int64_t durationMs = -1) {
  return DiagnosticItem{name, status, std::move(detail), durationMs};
}

std::string fileNamePart(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\/");
  return toUtf8(cut == std::wstring::npos ? path : path.substr(cut + 1));
}

DiagnosticItem checkHost(SystemProbe& probe) {
  const std::wstring path = probe.hostExecutablePath();
  std::string name = path.empty() ? std::string() : fileNamePart(path);
  if (name.empty()) name = "Desconocido";
  std::wstring lower = toWide(name);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
  if (lower == L"amtrucks.exe") return item("ATS", DiagnosticItem::Ok, "American Truck Simulator activo | " + name);
  return item("ATS", DiagnosticItem::Warning, "Proceso actual: " + name);
}

struct ReplacerView {
  bool prepared;
  size_t tracked;
};

ReplacerView readReplacer() {
  GpsTextureReplacer& replacer = GpsTextureReplacer::instance();
  return {replacer.isInitialized() && replacer.trackingComplete(), replacer.trackedTextureCount()};
}

DiagnosticItem checkGps(const ReplacerView& r) {
  if (r.tracked == 0) return item("GPS TabCast", DiagnosticItem::Error, "No se ha detectado la textura del GPS TabCast");
  if (r.prepared) return item("GPS TabCast", DiagnosticItem::Ok, "GPS detectado | Texturas rastreadas: " + std::to_string(r.tracked));
  return item("GPS TabCast", DiagnosticItem::Warning, "Textura GPS localizada, reemplazo aun no preparado");
}

DiagnosticItem checkApplication(WindowCapture& capture) {
  if (capture.hasWindow()) return item("Aplicacion", DiagnosticItem::Ok, "Ventana objetivo encontrada");
  return item("Aplicacion", DiagnosticItem::Warning,
              capture.windowKeyword().empty() ? "No hay aplicacion seleccionada" : "Buscando la ventana configurada");
}

DiagnosticItem checkCapture(WindowCapture& capture) {
  if (!capture.isActive()) return item("Captura", DiagnosticItem::Warning, "Captura en espera de inicio");
  if (capture.hasWindow()) {
    const StillPictureReport picture = capture.stillPicture();
    if (picture.still) {
      return item("Captura", DiagnosticItem::Warning,
                  "La ventana capturada no cambia desde hace " + std::to_string(picture.unchangedForMs / 1000) + " s | " +
                      stillPictureHint(picture.program));
    }
    return item("Captura", DiagnosticItem::Ok, "Captura activa | Limite: " + std::to_string(capture.effectiveFps()) + " FPS");
  }
  return item("Captura", DiagnosticItem::Warning, "Motor de captura preparado, ventana no disponible");
}

DiagnosticItem checkReplacement(const ReplacerView& r) {
  const uint64_t uses = GpsTextureReplacer::instance().replacementCount();
  if (uses > 0) return item("Reemplazo GPS", DiagnosticItem::Ok, "Reemplazo activo | Usos registrados: " + std::to_string(uses));
  if (r.prepared) return item("Reemplazo GPS", DiagnosticItem::Warning, "GPS preparado, esperando que se dibuje en pantalla");
  return item("Reemplazo GPS", DiagnosticItem::Error, "El reemplazo del GPS no esta disponible");
}

DiagnosticItem checkVisibility() {
  GpsTextureReplacer& replacer = GpsTextureReplacer::instance();
  if (replacer.replacedWithin(kVisibleWithinMs))
    return item("Visibilidad GPS", DiagnosticItem::Ok, "GPS visible; captura funcionando normalmente");
  const uint64_t since = replacer.msSinceLastReplacement();
  if (since == UINT64_MAX) return item("Visibilidad GPS", DiagnosticItem::Warning, "El GPS todavia no se ha dibujado");
  return item("Visibilidad GPS", DiagnosticItem::Warning,
              "GPS fuera de pantalla; frames pausados desde hace " + std::to_string(since) + " ms");
}

DiagnosticItem checkCpu() {
  const uint64_t start = clock::steadyNs();
  const double usage = DiagnosticsCenter::measureCpuUsage();
  const int64_t took = static_cast<int64_t>((clock::steadyNs() - start) / 1'000'000ull);
  char detail[64];
  if (usage >= 0.0)
    std::snprintf(detail, sizeof detail, "Uso del proceso: %.1f%%", usage);
  else
    std::snprintf(detail, sizeof detail, "No fue posible medir el proceso");
  const bool ok = usage >= 0.0 && usage < 20.0;
  return item("CPU", ok ? DiagnosticItem::Ok : DiagnosticItem::Warning, detail, took);
}

DiagnosticItem checkMemory(SystemProbe& probe) {
  const uint64_t mb = probe.workingSetBytes() >> 20;
  if (mb == 0) return item("Memoria RAM", DiagnosticItem::Warning, "No fue posible medir la memoria");
  return item("Memoria RAM", mb < 500 ? DiagnosticItem::Ok : DiagnosticItem::Warning,
              std::to_string(mb) + " MB usados por ATS y el plugin");
}

DiagnosticItem checkGpu(SystemProbe& probe) {
  std::string description = toUtf8(probe.adapterDescription());
  if (description.empty()) description = "No disponible";
  return item("GPU", description == "No disponible" ? DiagnosticItem::Warning : DiagnosticItem::Ok, description);
}

DiagnosticItem checkFps(WindowCapture& capture) {
  const int64_t interval = capture.frameIntervalMs();
  if (interval < 1) return item("FPS configurados", DiagnosticItem::Ok, "30 FPS");
  const int64_t fps = 1000 / interval;
  if (fps == 0) return item("FPS configurados", DiagnosticItem::Warning, "Sin limite configurado");
  return item("FPS configurados", fps > 60 ? DiagnosticItem::Warning : DiagnosticItem::Ok, std::to_string(fps) + " FPS");
}

DiagnosticItem checkUptime(SystemProbe& probe) {
  ProcessTimes times;
  if (!probe.processTimes(times)) return item("Tiempo activo", DiagnosticItem::Ok, "No disponible");
  const uint64_t now = probe.systemTimeNow();
  if (now <= times.creation) return item("Tiempo activo", DiagnosticItem::Ok, "0 min");
  const uint64_t age = now - times.creation;
  const uint64_t hours = age / (3600 * k100nsPerSecond);
  const uint64_t minutes = (age / k100nsPerSecond % 3600) / 60;
  std::string text = std::to_string(minutes) + " min";
  if (hours > 0) text = std::to_string(hours) + " h " + text;
  return item("Tiempo activo", DiagnosticItem::Ok, text);
}

DiagnosticItem checkLibrary() {
  const size_t count = AppLibrary::instance().apps().size();
  if (count == 0) return item("Biblioteca", DiagnosticItem::Warning, "No hay aplicaciones guardadas");
  return item("Biblioteca", DiagnosticItem::Ok, std::to_string(count) + " aplicaciones configuradas");
}

// The rows of the plugin's parts, in list order: gps, application, capture, replacement,
// visibility, fps, library. Render thread.
std::vector<DiagnosticItem> readPluginRows() {
  WindowCapture& capture = WindowCapture::instance();
  const ReplacerView replacer = readReplacer();
  std::vector<DiagnosticItem> rows;
  rows.reserve(7);
  rows.push_back(checkGps(replacer));
  rows.push_back(checkApplication(capture));
  rows.push_back(checkCapture(capture));
  rows.push_back(checkReplacement(replacer));
  rows.push_back(checkVisibility());
  rows.push_back(checkFps(capture));
  rows.push_back(checkLibrary());
  return rows;
}

// Another overlay is no fault of the game's or ours, but the first thing support asks about.
DiagnosticItem checkOtherOverlays(const std::vector<std::string>& overlays) {
  if (overlays.empty()) return item("Otros overlays", DiagnosticItem::Ok, "Ninguno");
  std::string names;
  for (const std::string& name : overlays) names += (names.empty() ? "" : ", ") + name;
  return item("Otros overlays", DiagnosticItem::Info, "Detectados: " + names);
}

// The rows read from the machine, and the time of the check. Any thread: the CPU sample waits.
DiagnosticsCenter::MachineReadings readMachine() {
  SystemProbe& probe = SystemProbe::current();
  DiagnosticsCenter::MachineReadings m;
  m.host = checkHost(probe);
  m.cpu = checkCpu();
  m.memory = checkMemory(probe);
  m.gpu = checkGpu(probe);
  m.uptime = checkUptime(probe);
  m.otherOverlays = probe.otherOverlays();
  m.overlays = checkOtherOverlays(m.otherOverlays);
  m.localTime = probe.localTime();
  return m;
}

SystemProbe g_systemProbe;
SystemProbe* g_probe = &g_systemProbe;

}  // namespace

const char* diagnosticStatusLabel(int32_t status) {
  switch (status) {
    case DiagnosticItem::Ok:
      return "OK";
    case DiagnosticItem::Warning:
      return "ADVERTENCIA";
    case DiagnosticItem::Error:
      return "ERROR";
    case DiagnosticItem::Info:
      return "INFO";
    default:
      return "PENDIENTE";
  }
}

// ---- SystemProbe: the system's readings ----

std::wstring SystemProbe::hostExecutablePath() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return std::wstring(buffer, length);
}

bool SystemProbe::processTimes(ProcessTimes& out) {
  FILETIME creation{}, exit{}, kernel{}, user{};
  if (!GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user)) return false;
  out = {fileTimeValue(creation), fileTimeValue(kernel), fileTimeValue(user)};
  return true;
}

uint32_t SystemProbe::processorCount() {
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors;
}

uint64_t SystemProbe::workingSetBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                               sizeof counters))
    return 0;
  return counters.WorkingSetSize;
}

std::wstring SystemProbe::adapterDescription() {
  ComRef<IDXGIFactory1> factory;
  if (FAILED(CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(factory.put())))) return {};
  ComRef<IDXGIAdapter1> adapter;
  if (FAILED(factory->EnumAdapters1(0, adapter.put()))) return {};
  DXGI_ADAPTER_DESC1 desc{};
  if (FAILED(adapter->GetDesc1(&desc))) return {};
  desc.Description[127] = L'\0';
  return desc.Description;
}

uint64_t SystemProbe::systemTimeNow() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return fileTimeValue(now);
}

SYSTEMTIME SystemProbe::localTime() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return now;
}

void SystemProbe::sleepMs(uint32_t ms) { Sleep(ms); }

std::vector<std::string> SystemProbe::otherOverlays() { return otherOverlaysInProcess(); }

SystemProbe& SystemProbe::current() { return *g_probe; }

void SystemProbe::install(SystemProbe* probe) { g_probe = probe ? probe : &g_systemProbe; }

// ---- DiagnosticsCenter ----

DiagnosticsCenter& DiagnosticsCenter::instance() {
  static DiagnosticsCenter center;
  return center;
}

void DiagnosticsCenter::initialize() {
  if (!items.empty()) return;
  for (const char* name : kInitialNames) items.push_back(item(name, DiagnosticItem::Pending, "Sin comprobar"));
  logInfo("V3.4.0 DIAGNOSTICS: modulo inicializado.");
}

double DiagnosticsCenter::measureCpuUsage() {
  SystemProbe& probe = SystemProbe::current();
  ProcessTimes before, after;
  const bool firstRead = probe.processTimes(before);
  const uint64_t startMs = clock::tickMs();
  probe.sleepMs(kCpuSampleMs);
  const bool secondRead = probe.processTimes(after);
  const uint64_t endMs = clock::tickMs();
  if (!firstRead || !secondRead || endMs <= startMs) return -1.0;
  const uint64_t busyBefore = before.kernel + before.user;
  const uint64_t busyAfter = after.kernel + after.user;
  const uint64_t busy = busyAfter > busyBefore ? busyAfter - busyBefore : 0;
  const uint32_t processors = std::max<uint32_t>(1, probe.processorCount());
  // (busy / 10^7 s) / (wall ms / 1000 s) / processors * 100, as one division of whole numbers so
  // that a share of exactly 20 % reads 20.0 and not a hair below it.
  const double usage = static_cast<double>(busy) * 100.0 /
                       (static_cast<double>(endMs - startMs) * 10'000.0 * static_cast<double>(processors));
  return std::clamp(usage, 0.0, 100.0);
}

void DiagnosticsCenter::runChecks() {
  const uint64_t startNs = clock::steadyNs();
  std::vector<DiagnosticItem> pluginRows = readPluginRows();
  finishCheck(std::move(pluginRows), readMachine(), startNs);
}

void DiagnosticsCenter::finishCheck(std::vector<DiagnosticItem> pluginRows, const MachineReadings& machine,
                                    uint64_t startNs) {
  // The plugin's rows are gps, application, capture, replacement, visibility, fps, library.
  items.clear();
  items.push_back(machine.host);
  for (size_t i = 0; i < 5; ++i) items.push_back(std::move(pluginRows[i]));
  items.push_back(machine.cpu);
  items.push_back(machine.memory);
  items.push_back(machine.gpu);
  items.push_back(std::move(pluginRows[5]));
  items.push_back(machine.uptime);
  items.push_back(std::move(pluginRows[6]));
  items.push_back(machine.overlays);
  otherOverlays = machine.otherOverlays;

  const SYSTEMTIME& now = machine.localTime;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02u/%02u/%04u %02u:%02u:%02u", now.wDay, now.wMonth, now.wYear, now.wHour,
                now.wMinute, now.wSecond);
  lastCheck = stamp;
  durationMs = static_cast<int32_t>((clock::steadyNs() - startNs) / 1'000'000ull);
  checked = true;

  const auto any = [this](int32_t status) {
    return std::any_of(items.begin(), items.end(), [status](const DiagnosticItem& i) { return i.status == status; });
  };
  const bool error = any(DiagnosticItem::Error);
  if (error)
    summary = "Se encontraron problemas que requieren atencion.";
  else if (any(DiagnosticItem::Warning))
    summary = "El sistema funciona, pero hay elementos pendientes.";
  else
    summary = "Todo funciona correctamente.";
  Logger::instance().log(error ? LogLevel::WARNING : LogLevel::INFO, "V3.4.0 DIAGNOSTICS: comprobacion terminada | " + summary +
                                                                         " | duracion=" + std::to_string(durationMs) + " ms.");
}

bool DiagnosticsCenter::repairCapture() {
  WindowCapture& capture = WindowCapture::instance();
  const std::wstring keyword = capture.windowKeyword();
  if (keyword.empty()) {
    actionMessage = "No hay una ventana configurada para recuperar.";
    return false;
  }
  capture.setWindowKeyword(std::wstring());
  SystemProbe::current().sleepMs(kRepairPauseMs);
  capture.setWindowKeyword(keyword);
  actionMessage = "Se reinicio la busqueda de la ventana capturada.";
  logInfo("V3.0.4 REPAIR: captura reiniciada.");
  runChecks();
  return true;
}

// ---- the same off the render thread

bool DiagnosticsCenter::startChecks() {
  if (busy()) return false;
  beginCheck();
  return true;
}

bool DiagnosticsCenter::startRepair() {
  if (busy()) return false;
  WindowCapture& capture = WindowCapture::instance();
  std::wstring keyword = capture.windowKeyword();
  if (keyword.empty()) {
    actionMessage = "No hay una ventana configurada para recuperar.";
    return false;
  }
  capture.setWindowKeyword(std::wstring());
  repairKeyword_ = std::move(keyword);
  launch([] { SystemProbe::current().sleepMs(kRepairPauseMs); });
  phase_ = Phase::RepairPause;
  return true;
}

// The plugin's parts are read at once (as the synchronous check reads them before its sample);
// the machine on the worker.
void DiagnosticsCenter::beginCheck() {
  const uint64_t startNs = clock::steadyNs();
  pluginRows_ = readPluginRows();
  checkStartNs_ = startNs;
  launch([this] { machine_ = readMachine(); });
  phase_ = Phase::Checking;
}

void DiagnosticsCenter::launch(const std::function<void()>& job) noexcept {
  const auto run = [this](const std::function<void()>& step) noexcept {
    try {
      step();
    } catch (...) {
      // Nothing leaves the thread; the step ends all the same.
    }
    done_.store(true, std::memory_order_release);
  };
  if (worker_.joinable()) worker_.join();  // collect() and stop() have joined it already
  done_.store(false, std::memory_order_relaxed);
  try {
    worker_ = std::thread(run, job);
    return;
  } catch (...) {
  }
  run(job);  // no thread to be had: the wait happens here, as it used to
}

bool DiagnosticsCenter::collect() {
  if (phase_ == Phase::Idle || !done_.load(std::memory_order_acquire)) return false;
  if (worker_.joinable()) worker_.join();  // its step is over: it is only returning
  done_.store(false, std::memory_order_relaxed);
  const Phase ended = phase_;
  phase_ = Phase::Idle;
  if (ended == Phase::RepairPause) {
    endRepairPause();
    return false;
  }
  std::vector<DiagnosticItem> rows = std::move(pluginRows_);
  pluginRows_.clear();
  finishCheck(std::move(rows), machine_, checkStartNs_);
  return true;
}

void DiagnosticsCenter::endRepairPause() {
  WindowCapture& capture = WindowCapture::instance();
  // A window the player chose during the pause stays.
  if (capture.windowKeyword().empty()) capture.setWindowKeyword(repairKeyword_);
  repairKeyword_.clear();
  actionMessage = "Se reinicio la busqueda de la ventana capturada.";
  logInfo("V3.0.4 REPAIR: captura reiniciada.");
  beginCheck();
}

void DiagnosticsCenter::stop() {
  if (worker_.joinable()) worker_.join();
  if (phase_ == Phase::RepairPause) {
    WindowCapture& capture = WindowCapture::instance();
    if (capture.windowKeyword().empty()) capture.setWindowKeyword(repairKeyword_);
  }
  repairKeyword_.clear();
  pluginRows_.clear();
  phase_ = Phase::Idle;
  done_.store(false, std::memory_order_relaxed);
}

// Only at process exit can a worker still be there (the overlay's shut-down stops it), and by
// then the system may have ended its thread: nothing to wait for.
DiagnosticsCenter::~DiagnosticsCenter() {
  if (worker_.joinable()) worker_.detach();
}

void DiagnosticsCenter::reset() {
  stop();
  items.clear();
  summary = "Pulse Comprobar sistema.";
  lastCheck.clear();
  durationMs = 0;
  reportPath.clear();
  reportText.clear();
  actionMessage.clear();
  checked = false;
  otherOverlays.clear();
}

}  // namespace zor
