#include "support/PluginDll.h"

#include <windows.h>

#include "support/TempFolder.h"

namespace zor::test {

PluginDll::PluginDll(const std::wstring& folder) : path_(folder + L"\\ZorTabcastPlugin.dll") {
  copied_ = CopyFileW((programFolder() + L"\\ZorTabcastPlugin.dll").c_str(), path_.c_str(), FALSE) != 0;
}

PluginDll::~PluginDll() { unload(); }

bool PluginDll::load() {
  if (module_) return true;
  HMODULE module = LoadLibraryW(path_.c_str());
  if (!module) return false;
  init_ = reinterpret_cast<scs_telemetry_init_t>(GetProcAddress(module, "scs_telemetry_init"));
  shutdown_ = reinterpret_cast<scs_telemetry_shutdown_t>(GetProcAddress(module, "scs_telemetry_shutdown"));
  module_ = module;
  if (!init_ || !shutdown_) {
    unload();
    return false;
  }
  return true;
}

void PluginDll::unload() {
  if (!module_) return;
  FreeLibrary(static_cast<HMODULE>(module_));
  module_ = nullptr;
  init_ = nullptr;
  shutdown_ = nullptr;
}

}  // namespace zor::test
