#include "core/PluginConfig.h"

#include <windows.h>

#include <cerrno>
#include <cwchar>
#include <string_view>

#include "core/FileSystem.h"
#include "core/IniFile.h"
#include "core/Logger.h"
#include "core/Utf8.h"

namespace zor {
namespace {

// The settings files of the configuration folder, in the order they are migrated.
constexpr const wchar_t* kSettingsFiles[] = {
    L"ZorTabcastPlugin.ini",      L"ZorTabcastApps.ini",     L"ZorTabcastProfiles.ini",
    L"ZorTabcastSmartCapture.ini", L"ZorTabcastFirstRun.ini", L"ZorTabcastAudio.ini",
};

bool g_folderReported = false;

// GetPrivateProfileIntW's reading. A value with no number in it reads as 0, and the player is
// told, with what the setting then is (`used`).
UINT readProfileInt(const wchar_t* section, const wchar_t* key, INT fallback, const std::wstring& path,
                    std::string_view used = "0") {
  const std::wstring text = ini::readString(path, section, key);
  if (!text.empty() && !ini::holdsNumber(text)) {
    ini::warnValue(path, section, key, text, ini::kNotANumber, used);
    return 0;
  }
  return GetPrivateProfileIntW(section, key, fallback, path.c_str());
}

int32_t readInt(const wchar_t* section, const wchar_t* key, int32_t fallback, const std::wstring& path) {
  return static_cast<int32_t>(readProfileInt(section, key, fallback, path));
}

uint32_t readUnsigned(const wchar_t* section, const wchar_t* key, uint32_t fallback, const std::wstring& path) {
  return static_cast<uint32_t>(readProfileInt(section, key, static_cast<INT>(fallback), path));
}

bool readBool(const wchar_t* section, const wchar_t* key, bool fallback, const std::wstring& path) {
  return readProfileInt(section, key, fallback ? 1 : 0, path, "0 (desactivado)") != 0;
}

const char* onOff(bool value) { return value ? "ON" : "OFF"; }

}  // namespace

std::wstring pluginFolder() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&pluginFolder), &module))
    return L".";
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return L".";
  std::wstring folder(buffer, length);
  const size_t cut = folder.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return L".";
  folder.resize(cut);
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  if (folder.empty()) return L".";
  return folder;
}

std::wstring configFolder() { return fs::join(pluginFolder(), L"ZOR"); }

std::wstring configFilePath(const std::wstring& name) { return fs::join(configFolder(), name); }

void ensureConfigFolder() {
  if (!fs::createDirectories(configFolder())) {
    logWarning("No fue posible preparar la carpeta de configuracion ZOR.");
    return;
  }
  for (const wchar_t* name : kSettingsFiles) migrateLegacyIni(name);
  if (!g_folderReported) {
    g_folderReported = true;
    logInfo("Carpeta de configuracion ZOR preparada.");
  }
}

void migrateLegacyIni(const std::wstring& name) {
  const std::wstring legacy = fs::join(pluginFolder(), name);
  const std::wstring current = configFilePath(name);
  if (!fs::isFile(legacy) || GetFileAttributesW(current.c_str()) != INVALID_FILE_ATTRIBUTES) return;
  if (MoveFileExW(legacy.c_str(), current.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) return;
  if (CopyFileW(legacy.c_str(), current.c_str(), FALSE)) DeleteFileW(legacy.c_str());
}

int32_t readOptionalIndex(const std::wstring& path, const wchar_t* key) {
  wchar_t buffer[64] = {};
  GetPrivateProfileStringW(L"gps", key, L"", buffer, 64, path.c_str());
  if (buffer[0] == L'\0') return -1;
  wchar_t* end = nullptr;
  errno = 0;
  const long value = std::wcstol(buffer, &end, 10);
  if (end == buffer) {
    ini::warnValue(path, L"gps", key, buffer, ini::kNotANumber, "-1 (cualquiera)");
    return -1;
  }
  if (errno == ERANGE) return -1;
  if (value < 0 || value > INT32_MAX) return -1;
  return static_cast<int32_t>(value);
}

PluginConfig loadPluginConfig(const std::wstring& path) {
  PluginConfig config;
  wchar_t title[256] = {};
  GetPrivateProfileStringW(L"capture", L"window_title", L"YouTube", title, 256, path.c_str());
  config.windowTitle = title;
  config.gpsWidth = readUnsigned(L"gps", L"width", 0, path);
  config.gpsHeight = readUnsigned(L"gps", L"height", 0, path);
  config.minHitsToLock = readInt(L"gps", L"min_hits_to_lock", 30, path);
  config.slot = readOptionalIndex(path, L"slot");
  config.maxMips = readOptionalIndex(path, L"max_mips");
  config.requireRenderTarget = readBool(L"gps", L"require_render_target", false, path);
  config.format = readOptionalIndex(path, L"format");
  config.legacyAutoLock = readBool(L"gps", L"legacy_auto_lock", false, path);
  config.fps = static_cast<int32_t>(readProfileInt(L"capture", L"fps", 30, path, "30"));
  if (config.fps == 0) config.fps = 30;
  config.flipVertical = readBool(L"capture", L"flip_vertical", false, path);
  config.cropLeft = readInt(L"capture", L"crop_left", 0, path);
  config.cropTop = readInt(L"capture", L"crop_top", 0, path);
  config.cropWidth = readInt(L"capture", L"crop_width", 0, path);
  config.cropHeight = readInt(L"capture", L"crop_height", 0, path);
  config.calibrationMode = readBool(L"gps", L"calibration_mode", true, path);
  config.ddsWindowMs = readUnsigned(L"gps", L"dds_window_ms", 100, path);
  config.tobjWindowMs = readUnsigned(L"gps", L"tobj_window_ms", 150, path);
  config.relockIfUnusedMs = readUnsigned(L"gps", L"relock_if_unused_ms", 100, path);
  config.debugForceRed = readBool(L"gps", L"debug_force_red", false, path);
  return config;
}

std::string configurationLine(const PluginConfig& config) {
  std::string line = "V1.7.0: config cargada. window_title='";
  line += toUtf8(config.windowTitle);
  line += "', gps=" + std::to_string(config.gpsWidth) + "x" + std::to_string(config.gpsHeight);
  line += ", calibration_mode=";
  line += onOff(config.calibrationMode);
  line += ", dds_window_ms=" + std::to_string(config.ddsWindowMs);
  line += ", tobj_window_ms=" + std::to_string(config.tobjWindowMs);
  line += ", relock_if_unused_ms=" + std::to_string(config.relockIfUnusedMs);
  line += ", debug_force_red=";
  line += onOff(config.debugForceRed);
  return line;
}

}  // namespace zor
