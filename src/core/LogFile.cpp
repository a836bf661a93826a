#include "core/LogFile.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>

#include "core/FileSystem.h"

namespace zor {
namespace {

constexpr std::string_view kBannerRule = "==================================================";
constexpr std::string_view kBannerTitle = "ZorTabcastPlugin V4.8.5.2 - Log & Test Cleanup - nueva sesion";

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

std::wstring LogFile::path() {
  std::lock_guard<std::mutex> lock(mutex_);
  return path_;
}

}  // namespace zor
