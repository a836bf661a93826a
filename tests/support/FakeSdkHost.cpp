#include "support/FakeSdkHost.h"

#include <atomic>

namespace zor::test {
namespace {
std::atomic<FakeSdkHost*> g_current{nullptr};
}

FakeSdkHost::FakeSdkHost() {
  params_.common.game_name = "American Truck Simulator";
  params_.common.game_id = "ats";
  params_.common.game_version = 0x00010005;
  params_.common.log = &FakeSdkHost::logCallback;
  params_.register_for_event = &FakeSdkHost::registerEvent;
  params_.unregister_from_event = &FakeSdkHost::unregisterEvent;
  params_.register_for_channel = &FakeSdkHost::registerChannel;
  params_.unregister_from_channel = &FakeSdkHost::unregisterChannel;
  g_current.store(this);
}

FakeSdkHost::~FakeSdkHost() {
  FakeSdkHost* self = this;
  g_current.compare_exchange_strong(self, nullptr);
}

std::vector<LoggedMessage> FakeSdkHost::messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

std::vector<std::string> FakeSdkHost::texts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const LoggedMessage& m : messages_) out.push_back(m.text);
  return out;
}

bool FakeSdkHost::logged(scs_log_type_t type, const std::string& text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const LoggedMessage& m : messages_)
    if (m.type == type && m.text == text) return true;
  return false;
}

std::vector<Registration> FakeSdkHost::registrations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return registrations_;
}

void FakeSdkHost::clearMessages() {
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.clear();
}

void FakeSdkHost::forgetRegistrations() {
  std::lock_guard<std::mutex> lock(mutex_);
  registrations_.clear();
}

void FakeSdkHost::logCallback(scs_log_type_t type, scs_string_t text) {
  FakeSdkHost* host = g_current.load();
  if (!host) return;
  if (host->onLog) host->onLog(type, text);
  std::lock_guard<std::mutex> lock(host->mutex_);
  host->messages_.push_back({type, text ? text : "(null)"});
}

scs_result_t FakeSdkHost::registerEvent(scs_event_t event, scs_telemetry_event_callback_t callback,
                                        scs_context_t context) {
  FakeSdkHost* host = g_current.load();
  if (!host || !callback) return SCS_RESULT_invalid_parameter;
  std::lock_guard<std::mutex> lock(host->mutex_);
  if (host->refusedEvents.count(event)) return SCS_RESULT_not_now;
  for (const Registration& r : host->registrations_)
    if (!r.channel && r.event == event) return SCS_RESULT_already_registered;
  host->registrations_.push_back({false, {}, event, 0, 0, 0, nullptr, callback, context});
  return SCS_RESULT_ok;
}

scs_result_t FakeSdkHost::unregisterEvent(scs_event_t event) {
  FakeSdkHost* host = g_current.load();
  if (!host) return SCS_RESULT_not_found;
  std::lock_guard<std::mutex> lock(host->mutex_);
  for (auto it = host->registrations_.begin(); it != host->registrations_.end(); ++it) {
    if (!it->channel && it->event == event) {
      host->registrations_.erase(it);
      return SCS_RESULT_ok;
    }
  }
  return SCS_RESULT_not_found;
}

scs_result_t FakeSdkHost::registerChannel(scs_string_t name, scs_u32_t index, scs_value_type_t type, scs_u32_t flags,
                                          scs_telemetry_channel_callback_t callback, scs_context_t context) {
  FakeSdkHost* host = g_current.load();
  if (!host || !name || !callback) return SCS_RESULT_invalid_parameter;
  std::lock_guard<std::mutex> lock(host->mutex_);
  if (host->refusedChannels.count(name)) return SCS_RESULT_not_found;
  for (const Registration& r : host->registrations_)
    if (r.channel && r.name == name && r.index == index && r.valueType == type) return SCS_RESULT_already_registered;
  host->registrations_.push_back({true, name, 0, index, type, flags, callback, nullptr, context});
  return SCS_RESULT_ok;
}

scs_result_t FakeSdkHost::unregisterChannel(scs_string_t name, scs_u32_t index, scs_value_type_t type) {
  FakeSdkHost* host = g_current.load();
  if (!host || !name) return SCS_RESULT_not_found;
  std::lock_guard<std::mutex> lock(host->mutex_);
  for (auto it = host->registrations_.begin(); it != host->registrations_.end(); ++it) {
    if (it->channel && it->name == name && it->index == index && it->valueType == type) {
      host->registrations_.erase(it);
      return SCS_RESULT_ok;
    }
  }
  return SCS_RESULT_not_found;
}

}  // namespace zor::test
