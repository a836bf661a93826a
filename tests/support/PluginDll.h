// A copy of the built ZorTabcastPlugin.dll in a folder of the test, loaded with LoadLibraryW
// the way the game loads it, with its two exports resolved.
#pragma once

#include <string>

#include "sdk/telemetry_sdk.h"

namespace zor::test {

class PluginDll {
 public:
  // Copies the DLL built beside the test program into `folder` (not loaded yet).
  explicit PluginDll(const std::wstring& folder);
  ~PluginDll();  // unloads
  PluginDll(const PluginDll&) = delete;
  PluginDll& operator=(const PluginDll&) = delete;

  bool copied() const { return copied_; }
  bool load();
  void unload();
  bool loaded() const { return module_ != nullptr; }

  scs_result_t init(scs_u32_t version, const scs_telemetry_init_params_t* params) const { return init_(version, params); }
  void shutdown() const { shutdown_(); }

  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
  bool copied_ = false;
  void* module_ = nullptr;
  scs_telemetry_init_t init_ = nullptr;
  scs_telemetry_shutdown_t shutdown_ = nullptr;
};

}  // namespace zor::test
