// The process-wide log: INFO noise filter, camera-return rate limit, friendly rewrites,
// the "[ZorTabcast] " prefix and one sink (console, then file).
#pragma once

// wingdi.h defines ERROR as a macro, which would turn LogLevel::ERROR into "LogLevel::0".
// Windows headers are pulled in here first and the macro dropped; region code can use
// RGN_ERROR, which has the same value.
#include <windows.h>
#ifdef ERROR
#undef ERROR
#endif

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace zor {

enum class LogLevel : int32_t { INFO = 0, WARNING = 1, ERROR = 2 };

class Logger {
 public:
  using Sink = std::function<void(LogLevel, const char*)>;

  static Logger& instance();

  // Never throws; callable from any thread.
  void log(LogLevel level, std::string_view text) noexcept;
  void setSink(Sink sink) noexcept;
  void clearSink() noexcept;
  bool hasSink() noexcept;

 private:
  Logger() = default;
  std::mutex mutex_;
  Sink sink_;
};

// Shorthands used everywhere.
inline void logInfo(std::string_view text) noexcept { Logger::instance().log(LogLevel::INFO, text); }
inline void logWarning(std::string_view text) noexcept { Logger::instance().log(LogLevel::WARNING, text); }
inline void logError(std::string_view text) noexcept { Logger::instance().log(LogLevel::ERROR, text); }

// The user-facing rewrite of a technical INFO text (unchanged when no rule applies).
std::string friendlyMessage(std::string_view text);

}  // namespace zor
