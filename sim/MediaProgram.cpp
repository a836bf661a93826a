#include "MediaProgram.h"

#include <algorithm>

namespace zor::sim {

namespace {

constexpr wchar_t kWindowClass[] = L"ZorMedia.Player";

// Every program started here belongs to one job that is closed (and its processes ended) when
// this process ends, so no program outlives a crashed or timed-out simulator.
HANDLE programJob() {
  static HANDLE job = [] {
    HANDLE j = CreateJobObjectW(nullptr, nullptr);
    if (j) {
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
      limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      SetInformationJobObject(j, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    return j;
  }();
  return job;
}

std::wstring besideThisProgram(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  size_t slash = p.find_last_of(L"\\/");
  return (slash == std::wstring::npos ? std::wstring() : p.substr(0, slash + 1)) + name;
}

std::wstring quoted(const std::wstring& arg) {
  std::wstring out = L"\"";
  for (wchar_t c : arg) {
    if (c == L'"') out += L'\\';
    out += c;
  }
  return out + L"\"";
}

HWND findProgramWindow(DWORD pid) {
  struct Search {
    DWORD pid;
    HWND found = nullptr;
  } search{pid};
  EnumWindows(
      [](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(h, &owner);
        wchar_t cls[64] = L"";
        if (owner != s->pid || !GetClassNameW(h, cls, 64) || std::wstring(cls) != kWindowClass) return TRUE;
        s->found = h;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

const char* mediaCommandName(int command) {
  switch (command) {
    case APPCOMMAND_MEDIA_NEXTTRACK: return "NEXTTRACK";
    case APPCOMMAND_MEDIA_PREVIOUSTRACK: return "PREVIOUSTRACK";
    case APPCOMMAND_MEDIA_PLAY_PAUSE: return "PLAY_PAUSE";
    case APPCOMMAND_MEDIA_PLAY: return "PLAY";
    case APPCOMMAND_MEDIA_PAUSE: return "PAUSE";
    case APPCOMMAND_MEDIA_STOP: return "STOP";
    case APPCOMMAND_VOLUME_UP: return "VOLUME_UP";
    case APPCOMMAND_VOLUME_DOWN: return "VOLUME_DOWN";
    case APPCOMMAND_VOLUME_MUTE: return "VOLUME_MUTE";
    case 0: return "-";
    default: return "OTHER";
  }
}

MediaProgram::MediaProgram(std::string id, std::wstring title, int index)
    : id_(std::move(id)), title_(std::move(title)), index_(index) {}

MediaProgram::~MediaProgram() { close(3000); }

std::wstring mediaProgramCopy(const std::wstring& name) {
  wchar_t temp[MAX_PATH];
  const DWORD n = GetTempPathW(MAX_PATH, temp);
  if (n == 0 || n >= MAX_PATH || name.empty() || name.find_first_of(L"\\/:") != std::wstring::npos) return {};
  const std::wstring folder = std::wstring(temp) + L"zor_media_" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring copy = folder + L"\\" + name;
  if (!CopyFileW(besideThisProgram(L"zor_media.exe").c_str(), copy.c_str(), FALSE)) return {};
  return copy;
}

bool MediaProgram::open(DWORD timeoutMs, std::string& error, const std::wstring& exe) {
  const std::wstring program = exe.empty() ? besideThisProgram(L"zor_media.exe") : exe;
  // Beside the game's window (1280 wide at 0,0) and wholly on a 1920 x 1080 screen, so what the
  // screen shows of it can be read back.
  const int x = 1300 + (index_ % 4) * 20, y = 40 + (index_ % 4) * 120;
  std::wstring command = quoted(program) + L" --title " + quoted(title_) + L" --x " + std::to_wstring(x) +
                         L" --y " + std::to_wstring(y);
  if (chartWidth_ > 0) {
    command = quoted(program) + L" --title " + quoted(title_) + L" --chart --x 0 --y 0 --width " +
              std::to_wstring(chartWidth_) + L" --height " + std::to_wstring(chartHeight_);
  }
  STARTUPINFOW si{sizeof si};
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS | CREATE_SUSPENDED,
                      nullptr, nullptr, &si, &pi)) {
    error = "could not start zor_media.exe (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  if (HANDLE job = programJob()) AssignProcessToJobObject(job, pi.hProcess);
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);
  process_ = pi.hProcess;
  processId_ = pi.dwProcessId;
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    hwnd_ = findProgramWindow(processId_);
    if (hwnd_ && IsWindowVisible(hwnd_)) return true;
    DWORD code = STILL_ACTIVE;
    if (GetExitCodeProcess(process_, &code) && code != STILL_ACTIVE) {
      error = "zor_media.exe ended with status " + std::to_string(code) + " before showing its window";
      break;
    }
    if (GetTickCount64() > end) {
      error = "zor_media.exe showed no window within " + std::to_string(timeoutMs) + " ms";
      break;
    }
    Sleep(20);
  }
  close(1000);
  return false;
}

void MediaProgram::setTitle(const std::wstring& title) {
  title_ = title;
  DWORD_PTR result = 0;
  if (hwnd_) {
    SendMessageTimeoutW(hwnd_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title.c_str()), SMTO_ABORTIFHUNG, 2000,
                        &result);
  }
}

void MediaProgram::show(int command) {
  if (hwnd_) ShowWindowAsync(hwnd_, command);
}

void MediaProgram::setCovered(bool covered) {
  if (hwnd_) PostMessageW(hwnd_, WM_APP + 2, covered ? 1 : 0, 0);
}

void MediaProgram::hang(DWORD ms) {
  if (hwnd_ && PostMessageW(hwnd_, WM_APP + 1, ms, 0)) hungUntil_ = std::max(hungUntil_, GetTickCount64()) + ms;
}

bool MediaProgram::close(DWORD timeoutMs) {
  if (!process_) return true;
  if (hwnd_) PostMessageW(hwnd_, WM_CLOSE, 0, 0);
  // A program made to hang answers the close once it is back.
  const ULONGLONG now = GetTickCount64();
  if (hungUntil_ > now) timeoutMs += static_cast<DWORD>(hungUntil_ - now);
  bool ended = WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
  if (!ended) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 2000);
  }
  CloseHandle(process_);
  process_ = nullptr;
  processId_ = 0;
  hwnd_ = nullptr;
  return ended;
}

unsigned MediaProgram::commandCount() const {
  return hwnd_ ? static_cast<unsigned>(reinterpret_cast<UINT_PTR>(GetPropW(hwnd_, L"ZorMedia.CommandCount"))) : 0;
}

int MediaProgram::lastCommand() const {
  return hwnd_ ? static_cast<int>(reinterpret_cast<INT_PTR>(GetPropW(hwnd_, L"ZorMedia.LastCommand"))) : 0;
}

}  // namespace zor::sim
