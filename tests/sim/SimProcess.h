// Runs zor_sim.exe (beside this test program) with a scenario and collects what it printed.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "support/TempFolder.h"

namespace zor::test {

struct SimRun {
  int exitCode = -1;
  bool timedOut = false;
  std::string output;
  std::shared_ptr<TempFolder> folder;  // the scenario and the run's output, removed with the last copy
  std::wstring outDir;
  bool printed(const std::string& text) const { return output.find(text) != std::string::npos; }
  size_t count(const std::string& text) const;
  // The lines that contain `text`.
  std::vector<std::string> lines(const std::string& text) const;
};

inline std::wstring binDir() { return programFolder(); }

// The plugin DLL copied into a private folder (so its ZOR folder is private too).
struct PluginCopy {
  TempFolder folder{L"zor_sim_plugin"};
  std::wstring path;
};
std::unique_ptr<PluginCopy> privatePluginCopy();

// Writes the scenario into a temporary file and runs the simulator on it.
// `exe` runs another build of the simulator than the one beside this program.
SimRun runSim(const std::string& scenario, const std::wstring& pluginPath, std::vector<std::wstring> extraArgs = {},
              DWORD timeoutMs = 90000, const std::wstring& exe = {});
// Runs the simulator with exactly these arguments.
SimRun runSimArgs(const std::vector<std::wstring>& args, DWORD timeoutMs = 90000, const std::wstring& exe = {});


}  // namespace zor::test
