#include "media/MediaFiles.h"

#include <windows.h>

#include <climits>
#include <mutex>

#include "core/FileSystem.h"
#include "core/PluginConfig.h"

namespace zor::media {
namespace {
std::mutex g_mutex;
std::wstring g_folder;
}  // namespace

std::wstring settingsPath(const wchar_t* fileName) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_folder.empty()) return fs::join(g_folder, fileName);
  }
  return configFilePath(fileName);
}

void setSettingsFolder(const std::wstring& folder) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_folder = folder;
}

std::string textFromFile(const std::wstring& text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return {};
  const int length = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace zor::media
