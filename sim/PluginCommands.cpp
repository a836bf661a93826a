// The plugin's lifecycle: loading, starting and stopping it the game's way, the telemetry it is
// given, the engine's loader threads, and what it logs.
#include <windows.h>
// after windows.h
#include <shlobj.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

#include "Console.h"
#include "GameWindowChecks.h"
#include "SdkHost.h"
#include "SimText.h"
#include "Simulator.h"
#include "TextureQueue.h"

namespace zor::sim {

namespace {

// Trucks named by a scenario that the simulator does not know get a generic dashboard.
std::deque<std::string> gNames;
std::deque<TruckModel> gExtraTrucks;

}  // namespace

std::wstring Simulator::pluginLogPath() const {
  PWSTR docs = nullptr;
  std::wstring path;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &docs)) && docs)
    path = std::wstring(docs) + L"\\ZorTabcast\\logs\\ZorTabcast.log";
  CoTaskMemFree(docs);
  return path;
}

std::string Simulator::readPluginLog() const {
  std::ifstream in(std::filesystem::path(pluginLogPath()), std::ios::binary);
  if (!in) return {};
  in.seekg(0, std::ios::end);
  auto size = static_cast<unsigned long long>(in.tellg());
  if (size <= pluginLogStart_) return {};
  in.seekg(static_cast<std::streamoff>(pluginLogStart_));
  std::string s(size - pluginLogStart_, '\0');
  in.read(s.data(), static_cast<std::streamsize>(s.size()));
  return s;
}

bool Simulator::loadPlugin(Failure& f) {
  std::string error;
  auto& sdk = SdkHost::instance();
  if (!sdk.loaded() && !sdk.load(options_.pluginPath, error)) {
    f = {kExitPlugin, error};
    return false;
  }
  if (!sdk.init(error)) {
    f = {kExitPlugin, error};
    return false;
  }
  return true;
}

bool Simulator::loadAt(FramePoint point, unsigned long long waitMs, int line, Failure& f) {
  const char* where = point == FramePoint::BeforeTablet ? "before" : "after";
  if (!cab_.cabLoaded()) {
    f = {kExitBadInput, "line " + std::to_string(line) + ": 'load-at' needs the cab (use 'cab' first)"};
    return false;
  }
  bool loaded = false, hooked = false;
  unsigned long long waited = 0;
  Failure inner{kExitOk, {}};
  cab_.atFramePoint(point, [&] {
    loaded = loadPlugin(inner);
    if (!loaded) return;
    // The frame stands still here, as a game's render thread does while another thread patches.
    const unsigned long long begin = uptimeMs();
    while (!(hooked = cab_.bindingHooksPatched()) && uptimeMs() - begin < waitMs) Sleep(2);
    waited = uptimeMs() - begin;
  });
  const bool rendered = renderOne(nullptr, nullptr, f);
  cab_.atFramePoint(FramePoint::None, nullptr);
  if (!rendered) return false;
  if (!loaded) {
    f = inner;
    return false;
  }
  if (!hooked) {
    f = {kExitExpectation, "line " + std::to_string(line) + ": the plugin did not hook Present and PSSetShaderResources "
                           "within " + std::to_string(waitMs) + " ms"};
    return false;
  }
  say(std::string("load-at: plugin started ") + where + " the tablet was drawn; its hooks were in place " +
      std::to_string(waited) + " ms later, in the same frame");
  return true;
}

bool Simulator::holdQueue(unsigned long long ms, int line, Failure& f) {
  if (heldLoader_.joinable()) {
    if (loaderHeld_) {
      f = {kExitBadInput, "line " + std::to_string(line) + ": a loader thread is held already"};
      return false;
    }
    joinHeldLoader();
  }
  HANDLE inside = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  loaderHeld_ = true;
  heldLoader_ = std::thread([this, ms, inside] {
    TextureQueueBatch batch({"/model/interior/seat_fabric.dds"});
    holdTextureQueue(batch.record(), static_cast<unsigned>(ms), inside);
    const unsigned long long begin = uptimeMs();
    batch.submit();
    say("hold-queue: the loader thread came back from the engine's texture queue after " +
        std::to_string(uptimeMs() - begin) + " ms");
    loaderHeld_ = false;
  });
  const bool entered = WaitForSingleObject(inside, 5000) == WAIT_OBJECT_0;
  CloseHandle(inside);
  if (!entered) {
    f = {kExitEnvironment, "the loader thread did not reach the engine's texture queue"};
    return false;
  }
  say("hold-queue: a loader thread is inside the engine's texture-queue function for " + std::to_string(ms) + " ms");
  return true;
}

void Simulator::joinHeldLoader() {
  if (!heldLoader_.joinable()) return;
  try {
    heldLoader_.join();
  } catch (const std::system_error& e) {
    // The thread has ended (it clears loaderHeld_ last); its handle is no longer there to wait on.
    say(std::string("hold-queue: the ended loader thread could not be joined (") + e.what() + ")");
    heldLoader_.detach();
  }
}

bool Simulator::unloadPlugin(Failure& f, bool expectKept) {
  std::string error;
  if (!SdkHost::instance().unload(error, expectKept, loaderHeld_)) {
    f = {kExitPlugin, error};
    return false;
  }
  return true;
}

bool Simulator::setTruck(const std::vector<std::string>& args, Failure& f) {
  const TruckModel* model = findTruck(args[0]);
  if (!model) {
    gNames.push_back(args[0]);
    gNames.push_back(args.size() > 1 ? args[1] : "unknown");
    gNames.push_back(args.size() > 2 ? args[2] : args[0]);
    size_t n = gNames.size();
    gExtraTrucks.push_back(
        TruckModel{gNames[n - 3].c_str(), gNames[n - 2].c_str(), gNames[n - 1].c_str(), 30, 512, 512, 10, 256, 256});
    model = &gExtraTrucks.back();
    say("truck: " + args[0] + " is not one of the simulator's models; it gets a generic 512x512 dashboard screen");
  }
  std::string error;
  if (!cab_.setTruck(*model, error)) {
    f = {kExitEnvironment, error};
    return false;
  }
  TruckConfig config{model->vehicleId, args.size() > 1 ? args[1] : model->brandId, args.size() > 2 ? args[2] : model->name};
  say("truck: configuration event for " + config.vehicleId + " (brand " + config.brandId + ", " + config.name + ")" +
      (SdkHost::instance().initialised() ? "" : "; delivered once the plugin is initialised"));
  SdkHost::instance().setTruck(config);
  return true;
}

bool Simulator::cmdPlugin(const Command& c, Failure& f) {
  const auto& a = c.args;
  if (options_.pluginPath.empty()) options_.pluginPath = widen(a[0]);
  return true;
}

bool Simulator::cmdIni(const Command& c, Failure& f) {
  const auto& a = c.args;
  std::wstring folder = folderOf(options_.pluginPath) + L"\\ZOR";
  CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring file = folder + L"\\" + widen(a[0]);
  if (!WritePrivateProfileStringW(widen(a[1]).c_str(), widen(a[2]).c_str(), widen(a[3]).c_str(), file.c_str())) {
    f = {kExitEnvironment, "cannot write " + narrow(file)};
    return false;
  }
  say("ini: [" + a[1] + "] " + a[2] + "=" + a[3] + " in " + narrow(file));
  return true;
}

// Read-only settings files: the attribute, and (since a process running as root writes whatever the
// attribute says) each file held open without write or delete sharing, as a sync client or a
// virus scanner holding it does: nobody else writes, replaces or deletes it until it is let go.
bool Simulator::cmdSettings(const Command& c, Failure& f) {
  const std::string& mode = c.args[0];
  if (mode != "read-only" && mode != "writable")
    return f = {kExitBadInput, "line " + std::to_string(c.line) + ": settings read-only|writable"}, false;
  const bool readOnly = mode == "read-only";
  for (HANDLE h : heldSettings_) CloseHandle(h);
  heldSettings_.clear();
  const std::wstring folder = folderOf(options_.pluginPath) + L"\\ZOR";
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  int files = 0;
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      const std::wstring file = folder + L"\\" + found.cFileName;
      const DWORD attributes = readOnly ? (found.dwFileAttributes | FILE_ATTRIBUTE_READONLY)
                                        : (found.dwFileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
      bool done = SetFileAttributesW(file.c_str(), attributes) != FALSE;
      if (done && readOnly) {
        HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        done = h != INVALID_HANDLE_VALUE;
        if (done) heldSettings_.push_back(h);
      }
      if (!done) {
        FindClose(search);
        return f = {kExitEnvironment, "cannot make " + narrow(file) + " " + mode}, false;
      }
      ++files;
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  say("settings: " + std::to_string(files) + " files of " + narrow(folder) + " " + mode);
  return true;
}

bool Simulator::cmdLoad(const Command& c, Failure& f) {
  return loadPlugin(f);
}

bool Simulator::cmdInit(const Command& c, Failure& f) {
  auto& sdk = SdkHost::instance();
  std::string error;
  if (!sdk.init(error)) return f = {kExitPlugin, error}, false;
  return true;
}

bool Simulator::cmdShutdown(const Command& c, Failure& f) {
  auto& sdk = SdkHost::instance();
  sdk.shutdown();
  return true;
}

bool Simulator::cmdUnload(const Command& c, Failure& f) {
  const auto& a = c.args;
  return unloadPlugin(f, !a.empty());
}

// The game shuts the plugin down and unloads it while its own window procedure handles a
// message, the plugin's procedure in front of it and so beneath it on the stack: the thread
// returns through the plugin's code, which must still be there.
bool Simulator::cmdUnloadInWndproc(const Command& c, Failure& f) {
  struct Unload {
    std::string error;
    bool ok = false;
    bool ran = false;
  } unload;
  setWindowProcAction(
      [](void* context) {
        auto* u = static_cast<Unload*>(context);
        u->ran = true;
        u->ok = SdkHost::instance().unload(u->error, true, false);
      },
      &unload);
  SendMessageW(cab_.window(), kActInWindowProcMessage, 0, 0);
  setWindowProcAction(nullptr, nullptr);
  if (!unload.ran) return f = {kExitEnvironment, "the game window's own procedure never got the message"}, false;
  if (!unload.ok) return f = {kExitPlugin, unload.error}, false;
  say("unload-in-wndproc: the game's thread came back out of the window procedure");
  return true;
}

bool Simulator::cmdReload(const Command& c, Failure& f) {
  return unloadPlugin(f) && loadPlugin(f);
}

bool Simulator::cmdLoadAt(const Command& c, Failure& f) {
  const auto& a = c.args;
  return loadAt(a[0] == "before-tablet" ? FramePoint::BeforeTablet : FramePoint::AfterTablet,
                a.size() > 1 ? number(c, 1) : 10000, c.line, f);
}

bool Simulator::cycle(const Command& c, bool reload, Failure& f) {
  const auto& a = c.args;
  auto& sdk = SdkHost::instance();
  unsigned long long count = number(c, 0), frames = a.size() > 1 ? number(c, 1) : 5;
  for (unsigned long long i = 0; i < count; ++i) {
    if (reload ? !unloadPlugin(f) : (sdk.shutdown(), false)) return false;
    if (!renderFrames(frames, f)) return false;
    if (reload) {
      if (!loadPlugin(f)) return false;
    } else {
      std::string error;
      if (!sdk.init(error)) return f = {kExitPlugin, error}, false;
    }
    if (!renderFrames(frames, f)) return false;
  }
  say(c.name + ": " + std::to_string(count) + " cycles done with frames rendering in between");
  return true;
}

bool Simulator::cmdCycleInit(const Command& c, Failure& f) { return cycle(c, false, f); }

bool Simulator::cmdCycleReload(const Command& c, Failure& f) { return cycle(c, true, f); }

bool Simulator::registrations(const Command& c, bool expected, Failure& f) {
  const auto& a = c.args;
  auto& sdk = SdkHost::instance();
  auto regs = sdk.registrations();
  std::vector<std::string> accepted;
  for (size_t i = 0; i < regs.size(); ++i) {
    say("registration #" + std::to_string(i + 1) + " " + sdk.describe(regs[i]));
    if (regs[i].result == SCS_RESULT_ok) accepted.push_back((regs[i].channel ? "channel:" : "event:") + regs[i].name);
  }
  if (expected) {
    std::vector<std::string> wanted(a.begin(), a.end());
    if (!expect(c, accepted == wanted, "the plugin registered " + std::to_string(accepted.size()) +
                                        " item(s), not the expected sequence", f))
      return false;
    say("expect-registrations: ok");
  }
  return true;
}

bool Simulator::cmdRegistrations(const Command& c, Failure& f) { return registrations(c, false, f); }

bool Simulator::cmdExpectRegistrations(const Command& c, Failure& f) { return registrations(c, true, f); }

bool Simulator::cmdChannel(const Command& c, Failure& f) {
  const auto& a = c.args;
  auto& sdk = SdkHost::instance();
  std::string name = a[0] == "engine" ? "truck.engine.enabled" : a[0] == "electric" ? "truck.electric.enabled" : a[0];
  bool value = a[1] == "1" || a[1] == "on";
  sdk.setChannel(name, value);
  say("channel: " + name + " = " + (value ? "true" : "false"));
  return true;
}

bool Simulator::cmdEvent(const Command& c, Failure& f) {
  const auto& a = c.args;
  auto& sdk = SdkHost::instance();
  sdk.setPaused(a[0] == "paused");
  say("event: " + a[0] + (sdk.initialised() ? "" : " (plugin not initialised: nothing delivered)"));
  return true;
}

bool Simulator::cmdTruck(const Command& c, Failure& f) {
  return setTruck(c.args, f);
}

bool Simulator::cmdHoldQueue(const Command& c, Failure& f) {
  return holdQueue(number(c, 0), c.line, f);
}

bool Simulator::cmdWaitQueue(const Command& c, Failure& f) {
  const auto& a = c.args;
  unsigned long long end = uptimeMs() + number(c, 0);
  while (loaderHeld_) {
    if (uptimeMs() > end) return expect(c, false, "the held loader thread did not come back within " + a[0] + " ms", f);
    if (!renderOne(nullptr, nullptr, f)) return false;
  }
  joinHeldLoader();
  return true;
}

bool Simulator::cmdWaitHooked(const Command& c, Failure& f) {
  const auto& a = c.args;
  unsigned long long begin = uptimeMs(), end = begin + number(c, 0);
  // Present is hooked first and IASetIndexBuffer last: a cab loaded after both finds every
  // creation and binding hook in place.
  while (!cab_.presentPatched() || !cab_.drawStatePatched()) {
    if (uptimeMs() > end) return expect(c, false, "the plugin's hooks were not in within " + a[0] + " ms", f);
    if (!renderOne(nullptr, nullptr, f)) return false;
  }
  for (int i = 0; i < 2; ++i)
    if (!renderOne(nullptr, nullptr, f)) return false;
  say("wait-hooked: Present hooked after " + std::to_string(uptimeMs() - begin) + " ms");
  return true;
}

bool Simulator::cmdExpectPatched(const Command& c, Failure& f) {
  const auto& a = c.args;
  if (a[0] != "Present" && a[0] != "DrawIndexed")
    return f = {kExitBadInput, "line " + std::to_string(c.line) + ": expect-patched takes Present or DrawIndexed"}, false;
  const bool wanted = a[1] == "1" || a[1] == "on";
  const bool patched = a[0] == "Present" ? cab_.presentPatched() : cab_.drawIndexedPatched();
  if (!expect(c, patched == wanted, a[0] + (patched ? " is patched" : " is not patched"), f)) return false;
  say("expect-patched: " + a[0] + (patched ? " patched" : " as made"));
  return true;
}

bool Simulator::cmdExpectLog(const Command& c, Failure& f) {
  const auto& a = c.args;
  auto& sdk = SdkHost::instance();
  if (!expect(c, sdk.logContains(a[0]), "the plugin never logged \"" + a[0] + "\"", f)) return false;
  say("expect-log: ok \"" + a[0] + "\"");
  return true;
}

bool Simulator::cmdExpectNoLog(const Command& c, Failure& f) {
  const auto& a = c.args;
  auto& sdk = SdkHost::instance();
  if (!expect(c, !sdk.logContains(a[0]), "the plugin logged \"" + a[0] + "\"", f)) return false;
  say("expect-no-log: ok \"" + a[0] + "\"");
  return true;
}

bool Simulator::cmdWaitLog(const Command& c, Failure& f) {
  const auto& a = c.args;
  auto& sdk = SdkHost::instance();
  unsigned long long end = uptimeMs() + number(c, 1);
  while (!sdk.logContains(a[0])) {
    if (uptimeMs() > end) return expect(c, false, "the plugin did not log \"" + a[0] + "\" within " + a[1] + " ms", f);
    if (!renderOne(nullptr, nullptr, f)) return false;
  }
  say("wait-log: ok \"" + a[0] + "\"");
  return true;
}

bool Simulator::cmdWaitNewLog(const Command& c, Failure& f) {
  const auto& a = c.args;
  auto& sdk = SdkHost::instance();
  const size_t from = sdk.logCount();
  unsigned long long begin = uptimeMs(), end = begin + number(c, 1);
  while (!sdk.logContains(a[0], from)) {
    if (uptimeMs() > end) return expect(c, false, "the plugin did not log \"" + a[0] + "\" anew within " + a[1] + " ms", f);
    if (!renderOne(nullptr, nullptr, f)) return false;
  }
  say("wait-new-log: ok \"" + a[0] + "\" (after " + std::to_string(uptimeMs() - begin) + " ms)");
  return true;
}

bool Simulator::cmdExpectLogFile(const Command& c, Failure& f) {
  const auto& a = c.args;
  std::string log = readPluginLog();
  if (!expect(c, log.find(a[0]) != std::string::npos,
              "the plugin's log file " + narrow(pluginLogPath()) + " has no line with \"" + a[0] + "\" from this run", f))
    return false;
  say("expect-log-file: ok \"" + a[0] + "\"");
  return true;
}

}  // namespace zor::sim
