// The game's side of the telemetry SDK for tests: a real init parameter block whose log
// callback records every message and whose register functions record every registration.
// Registrations can be refused by name or event, and a repeated registration gets
// SCS_RESULT_already_registered as in the game.
#pragma once

#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sdk/telemetry_sdk.h"

namespace zor::test {

struct LoggedMessage {
  scs_log_type_t type;
  std::string text;
};

struct Registration {
  bool channel;  // false: an event
  std::string name;
  scs_event_t event;
  scs_u32_t index;
  scs_value_type_t valueType;
  scs_u32_t flags;
  scs_telemetry_channel_callback_t channelCallback;
  scs_telemetry_event_callback_t eventCallback;
  scs_context_t context;
};

class FakeSdkHost {
 public:
  // The log callback has no context, so one host at a time is the current one.
  FakeSdkHost();
  ~FakeSdkHost();
  FakeSdkHost(const FakeSdkHost&) = delete;
  FakeSdkHost& operator=(const FakeSdkHost&) = delete;

  const scs_telemetry_init_params_t* params() const { return &params_; }
  scs_telemetry_init_params_t& editableParams() { return params_; }

  std::vector<LoggedMessage> messages() const;
  std::vector<std::string> texts() const;  // the message texts alone, in order
  bool logged(scs_log_type_t type, const std::string& text) const;
  std::vector<Registration> registrations() const;
  void clearMessages();
  // What the game does after a failed init: it forgets the plugin's registrations.
  void forgetRegistrations();

  std::set<std::string> refusedChannels;
  std::set<scs_event_t> refusedEvents;
  // Called inside the log callback, before the message is recorded.
  std::function<void(scs_log_type_t, const char*)> onLog;

 private:
  static void logCallback(scs_log_type_t type, scs_string_t text);
  static scs_result_t registerEvent(scs_event_t event, scs_telemetry_event_callback_t callback, scs_context_t context);
  static scs_result_t unregisterEvent(scs_event_t event);
  static scs_result_t registerChannel(scs_string_t name, scs_u32_t index, scs_value_type_t type, scs_u32_t flags,
                                      scs_telemetry_channel_callback_t callback, scs_context_t context);
  static scs_result_t unregisterChannel(scs_string_t name, scs_u32_t index, scs_value_type_t type);

  scs_telemetry_init_params_t params_{};
  mutable std::mutex mutex_;
  std::vector<LoggedMessage> messages_;
  std::vector<Registration> registrations_;
};

}  // namespace zor::test
