// What one smart-capture round (every 3 s) costs the game's thread on a player's desktop: 200
// visible windows of 50 processes (this program and 49 copies of it, 4 windows each).
// - before: the round lists the windows and names their processes' programs on the game's
//   thread, every program name looked up afresh;
// - after: the listing is made on the survey's thread; the game's thread takes it and scores it.
// Also the listing alone on the game's thread with the program names cached, and a frame with
// no listing ready (what every other frame costs).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchKit.h"
#include "capture/ProgramNames.h"
#include "capture/WindowMatching.h"
#include "capture/WindowSurvey.h"
#include "media/AppLibrary.h"
#include "media/MediaFiles.h"
#include "media/PanelState.h"
#include "media/SmartCapture.h"

namespace {

constexpr int kProcesses = 50;
constexpr int kWindowsEach = 4;

LRESULT CALLBACK plainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

void openWindows(int process) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &plainProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ZorRoundBenchWindow";
  RegisterClassW(&wc);
  for (int i = 0; i < kWindowsEach; ++i) {
    std::wstring title = L"Documento " + std::to_wstring(process) + L"." + std::to_wstring(i) + L" - Editor";
    if (process == 17 && i == 0) title = L"Spotify Premium";
    if (process == 31 && i == 0) title = L"Lofi radio - YouTube";
    HWND w = CreateWindowExW(0, wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 10 + process, 10 + i, 160, 90,
                             nullptr, nullptr, wc.hInstance, nullptr);
    ShowWindow(w, SW_SHOWNOACTIVATE);
  }
}

// A copy of this program: its windows, a message loop, until the job ends it.
int child(int process, const char* readyEvent) {
  openWindows(process);
  if (HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, readyEvent)) {
    SetEvent(ready);
    CloseHandle(ready);
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}

bool startChildren(HANDLE job) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  for (int p = 1; p < kProcesses; ++p) {
    const std::wstring eventName = L"ZorRoundBench." + std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(p);
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    std::wstring command = L"\"" + std::wstring(self) + L"\" --child " + std::to_wstring(p) + L" " + eventName;
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi))
      return false;
    AssignProcessToJobObject(job, pi.hProcess);
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    const bool up = WaitForSingleObject(ready, 30000) == WAIT_OBJECT_0;
    CloseHandle(ready);
    if (!up) return false;
  }
  return true;
}

void print(const char* what, double ns) { std::printf("   %-62s %10.1f us\n", what, ns / 1000.0); }

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--child") return child(std::atoi(argv[2]), argv[3]);

  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  openWindows(0);
  if (!startChildren(job)) {
    std::fprintf(stderr, "the copies of this program did not come up\n");
    return 1;
  }

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"zor_round_bench";
  CreateDirectoryW(folder.c_str(), nullptr);
  zor::media::setSettingsFolder(folder);
  zor::AppLibrary::instance().initialize();
  zor::loadSmartCaptureSettings();
  zor::PanelState::instance().setSourceWindowTitle("Lofi radio - YouTube");
  zor::smartCaptureTick(false);  // steady state: the best window was handled on an earlier round

  std::vector<zor::VisibleWindow> listed;
  zor::listVisibleWindows(listed, true);
  std::vector<DWORD> processes;
  for (const zor::VisibleWindow& w : listed)
    if (std::find(processes.begin(), processes.end(), w.processId) == processes.end()) processes.push_back(w.processId);
  std::printf("   %zu visible windows of %zu processes\n", listed.size(), processes.size());

  zor::WindowSurvey& survey = zor::WindowSurvey::instance();
  const auto round = zor::bench::compare(
      15, 1, [] { zor::programNameCache().clear(); }, [] { zor::smartCaptureTick(false); },
      [&survey] {
        survey.request();
        survey.waitIdle(30000);
      },
      [] { zor::smartCaptureTakeSurvey(); });
  print("before: round on the game's thread, names looked up", round.first);
  print("after: the game thread's share (listing on the survey thread)", round.second);
  const auto cached = zor::bench::compare(
      15, 1, [] {}, [] { zor::smartCaptureTick(false); }, [] {}, [] { zor::smartCaptureTakeSurvey(); });
  print("round on the game's thread, names cached", cached.first);
  print("a frame with no listing ready", cached.second);

  survey.stop();
  zor::media::setSettingsFolder({});
  for (const wchar_t* name : {zor::media::kAppsFile, zor::media::kSmartCaptureFile, zor::media::kAudioFile})
    DeleteFileW((folder + L"\\" + name).c_str());
  RemoveDirectoryW(folder.c_str());
  CloseHandle(job);
  return 0;
}
