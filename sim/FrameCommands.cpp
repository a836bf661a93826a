// Frames and probes: rendering the cab, reading back what its screens show, screenshots, and the
// scene check.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>

#include "Console.h"
#include "WndProcChain.h"
#include "Png.h"
#include "SdkHost.h"
#include "SimText.h"
#include "Simulator.h"
#include "TextureQueue.h"

namespace zor::sim {

namespace {

bool fingerprint(const D3D11_TEXTURE2D_DESC& d) {
  return d.Width == 1024 && d.Height == 1024 && d.MipLevels == 11 && d.Format == DXGI_FORMAT_R8G8B8A8_UNORM_SRGB &&
         (d.BindFlags & D3D11_BIND_RENDER_TARGET);
}

std::string describe(const D3D11_TEXTURE2D_DESC& d) {
  char b[128];
  std::snprintf(b, sizeof b, "%ux%u mips=%u format=%u bind=0x%X", d.Width, d.Height, d.MipLevels, d.Format, d.BindFlags);
  return b;
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

bool Simulator::renderOne(FrameCapture* capture, std::vector<DrawRecord>* trace, Failure& f) {
  if (!cab_.pumpMessages()) {
    f = {kExitEnvironment, "the game window was closed"};
    return false;
  }
  SdkHost::instance().frame();
  keepChainedWndProcOnTop(cab_.window());
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

bool Simulator::cmdFps(const Command& c, Failure& f) {
  fps_ = static_cast<int>(number(c, 0));
  return true;
}

bool Simulator::cmdFrames(const Command& c, Failure& f) {
  return renderFrames(number(c, 0), f);
}

bool Simulator::cmdRun(const Command& c, Failure& f) {
  return renderFor(number(c, 0), f);
}

bool Simulator::cmdCab(const Command& c, Failure& f) {
  std::string error;
  if (!cab_.loadCab(error)) return f = {kExitEnvironment, error}, false;
  return true;
}

bool Simulator::cmdResize(const Command& c, Failure& f) {
  const int w = static_cast<int>(number(c, 0)), h = static_cast<int>(number(c, 1));
  if (w < 320 || h < 200 || w > 7680 || h > 4320)
    return f = {kExitBadInput, "line " + std::to_string(c.line) + ": resize takes at least 320x200"}, false;
  std::string error;
  if (!cab_.resize(w, h, error)) return f = {kExitExpectation, "line " + std::to_string(c.line) + ": " + error}, false;
  say("resize: " + c.args[0] + "x" + c.args[1]);
  return true;
}

namespace {
std::string overReleased(long count) {
  return "the old device was released " + std::to_string(count) +
         " time(s) more than it was held: it would have been freed under the simulator's reference";
}
}  // namespace

bool Simulator::cmdDevice(const Command& c, Failure& f) {
  const std::string where = "line " + std::to_string(c.line) + ": ";
  const std::string& action = c.args[0];
  if (action == "released") {
    if (!cab_.hasRetiredDevice()) return f = {kExitBadInput, where + "no device was made anew before 'device released'"}, false;
    const unsigned long long begin = uptimeMs(), end = begin + (c.args.size() > 1 ? number(c, 1) : 5000);
    while (cab_.retiredDeviceHolders() > 0 && uptimeMs() < end)
      if (!renderFrames(1, f)) return false;
    const long holders = cab_.retiredDeviceHolders();
    if (holders < 0) return expect(c, false, overReleased(-holders), f);
    if (holders != 0)
      return expect(c, false, "the old device still has " + std::to_string(holders) + " reference(s) besides the simulator's", f);
    const unsigned long left = cab_.releaseRetiredDevice();
    say("device released: the old device's last Release returned " + std::to_string(left) + " (after " +
        std::to_string(uptimeMs() - begin) + " ms)");
    return expect(c, left == 0, "the old device's last Release returned " + std::to_string(left), f);
  }
  if (action != "recreate" && action != "new-window")
    return f = {kExitBadInput, where + "device takes recreate, new-window or released"}, false;
  const bool newWindow = action == "new-window";
  if (cab_.hasRetiredDevice()) {
    const long holders = cab_.retiredDeviceHolders();
    if (holders < 0) return expect(c, false, overReleased(-holders), f);
    if (cab_.releaseRetiredDevice() != 0)
      say("device: the device before this one was still held (" + std::to_string(holders) +
          " reference(s)) when the simulator let go of it");
  }
  long holders = 0;
  std::string error;
  if (newWindow) forgetChainedWndProc();  // it went with the old window
  if (!(newWindow ? cab_.recreateWindow(holders, error) : cab_.recreateDevice(holders, error)))
    return f = {kExitEnvironment, where + "device " + action + ": " + error}, false;
  std::string old;
  if (holders == 0) {
    const unsigned long left = cab_.releaseRetiredDevice();
    old = "its last Release returned " + std::to_string(left);
    if (left != 0) return f = {kExitExpectation, where + "device recreate: the old device's " + old}, false;
  } else {
    old = "still held by " + std::to_string(holders) + " reference(s)" +
          (SdkHost::instance().loaded() ? " of the plugin (it lets go at its next Present; 'device released' checks)" : "");
  }
  say("device " + action + ": new device and swap chain " + std::to_string(cab_.width()) + "x" +
      std::to_string(cab_.height()) + (newWindow ? " on a new window (the old one destroyed)" : " on the same window") +
      (cab_.cabLoaded() ? ", cab loaded again" : "") + "; the old device: " + old);
  return true;
}

bool Simulator::cmdSpeed(const Command& c, Failure& f) {
  const auto& a = c.args;
  cab_.setSpeed(static_cast<int>(number(c, 0)));
  say("speed: " + a[0] + " km/h");
  return true;
}

bool Simulator::cmdScreenshot(const Command& c, Failure& f) {
  const auto& a = c.args;
  FrameCapture frame;
  bool screen = a.size() > 1;
  if (!renderOne(screen ? nullptr : &frame, nullptr, f)) return false;
  if (screen && !captureScreen(cab_.window(), frame)) return f = {kExitEnvironment, "reading the screen failed"}, false;
  std::string error;
  std::wstring path = outPath(a[0]);
  if (!writePng(path, frame, error)) return f = {kExitEnvironment, error + ": " + narrow(path)}, false;
  say("screenshot: " + narrow(path) + " (" + std::to_string(frame.width) + "x" + std::to_string(frame.height) +
      (screen ? ", the window on the screen after Present)" : ", read back before Present)"));
  return true;
}

bool Simulator::cmdProbe(const Command& c, Failure& f) {
  const auto& a = c.args;
  FrameCapture frame;
  Rect rect;
  ProbeResult r;
  if (!probe(a[0], frame, rect, r, f)) return false;
  say(formatProbe(a[0], rect, r));
  if (a.size() > 1 && !expect(c, r.signature == a[1], "probe " + a[0] + " shows " + r.signature + ", expected " + a[1], f))
    return false;
  return true;
}

bool Simulator::cmdWaitProbe(const Command& c, Failure& f) {
  const auto& a = c.args;
  unsigned long long end = uptimeMs() + number(c, 2), begin = uptimeMs();
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
      return expect(c, false, "probe " + a[0] + " did not show " + a[1] + " within " + a[2] + " ms", f);
    }
  }
  return true;
}

bool Simulator::probeScreenCommand(const Command& c, bool wait, Failure& f) {
  const auto& a = c.args;
  unsigned long long begin = uptimeMs(), end = begin + (wait ? number(c, 2) : 0);
  for (;;) {
    Rect rect;
    ProbeResult r;
    if (!probeScreen(a[0], rect, r, f)) return false;
    const bool matches = a.size() > 1 && r.signature == a[1];
    if (!wait || matches) {
      say("screen " + formatProbe(a[0], rect, r) + (wait ? " (after " + std::to_string(uptimeMs() - begin) + " ms)" : ""));
      if (a.size() > 1 && !expect(c, matches, "the screen's " + a[0] + " shows " + r.signature + ", expected " + a[1], f))
        return false;
      break;
    }
    if (uptimeMs() > end) {
      say("screen " + formatProbe(a[0], rect, r));
      return expect(c, false, "the screen's " + a[0] + " did not show " + a[1] + " within " + a[2] + " ms", f);
    }
  }
  return true;
}

bool Simulator::cmdProbeScreen(const Command& c, Failure& f) { return probeScreenCommand(c, false, f); }

bool Simulator::cmdWaitProbeScreen(const Command& c, Failure& f) { return probeScreenCommand(c, true, f); }

bool Simulator::cmdWaitChange(const Command& c, Failure& f) {
  const auto& a = c.args;
  FrameCapture frame;
  Rect rect;
  ProbeResult first, r;
  if (!probe(a[0], frame, rect, first, f)) return false;
  unsigned long long begin = uptimeMs(), end = begin + number(c, 1);
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
      return expect(c, false, "probe " + a[0] + " did not change within " + a[1] + " ms", f);
    }
  }
  return true;
}

bool Simulator::cmdExpectStill(const Command& c, Failure& f) {
  const auto& a = c.args;
  FrameCapture frame;
  Rect rect;
  ProbeResult first, r;
  if (!probe(a[0], frame, rect, first, f)) return false;
  int most = 0;
  for (unsigned long long end = uptimeMs() + number(c, 1); uptimeMs() < end;) {
    if (!probe(a[0], frame, rect, r, f)) return false;
    most = std::max(most, probeDifference(first, r));
    if (most >= 5) {
      say(formatProbe(a[0], rect, r));
      return expect(c, false, "probe " + a[0] + " changed (" + std::to_string(most) + "% of the samples) within " +
                               a[1] + " ms", f);
    }
  }
  say(formatProbe(a[0], rect, r) + " (still for " + a[1] + " ms; at most " + std::to_string(most) +
      "% of the samples changed)");
  return true;
}

bool Simulator::cmdSceneCheck(const Command& c, Failure& f) {
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

}  // namespace zor::sim
