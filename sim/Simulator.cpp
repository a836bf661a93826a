// The run: start and finish, the command table's dispatch, the watchdog and the crash handler.
#include "Simulator.h"

#include "PrivateDocuments.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "Console.h"
#include "Input.h"
#include "SdkHost.h"
#include "SimText.h"

namespace zor::sim {

namespace {

// Watchdog: one thread, one deadline.
std::atomic<unsigned long long> gDeadline{0};
std::once_flag gWatchdogOnce;
std::mutex gNoteMutex;
std::string gNote;

const char* kFailureNames[] = {"ok", "expectation failed", "bad input", "plugin failure", "crash", "timeout",
                               "environment failure"};

}  // namespace

void setWatchdogNote(const std::string& note) {
  std::lock_guard lock(gNoteMutex);
  gNote = note;
}

void armWatchdog(unsigned long long ms) {
  gDeadline = ms ? GetTickCount64() + ms : 0;
  std::call_once(gWatchdogOnce, [] {
    std::thread([] {
      for (;;) {
        Sleep(100);
        unsigned long long d = gDeadline.load();
        if (d && GetTickCount64() > d) {
          std::string note;
          {
            std::lock_guard lock(gNoteMutex);
            note = gNote.empty() ? "" : " (" + gNote + ")";
          }
          say("TIMEOUT: the scenario did not finish within its time limit" + note + "; stopping the simulator");
          consoleCloseFile();
          TerminateProcess(GetCurrentProcess(), kExitTimeout);
        }
      }
    }).detach();
  });
}

namespace {
// "C:\\...\\module.dll+0x1234" for a code address.
std::string whereIs(const void* address) {
  HMODULE mod = nullptr;
  wchar_t name[MAX_PATH] = L"?";
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCWSTR>(address), &mod);
  if (mod) GetModuleFileNameW(mod, name, MAX_PATH);
  char line[700];
  std::snprintf(line, sizeof line, "%s+0x%llX", narrow(name).c_str(),
                mod ? static_cast<unsigned long long>(static_cast<const char*>(address) -
                                                      reinterpret_cast<const char*>(mod))
                    : 0ull);
  return line;
}

LONG WINAPI onCrash(EXCEPTION_POINTERS* info) {
  // A fault while telling of one ends the process at once.
  static std::atomic<bool> reporting{false};
  if (reporting.exchange(true)) TerminateProcess(GetCurrentProcess(), kExitCrash);
  auto* rec = info->ExceptionRecord;
  char line[800];
  std::snprintf(line, sizeof line, "CRASH: unhandled exception 0x%08lX at %p (%s) on thread %lu",
                static_cast<unsigned long>(rec->ExceptionCode), rec->ExceptionAddress,
                whereIs(rec->ExceptionAddress).c_str(), GetCurrentThreadId());
  say(line);
  // The calls that led there, as far as the unwind tables tell.
  CONTEXT context = *info->ContextRecord;
  for (int frame = 0; frame < 32 && context.Rip; ++frame) {
    DWORD64 imageBase = 0;
    RUNTIME_FUNCTION* function = RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
    if (frame > 0) say("  called from " + whereIs(reinterpret_cast<const void*>(context.Rip)));
    if (!function) {  // a leaf function: the return address is on top of the stack
      context.Rip = *reinterpret_cast<DWORD64*>(context.Rsp);
      context.Rsp += 8;
      continue;
    }
    void* handlerData = nullptr;
    DWORD64 establisher = 0;
    RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context, &handlerData, &establisher,
                     nullptr);
  }
  consoleCloseFile();
  TerminateProcess(GetCurrentProcess(), kExitCrash);
  return EXCEPTION_EXECUTE_HANDLER;
}
}  // namespace

void installCrashHandler() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(onCrash);
}

std::wstring Simulator::outPath(const std::string& name) const {
  std::wstring w = widen(name);
  if (isAbsolute(w)) return w;
  return options_.outDir + L"\\" + w;
}

bool Simulator::start(Failure& f) {
  CreateDirectoryW(options_.outDir.c_str(), nullptr);
  consoleOpenFile(options_.outDir + L"\\console.txt");
  SdkHost::instance().setGameLog(options_.outDir + L"\\game_log.txt");
  std::string documentsError;
  if (!usePrivateDocuments(documentsError)) say("zor_sim: " + documentsError + "; the plugin logs into the user's Documents");
  {
    std::ifstream in(std::filesystem::path(pluginLogPath()), std::ios::binary | std::ios::ate);
    pluginLogStart_ = in ? static_cast<unsigned long long>(in.tellg()) : 0;
  }
  say("zor_sim: the game simulator of ZOR TabCast (a stand-in for the game, not the game)");
  say("zor_sim: plugin " + narrow(options_.pluginPath) + ", output in " + narrow(options_.outDir));
  std::string error;
  if (!cab_.create(options_.width, options_.height, error)) {
    f = {kExitEnvironment, error};
    return false;
  }
  return true;
}

int Simulator::finish(int code, const std::string& message) {
  if (code != kExitOk) say(std::string("FAILED (") + kFailureNames[code] + "): " + message);
  if (GetAsyncKeyState(VK_LBUTTON) & 0x8000) {
    // A scenario that stopped with the button held must not leave it down on the display.
    std::string error;
    runXdotool("mouseup 1", error);
  }
  for (auto& [id, w] : media_) w->close(3000);
  media_.clear();
  if (SdkHost::instance().loaded()) {
    std::string error;
    if (!SdkHost::instance().unload(error, loaderHeld_)) {
      say("FAILED (plugin failure): " + error);
      if (code == kExitOk) code = kExitPlugin;
    }
  }
  joinHeldLoader();
  unsigned long long frames = cab_.frameCount();
  cab_.destroy();
  std::string log = readPluginLog();
  if (!log.empty()) {
    std::ofstream out(std::filesystem::path(options_.outDir + L"\\ZorTabcast.log"), std::ios::binary);
    out << log;
  }
  dropPrivateDocuments();
  char line[200];
  std::snprintf(line, sizeof line, "zor_sim: %llu frames, %.1f ms per frame on average; exit %d (%s)", frames,
                framesTimed_ ? frameMsTotal_ / framesTimed_ : 0.0, code, kFailureNames[code]);
  say(line);
  consoleCloseFile();
  return code;
}

unsigned long long Simulator::number(const Command& c, size_t i) {
  long long v = 0;
  parseInt(c.args[i], v);
  return static_cast<unsigned long long>(v);
}

bool Simulator::expect(const Command& c, bool good, const std::string& what, Failure& f) {
  if (!good) f = {kExitExpectation, "line " + std::to_string(c.line) + ": " + what};
  return good;
}

bool Simulator::execute(const Command& c, Failure& f) {
  using Handler = bool (Simulator::*)(const Command&, Failure&);
  static const struct {
    const char* name;
    Handler handler;
  } kHandlers[] = {
#define ZOR_ROW(name, args, usage, help, handler) {name, &Simulator::handler},
      ZOR_SIM_COMMANDS(ZOR_ROW)
#undef ZOR_ROW
  };
  for (const auto& row : kHandlers)
    if (c.name == row.name) return (this->*row.handler)(c, f);
  f = {kExitBadInput, "line " + std::to_string(c.line) + ": unknown command '" + c.name + "'"};
  return false;
}

int Simulator::runScenario(const Scenario& scenario) {
  Failure f{kExitOk, {}};
  armWatchdog(60000);
  if (!start(f)) return finish(f.code, f.message);
  for (const auto& c : scenario.commands) {
    if (!execute(c, f)) return finish(f.code, f.message);
  }
  say("scenario complete");
  return finish(kExitOk, {});
}

bool Simulator::cmdTimeout(const Command& c, Failure& f) {
  armWatchdog(number(c, 0));
  return true;
}

bool Simulator::cmdPrint(const Command& c, Failure& f) {
  std::string s;
  for (const auto& w : c.args) s += (s.empty() ? "" : " ") + w;
  say(s);
  return true;
}

}  // namespace zor::sim
