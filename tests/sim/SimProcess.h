// Runs zor_sim.exe (beside this test program) with a scenario and collects what it printed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zor::test {

struct SimRun {
  int exitCode = -1;
  bool timedOut = false;
  std::string output;
  std::wstring outDir;
  bool printed(const std::string& text) const { return output.find(text) != std::string::npos; }
  size_t count(const std::string& text) const;
  // The lines that contain `text`.
  std::vector<std::string> lines(const std::string& text) const;
};

std::wstring binDir();
// A fresh, empty folder under the temporary directory.
std::wstring freshTempDir(const std::wstring& prefix);
// Copies the plugin DLL into a private folder (its ZOR folder then is private too).
std::wstring privatePluginCopy(const std::wstring& dllName = L"ZorTabcastPlugin.dll");

// Writes the scenario into a temporary file and runs the simulator on it.
SimRun runSim(const std::string& scenario, const std::wstring& pluginPath, std::vector<std::wstring> extraArgs = {},
              DWORD timeoutMs = 90000);
// Runs the simulator with exactly these arguments.
SimRun runSimArgs(const std::vector<std::wstring>& args, DWORD timeoutMs = 90000);

std::string readFile(const std::wstring& path);

}  // namespace zor::test
