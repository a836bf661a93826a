// zor_sim: plays the game's part for the plugin. See --help.
#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "Console.h"
#include "Scenario.h"
#include "Simulator.h"

using namespace zor::sim;

namespace {

const char kUsage[] = R"(usage: zor_sim.exe [options] --scenario FILE
       zor_sim.exe [options] --bench ROUNDS [--bench-frames N] [--bench-target | --bench-playback |
                                             --bench-overlay BARE_DLL]
       zor_sim.exe [options] --chaos SEED [--events N]   N events (default 300) drawn from SEED, the
                                       invariants checked after each (ZorTabcastPlugin_playback.dll)
       zor_sim.exe [options] --soak MINUTES  a media program playing for MINUTES; memory, handles and
                                       GDI objects printed every minute
       zor_sim.exe --check FILE        parse a scenario and report errors only
       zor_sim.exe --commands          the scenario commands as a Markdown list (sim/README.md)
options:
  --plugin PATH    plugin DLL (default: ZorTabcastPlugin.dll beside zor_sim.exe)
  --out DIR        console.txt, game_log.txt, screenshots and the plugin's log excerpt (default: zor_sim_out)
  --size WxH       window client size (default 1280x720)
  --bench-target   benchmark the plugin's tablet target against its dashboard target (W900)
                   instead of the cab without and with the plugin
  --bench-overlay BARE_DLL
                   benchmark the plugin with its panel hidden and shown against BARE_DLL, a build
                   of the plugin without the overlay
  --bench-playback frame time while the plugin plays the media program on the tablet against not
                   playing (needs the plugin with the playback test export)
exit status: 0 ok, 1 expectation failed, 2 bad input, 3 plugin failure, 4 crash, 5 timeout, 6 environment
)";

std::string narrow(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string s(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring fullPath(const std::wstring& p) {
  wchar_t buf[MAX_PATH];
  DWORD n = GetFullPathNameW(p.c_str(), MAX_PATH, buf, nullptr);
  return n && n < MAX_PATH ? std::wstring(buf, n) : p;
}

int usage(const std::string& why) {
  if (!why.empty()) say("error: " + why);
  say(kUsage);
  return kExitBadInput;
}

bool readScenario(const std::wstring& path, Scenario& scenario) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) {
    say("error: cannot read scenario " + narrow(path));
    return false;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  std::string error;
  if (!parseScenario(ss.str(), scenario, error)) {
    say("error: " + narrow(path) + ":" + error);
    return false;
  }
  return true;
}

}  // namespace

int main() {
  installCrashHandler();
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  Options options;
  std::wstring check;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    auto value = [&](std::wstring& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::wstring v;
    if (a == L"--help" || a == L"-h") {
      say(kUsage);
      say(scenarioHelp());
      return 0;
    } else if (a == L"--commands") {
      std::fputs(scenarioCommandList().c_str(), stdout);
      std::fflush(stdout);
      return 0;
    } else if (a == L"--plugin" && value(v)) {
      options.pluginPath = fullPath(v);
    } else if (a == L"--scenario" && value(v)) {
      options.scenarioPath = v;
    } else if (a == L"--out" && value(v)) {
      options.outDir = fullPath(v);
    } else if (a == L"--check" && value(v)) {
      check = v;
    } else if (a == L"--size" && value(v)) {
      if (swscanf(v.c_str(), L"%dx%d", &options.width, &options.height) != 2 || options.width < 320 ||
          options.height < 200 || options.width > 7680 || options.height > 4320)
        return usage("bad --size " + narrow(v) + " (at least 320x200)");
    } else if (a == L"--bench-target") {
      options.benchTarget = true;
    } else if (a == L"--bench-overlay" && value(v)) {
      options.barePluginPath = fullPath(v);
    } else if ((a == L"--chaos" || a == L"--events" || a == L"--soak") && value(v)) {
      long long n = _wtoi64(v.c_str());
      if (n < 0 || (a != L"--chaos" && n == 0)) return usage("bad " + narrow(a) + " " + narrow(v));
      if (a == L"--chaos") options.chaos = true, options.chaosSeed = static_cast<unsigned long long>(n);
      if (a == L"--events") options.chaosEvents = static_cast<unsigned long long>(n);
      if (a == L"--soak") options.soakMinutes = static_cast<unsigned long long>(n);
    } else if (a == L"--bench-playback") {
      options.benchPlayback = true;
    } else if ((a == L"--bench" || a == L"--bench-frames") && value(v)) {
      int n = _wtoi(v.c_str());
      if (n <= 0 || n > 1000) return usage("bad " + narrow(a) + " " + narrow(v));
      (a == L"--bench" ? options.benchRounds : options.benchFrames) = n;
    } else {
      return usage("unknown or incomplete argument " + narrow(a));
    }
  }
  LocalFree(argv);
  if (!check.empty()) {
    Scenario s;
    if (!readScenario(check, s)) return kExitBadInput;
    say("scenario ok: " + std::to_string(s.commands.size()) + " commands");
    return 0;
  }
  if (options.scenarioPath.empty() && options.benchRounds == 0 && !options.chaos && !options.soakMinutes)
    return usage("no --scenario, --bench, --chaos or --soak");
  wchar_t self[MAX_PATH];
  DWORD len = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring exeDir(self, len);
  exeDir = exeDir.substr(0, exeDir.find_last_of(L"\\/"));
  if (options.outDir.empty()) options.outDir = fullPath(L"zor_sim_out");
  Scenario scenario;
  if (!options.scenarioPath.empty() && !readScenario(options.scenarioPath, scenario)) return kExitBadInput;
  // A scenario's own 'plugin' line applies only when the command line named none.
  if (options.pluginPath.empty()) {
    for (const auto& c : scenario.commands)
      if (c.name == "plugin") options.pluginPath = fullPath(std::wstring(c.args[0].begin(), c.args[0].end()));
  }
  if (options.pluginPath.empty())
    options.pluginPath = exeDir + (options.chaos || options.soakMinutes ? L"\\ZorTabcastPlugin_playback.dll" : L"\\ZorTabcastPlugin.dll");
  Simulator sim(options);
  if (options.chaos) return sim.runChaos();
  if (options.soakMinutes) return sim.runSoak();
  if (options.benchRounds > 0) {
    if (!options.barePluginPath.empty()) return sim.runOverlayBenchmark();
    return options.benchTarget ? sim.runTargetBenchmark() : sim.runBenchmark();
  }
  const int code = sim.runScenario(scenario);
  // What follows is the process's exit (and the plugin's detach, when it stayed loaded).
  say("zor_sim: process exit at tick " + std::to_string(GetTickCount64()));
  return code;
}
