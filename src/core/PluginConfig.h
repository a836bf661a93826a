// The configuration folder "ZOR" beside the DLL and the core settings file.
#pragma once

#include <cstdint>
#include <string>

namespace zor {

struct PluginConfig {
  std::wstring windowTitle = L"YouTube";
  uint32_t gpsWidth = 0;
  uint32_t gpsHeight = 0;
  int32_t minHitsToLock = 30;
  int32_t slot = -1;
  int32_t maxMips = -1;
  bool requireRenderTarget = false;
  int32_t format = -1;
  bool legacyAutoLock = false;
  int32_t fps = 30;
  bool flipVertical = false;
  int32_t cropLeft = 0;
  int32_t cropTop = 0;
  int32_t cropWidth = 0;
  int32_t cropHeight = 0;
  bool calibrationMode = true;
  uint32_t ddsWindowMs = 100;
  uint32_t tobjWindowMs = 150;
  uint32_t relockIfUnusedMs = 100;
  bool debugForceRed = false;
};

std::wstring pluginFolder();
std::wstring configFolder();
std::wstring configFilePath(const std::wstring& name);
void ensureConfigFolder();
void migrateLegacyIni(const std::wstring& name);
PluginConfig loadPluginConfig(const std::wstring& path);
// Optional-index key of section "gps" in the given file: -1 when empty, non-numeric, negative or out of range.
int32_t readOptionalIndex(const std::wstring& path, const wchar_t* key);
// The INFO configuration line logged when the graphics core starts.
std::string configurationLine(const PluginConfig& config);

}  // namespace zor
