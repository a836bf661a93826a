#include "diagnostics/OtherOverlays.h"

#include <windows.h>
#include <psapi.h>

#include <cwctype>

#include "core/PluginConfig.h"
#include "core/Utf8.h"

namespace zor {
namespace {

std::wstring lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// The folder part of a path, lower case, without a last separator.
std::wstring folderOf(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::wstring() : lower(path.substr(0, cut));
}

std::wstring normalFolder(std::wstring folder) {
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  return lower(folder);
}

std::wstring fileNameOf(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

std::wstring modulePath(HMODULE module) {
  std::wstring path(1024, L'\0');
  const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) return {};
  path.resize(length);
  return path;
}

}  // namespace

std::vector<std::string> recognizeOverlays(const std::vector<std::wstring>& modulePaths, const std::wstring& gameFolder,
                                           const std::wstring& pluginsFolder, const std::wstring& ownModule) {
  const std::wstring game = normalFolder(gameFolder), plugins = normalFolder(pluginsFolder);
  const std::wstring own = lower(ownModule);
  std::vector<std::string> found;
  for (const std::wstring& path : modulePaths) {
    const std::wstring name = fileNameOf(path), lowerName = lower(name), folder = folderOf(path);
    bool known = false;
    for (const KnownOverlayModule& row : kKnownOverlayModules) {
      if (lowerName != lower(row.fileName)) continue;
      if (row.place == OverlayPlace::GameFolder && (game.empty() || folder != game)) continue;
      found.push_back(std::string(row.product) + " (" + toUtf8(name) + ")");
      known = true;
      break;
    }
    if (!known && !plugins.empty() && folder == plugins && lower(path) != own) {
      found.push_back("plugin de telemetria (" + toUtf8(name) + ")");
    }
  }
  return found;
}

std::vector<std::string> otherOverlaysInProcess() {
  try {
    std::vector<HMODULE> modules(512);
    DWORD needed = 0;
    const HANDLE process = GetCurrentProcess();
    for (int attempt = 0; attempt < 3; ++attempt) {
      const DWORD bytes = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
      if (!EnumProcessModules(process, modules.data(), bytes, &needed)) return {};
      if (needed <= bytes) break;
      modules.resize(needed / sizeof(HMODULE) + 16);
    }
    modules.resize(std::min<size_t>(modules.size(), needed / sizeof(HMODULE)));
    std::vector<std::wstring> paths;
    paths.reserve(modules.size());
    for (HMODULE module : modules) {
      std::wstring path = modulePath(module);
      if (!path.empty()) paths.push_back(std::move(path));
    }
    HMODULE own = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&otherOverlaysInProcess), &own);
    const std::wstring ownPath = own ? modulePath(own) : std::wstring();
    // The plugins folder is where the plugin is; in a host that runs it from its own folder that
    // is the game's folder, where every library would pass for a plugin.
    const std::wstring gameFolder = folderOf(modulePath(nullptr));
    std::wstring pluginsFolder = folderOf(ownPath);
    if (pluginsFolder == gameFolder) pluginsFolder.clear();
    return recognizeOverlays(paths, gameFolder, pluginsFolder, ownPath);
  } catch (...) {
    return {};
  }
}

std::string otherOverlaysLine(const std::vector<std::string>& overlays) {
  std::string line = "Otros overlays en el juego: ";
  if (overlays.empty()) return line + "ninguno.";
  for (size_t i = 0; i < overlays.size(); ++i) line += (i ? ", " : "") + overlays[i];
  return line + ".";
}

}  // namespace zor
