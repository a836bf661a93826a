#include "Simulator.h"

#include <windows.h>
// after windows.h
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "Console.h"
#include "Input.h"
#include "PlainWindows.h"
#include "Png.h"
#include "RawMouse.h"
#include "SdkHost.h"
#include "TextureQueue.h"
#include "WndProcChain.h"

namespace zor::sim {

namespace {

std::wstring widen(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

std::string narrow(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring folderOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

bool isAbsolute(const std::wstring& p) { return p.size() > 2 && (p[1] == L':' || p[0] == L'\\' || p[0] == L'/'); }

// Watchdog: one thread, one deadline.
std::atomic<unsigned long long> gDeadline{0};
std::once_flag gWatchdogOnce;

// Trucks named by a scenario that the simulator does not know get a generic dashboard.
std::deque<std::string> gNames;
std::deque<TruckModel> gExtraTrucks;

const char* kFailureNames[] = {"ok", "expectation failed", "bad input", "plugin failure", "crash", "timeout",
                               "environment failure"};

bool fingerprint(const D3D11_TEXTURE2D_DESC& d) {
  return d.Width == 1024 && d.Height == 1024 && d.MipLevels == 11 && d.Format == DXGI_FORMAT_R8G8B8A8_UNORM_SRGB &&
         (d.BindFlags & D3D11_BIND_RENDER_TARGET);
}

std::string describe(const D3D11_TEXTURE2D_DESC& d) {
  char b[128];
  std::snprintf(b, sizeof b, "%ux%u mips=%u format=%u bind=0x%X", d.Width, d.Height, d.MipLevels, d.Format, d.BindFlags);
  return b;
}

// How window searches see the top-level window with exactly this title.
std::string windowState(const std::wstring& title) {
  struct Search {
    const std::wstring* title;
    HWND found = nullptr;
  } search{&title};
  EnumWindows(
      [](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        wchar_t t[512] = {};
        GetWindowTextW(h, t, 512);
        if (*s->title != t) return TRUE;
        s->found = h;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  if (!search.found) return "absent";
  if (!IsWindowVisible(search.found)) return "hidden";
  return IsIconic(search.found) ? "minimized" : "visible";
}

// The window's client area as the screen shows it (whatever was drawn into the back buffer
// up to the real Present, overlays included).
bool captureScreen(HWND window, FrameCapture& out) {
  RECT rc;
  if (!GetClientRect(window, &rc)) return false;
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  int w = rc.right, h = rc.bottom;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = dib ? SelectObject(mem, dib) : nullptr;
  bool ok = dib && BitBlt(mem, 0, 0, w, h, screen, origin.x, origin.y, SRCCOPY);
  if (ok) {
    GdiFlush();
    out.width = w;
    out.height = h;
    out.rgba.resize(static_cast<size_t>(w) * h * 4);
    auto* px = static_cast<const uint8_t*>(bits);
    for (size_t i = 0; i < out.rgba.size(); i += 4) {
      out.rgba[i] = px[i + 2];
      out.rgba[i + 1] = px[i + 1];
      out.rgba[i + 2] = px[i];
      out.rgba[i + 3] = 255;
    }
  }
  if (old) SelectObject(mem, old);
  if (dib) DeleteObject(dib);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return ok;
}

}  // namespace

void armWatchdog(unsigned long long ms) {
  gDeadline = ms ? GetTickCount64() + ms : 0;
  std::call_once(gWatchdogOnce, [] {
    std::thread([] {
      for (;;) {
        Sleep(100);
        unsigned long long d = gDeadline.load();
        if (d && GetTickCount64() > d) {
          say("TIMEOUT: the scenario did not finish within its time limit; stopping the simulator");
          consoleCloseFile();
          TerminateProcess(GetCurrentProcess(), kExitTimeout);
        }
      }
    }).detach();
  });
}

namespace {
LONG WINAPI onCrash(EXCEPTION_POINTERS* info) {
  auto* rec = info->ExceptionRecord;
  HMODULE mod = nullptr;
  wchar_t name[MAX_PATH] = L"?";
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCWSTR>(rec->ExceptionAddress), &mod);
  if (mod) GetModuleFileNameW(mod, name, MAX_PATH);
  char line[700];
  std::snprintf(line, sizeof line, "CRASH: unhandled exception 0x%08lX at %p (%s+0x%llX)",
                static_cast<unsigned long>(rec->ExceptionCode), rec->ExceptionAddress, narrow(name).c_str(),
                mod ? static_cast<unsigned long long>(static_cast<const char*>(rec->ExceptionAddress) -
                                                      reinterpret_cast<const char*>(mod))
                    : 0ull);
  say(line);
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

bool Simulator::start(Failure& f) {
  CreateDirectoryW(options_.outDir.c_str(), nullptr);
  consoleOpenFile(options_.outDir + L"\\console.txt");
  SdkHost::instance().setGameLog(options_.outDir + L"\\game_log.txt");
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
  char line[200];
  std::snprintf(line, sizeof line, "zor_sim: %llu frames, %.1f ms per frame on average; exit %d (%s)", frames,
                framesTimed_ ? frameMsTotal_ / framesTimed_ : 0.0, code, kFailureNames[code]);
  say(line);
  consoleCloseFile();
  return code;
}

bool Simulator::renderOne(FrameCapture* capture, std::vector<DrawRecord>* trace, Failure& f) {
  if (!cab_.pumpMessages()) {
    f = {kExitEnvironment, "the game window was closed"};
    return false;
  }
  SdkHost::instance().frame();
  auto t0 = std::chrono::steady_clock::now();
  std::string error;
  if (!cab_.renderFrame(capture, trace, error)) {
    f = {kExitEnvironment, error};
    return false;
  }
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  frameMsTotal_ += ms;
  ++framesTimed_;
  if (fps_ > 0) {
    unsigned long long interval = 1000 / static_cast<unsigned>(fps_);
    unsigned long long now = uptimeMs();
    if (lastFrameMs_ && now < lastFrameMs_ + interval) Sleep(static_cast<DWORD>(lastFrameMs_ + interval - now));
  }
  lastFrameMs_ = uptimeMs();
  return true;
}

bool Simulator::renderFrames(unsigned long long n, Failure& f) {
  for (unsigned long long i = 0; i < n; ++i)
    if (!renderOne(nullptr, nullptr, f)) return false;
  return true;
}

bool Simulator::renderFor(unsigned long long ms, Failure& f) {
  unsigned long long end = uptimeMs() + ms;
  do {
    if (!renderOne(nullptr, nullptr, f)) return false;
  } while (uptimeMs() < end);
  return true;
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
    heldLoader_.join();
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
  if (heldLoader_.joinable()) heldLoader_.join();
}

bool Simulator::unloadPlugin(Failure& f, bool expectKept) {
  std::string error;
  if (!SdkHost::instance().unload(error, expectKept, loaderHeld_)) {
    f = {kExitPlugin, error};
    return false;
  }
  return true;
}

// A named region of the cab, or "x,y,w,h", that lies inside the frame.
bool Simulator::regionOfFrame(const std::string& region, Rect& rect, Failure& f) {
  if (!cab_.regionRect(region, rect) && !parseRectText(region, rect)) {
    f = {kExitBadInput, "unknown region '" + region + "'"};
    return false;
  }
  if (!rectInside(rect, cab_.width(), cab_.height())) {
    f = {kExitBadInput, "probe region " + region + " lies outside the " + std::to_string(cab_.width()) + "x" +
                            std::to_string(cab_.height()) + " frame"};
    return false;
  }
  return true;
}

bool Simulator::probe(const std::string& region, FrameCapture& frame, Rect& rect, ProbeResult& result, Failure& f) {
  if (!regionOfFrame(region, rect, f)) return false;
  if (!renderOne(&frame, nullptr, f)) return false;
  result = probeRegion(frame.image(), rect);
  return true;
}

bool Simulator::mediaCommand(const Command& c, Failure& f) {
  const std::vector<std::string>& a = c.args;
  const std::string& verb = a[0];
  const std::string& id = a[1];
  auto it = media_.find(id);
  if (verb == "open" || verb == "reopen") {
    if (it != media_.end()) {
      f = {kExitBadInput, "line " + std::to_string(c.line) + ": media program '" + id + "' is already open"};
      return false;
    }
    auto known = mediaTitles_.find(id);
    if (verb == "reopen" && known == mediaTitles_.end()) {
      f = {kExitBadInput, "line " + std::to_string(c.line) + ": media program '" + id + "' was never opened"};
      return false;
    }
    const std::wstring title = verb == "open" ? widen(a[2]) : known->second;
    auto program = std::make_unique<MediaProgram>(id, title, mediaOpened_++);
    std::string error;
    if (!program->open(10000, error)) {
      f = {kExitEnvironment, "media program '" + id + "' did not open: " + error};
      return false;
    }
    say("media: " + verb + "ed '" + id + "' titled \"" + narrow(title) + "\" (process " +
        std::to_string(program->processId()) + ")");
    mediaTitles_[id] = title;
    media_[id] = std::move(program);
    return true;
  }
  if (it == media_.end()) {
    f = {kExitBadInput, "line " + std::to_string(c.line) + ": no media program '" + id + "' open"};
    return false;
  }
  MediaProgram& program = *it->second;
  if (verb == "title") {
    program.setTitle(widen(a[2]));
    mediaTitles_[id] = widen(a[2]);
  } else if (verb == "hide") {
    program.show(SW_HIDE);
  } else if (verb == "show" || verb == "restore") {
    program.show(SW_SHOWNOACTIVATE);
  } else if (verb == "minimize") {
    program.show(SW_SHOWMINNOACTIVE);
  } else if (verb == "close") {
    bool closed = program.close(5000);
    media_.erase(it);
    if (!closed) return f = {kExitEnvironment, "media program '" + id + "' did not end when asked to close"}, false;
  }
  say("media: " + verb + " '" + id + "'" + (verb == "title" ? " -> \"" + a[2] + "\"" : ""));
  return true;
}

bool Simulator::waitKeyState(int vk, bool down, DWORD timeoutMs, Failure& f) {
  unsigned long long end = uptimeMs() + timeoutMs;
  for (;;) {
    if (!renderOne(nullptr, nullptr, f)) return false;
    bool isDown = (GetAsyncKeyState(vk) & 0x8000) != 0;
    if (isDown == down) return true;
    if (uptimeMs() > end) {
      f = {kExitEnvironment, std::string("the key did not go ") + (down ? "down" : "up") + " (is the X input reaching Wine?)"};
      return false;
    }
  }
}

bool Simulator::pressKeys(const std::string& combo, Failure& f) {
  std::vector<std::string> keys;
  if (!splitKeyCombo(combo, keys)) {
    f = {kExitBadInput, "bad key combination '" + combo + "'"};
    return false;
  }
  unsigned long long xid = xWindowOf(cab_.window());
  if (!xid) {
    f = {kExitEnvironment, "the game window has no X window id"};
    return false;
  }
  std::string down = "windowfocus --sync " + std::to_string(xid), up;
  for (const auto& k : keys) down += " keydown " + k;
  for (auto it = keys.rbegin(); it != keys.rend(); ++it) up += (up.empty() ? "keyup " : " keyup ") + *it;
  std::string error;
  int vk = virtualKeyFor(keys.back());
  bool held = false;
  // Another program's window on the same display may take the focus between our focus request
  // and the key event; the key then never reaches us. Try again a few times before giving up.
  for (int attempt = 0; attempt < 3 && !held; ++attempt) {
    if (attempt > 0) say("key: " + combo + " did not reach the game window; focusing it again");
    f = {};
    if (!runXdotool(down, error)) {
      f = {kExitEnvironment, error};
      return false;
    }
    // Whatever happens, the keys go up again: a key left down would stay down for every
    // program on this display.
    held = vk ? waitKeyState(vk, true, 3000, f) : renderFor(200, f);
    held = held && renderFrames(3, f);  // the plugin samples the keys once per frame
    if (!runXdotool(up, error)) {
      f = {kExitEnvironment, error};
      return false;
    }
    if (!held && f.code != kExitEnvironment) return false;  // the window is gone, not the key
    if (!held && vk && !waitKeyState(vk, false, 3000, f)) return false;
  }
  if (!held) return false;
  if (vk) {
    if (!waitKeyState(vk, false, 3000, f)) return false;
  } else if (!renderFor(200, f)) {
    return false;
  }
  say("key: " + combo + " pressed and released");
  return renderFrames(2, f);
}

bool Simulator::click(int x, int y, Failure& f) {
  // Like a hand: the pointer arrives first and rests a few frames (a game's interface may
  // take a press only on what was under the pointer the frame before), then the button.
  if (!xdotoolAt(x, y, "", f) || !renderFrames(2, f)) return false;
  std::string error;
  if (!runXdotool("mousedown 1", error)) {
    f = {kExitEnvironment, error};
    return false;
  }
  bool held = waitKeyState(VK_LBUTTON, true, 3000, f) && renderFrames(2, f);
  if (!runXdotool("mouseup 1", error)) {
    f = {kExitEnvironment, error};
    return false;
  }
  if (!held) return false;
  if (!waitKeyState(VK_LBUTTON, false, 3000, f)) return false;
  say("click: " + std::to_string(x) + "," + std::to_string(y));
  return renderFrames(2, f);
}

bool Simulator::xdotoolAt(int x, int y, const std::string& action, Failure& f) {
  unsigned long long xid = xWindowOf(cab_.window());
  if (!xid) {
    f = {kExitEnvironment, "the game window has no X window id"};
    return false;
  }
  std::string error;
  if (!runXdotool("mousemove --window " + std::to_string(xid) + " " + std::to_string(x) + " " + std::to_string(y) +
                      (action.empty() ? "" : " " + action),
                  error)) {
    f = {kExitEnvironment, error};
    return false;
  }
  return renderFor(300, f);
}

bool Simulator::probeScreen(const std::string& region, Rect& rect, ProbeResult& result, Failure& f) {
  if (!regionOfFrame(region, rect, f)) return false;
  FrameCapture frame;
  if (!renderOne(nullptr, nullptr, f)) return false;
  if (!captureScreen(cab_.window(), frame) || !rectInside(rect, frame.width, frame.height)) {
    f = {kExitEnvironment, "reading the screen failed"};
    return false;
  }
  result = probeRegion(frame.image(), rect);
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

bool Simulator::sceneCheck(Failure& f) {
  bool ok = true;
  auto report = [&](bool good, const std::string& what) {
    say(std::string("scene-check ") + what + (good ? " -> ok" : " -> FAILED"));
    ok = ok && good;
  };
  auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
  auto rva = static_cast<unsigned long long>(textureQueueFunction() - base);
  std::string hex;
  bool codeOk = textureQueueCodeMatches(base, &hex);
  char line[256];
  std::snprintf(line, sizeof line, "queue-code: engine function at RVA 0x%llX, bytes at RVA 0x%X: %s", rva,
                kTextureQueueCheckRva, hex.c_str());
  report(codeOk && rva == kTextureQueueRva, line);
  std::string entry;
  bool patched = textureQueueEntryPatched(&entry);
  say("scene-check queue-entry: " + entry + (patched ? " (patched: the function is hooked)" : " (as built: not hooked)"));
  // The window the plugin takes for the game's: the first visible, unowned top-level window of
  // this process with a client area of at least 320 x 200. Media programs are other processes.
  struct Finder {
    DWORD pid;
    HWND found = nullptr;
  } finder{GetCurrentProcessId()};
  EnumWindows(
      [](HWND h, LPARAM p) -> BOOL {
        auto* fd = reinterpret_cast<Finder*>(p);
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        RECT rc;
        if (pid != fd->pid || !IsWindowVisible(h) || GetWindow(h, GW_OWNER) || !GetClientRect(h, &rc) ||
            rc.right - rc.left < 320 || rc.bottom - rc.top < 200)
          return TRUE;
        fd->found = h;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&finder));
  report(finder.found == cab_.window(),
         std::string("game-window: the first visible, unowned window of at least 320x200 of this process is ") +
             (finder.found == cab_.window() ? "the cab's" : finder.found ? "ANOTHER window" : "missing") + " (" +
             std::to_string(media_.size()) + " media program(s) open)");
  if (!cab_.cabLoaded()) {
    report(false, "cab: not loaded (use 'cab' first)");
    f = {kExitExpectation, "scene-check failed"};
    return false;
  }
  std::vector<DrawRecord> trace;
  if (!renderOne(nullptr, &trace, f)) return false;

  std::set<std::string> tabletShaders, tabletBuffers;
  int replaced = 0;
  D3D11_TEXTURE2D_DESC tabletDesc{};
  for (const auto& d : trace) {
    if (d.slot6Replaced) ++replaced;
    if (d.hasSlot6 && fingerprint(d.slot6)) {
      tabletShaders.insert(d.pixelShader);
      tabletBuffers.insert(d.indexBuffer);
      tabletDesc = d.slot6;
    }
  }
  bool bufferOwn = tabletBuffers.size() == 1;
  for (const auto& d : trace)
    if (bufferOwn && d.indexBuffer == *tabletBuffers.begin() && !(d.hasSlot6 && fingerprint(d.slot6))) bufferOwn = false;
  std::string shaders;
  for (const auto& s : tabletShaders) shaders += (shaders.empty() ? "" : ", ") + s;
  report(tabletShaders.size() >= 2 && bufferOwn,
         "tablet: " + describe(tabletDesc) + " in slot 6 under " + std::to_string(tabletShaders.size()) +
             " pixel shaders (" + shaders + "), " +
             (bufferOwn ? "index buffer '" + *tabletBuffers.begin() + "' of its own" : "no index buffer of its own"));

  const TruckModel& t = cab_.truck();
  int dash = 0, other = 0;
  bool instrument = false;
  for (const auto& d : trace) {
    if (!d.hasSlot6 || d.indexCount != t.gpsIndexCount) continue;
    bool sized = d.slot6.Width == t.gpsWidth && d.slot6.Height == t.gpsHeight;
    if (sized && d.slot6.MipLevels == t.gpsMips && d.slot6.Format == DXGI_FORMAT_R8G8B8A8_UNORM_SRGB &&
        (d.slot6.BindFlags & D3D11_BIND_SHADER_RESOURCE))
      ++dash;
    if (!sized) ++other;
    if (!sized && d.object == "instrument") instrument = true;
  }
  std::snprintf(line, sizeof line,
                "dashboard: truck %s, %d DrawIndexed(%u) with a %ux%u %u-mip format-29 texture in slot 6", t.vehicleId,
                dash, t.gpsIndexCount, t.gpsWidth, t.gpsHeight, t.gpsMips);
  report(dash == 1, line);
  std::snprintf(line, sizeof line,
                "instrument: %d DrawIndexed(%u) with another texture size in slot 6, the other instrument's %ux%u among them",
                other, t.gpsIndexCount, t.instrumentWidth, t.instrumentHeight);
  report(instrument, line);
  say("scene-check draws: " + std::to_string(trace.size()) + " this frame, " + std::to_string(replaced) +
      " with another view in slot 6 than the scene bound (substituted)");
  if (!ok) f = {kExitExpectation, "scene-check failed"};
  return ok;
}

bool Simulator::execute(const Command& c, Failure& f) {
  auto& sdk = SdkHost::instance();
  const auto& a = c.args;
  auto number = [&](size_t i) {
    long long v = 0;
    parseInt(a[i], v);
    return static_cast<unsigned long long>(v);
  };
  auto expect = [&](bool good, const std::string& what) {
    if (!good) f = {kExitExpectation, "line " + std::to_string(c.line) + ": " + what};
    return good;
  };
  const std::string& n = c.name;
  if (n == "timeout") {
    armWatchdog(number(0));
  } else if (n == "fps") {
    fps_ = static_cast<int>(number(0));
  } else if (n == "plugin") {
    if (options_.pluginPath.empty()) options_.pluginPath = widen(a[0]);
  } else if (n == "ini") {
    std::wstring folder = folderOf(options_.pluginPath) + L"\\ZOR";
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring file = folder + L"\\" + widen(a[0]);
    if (!WritePrivateProfileStringW(widen(a[1]).c_str(), widen(a[2]).c_str(), widen(a[3]).c_str(), file.c_str())) {
      f = {kExitEnvironment, "cannot write " + narrow(file)};
      return false;
    }
    say("ini: [" + a[1] + "] " + a[2] + "=" + a[3] + " in " + narrow(file));
  } else if (n == "load") {
    return loadPlugin(f);
  } else if (n == "hold-queue") {
    return holdQueue(number(0), c.line, f);
  } else if (n == "wait-queue") {
    unsigned long long end = uptimeMs() + number(0);
    while (loaderHeld_) {
      if (uptimeMs() > end) return expect(false, "the held loader thread did not come back within " + a[0] + " ms");
      if (!renderOne(nullptr, nullptr, f)) return false;
    }
    joinHeldLoader();
  } else if (n == "load-at") {
    return loadAt(a[0] == "before-tablet" ? FramePoint::BeforeTablet : FramePoint::AfterTablet,
                  a.size() > 1 ? number(1) : 10000, c.line, f);
  } else if (n == "init") {
    std::string error;
    if (!sdk.init(error)) return f = {kExitPlugin, error}, false;
  } else if (n == "shutdown") {
    sdk.shutdown();
  } else if (n == "unload") {
    return unloadPlugin(f, !a.empty());
  } else if (n == "reload") {
    return unloadPlugin(f) && loadPlugin(f);
  } else if (n == "cycle-init" || n == "cycle-reload") {
    unsigned long long count = number(0), frames = a.size() > 1 ? number(1) : 5;
    bool reload = n == "cycle-reload";
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
    say(n + ": " + std::to_string(count) + " cycles done with frames rendering in between");
  } else if (n == "registrations" || n == "expect-registrations") {
    auto regs = sdk.registrations();
    std::vector<std::string> accepted;
    for (size_t i = 0; i < regs.size(); ++i) {
      say("registration #" + std::to_string(i + 1) + " " + sdk.describe(regs[i]));
      if (regs[i].result == SCS_RESULT_ok) accepted.push_back((regs[i].channel ? "channel:" : "event:") + regs[i].name);
    }
    if (n == "expect-registrations") {
      std::vector<std::string> wanted(a.begin(), a.end());
      if (!expect(accepted == wanted, "the plugin registered " + std::to_string(accepted.size()) +
                                          " item(s), not the expected sequence"))
        return false;
      say("expect-registrations: ok");
    }
  } else if (n == "channel") {
    std::string name = a[0] == "engine" ? "truck.engine.enabled" : a[0] == "electric" ? "truck.electric.enabled" : a[0];
    bool value = a[1] == "1" || a[1] == "on";
    sdk.setChannel(name, value);
    say("channel: " + name + " = " + (value ? "true" : "false"));
  } else if (n == "event") {
    sdk.setPaused(a[0] == "paused");
    say("event: " + a[0] + (sdk.initialised() ? "" : " (plugin not initialised: nothing delivered)"));
  } else if (n == "truck") {
    return setTruck(a, f);
  } else if (n == "media") {
    return mediaCommand(c, f);
  } else if (n == "wait-media-command") {
    auto it = media_.find(a[0]);
    if (it == media_.end()) return f = {kExitBadInput, "line " + std::to_string(c.line) + ": no media program '" + a[0] + "'"}, false;
    const unsigned want = static_cast<unsigned>(number(2));
    unsigned long long begin = uptimeMs(), end = begin + number(3);
    for (;;) {
      unsigned count = it->second->commandCount();
      const char* last = mediaCommandName(it->second->lastCommand());
      if (count == want && a[1] == last) {
        say("wait-media-command: '" + a[0] + "' received " + std::to_string(count) + " command(s), the last " + last +
            " (after " + std::to_string(uptimeMs() - begin) + " ms)");
        break;
      }
      if (uptimeMs() > end) {
        return expect(false, "media program '" + a[0] + "' received " + std::to_string(count) +
                                 " command(s), the last " + last + "; expected " + a[2] + ", the last " + a[1]);
      }
      if (!renderOne(nullptr, nullptr, f)) return false;
    }
  } else if (n == "frames") {
    return renderFrames(number(0), f);
  } else if (n == "run") {
    return renderFor(number(0), f);
  } else if (n == "cab") {
    std::string error;
    if (!cab_.loadCab(error)) return f = {kExitEnvironment, error}, false;
  } else if (n == "speed") {
    cab_.setSpeed(static_cast<int>(number(0)));
    say("speed: " + a[0] + " km/h");
  } else if (n == "key") {
    return pressKeys(a[0], f);
  } else if (n == "click") {
    return click(static_cast<int>(number(0)), static_cast<int>(number(1)), f);
  } else if (n == "screenshot") {
    FrameCapture frame;
    bool screen = a.size() > 1;
    if (!renderOne(screen ? nullptr : &frame, nullptr, f)) return false;
    if (screen && !captureScreen(cab_.window(), frame)) return f = {kExitEnvironment, "reading the screen failed"}, false;
    std::string error;
    std::wstring path = outPath(a[0]);
    if (!writePng(path, frame, error)) return f = {kExitEnvironment, error + ": " + narrow(path)}, false;
    say("screenshot: " + narrow(path) + " (" + std::to_string(frame.width) + "x" + std::to_string(frame.height) +
        (screen ? ", the window on the screen after Present)" : ", read back before Present)"));
  } else if (n == "probe") {
    FrameCapture frame;
    Rect rect;
    ProbeResult r;
    if (!probe(a[0], frame, rect, r, f)) return false;
    say(formatProbe(a[0], rect, r));
    if (a.size() > 1 && !expect(r.signature == a[1], "probe " + a[0] + " shows " + r.signature + ", expected " + a[1]))
      return false;
  } else if (n == "wait-probe") {
    unsigned long long end = uptimeMs() + number(2), begin = uptimeMs();
    for (;;) {
      FrameCapture frame;
      Rect rect;
      ProbeResult r;
      if (!probe(a[0], frame, rect, r, f)) return false;
      if (r.signature == a[1]) {
        say(formatProbe(a[0], rect, r) + " (after " + std::to_string(uptimeMs() - begin) + " ms)");
        break;
      }
      if (uptimeMs() > end) {
        say(formatProbe(a[0], rect, r));
        return expect(false, "probe " + a[0] + " did not show " + a[1] + " within " + a[2] + " ms");
      }
    }
  } else if (n == "wait-change") {
    FrameCapture frame;
    Rect rect;
    ProbeResult first, r;
    if (!probe(a[0], frame, rect, first, f)) return false;
    unsigned long long begin = uptimeMs(), end = begin + number(1);
    for (;;) {
      if (!probe(a[0], frame, rect, r, f)) return false;
      const int moved = probeDifference(first, r);
      if (moved >= 5) {
        say(formatProbe(a[0], rect, r) + " (" + std::to_string(moved) + "% of the samples changed after " +
            std::to_string(uptimeMs() - begin) + " ms)");
        break;
      }
      if (uptimeMs() > end) {
        say(formatProbe(a[0], rect, r));
        return expect(false, "probe " + a[0] + " did not change within " + a[1] + " ms");
      }
    }
  } else if (n == "expect-still") {
    FrameCapture frame;
    Rect rect;
    ProbeResult first, r;
    if (!probe(a[0], frame, rect, first, f)) return false;
    int most = 0;
    for (unsigned long long end = uptimeMs() + number(1); uptimeMs() < end;) {
      if (!probe(a[0], frame, rect, r, f)) return false;
      most = std::max(most, probeDifference(first, r));
      if (most >= 5) {
        say(formatProbe(a[0], rect, r));
        return expect(false, "probe " + a[0] + " changed (" + std::to_string(most) + "% of the samples) within " +
                                 a[1] + " ms");
      }
    }
    say(formatProbe(a[0], rect, r) + " (still for " + a[1] + " ms; at most " + std::to_string(most) +
        "% of the samples changed)");
  } else if (n == "click-item" || n == "expect-item" || n == "expect-text" || n == "expect-no-text" ||
             n == "wait-text" || n == "panel-text") {
    return panelCommand(c, f);
  } else if (n == "playback") {
    using RequestFn = int (*)(const char*, int);
    auto request = reinterpret_cast<RequestFn>(sdk.pluginExport("zor_test_request_playback"));
    if (!request) {
      return f = {kExitPlugin, "the plugin has no playback test export (scenarios that start playback load "
                               "ZorTabcastPlugin_playback.dll)"},
             false;
    }
    const bool start = a[0] == "start";
    request(start ? a[1].c_str() : nullptr, start && a.size() > 2 ? static_cast<int>(number(2)) : 30);
    say(start ? "playback: start requested for \"" + a[1] + "\"" : std::string("playback: restore requested"));
  } else if (n == "expect-log") {
    if (!expect(sdk.logContains(a[0]), "the plugin never logged \"" + a[0] + "\"")) return false;
    say("expect-log: ok \"" + a[0] + "\"");
  } else if (n == "expect-no-log") {
    if (!expect(!sdk.logContains(a[0]), "the plugin logged \"" + a[0] + "\"")) return false;
    say("expect-no-log: ok \"" + a[0] + "\"");
  } else if (n == "wait-hooked") {
    unsigned long long begin = uptimeMs(), end = begin + number(0);
    // Present is hooked first and IASetIndexBuffer last: a cab loaded after both finds every
    // creation and binding hook in place.
    while (!cab_.presentPatched() || !cab_.drawStatePatched()) {
      if (uptimeMs() > end) return expect(false, "the plugin's hooks were not in within " + a[0] + " ms");
      if (!renderOne(nullptr, nullptr, f)) return false;
    }
    for (int i = 0; i < 2; ++i)
      if (!renderOne(nullptr, nullptr, f)) return false;
    say("wait-hooked: Present hooked after " + std::to_string(uptimeMs() - begin) + " ms");
  } else if (n == "expect-patched") {
    if (a[0] != "Present" && a[0] != "DrawIndexed")
      return f = {kExitBadInput, "line " + std::to_string(c.line) + ": expect-patched takes Present or DrawIndexed"}, false;
    const bool wanted = a[1] == "1" || a[1] == "on";
    const bool patched = a[0] == "Present" ? cab_.presentPatched() : cab_.drawIndexedPatched();
    if (!expect(patched == wanted, a[0] + (patched ? " is patched" : " is not patched"))) return false;
    say("expect-patched: " + a[0] + (patched ? " patched" : " as made"));
  } else if (n == "wait-log") {
    unsigned long long end = uptimeMs() + number(1);
    while (!sdk.logContains(a[0])) {
      if (uptimeMs() > end) return expect(false, "the plugin did not log \"" + a[0] + "\" within " + a[1] + " ms");
      if (!renderOne(nullptr, nullptr, f)) return false;
    }
    say("wait-log: ok \"" + a[0] + "\"");
  } else if (n == "wait-new-log") {
    const size_t from = sdk.logCount();
    unsigned long long begin = uptimeMs(), end = begin + number(1);
    while (!sdk.logContains(a[0], from)) {
      if (uptimeMs() > end) return expect(false, "the plugin did not log \"" + a[0] + "\" anew within " + a[1] + " ms");
      if (!renderOne(nullptr, nullptr, f)) return false;
    }
    say("wait-new-log: ok \"" + a[0] + "\" (after " + std::to_string(uptimeMs() - begin) + " ms)");
  } else if (n == "expect-log-file") {
    std::string log = readPluginLog();
    if (!expect(log.find(a[0]) != std::string::npos,
                "the plugin's log file " + narrow(pluginLogPath()) + " has no line with \"" + a[0] + "\" from this run"))
      return false;
    say("expect-log-file: ok \"" + a[0] + "\"");
  } else if (n == "scene-check") {
    return sceneCheck(f);
  } else if (n == "expect-window") {
    // The windows' threads act on their own time: look again for up to two seconds.
    std::wstring title = widen(a[0]);
    std::string state;
    for (unsigned long long end = uptimeMs() + 2000;;) {
      state = windowState(title);
      if (state == a[1] || uptimeMs() > end) break;
      if (!renderOne(nullptr, nullptr, f)) return false;
    }
    if (!expect(state == a[1], "window \"" + a[0] + "\" is " + state + ", expected " + a[1])) return false;
    say("expect-window: \"" + a[0] + "\" is " + state);
  } else if (n == "probe-screen" || n == "wait-probe-screen") {
    const bool wait = n == "wait-probe-screen";
    unsigned long long begin = uptimeMs(), end = begin + (wait ? number(2) : 0);
    for (;;) {
      Rect rect;
      ProbeResult r;
      if (!probeScreen(a[0], rect, r, f)) return false;
      const bool matches = a.size() > 1 && r.signature == a[1];
      if (!wait || matches) {
        say("screen " + formatProbe(a[0], rect, r) + (wait ? " (after " + std::to_string(uptimeMs() - begin) + " ms)" : ""));
        if (a.size() > 1 && !expect(matches, "the screen's " + a[0] + " shows " + r.signature + ", expected " + a[1]))
          return false;
        break;
      }
      if (uptimeMs() > end) {
        say("screen " + formatProbe(a[0], rect, r));
        return expect(false, "the screen's " + a[0] + " did not show " + a[1] + " within " + a[2] + " ms");
      }
    }
  } else if (n == "raw-input") {
    std::string error;
    RawMode mode = a[0] == "data" ? RawMode::Data : a[0] == "buffer" ? RawMode::Buffer : RawMode::Off;
    if (!rawMouse().enable(cab_.window(), mode, error)) return f = {kExitEnvironment, error}, false;
    say("raw-input: " + a[0]);
  } else if (n == "mouse-move") {
    std::string error;
    if (!runXdotool("mousemove_relative -- " + a[0] + " " + a[1], error)) return f = {kExitEnvironment, error}, false;
    if (!renderFor(300, f)) return false;
    say("mouse-move: " + a[0] + "," + a[1]);
  } else if (n == "wheel") {
    long long notches = 0;
    parseInt(a[2], notches);
    const std::string button = notches < 0 ? "5" : "4";
    const long long count = notches < 0 ? -notches : notches;
    if (count > 0 && !xdotoolAt(static_cast<int>(number(0)), static_cast<int>(number(1)),
                                "click --repeat " + std::to_string(count) + " --delay 30 " + button, f))
      return false;
    if (!renderFor(200 + 30 * count, f)) return false;
    say("wheel: " + a[2] + " at " + a[0] + "," + a[1]);
  } else if (n == "mouse-down") {
    if (!xdotoolAt(static_cast<int>(number(0)), static_cast<int>(number(1)), "", f) || !renderFrames(2, f)) return false;
    std::string error;
    if (!runXdotool("mousedown 1", error)) return f = {kExitEnvironment, error}, false;
    if (!waitKeyState(VK_LBUTTON, true, 3000, f)) return false;
    say("mouse-down: " + a[0] + "," + a[1]);
  } else if (n == "mouse-up") {
    std::string error;
    if (!runXdotool("mouseup 1", error)) return f = {kExitEnvironment, error}, false;
    if (!waitKeyState(VK_LBUTTON, false, 3000, f)) return false;
    say("mouse-up");
  } else if (n == "expect-raw-mouse") {
    if (!renderFrames(5, f)) return false;
    RawTotals t = rawMouse().take();
    const bool moving = t.motion != 0 || t.buttonRecords != 0;
    const bool good = a[0] == "moving" ? moving : (t.records > 0 && !moving);
    if (!expect(good, "raw mouse: " + describe(t) + ", expected " + a[0])) return false;
    say("expect-raw-mouse: " + a[0] + " (" + describe(t) + ")");
  } else if (n == "cursor-warp") {
    POINT target{static_cast<LONG>(number(0)), static_cast<LONG>(number(1))};
    ClientToScreen(cab_.window(), &target);
    POINT before{}, after{};
    GetCursorPos(&before);
    SetCursorPos(target.x, target.y);
    if (!renderFrames(2, f)) return false;
    GetCursorPos(&after);
    const bool moved = after.x == target.x && after.y == target.y && (before.x != target.x || before.y != target.y);
    const std::string what = "SetCursorPos to " + a[0] + "," + a[1] + ": the cursor " + (moved ? "moved" : "stayed") +
                             " (screen " + std::to_string(after.x) + "," + std::to_string(after.y) + ")";
    if (!expect(moved == (a[2] == "moved"), what + ", expected " + a[2])) return false;
    say("cursor-warp: " + what);
  } else if (n == "windows") {
    std::string error;
    if (!openPlainWindows(static_cast<int>(number(0)), error)) return f = {kExitEnvironment, error}, false;
    say("windows: " + std::to_string(plainWindowCount()) + " plain windows open");
  } else if (n == "wndproc-chain") {
    const bool add = a[0] == "add";
    const bool done = add ? addChainedWndProc(cab_.window()) : removeChainedWndProc(cab_.window());
    if (!done) return f = {kExitBadInput, "line " + std::to_string(c.line) + ": wndproc-chain " + a[0] + " not possible now"}, false;
    say(std::string("wndproc-chain: another window procedure ") + (add ? "put on top of the game window's" : "removed"));
  } else if (n == "hold-wndproc" || n == "expect-window-input" || n == "expect-targets-kept") {
    return gameWindowCommand(c, f);
  } else if (n == "print") {
    std::string s;
    for (const auto& w : a) s += (s.empty() ? "" : " ") + w;
    say(s);
  }
  return true;
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

namespace {
double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}
}  // namespace

int Simulator::runBenchmark() {
  if (options_.benchPlayback) return runPlaybackBenchmark();
  Failure f{kExitOk, {}};
  armWatchdog(static_cast<unsigned long long>(options_.benchRounds) * 30000 + 60000);
  if (!start(f)) return finish(f.code, f.message);
  fps_ = 0;
  std::string error;
  if (!cab_.loadCab(error)) return finish(kExitEnvironment, error);
  auto& sdk = SdkHost::instance();
  sdk.setChannel("truck.engine.enabled", true);
  sdk.setChannel("truck.electric.enabled", true);
  sdk.setPaused(false);
  cab_.setSpeed(80);
  auto measure = [&](double& perFrame) {
    auto t0 = std::chrono::steady_clock::now();
    if (!renderFrames(static_cast<unsigned long long>(options_.benchFrames), f)) return false;
    perFrame = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / options_.benchFrames;
    return true;
  };
  if (!renderFrames(20, f)) return finish(f.code, f.message);  // warm-up
  std::vector<double> without, with;
  for (int round = 0; round < options_.benchRounds; ++round) {
    double a = 0, b = 0;
    if (!measure(a)) return finish(f.code, f.message);
    if (!loadPlugin(f) || !renderFor(700, f) || !measure(b) || !unloadPlugin(f)) return finish(f.code, f.message);
    without.push_back(a);
    with.push_back(b);
    char line[160];
    std::snprintf(line, sizeof line, "bench round %d: %.2f ms/frame without the plugin, %.2f ms/frame with it", round + 1,
                  a, b);
    say(line);
  }
  double m0 = median(without), m1 = median(with);
  char line[200];
  std::snprintf(line, sizeof line,
                "sim_frame: cab scene %dx%d, %d rounds of %d frames: median %.2f ms/frame without the plugin, %.2f ms "
                "with it; ratio %.3f",
                options_.width, options_.height, options_.benchRounds, options_.benchFrames, m0, m1, m0 > 0 ? m1 / m0 : 0.0);
  say(line);
  return finish(kExitOk, {});
}

// The cab of the default truck (the W900) loaded, ignition and engine on, driving, frames unpaced.
bool Simulator::benchCab(Failure& f) {
  fps_ = 0;
  std::string error;
  const TruckModel& w900 = defaultTruck();
  if (!cab_.loadCab(error) || !cab_.setTruck(w900, error)) {
    f = {kExitEnvironment, error};
    return false;
  }
  auto& sdk = SdkHost::instance();
  sdk.setTruck(TruckConfig{w900.vehicleId, w900.brandId, w900.name});
  sdk.setChannel("truck.engine.enabled", true);
  sdk.setChannel("truck.electric.enabled", true);
  sdk.setPaused(false);
  cab_.setSpeed(80);
  return true;
}

int Simulator::runTargetBenchmark() {
  Failure f{kExitOk, {}};
  armWatchdog(static_cast<unsigned long long>(options_.benchRounds) * 40000 + 60000);
  if (!start(f)) return finish(f.code, f.message);
  if (!benchCab(f)) return finish(f.code, f.message);
  const TruckModel& w900 = defaultTruck();
  // The target the plugin restores when it adopts the device: [gps_output] mode beside the DLL.
  const std::wstring folder = folderOf(options_.pluginPath) + L"\\ZOR";
  const std::wstring ini = folder + L"\\ZorTabcastPlugin.ini";
  CreateDirectoryW(folder.c_str(), nullptr);
  // One load with the target given; false with f set on failure.
  auto measure = [&](const wchar_t* mode, double& perFrame, bool& hooked) {
    if (!WritePrivateProfileStringW(L"gps_output", L"mode", mode, ini.c_str())) {
      f = {kExitEnvironment, "cannot write " + narrow(ini)};
      return false;
    }
    if (!loadPlugin(f)) return false;
    // Until the plugin has hooked Present and adopted the device (a few frames later the
    // dashboard target has its resource and DrawIndexed hooked), at most 30 s.
    const bool dashboard = mode[0] == L'1';
    for (unsigned long long end = uptimeMs() + 30000;;) {
      if (dashboard ? cab_.drawIndexedPatched() : cab_.presentPatched()) break;
      if (uptimeMs() > end) break;
      if (!renderOne(nullptr, nullptr, f)) return false;
    }
    if (!renderFrames(10, f)) return false;
    hooked = cab_.drawIndexedPatched();
    auto t0 = std::chrono::steady_clock::now();
    if (!renderFrames(static_cast<unsigned long long>(options_.benchFrames), f)) return false;
    perFrame = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / options_.benchFrames;
    return unloadPlugin(f);
  };
  if (!renderFrames(20, f)) return finish(f.code, f.message);  // warm-up
  std::vector<double> tablet, dashboard;
  bool tabletHooked = false, dashboardHooked = true;
  for (int round = 0; round < options_.benchRounds; ++round) {
    double a = 0, b = 0;
    bool ha = false, hb = false;
    if (!measure(L"0", a, ha) || !measure(L"1", b, hb)) break;
    tablet.push_back(a);
    dashboard.push_back(b);
    tabletHooked = tabletHooked || ha;
    dashboardHooked = dashboardHooked && hb;
    char line[200];
    std::snprintf(line, sizeof line,
                  "bench round %d: %.2f ms/frame tablet target (DrawIndexed %s), %.2f ms/frame dashboard target (DrawIndexed %s)",
                  round + 1, a, ha ? "hooked" : "not hooked", b, hb ? "hooked" : "not hooked");
    say(line);
  }
  WritePrivateProfileStringW(L"gps_output", L"mode", nullptr, ini.c_str());
  if (f.code != kExitOk) return finish(f.code, f.message);
  double m0 = median(tablet), m1 = median(dashboard);
  char line[320];
  std::snprintf(line, sizeof line,
                "sim_target: cab scene %dx%d, %s, %d rounds of %d frames: median %.2f ms/frame with the tablet target "
                "(DrawIndexed %s), %.2f ms with the dashboard target (DrawIndexed %s); ratio %.3f",
                options_.width, options_.height, w900.vehicleId, options_.benchRounds, options_.benchFrames, m0,
                tabletHooked ? "HOOKED" : "never hooked", m1, dashboardHooked ? "hooked" : "NOT ALWAYS HOOKED",
                m0 > 0 ? m1 / m0 : 0.0);
  say(line);
  if (tabletHooked || !dashboardHooked) return finish(kExitExpectation, "DrawIndexed hooked with the wrong target");
  return finish(kExitOk, {});
}

// The cab with the plugin loaded (calibration off), the media program open: frames while the
// tablet plays the program against frames while nothing plays, in alternating rounds.
int Simulator::runPlaybackBenchmark() {
  Failure f{kExitOk, {}};
  armWatchdog(static_cast<unsigned long long>(options_.benchRounds) * 30000 + 90000);
  if (!start(f)) return finish(f.code, f.message);
  // A private copy of the plugin, so its settings stay out of the build folder.
  const std::wstring folder = options_.outDir + L"\\plugin";
  CreateDirectoryW(folder.c_str(), nullptr);
  CreateDirectoryW((folder + L"\\ZOR").c_str(), nullptr);
  const std::wstring copy = folder + L"\\" + options_.pluginPath.substr(options_.pluginPath.find_last_of(L"\\/") + 1);
  if (!CopyFileW(options_.pluginPath.c_str(), copy.c_str(), FALSE)) return finish(kExitPlugin, "cannot copy the plugin");
  options_.pluginPath = copy;
  WritePrivateProfileStringW(L"gps", L"calibration_mode", L"0", (folder + L"\\ZOR\\ZorTabcastPlugin.ini").c_str());
  fps_ = 0;
  std::string error;
  auto& sdk = SdkHost::instance();
  if (!setTruck({"vehicle.kenworth.w900"}, f)) return finish(f.code, f.message);
  sdk.setChannel("truck.engine.enabled", true);
  sdk.setChannel("truck.electric.enabled", true);
  sdk.setPaused(false);
  cab_.setSpeed(80);
  if (!loadPlugin(f) || !renderFor(1500, f)) return finish(f.code, f.message);
  if (!cab_.loadCab(error)) return finish(kExitEnvironment, error);  // the game's order: the cab after the plugin
  using RequestFn = int (*)(const char*, int);
  auto request = reinterpret_cast<RequestFn>(sdk.pluginExport("zor_test_request_playback"));
  if (!request) return finish(kExitPlugin, "the plugin has no playback test export");
  auto program = std::make_unique<MediaProgram>("bench", L"Lofi radio - YouTube", 0);
  if (!program->open(10000, error)) return finish(kExitEnvironment, error);
  if (!renderFor(1500, f)) return finish(f.code, f.message);
  auto measure = [&](double& perFrame) {
    auto t0 = std::chrono::steady_clock::now();
    if (!renderFrames(static_cast<unsigned long long>(options_.benchFrames), f)) return false;
    perFrame = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / options_.benchFrames;
    return true;
  };
  std::vector<double> idle, playing;
  for (int round = 0; round < options_.benchRounds; ++round) {
    double a = 0, b = 0;
    request(nullptr, 30);
    if (!renderFor(500, f) || !measure(a)) return finish(f.code, f.message);
    request("YouTube", 30);
    if (!renderFor(700, f) || !measure(b)) return finish(f.code, f.message);
    idle.push_back(a);
    playing.push_back(b);
    char line[160];
    std::snprintf(line, sizeof line, "bench round %d: %.2f ms/frame not playing, %.2f ms/frame playing", round + 1, a, b);
    say(line);
  }
  request(nullptr, 30);
  renderFrames(3, f);
  program->close(5000);
  const double m0 = median(idle), m1 = median(playing);
  const bool shown = sdk.logContains("Primer frame del trabajador copiado");
  char line[240];
  std::snprintf(line, sizeof line,
                "sim_playback: cab scene %dx%d, %d rounds of %d frames: median %.2f ms/frame not playing, %.2f ms "
                "playing the media program on the tablet; ratio %.3f%s",
                options_.width, options_.height, options_.benchRounds, options_.benchFrames, m0, m1,
                m0 > 0 ? m1 / m0 : 0.0, shown ? "" : " (NO FRAME REACHED THE TABLET)");
  say(line);
  return finish(shown ? kExitOk : kExitExpectation, shown ? std::string() : "no captured frame reached the tablet");
}

int Simulator::runOverlayBenchmark() {
  Failure f{kExitOk, {}};
  armWatchdog(static_cast<unsigned long long>(options_.benchRounds) * 60000 + 60000);
  if (!start(f)) return finish(f.code, f.message);
  if (!benchCab(f)) return finish(f.code, f.message);
  const std::wstring full = options_.pluginPath;
  auto perFrame = [&](double& ms) {
    auto t0 = std::chrono::steady_clock::now();
    if (!renderFrames(static_cast<unsigned long long>(options_.benchFrames), f)) return false;
    ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / options_.benchFrames;
    return true;
  };
  // Loads a build and renders until it has hooked Present and adopted the device.
  auto loadBuild = [&](const std::wstring& path) {
    options_.pluginPath = path;
    if (!loadPlugin(f)) return false;
    for (unsigned long long end = uptimeMs() + 30000; !cab_.presentPatched();) {
      if (uptimeMs() > end) return f = {kExitPlugin, "Present was not hooked within 30 s"}, false;
      if (!renderOne(nullptr, nullptr, f)) return false;
    }
    return renderFrames(10, f);
  };
  auto panelShown = [&]() {
    Rect rect;
    ProbeResult r;
    return probeScreen("overlay", rect, r, f) && r.signature == "overlay";
  };
  if (!renderFrames(20, f)) return finish(f.code, f.message);  // warm-up
  std::vector<double> bare, hidden, shown;
  for (int round = 0; round < options_.benchRounds && f.code == kExitOk; ++round) {
    double a = 0, b = 0, c = 0;
    if (!loadBuild(options_.barePluginPath) || !perFrame(a) || !unloadPlugin(f)) break;
    if (!loadBuild(full) || !perFrame(b)) break;
    if (!pressKeys("ctrl+F8", f) || !renderFrames(10, f)) break;
    if (!panelShown()) {
      if (f.code == kExitOk) f = {kExitEnvironment, "Ctrl+F8 did not show the panel"};
      break;
    }
    if (!perFrame(c) || !unloadPlugin(f)) break;
    bare.push_back(a);
    hidden.push_back(b);
    shown.push_back(c);
    char line[200];
    std::snprintf(line, sizeof line,
                  "bench round %d: %.2f ms/frame without the overlay, %.2f with the panel hidden, %.2f with it shown",
                  round + 1, a, b, c);
    say(line);
  }
  options_.pluginPath = full;
  if (f.code != kExitOk) return finish(f.code, f.message);
  const double m0 = median(bare), m1 = median(hidden), m2 = median(shown);
  char line[320];
  std::snprintf(line, sizeof line,
                "sim_overlay: cab scene %dx%d, %d rounds of %d frames: median %.2f ms/frame without the overlay, %.2f "
                "with the panel hidden (ratio %.3f), %.2f with the panel shown (ratio %.3f)",
                options_.width, options_.height, options_.benchRounds, options_.benchFrames, m0, m1,
                m0 > 0 ? m1 / m0 : 0.0, m2, m0 > 0 ? m2 / m0 : 0.0);
  say(line);
  return finish(kExitOk, {});
}

}  // namespace zor::sim

namespace zor::sim {

bool Simulator::nextPanelFrame(PanelFrame& frame, Failure& f) {
  using FrameFn = int (*)(char*, int);
  auto record = reinterpret_cast<FrameFn>(SdkHost::instance().pluginExport("zor_test_panel_frame"));
  if (!record) {
    f = {kExitPlugin, "the plugin has no panel test export (scenarios that read the panel load "
                      "ZorTabcastPlugin_playback.dll)"};
    return false;
  }
  std::vector<char> buffer(1 << 20);
  PanelFrame before;
  const int length = record(buffer.data(), static_cast<int>(buffer.size()));  // also asks for the next frame
  if (length > 0) parsePanelFrame(std::string_view(buffer.data(), static_cast<size_t>(length)), before);
  for (int frames = 0; frames < 30; ++frames) {
    if (!renderOne(nullptr, nullptr, f)) return false;
    const int got = record(buffer.data(), static_cast<int>(buffer.size()));
    if (got > 0 && parsePanelFrame(std::string_view(buffer.data(), static_cast<size_t>(got)), frame) &&
        frame.number > before.number)
      return true;
  }
  frame = {};  // the panel is not drawn
  return true;
}

bool Simulator::panelCommand(const Command& c, Failure& f) {
  const auto& a = c.args;
  const std::string& n = c.name;
  auto fail = [&](const std::string& what, const PanelFrame& frame) {
    f = {kExitExpectation, "line " + std::to_string(c.line) + ": " + what};
    std::string items;
    for (const PanelItem& i : frame.items)
      items += "  [" + i.label + "] " + std::to_string(i.x) + "," + std::to_string(i.y) + " " + std::to_string(i.width) +
               "x" + std::to_string(i.height) + (i.disabled ? " disabled" : "") + (i.hidden ? " out of view" : "") + "\n";
    say("panel text (frame " + std::to_string(frame.number) + "):\n" + frame.text + "\npanel items:\n" + items);
    return false;
  };
  PanelFrame frame;
  if (n == "panel-text") {
    if (!nextPanelFrame(frame, f)) return false;
    std::string text = frame.text;
    for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 13) text.insert(at + 1, "panel-text:  ");
    say("panel-text: frame " + std::to_string(frame.number) + (frame.number ? "\npanel-text:  " + text : " (not shown)"));
    return true;
  }
  if (n == "expect-text" || n == "expect-no-text") {
    if (!nextPanelFrame(frame, f)) return false;
    const bool shown = frame.text.find(a[0]) != std::string::npos;
    if (shown != (n == "expect-text")) return fail(std::string("the panel ") + (shown ? "shows" : "does not show") + " \"" + a[0] + "\"", frame);
    say(n + ": ok \"" + a[0] + "\"");
    return true;
  }
  if (n == "wait-text") {
    long long ms = 0;
    parseInt(a[1], ms);
    const unsigned long long begin = uptimeMs(), end = begin + static_cast<unsigned long long>(ms);
    for (;;) {
      if (!nextPanelFrame(frame, f)) return false;
      if (frame.text.find(a[0]) != std::string::npos) break;
      if (uptimeMs() > end) return fail("the panel did not show \"" + a[0] + "\" within " + a[1] + " ms", frame);
    }
    say("wait-text: ok \"" + a[0] + "\" (after " + std::to_string(uptimeMs() - begin) + " ms)");
    return true;
  }
  if (n == "expect-item") {
    if (!nextPanelFrame(frame, f)) return false;
    const PanelItem* item = frame.find(a[0]);
    const std::string state = !item ? "absent" : item->disabled ? "disabled" : "enabled";
    if (state != a[1]) return fail("panel item \"" + a[0] + "\" is " + state + ", expected " + a[1], frame);
    say("expect-item: \"" + a[0] + "\" is " + state);
    return true;
  }
  // click-item: wait until the item is shown and enabled, then click its middle.
  long long which = 1;
  if (a.size() > 1) parseInt(a[1], which);
  // An item scrolled out of view is wheeled into it (over the panel, towards the item).
  unsigned long long end = uptimeMs() + 3000;
  const PanelItem* item = nullptr;
  for (int wheels = 0;;) {
    if (!nextPanelFrame(frame, f)) return false;
    item = frame.find(a[0], static_cast<int>(which));
    if (item && item->hidden && wheels < 40) {
      ++wheels;
      end = std::max(end, uptimeMs() + 1000);
      const int notches = std::clamp(std::abs(item->y - 300) / 80, 1, 20);  // a notch scrolls some 60 px or more
      if (!xdotoolAt(item->x + item->width / 2, 300,
                     "click --repeat " + std::to_string(notches) + " --delay 20 " + (item->y > 300 ? "5" : "4"), f))
        return false;
      continue;
    }
    if (item && !item->disabled && !item->hidden) break;
    if (uptimeMs() > end)
      return fail("panel item \"" + a[0] + "\" " + (item ? (item->hidden ? "stayed out of view" : "stayed disabled") : "was not shown") +
                      " within 3000 ms",
                  frame);
  }
  say("click-item: \"" + a[0] + "\" at " + std::to_string(item->x) + "," + std::to_string(item->y) + " " +
      std::to_string(item->width) + "x" + std::to_string(item->height));
  // The pointer goes there first and the panel sees it hover: a press that reached the game
  // before the pointer's new place would land on whatever was under the old one.
  const int x = item->x + item->width / 2, y = item->y + item->height / 2;
  if (!xdotoolAt(x, y, "", f)) return false;
  for (const unsigned long long until = uptimeMs() + 2000;;) {
    POINT p{};
    if (GetCursorPos(&p) && ScreenToClient(cab_.window(), &p) && p.x == x && p.y == y) break;
    if (uptimeMs() > until) return f = {kExitEnvironment, "the pointer did not reach the panel item"}, false;
    if (!renderOne(nullptr, nullptr, f)) return false;
  }
  return renderFrames(2, f) && click(x, y, f);
}

}  // namespace zor::sim
