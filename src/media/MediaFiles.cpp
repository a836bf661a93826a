#include "media/MediaFiles.h"

#include <windows.h>

#include <climits>
#include <mutex>

#include "core/FileSystem.h"
#include "core/PluginConfig.h"
#include "core/Utf8.h"

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

std::string textFromFile(const std::wstring& text) { return toUtf8Replacing(text); }

}  // namespace zor::media
