// The game's side of the telemetry SDK: loads a plugin DLL, hands it a version 1.01 parameter
// block, records what it registers, delivers channel values and events on the calling thread
// (the one that called init), prints every log callback and keeps it in a file.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Trucks.h"
#include "sdk/telemetry_sdk.h"

namespace zor::sim {

struct Registration {
  bool channel = false;
  std::string name;  // channel name, or event name ("paused", "started", ...)
  scs_event_t event = 0;
  scs_u32_t index = 0;
  scs_value_type_t type = 0;
  scs_u32_t flags = 0;
  scs_result_t result = 0;  // what the plugin was answered
  scs_telemetry_channel_callback_t channelCallback = nullptr;
  scs_telemetry_event_callback_t eventCallback = nullptr;
  scs_context_t context = nullptr;
  bool active = false;
  // Channel delivery state.
  bool delivered = false;
  bool lastValue = false;
};

struct TruckConfig {
  std::string vehicleId, brandId, name;
};

class SdkHost {
 public:
  static SdkHost& instance();

  void setGameLog(const std::wstring& path);

  bool load(const std::wstring& path, std::string& error);
  // Calls scs_telemetry_init; false (with the result in `error`) when it did not return 0.
  bool init(std::string& error);
  void shutdown();
  // shutdown (when initialised) and FreeLibrary; false when the module stays mapped, or with
  // expectKept (the plugin was expected to keep its module loaded) when it does not. With
  // threadInside (a thread of the game is still inside the plugin's code), a module that stays
  // mapped after FreeLibrary is expected (the plugin keeps its code for that thread).
  bool unload(std::string& error, bool expectKept = false, bool threadInside = false);
  bool loaded() const { return module_ != nullptr; }
  bool initialised() const { return initialised_; }
  const std::wstring& pluginPath() const { return path_; }
  // An export of the loaded plugin beyond the SDK's two, or null.
  FARPROC pluginExport(const char* name) const { return module_ ? GetProcAddress(module_, name) : nullptr; }

  // Game state. Channels are delivered at the next frame(); events at once.
  void setChannel(const std::string& name, bool value);
  void setPaused(bool paused);
  void setTruck(const TruckConfig& truck);
  bool paused() const { return paused_; }
  void frame();

  std::vector<Registration> registrations() const;
  std::string describe(const Registration& r) const;

  // Plugin log lines as printed ("message: text").
  size_t logCount() const;
  bool logContains(const std::string& text, size_t from = 0) const;
  std::vector<std::string> logLines(size_t from) const;

  // SDK callbacks (static entry points forward here).
  void onLog(scs_log_type_t type, scs_string_t message);
  scs_result_t registerEvent(scs_event_t event, scs_telemetry_event_callback_t cb, scs_context_t ctx);
  scs_result_t unregisterEvent(scs_event_t event);
  scs_result_t registerChannel(scs_string_t name, scs_u32_t index, scs_value_type_t type, scs_u32_t flags,
                               scs_telemetry_channel_callback_t cb, scs_context_t ctx);
  scs_result_t unregisterChannel(scs_string_t name, scs_u32_t index, scs_value_type_t type);

 private:
  SdkHost() = default;
  void sendEvent(scs_event_t event, const void* info);
  void sendConfiguration();
  void replayState();

  HMODULE module_ = nullptr;
  std::wstring path_;
  scs_telemetry_init_t initFn_ = nullptr;
  scs_telemetry_shutdown_t shutdownFn_ = nullptr;
  std::atomic<bool> initialised_{false};
  bool replayPending_ = false;
  std::atomic<int> inCallback_{0};  // registrations are accepted only inside init and callbacks
  scs_telemetry_init_params_v101_t params_{};

  mutable std::mutex mutex_;  // registrations_ and the log (the plugin logs from any thread)
  std::vector<Registration> registrations_;
  std::vector<std::string> log_;
  FILE* gameLog_ = nullptr;

  std::optional<bool> engine_, electric_;
  bool paused_ = true;
  std::optional<TruckConfig> truck_;
};

const char* eventName(scs_event_t event);

}  // namespace zor::sim
