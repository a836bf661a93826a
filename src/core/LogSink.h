// The sink the plugin installs into the Logger at start-up: the game console through the SDK
// log callback first, then the log file.
#pragma once

#include "core/Logger.h"
#include "sdk/telemetry_sdk.h"

namespace zor {

class LogSink {
 public:
  explicit LogSink(scs_log_t console) noexcept : console_(console) {}
  // Drops a null text and the INFO messages that are too chatty for the player.
  void operator()(LogLevel level, const char* text) const;

 private:
  scs_log_t console_;
};

}  // namespace zor
