#include "SimProcess.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <sstream>
#include <thread>

namespace zor::test {

size_t SimRun::count(const std::string& text) const {
  size_t n = 0;
  for (size_t p = output.find(text); p != std::string::npos; p = output.find(text, p + 1)) ++n;
  return n;
}

std::vector<std::string> SimRun::lines(const std::string& text) const {
  std::vector<std::string> out;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find(text) != std::string::npos) out.push_back(line);
  }
  return out;
}

std::unique_ptr<PluginCopy> privatePluginCopy() {
  auto copy = std::make_unique<PluginCopy>();
  copy->path = copy->folder / L"ZorTabcastPlugin.dll";
  CopyFileW((binDir() + L"\\ZorTabcastPlugin.dll").c_str(), copy->path.c_str(), FALSE);
  return copy;
}

SimRun runSimArgs(const std::vector<std::wstring>& args, DWORD timeoutMs, const std::wstring& exe) {
  SimRun run;
  std::wstring cmd = L"\"" + (exe.empty() ? binDir() + L"\\zor_sim.exe" : exe) + L"\"";
  for (const auto& a : args) cmd += L" \"" + a + L"\"";
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return run;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{sizeof si};
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  // Under a loaded Wine server a start now and then fails for a moment (seen once in a full CI run):
  // try a few times before calling the run failed, and say why if it still is.
  BOOL ok = FALSE;
  DWORD error = 0;
  for (int attempt = 0; attempt < 4 && !ok; ++attempt) {
    if (attempt) std::this_thread::sleep_for(std::chrono::milliseconds(500 * attempt));
    ok = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, binDir().c_str(), &si, &pi);
    if (!ok) error = GetLastError();
  }
  CloseHandle(writeEnd);
  if (!ok) {
    CloseHandle(readEnd);
    run.output = "cannot start zor_sim.exe (error " + std::to_string(error) + ")";
    return run;
  }
  std::thread reader([&] {
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buf, sizeof buf, &got, nullptr) && got) run.output.append(buf, got);
  });
  if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    run.timedOut = true;
    TerminateProcess(pi.hProcess, 99);
    WaitForSingleObject(pi.hProcess, 5000);
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  run.exitCode = static_cast<int>(code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  reader.join();  // the pipe's only writer has ended
  CloseHandle(readEnd);
  return run;
}

SimRun runSim(const std::string& scenario, const std::wstring& pluginPath, std::vector<std::wstring> extraArgs,
              DWORD timeoutMs, const std::wstring& exe) {
  auto folder = std::make_shared<TempFolder>(L"zor_sim_run");
  std::wstring file = *folder / L"scenario.txt";
  writeFile(file, scenario);
  std::vector<std::wstring> args = {L"--scenario", file, L"--out", *folder / L"out"};
  if (!pluginPath.empty()) {
    args.push_back(L"--plugin");
    args.push_back(pluginPath);
  }
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  SimRun run = runSimArgs(args, timeoutMs, exe);
  run.folder = folder;
  run.outDir = *folder / L"out";
  return run;
}

}  // namespace zor::test
