// The log file "Documents\ZorTabcast\logs\ZorTabcast.log": opened at every plugin start with a
// banner, appended to one flushed line per message, shared with readers and other writers. A
// log grown over 5 MB is kept at the open as "ZorTabcast.log.1" (replacing the older one) and a
// new file is begun.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

class LogFile {
 public:
  static LogFile& instance();

  // Closes any open file, resolves the user's Documents folder and opens the log there (kept
  // aside first when it is over kLogKeepBytes; one held open elsewhere is appended to).
  // False when there is no Documents folder or the file cannot be opened; nothing is
  // written until the next successful open.
  bool open() noexcept;
  // The same below a given Documents folder ("<documents>\ZorTabcast\logs\ZorTabcast.log").
  bool openIn(const std::wstring& documentsFolder) noexcept;
  void close() noexcept;
  // "[YYYY-MM-DD HH:MM:SS] [<levelText>] <text>\n", flushed; nothing when no file is open.
  void writeLine(std::string_view levelText, std::string_view text) noexcept;

  bool isOpen() noexcept;
  // Path of the file last opened (kept after close).
  std::wstring path();

 private:
  LogFile() = default;
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  void closeLocked() noexcept;
  void writeLineLocked(std::string_view levelText, std::string_view text) noexcept;

  std::mutex mutex_;
  std::wstring path_;
  void* handle_ = nullptr;  // HANDLE of the open file, or null
};

// The size above which an open keeps the log aside as "<name>.1".
inline constexpr uint64_t kLogKeepBytes = 5ull * 1024 * 1024;

// The two lines every open writes first: a session of the log begins with them.
inline constexpr std::string_view kLogBannerRule = "==================================================";
inline constexpr std::string_view kLogBannerTitle = "ZorTabcastPlugin V4.8.5.2 - Log & Test Cleanup - nueva sesion";

// The last maxLines complete lines of the newest session of the log file at path (from its
// banner on), without line ends. The file is read through a handle of its own, shared with the
// writer, so no writer is ever waited for; a line still being written is left out. At most the
// last 4 MB of the file are read. The log kept aside ("<path>.1") comes before the file: when
// the file is read whole without a banner (or is missing), the session goes on back into it.
// Empty when neither can be read.
std::vector<std::string> readSessionTail(const std::wstring& path, size_t maxLines);

// The user's Documents folder (FOLDERID_Documents); empty when the shell has none.
std::wstring documentsFolder();

}  // namespace zor
