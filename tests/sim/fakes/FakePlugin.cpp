// Stand-in plugins for the simulator's own tests, one DLL per behaviour (chosen at compile
// time): a well-behaved plugin that registers and logs, one whose init fails, one that
// crashes in init, and one without the SDK exports.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include "sdk/telemetry_sdk.h"

#if defined(ZOR_FAKE_NOEXPORTS)
extern "C" __declspec(dllexport) int zor_fake_nothing_here() { return 0; }
#else

namespace {
scs_log_t gLog = nullptr;
DWORD gInitThread = 0;

void say(scs_log_type_t type, const char* fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (gLog) gLog(type, buf);
}

const char* where() { return GetCurrentThreadId() == gInitThread ? "on the init thread" : "on ANOTHER thread"; }

void onChannel(scs_string_t name, scs_u32_t, const scs_value_t* value, scs_context_t) {
  say(SCS_LOG_TYPE_message, "fake: channel %s=%d %s", name, value && value->type == SCS_VALUE_TYPE_bool ? value->value_bool.value : -1,
      where());
}

void onEvent(scs_event_t event, const void* info, scs_context_t) {
  if (event == SCS_TELEMETRY_EVENT_configuration) {
    auto* config = static_cast<const scs_telemetry_configuration_t*>(info);
    const char *id = "", *brand = "", *name = "";
    for (auto* a = config ? config->attributes : nullptr; a && a->name; ++a) {
      if (a->value.type != SCS_VALUE_TYPE_string) continue;
      if (!std::strcmp(a->name, "id")) id = a->value.value_string.value;
      if (!std::strcmp(a->name, "brand_id")) brand = a->value.value_string.value;
      if (!std::strcmp(a->name, "name")) name = a->value.value_string.value;
    }
    say(SCS_LOG_TYPE_message, "fake: configuration %s id=%s brand=%s name=%s %s", config ? config->id : "(null)", id, brand,
        name, where());
    return;
  }
  say(SCS_LOG_TYPE_message, "fake: event %u %s", event, where());
}
}  // namespace

extern "C" __declspec(dllexport) scs_result_t scs_telemetry_init(const scs_u32_t version,
                                                                  const scs_telemetry_init_params_t* const params) {
#if defined(ZOR_FAKE_FAILING)
  if (params && params->common.log) params->common.log(SCS_LOG_TYPE_error, "fake: refusing to start");
  return SCS_RESULT_generic_error;
#elif defined(ZOR_FAKE_CRASHING)
  volatile int* nowhere = nullptr;
  *nowhere = static_cast<int>(version);
  return SCS_RESULT_ok;
#else
  if (!params || !params->common.log) return SCS_RESULT_generic_error;
  gLog = params->common.log;
  gInitThread = GetCurrentThreadId();
  say(SCS_LOG_TYPE_message, "fake: init version=0x%08X game=%s id=%s game_version=0x%08X", version, params->common.game_name,
      params->common.game_id, params->common.game_version);
  auto channel = [&](const char* name) {
    return params->register_for_channel(name, SCS_U32_NIL, SCS_VALUE_TYPE_bool, SCS_TELEMETRY_CHANNEL_FLAG_none, onChannel,
                                        nullptr);
  };
  channel("truck.engine.enabled");
  say(SCS_LOG_TYPE_message, "fake: second engine registration -> %d", channel("truck.engine.enabled"));
  channel("truck.electric.enabled");
  say(SCS_LOG_TYPE_message, "fake: unknown channel -> %d", channel("truck.warp.drive"));
  for (scs_event_t e : {SCS_TELEMETRY_EVENT_paused, SCS_TELEMETRY_EVENT_started, SCS_TELEMETRY_EVENT_configuration})
    params->register_for_event(e, onEvent, nullptr);
  say(SCS_LOG_TYPE_message, "fake: second paused registration -> %d",
      params->register_for_event(SCS_TELEMETRY_EVENT_paused, onEvent, nullptr));
  say(SCS_LOG_TYPE_warning, "fake: a warning");
  say(SCS_LOG_TYPE_error, "fake: an error");
  std::thread([] { say(SCS_LOG_TYPE_message, "fake: hello from a worker thread"); }).join();
  return SCS_RESULT_ok;
#endif
}

extern "C" __declspec(dllexport) void scs_telemetry_shutdown() {
  say(SCS_LOG_TYPE_message, "fake: shutdown");
  gLog = nullptr;
}
#endif
