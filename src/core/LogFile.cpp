#include "core/LogFile.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>

#include "core/FileSystem.h"

namespace zor {
namespace {

constexpr std::string_view kBannerRule = kLogBannerRule;
constexpr std::string_view kBannerTitle = kLogBannerTitle;
constexpr size_t kTailChunk = 64 * 1024;
constexpr uint64_t kTailLimit = 4ull * 1024 * 1024;

bool endsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// A banner line as writeLine leaves it: "[stamp] [INFO] <text>".
bool isBannerLine(std::string_view line, std::string_view text) {
  return endsWith(line, text) && endsWith(line.substr(0, line.size() - text.size()), "] [INFO] ");
}

// A log over kLogKeepBytes becomes "<path>.1" (the older one goes) so that the open begins a new
// file. When the rename fails (another process holds the log), the log is appended to as before.
void keepAsideIfLarge(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return;
  const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  if (size <= kLogKeepBytes) return;
  MoveFileExW(path.c_str(), (path + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
}

// The complete lines of the end of the file at path, without line ends: enough of it to hold
// more than maxLines lines, at most kTailLimit bytes. `whole` is set when they begin at the
// file's start. False when the file cannot be read.
bool tailLines(const std::wstring& path, size_t maxLines, std::vector<std::string>& lines, bool& whole) {
  whole = false;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string text;
  uint64_t begin = 0;
  try {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) {
      CloseHandle(file);
      return false;
    }
    // Read backwards in chunks until the text holds more lines than wanted (so the newest
    // maxLines are whole, and a session shorter than that has its banner inside) or the limit.
    const uint64_t end = static_cast<uint64_t>(size.QuadPart);
    const uint64_t floor = end > kTailLimit ? end - kTailLimit : 0;
    begin = end;
    size_t newlines = 0;
    while (begin > floor && newlines <= maxLines) {
      const uint64_t from = begin - std::min<uint64_t>(kTailChunk, begin - floor);
      std::string chunk(static_cast<size_t>(begin - from), '\0');
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(from);
      at.OffsetHigh = static_cast<DWORD>(from >> 32);
      DWORD got = 0;
      if (!ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &got, &at) || got != chunk.size()) break;
      for (char c : chunk) newlines += c == '\n';
      text.insert(0, chunk);
      begin = from;
    }
  } catch (...) {
    CloseHandle(file);
    throw;
  }
  CloseHandle(file);

  size_t pos = 0;
  if (begin > 0) {  // the first piece may be the end of an older line
    pos = text.find('\n');
    pos = pos == std::string::npos ? text.size() : pos + 1;
  }
  whole = begin == 0;
  while (pos < text.size()) {
    const size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) break;  // still being written
    std::string line = text.substr(pos, eol - pos);
    line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
    lines.push_back(std::move(line));
    pos = eol + 1;
  }
  return true;
}

// Where the newest session begins among lines (its banner rule, or its title alone); npos
// when no banner is there.
size_t newestBanner(const std::vector<std::string>& lines) {
  for (size_t i = lines.size(); i-- > 0;) {
    if (!isBannerLine(lines[i], kBannerTitle)) continue;
    return i > 0 && isBannerLine(lines[i - 1], kBannerRule) ? i - 1 : i;
  }
  return std::string::npos;
}

}  // namespace

std::wstring documentsFolder() {
  PWSTR raw = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &raw)) && raw) {
    try {
      folder = raw;
    } catch (...) {
      folder.clear();
    }
  }
  CoTaskMemFree(raw);
  return folder;
}

LogFile& LogFile::instance() {
  static LogFile file;
  return file;
}

LogFile::~LogFile() { closeLocked(); }

bool LogFile::open() noexcept {
  close();
  const std::wstring documents = documentsFolder();
  if (documents.empty()) return false;
  return openIn(documents);
}

bool LogFile::openIn(const std::wstring& documents) noexcept {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    closeLocked();
    if (documents.empty()) return false;
    const std::wstring folder = fs::join(fs::join(documents, L"ZorTabcast"), L"logs");
    if (!fs::createDirectories(folder)) return false;
    path_ = fs::join(folder, L"ZorTabcast.log");
    keepAsideIfLarge(path_);
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the current end of file,
    // also when another process appends to the same file.
    HANDLE file = CreateFileW(path_.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    handle_ = file;
    writeLineLocked("INFO", kBannerRule);
    writeLineLocked("INFO", kBannerTitle);
    return true;
  } catch (...) {
    return false;
  }
}

void LogFile::close() noexcept {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    closeLocked();
  } catch (...) {
  }
}

void LogFile::closeLocked() noexcept {
  if (!handle_) return;
  CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
}

void LogFile::writeLine(std::string_view levelText, std::string_view text) noexcept {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    writeLineLocked(levelText, text);
  } catch (...) {
  }
}

void LogFile::writeLineLocked(std::string_view levelText, std::string_view text) noexcept {
  if (!handle_) return;
  try {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char stamp[32];
    const int stampLength = std::snprintf(stamp, sizeof stamp, "[%04u-%02u-%02u %02u:%02u:%02u] [", now.wYear,
                                          now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    if (stampLength <= 0) return;
    std::string line;
    line.reserve(static_cast<size_t>(stampLength) + levelText.size() + text.size() + 3);
    line.append(stamp, static_cast<size_t>(stampLength)).append(levelText).append("] ").append(text).push_back('\n');
    // One write per line, so lines of other writers never land inside ours. The handle is
    // unbuffered: once WriteFile returns, the line is in the file.
    DWORD written = 0;
    WriteFile(static_cast<HANDLE>(handle_), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  } catch (...) {
  }
}

bool LogFile::isOpen() noexcept {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    return handle_ != nullptr;
  } catch (...) {
    return false;
  }
}

std::vector<std::string> readSessionTail(const std::wstring& path, size_t maxLines) {
  std::vector<std::string> lines;
  if (path.empty() || maxLines == 0) return lines;
  try {
    bool whole = false;
    const bool read = tailLines(path, maxLines, lines, whole);
    size_t first = newestBanner(lines);
    if ((!read || whole) && first == std::string::npos && lines.size() < maxLines) {
      // The session began in the log kept aside.
      std::vector<std::string> older;
      bool olderWhole = false;
      if (tailLines(path + L".1", maxLines - lines.size(), older, olderWhole)) {
        lines.insert(lines.begin(), std::make_move_iterator(older.begin()), std::make_move_iterator(older.end()));
        first = newestBanner(lines);
      }
    }
    if (first == std::string::npos) first = 0;
    first = std::max(first, lines.size() > maxLines ? lines.size() - maxLines : 0);
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(first));
  } catch (...) {
    lines.clear();
  }
  return lines;
}

std::wstring LogFile::path() {
  std::lock_guard<std::mutex> lock(mutex_);
  return path_;
}

}  // namespace zor
