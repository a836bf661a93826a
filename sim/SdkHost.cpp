#include "SdkHost.h"

#include <cstring>

#include "Console.h"

namespace zor::sim {

namespace {

void sdkLog(scs_log_type_t type, scs_string_t message) { SdkHost::instance().onLog(type, message); }
scs_result_t sdkRegisterEvent(scs_event_t e, scs_telemetry_event_callback_t cb, scs_context_t ctx) {
  return SdkHost::instance().registerEvent(e, cb, ctx);
}
scs_result_t sdkUnregisterEvent(scs_event_t e) { return SdkHost::instance().unregisterEvent(e); }
scs_result_t sdkRegisterChannel(scs_string_t name, scs_u32_t index, scs_value_type_t type, scs_u32_t flags,
                                scs_telemetry_channel_callback_t cb, scs_context_t ctx) {
  return SdkHost::instance().registerChannel(name, index, type, flags, cb, ctx);
}
scs_result_t sdkUnregisterChannel(scs_string_t name, scs_u32_t index, scs_value_type_t type) {
  return SdkHost::instance().unregisterChannel(name, index, type);
}

// The channels this game publishes, all of them booleans.
bool knownChannel(const std::string& name) { return name == "truck.engine.enabled" || name == "truck.electric.enabled"; }

const char* typeName(scs_value_type_t t) {
  switch (t) {
    case SCS_VALUE_TYPE_bool: return "bool";
    case SCS_VALUE_TYPE_s32: return "s32";
    case SCS_VALUE_TYPE_u32: return "u32";
    case SCS_VALUE_TYPE_float: return "float";
    case SCS_VALUE_TYPE_double: return "double";
    case SCS_VALUE_TYPE_string: return "string";
    default: return "other";
  }
}

const char* logTypeName(scs_log_type_t t) {
  switch (t) {
    case SCS_LOG_TYPE_message: return "message";
    case SCS_LOG_TYPE_warning: return "warning";
    case SCS_LOG_TYPE_error: return "error";
    default: return "unknown-type";
  }
}

// The frame_start event's payload as the SDK lays it out.
struct FrameStart {
  scs_u32_t flags;
  scs_u32_t padding;
  scs_timestamp_t renderTime, simulationTime, pausedSimulationTime;
};

}  // namespace

const char* eventName(scs_event_t e) {
  switch (e) {
    case SCS_TELEMETRY_EVENT_frame_start: return "frame_start";
    case SCS_TELEMETRY_EVENT_frame_end: return "frame_end";
    case SCS_TELEMETRY_EVENT_paused: return "paused";
    case SCS_TELEMETRY_EVENT_started: return "started";
    case SCS_TELEMETRY_EVENT_configuration: return "configuration";
    case SCS_TELEMETRY_EVENT_gameplay: return "gameplay";
    default: return "invalid";
  }
}

SdkHost& SdkHost::instance() {
  static SdkHost host;
  return host;
}

void SdkHost::setGameLog(const std::wstring& path) {
  std::lock_guard lock(mutex_);
  if (gameLog_) fclose(gameLog_);
  gameLog_ = _wfopen(path.c_str(), L"wb");
}

bool SdkHost::load(const std::wstring& path, std::string& error) {
  if (module_) return error = "a plugin is already loaded", false;
  DWORD attrs = GetFileAttributesW(path.c_str());
  std::string narrow(path.begin(), path.end());
  if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_DIRECTORY))
    return error = "plugin not found: " + narrow, false;
  HMODULE m = LoadLibraryW(path.c_str());
  if (!m) return error = "LoadLibrary failed for " + narrow + " (error " + std::to_string(GetLastError()) + ")", false;
  auto init = reinterpret_cast<scs_telemetry_init_t>(GetProcAddress(m, "scs_telemetry_init"));
  auto shut = reinterpret_cast<scs_telemetry_shutdown_t>(GetProcAddress(m, "scs_telemetry_shutdown"));
  if (!init || !shut) {
    FreeLibrary(m);
    return error = std::string("plugin does not export ") +
                   (!init && !shut ? "scs_telemetry_init and scs_telemetry_shutdown"
                    : !init        ? "scs_telemetry_init"
                                   : "scs_telemetry_shutdown") +
                   ": " + narrow,
           false;
  }
  module_ = m;
  path_ = path;
  initFn_ = init;
  shutdownFn_ = shut;
  say("sdk: loaded " + narrow);
  return true;
}

bool SdkHost::init(std::string& error) {
  if (!module_) return error = "no plugin loaded", false;
  if (initialised_) return error = "plugin already initialised", false;
  params_ = {};
  params_.common.game_name = "ZOR Sim (stand-in for American Truck Simulator)";
  params_.common.game_id = "ats";
  params_.common.game_version = SCS_MAKE_VERSION(1, 5);
  params_.common.log = sdkLog;
  params_.register_for_event = sdkRegisterEvent;
  params_.unregister_from_event = sdkUnregisterEvent;
  params_.register_for_channel = sdkRegisterChannel;
  params_.unregister_from_channel = sdkUnregisterChannel;
  {
    std::lock_guard lock(mutex_);
    registrations_.clear();
  }
  say("sdk: scs_telemetry_init(1.01) ...");
  ++inCallback_;
  scs_result_t r = initFn_(SCS_TELEMETRY_VERSION_1_01, &params_);
  --inCallback_;
  say("sdk: scs_telemetry_init returned " + std::to_string(r));
  if (r != SCS_RESULT_ok) return error = "plugin init failed with result " + std::to_string(r), false;
  initialised_ = true;
  replayPending_ = true;
  return true;
}

void SdkHost::shutdown() {
  if (!module_ || !initialised_) return;
  say("sdk: scs_telemetry_shutdown ...");
  const unsigned long long begin = uptimeMs();
  shutdownFn_();
  const unsigned long long took = uptimeMs() - begin;
  initialised_ = false;
  std::lock_guard lock(mutex_);
  for (auto& r : registrations_) r.active = false;
  say("sdk: scs_telemetry_shutdown returned after " + std::to_string(took) + " ms");
}

bool SdkHost::unload(std::string& error, bool expectKept, bool threadInside) {
  if (!module_) return true;
  shutdown();
  std::wstring path = path_;
  FreeLibrary(module_);
  module_ = nullptr;
  initFn_ = nullptr;
  shutdownFn_ = nullptr;
  {
    std::lock_guard lock(mutex_);
    registrations_.clear();
  }
  HMODULE still = nullptr;
  const bool mapped = GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, path.c_str(), &still) && still;
  if (expectKept) {
    if (!mapped) return error = "the plugin module was expected to stay loaded, but FreeLibrary unmapped it", false;
    say("sdk: plugin shut down; its module stays loaded, as expected");
    return true;
  }
  if (mapped) {
    if (threadInside) {
      say("sdk: plugin unloaded; its module stays mapped (a game thread is still inside its code)");
      return true;
    }
    return error = "the plugin module is still mapped after FreeLibrary (a reference is held)", false;
  }
  say("sdk: plugin unloaded (module released)");
  return true;
}

void SdkHost::setChannel(const std::string& name, bool value) {
  if (name == "truck.engine.enabled") engine_ = value;
  if (name == "truck.electric.enabled") electric_ = value;
}

void SdkHost::setPaused(bool paused) {
  paused_ = paused;
  if (initialised_) sendEvent(paused ? SCS_TELEMETRY_EVENT_paused : SCS_TELEMETRY_EVENT_started, nullptr);
}

void SdkHost::setTruck(const TruckConfig& truck) {
  truck_ = truck;
  if (initialised_) sendConfiguration();
}

void SdkHost::sendEvent(scs_event_t event, const void* info) {
  std::vector<Registration> targets;
  {
    std::lock_guard lock(mutex_);
    for (auto& r : registrations_)
      if (!r.channel && r.active && r.event == event) targets.push_back(r);
  }
  for (auto& r : targets) {
    ++inCallback_;
    r.eventCallback(event, info, r.context);
    --inCallback_;
  }
}

void SdkHost::sendConfiguration() {
  if (!truck_) return;
  scs_named_value_t attrs[7] = {};
  auto str = [](scs_named_value_t& a, const char* name, const std::string& v) {
    a.name = name;
    a.index = SCS_U32_NIL;
    a.value.type = SCS_VALUE_TYPE_string;
    a.value.value_string.value = v.c_str();
  };
  str(attrs[0], "brand_id", truck_->brandId);
  str(attrs[1], "brand", truck_->brandId);
  str(attrs[2], "id", truck_->vehicleId);
  str(attrs[3], "name", truck_->name);
  attrs[4].name = "fuel.capacity";
  attrs[4].index = SCS_U32_NIL;
  attrs[4].value.type = SCS_VALUE_TYPE_float;
  attrs[4].value.value_float.value = 800.0f;
  attrs[5].name = "wheels.count";
  attrs[5].index = SCS_U32_NIL;
  attrs[5].value.type = SCS_VALUE_TYPE_u32;
  attrs[5].value.value_u32.value = 6;
  scs_telemetry_configuration_t config{"truck", attrs};
  sendEvent(SCS_TELEMETRY_EVENT_configuration, &config);
}

// After init the game tells the plugin where things stand: the truck, and driving when it is.
void SdkHost::replayState() {
  sendConfiguration();
  if (!paused_) sendEvent(SCS_TELEMETRY_EVENT_started, nullptr);
}

void SdkHost::frame() {
  if (!initialised_) return;
  static scs_timestamp_t t = 0;
  t += 16667;
  FrameStart fs{0, 0, t, t, 0};
  sendEvent(SCS_TELEMETRY_EVENT_frame_start, &fs);
  if (replayPending_) {
    replayPending_ = false;
    replayState();
  }
  std::vector<std::pair<Registration, bool>> due;
  {
    std::lock_guard lock(mutex_);
    for (auto& r : registrations_) {
      if (!r.channel || !r.active) continue;
      const auto& v = r.name == "truck.engine.enabled" ? engine_ : electric_;
      if (!v) continue;
      if (!r.delivered || r.lastValue != *v || (r.flags & SCS_TELEMETRY_CHANNEL_FLAG_each_frame)) {
        r.delivered = true;
        r.lastValue = *v;
        due.emplace_back(r, *v);
      }
    }
  }
  for (auto& [r, value] : due) {
    scs_value_t sv{};
    sv.type = SCS_VALUE_TYPE_bool;
    sv.value_bool.value = value ? 1 : 0;
    r.channelCallback(r.name.c_str(), r.index, &sv, r.context);
  }
  sendEvent(SCS_TELEMETRY_EVENT_frame_end, nullptr);
}

std::vector<Registration> SdkHost::registrations() const {
  std::lock_guard lock(mutex_);
  return registrations_;
}

std::string SdkHost::describe(const Registration& r) const {
  std::string s = r.channel ? "channel:" + r.name : "event:" + r.name;
  if (r.channel) {
    s += std::string(" index=") + (r.index == SCS_U32_NIL ? "nil" : std::to_string(r.index)) + " type=" +
         typeName(r.type) + " flags=" + std::to_string(r.flags);
  } else {
    s += " id=" + std::to_string(r.event);
  }
  s += " result=" + std::to_string(r.result);
  return s;
}

size_t SdkHost::logCount() const {
  std::lock_guard lock(mutex_);
  return log_.size();
}

std::vector<std::string> SdkHost::logLines(size_t from) const {
  std::lock_guard lock(mutex_);
  if (from >= log_.size()) return {};
  return {log_.begin() + static_cast<std::ptrdiff_t>(from), log_.end()};
}

bool SdkHost::logContains(const std::string& text, size_t from) const {
  std::lock_guard lock(mutex_);
  for (size_t i = from; i < log_.size(); ++i)
    if (log_[i].find(text) != std::string::npos) return true;
  return false;
}

void SdkHost::onLog(scs_log_type_t type, scs_string_t message) {
  std::string line = std::string("plugin.") + logTypeName(type) + ": " + (message ? message : "(null)");
  if (!initialised_ && inCallback_ == 0) line += "   [logged while not initialised]";
  {
    std::lock_guard lock(mutex_);
    log_.push_back(line);
    if (gameLog_) {
      std::string stamped = std::to_string(uptimeMs()) + " " + line + "\n";
      fwrite(stamped.data(), 1, stamped.size(), gameLog_);
      fflush(gameLog_);
    }
  }
  say(line);
}

scs_result_t SdkHost::registerEvent(scs_event_t event, scs_telemetry_event_callback_t cb, scs_context_t ctx) {
  Registration r;
  r.event = event;
  r.name = eventName(event);
  r.eventCallback = cb;
  r.context = ctx;
  std::lock_guard lock(mutex_);
  if (!inCallback_) r.result = SCS_RESULT_not_now;
  else if (!cb) r.result = SCS_RESULT_invalid_parameter;
  else if (event == SCS_TELEMETRY_EVENT_invalid || event > SCS_TELEMETRY_EVENT_gameplay) r.result = SCS_RESULT_unsupported;
  else {
    for (auto& o : registrations_)
      if (!o.channel && o.active && o.event == event) r.result = SCS_RESULT_already_registered;
  }
  r.active = r.result == SCS_RESULT_ok;
  registrations_.push_back(r);
  return r.result;
}

scs_result_t SdkHost::unregisterEvent(scs_event_t event) {
  std::lock_guard lock(mutex_);
  for (auto& o : registrations_)
    if (!o.channel && o.active && o.event == event) {
      o.active = false;
      return SCS_RESULT_ok;
    }
  return SCS_RESULT_not_found;
}

scs_result_t SdkHost::registerChannel(scs_string_t name, scs_u32_t index, scs_value_type_t type, scs_u32_t flags,
                                      scs_telemetry_channel_callback_t cb, scs_context_t ctx) {
  Registration r;
  r.channel = true;
  r.name = name ? name : "(null)";
  r.index = index;
  r.type = type;
  r.flags = flags;
  r.channelCallback = cb;
  r.context = ctx;
  std::lock_guard lock(mutex_);
  if (!inCallback_) r.result = SCS_RESULT_not_now;
  else if (!name || !cb) r.result = SCS_RESULT_invalid_parameter;
  else if (!knownChannel(r.name) || index != SCS_U32_NIL) r.result = SCS_RESULT_not_found;
  else if (type != SCS_VALUE_TYPE_bool) r.result = SCS_RESULT_unsupported_type;
  else {
    for (auto& o : registrations_)
      if (o.channel && o.active && o.name == r.name && o.index == index && o.type == type)
        r.result = SCS_RESULT_already_registered;
  }
  r.active = r.result == SCS_RESULT_ok;
  registrations_.push_back(r);
  return r.result;
}

scs_result_t SdkHost::unregisterChannel(scs_string_t name, scs_u32_t index, scs_value_type_t type) {
  std::lock_guard lock(mutex_);
  for (auto& o : registrations_)
    if (o.channel && o.active && name && o.name == name && o.index == index && o.type == type) {
      o.active = false;
      return SCS_RESULT_ok;
    }
  return SCS_RESULT_not_found;
}

}  // namespace zor::sim
