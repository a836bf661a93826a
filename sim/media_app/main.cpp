// zor_media.exe: the stand-in for a browser tab or a music player, in its own process as the
// real applications are. One titled, unowned top-level window that paints a moving picture the
// simulator's probes recognise ("player": teal with purple bars sweeping across, a white
// progress strip) and, in its lower band, the last media command (WM_APPCOMMAND) it received
// with a count. The same two facts are published as window properties, so other processes can
// read them: "ZorMedia.CommandCount" and "ZorMedia.LastCommand" (the APPCOMMAND number).
//
//   zor_media.exe --title TEXT [--x X --y Y] [--width W --height H] [--fps N] [--chart]
//
// --chart paints a still test chart instead, in a window without a frame (a player in full
// screen): 1-pixel black and white vertical stripes on the left half and 32-pixel ones on the
// right over the upper three quarters, a line of small black text on white below.
//
// Closing the window (WM_CLOSE from anyone) ends the process with status 0.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kClass[] = L"ZorMedia.Player";
constexpr UINT_PTR kTimer = 1;

// The probe palette of the "player" picture (kept in step with sim/Probe.cpp).
constexpr COLORREF kTeal = RGB(0, 140, 130);
constexpr COLORREF kPurple = RGB(110, 50, 160);
constexpr COLORREF kWhite = RGB(245, 245, 245);

struct State {
  unsigned frame = 0;
  unsigned commands = 0;
  int lastCommand = -1;
  ULONGLONG startMs = 0;
  bool chart = false;
  bool covered = false;  // paints nothing new: the picture stays as it was when covered
  ULONGLONG coveredAt = 0;
} g_state;

const wchar_t* commandName(int command) {
  switch (command) {
    case APPCOMMAND_MEDIA_NEXTTRACK: return L"NEXTTRACK";
    case APPCOMMAND_MEDIA_PREVIOUSTRACK: return L"PREVIOUSTRACK";
    case APPCOMMAND_MEDIA_PLAY_PAUSE: return L"PLAY_PAUSE";
    case APPCOMMAND_MEDIA_PLAY: return L"PLAY";
    case APPCOMMAND_MEDIA_PAUSE: return L"PAUSE";
    case APPCOMMAND_MEDIA_STOP: return L"STOP";
    case APPCOMMAND_VOLUME_UP: return L"VOLUME_UP";
    case APPCOMMAND_VOLUME_DOWN: return L"VOLUME_DOWN";
    case APPCOMMAND_VOLUME_MUTE: return L"VOLUME_MUTE";
    case -1: return L"-";
    default: return L"OTHER";
  }
}

void fill(HDC dc, int x, int y, int w, int h, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  RECT r{x, y, x + w, y + h};
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

// Teal ground; two purple bars sweep left to right (one width per 2 s) over the upper 80 %;
// a white progress strip grows along the bottom every 4 s; the text band shows the counters.
void paint(HWND window, HDC dc) {
  if (!g_state.covered) ++g_state.frame;
  RECT rc;
  GetClientRect(window, &rc);
  const int w = rc.right, h = rc.bottom;
  if (w <= 0 || h <= 0) return;
  const ULONGLONG t = (g_state.covered ? g_state.coveredAt : GetTickCount64()) - g_state.startMs;
  fill(dc, 0, 0, w, h, kTeal);
  const int barWidth = w / 6;
  const int picture = h * 4 / 5;
  const int shift = static_cast<int>(t * static_cast<ULONGLONG>(w) / 2000 % static_cast<ULONGLONG>(w));
  for (int bar = 0; bar < 2; ++bar) {
    int x = (shift + bar * w / 2) % w;
    fill(dc, x, 0, barWidth, picture, kPurple);
    if (x + barWidth > w) fill(dc, x - w, 0, barWidth, picture, kPurple);
  }
  const int progress = static_cast<int>(t % 4000 * static_cast<ULONGLONG>(w) / 4000);
  fill(dc, 0, picture, progress, h / 40 + 1, kWhite);

  wchar_t title[256] = L"";
  GetWindowTextW(window, title, 256);
  wchar_t text[512];
  swprintf(text, 512, L"%ls | frame %u | command %ls x%u", title, g_state.frame, commandName(g_state.lastCommand),
           g_state.commands);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kWhite);
  TextOutW(dc, 10, picture + (h - picture) / 2 - 6, text, static_cast<int>(wcslen(text)));
}

constexpr wchar_t kChartText[] =
    L"Subtitulos: la letra pequena de una cancion, 0123456789 - abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ";

void paintChart(HWND window, HDC dc) {
  ++g_state.frame;
  RECT rc;
  GetClientRect(window, &rc);
  const int w = rc.right, h = rc.bottom, stripes = h * 3 / 4;
  if (w <= 0 || h <= 0) return;
  fill(dc, 0, 0, w, h, RGB(255, 255, 255));
  HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  auto column = [&](int x, int width) {
    RECT r{x, 0, std::min(w, x + width), stripes};
    FillRect(dc, &r, black);
  };
  for (int x = 0; x < w / 2; x += 2) column(x, 1);
  for (int x = w / 2 + 32; x < w; x += 64) column(x, 32);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 0));
  TextOutW(dc, 10, stripes + (h - stripes) / 2 - 6, kChartText, static_cast<int>(wcslen(kChartText)));
}

void publishCommands(HWND window) {
  SetPropW(window, L"ZorMedia.CommandCount", reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(g_state.commands)));
  SetPropW(window, L"ZorMedia.LastCommand",
           reinterpret_cast<HANDLE>(static_cast<INT_PTR>(g_state.lastCommand < 0 ? 0 : g_state.lastCommand)));
}

LRESULT CALLBACK wndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER:
      InvalidateRect(h, nullptr, FALSE);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      g_state.chart ? paintChart(h, dc) : paint(h, dc);
      EndPaint(h, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      g_state.chart ? paintChart(h, reinterpret_cast<HDC>(wp)) : paint(h, reinterpret_cast<HDC>(wp));
      return 0;
    case WM_APP + 1:
      // The simulator makes the program hang: its window thread answers nothing for wp ms.
      Sleep(static_cast<DWORD>(wp));
      return 0;
    case WM_APP + 2:
      // The simulator covers the program: like a browser with a window it thinks covered, it
      // stops painting anything new (the window keeps its last picture, title and sound).
      g_state.covered = wp != 0;
      if (g_state.covered) g_state.coveredAt = GetTickCount64();
      InvalidateRect(h, nullptr, FALSE);
      return 0;
    case WM_APPCOMMAND:
      g_state.lastCommand = GET_APPCOMMAND_LPARAM(lp);
      ++g_state.commands;
      publishCommands(h);
      InvalidateRect(h, nullptr, FALSE);
      return TRUE;
    case WM_DESTROY:
      RemovePropW(h, L"ZorMedia.CommandCount");
      RemovePropW(h, L"ZorMedia.LastCommand");
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

bool intArg(const wchar_t* text, int& out) {
  wchar_t* end = nullptr;
  long v = std::wcstol(text, &end, 10);
  if (!end || *end || end == text || v < -100000 || v > 100000) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring title = L"ZOR media player";
  int x = 1300, y = 40, width = 560, height = 315, fps = 30;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    bool hasValue = i + 1 < argc;
    bool ok = hasValue;
    if (a == L"--title" && hasValue) title = argv[++i];
    else if (a == L"--x" && hasValue) ok = intArg(argv[++i], x);
    else if (a == L"--y" && hasValue) ok = intArg(argv[++i], y);
    else if (a == L"--width" && hasValue) ok = intArg(argv[++i], width) && width > 0;
    else if (a == L"--height" && hasValue) ok = intArg(argv[++i], height) && height > 0;
    else if (a == L"--fps" && hasValue) ok = intArg(argv[++i], fps) && fps > 0 && fps <= 120;
    else if (a == L"--chart") ok = g_state.chart = true;
    else ok = false;
    if (!ok) {
      std::fprintf(stderr,
                   "usage: zor_media.exe --title TEXT [--x X --y Y] [--width W --height H] [--fps N] [--chart]\n");
      return 2;
    }
  }
  g_state.startMs = GetTickCount64();
  HINSTANCE inst = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{sizeof wc};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = wndProc;
  wc.hInstance = inst;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kClass;
  if (!RegisterClassExW(&wc)) return 3;
  const DWORD style = g_state.chart ? WS_POPUP : WS_OVERLAPPEDWINDOW;
  RECT rc{0, 0, width, height};
  AdjustWindowRectEx(&rc, style, FALSE, 0);
  HWND window = CreateWindowExW(0, kClass, title.c_str(), style, x, y, rc.right - rc.left,
                                rc.bottom - rc.top, nullptr, nullptr, inst, nullptr);
  if (!window) return 3;
  publishCommands(window);
  ShowWindow(window, SW_SHOWNOACTIVATE);
  UpdateWindow(window);
  if (!g_state.chart) SetTimer(window, kTimer, static_cast<UINT>(1000 / fps), nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
