#include "MediaWindow.h"

#include <cstdio>
#include <mutex>

namespace zor::sim {

namespace {
constexpr wchar_t kClass[] = L"ZorSim.MediaWindow";
constexpr wchar_t kOwnerClass[] = L"ZorSim.MediaOwner";
constexpr UINT kCloseMessage = WM_APP + 1;

// The bars, in the palette the frame probes know (bar-white ... bar-blue).
constexpr COLORREF kBars[] = {RGB(235, 235, 235), RGB(235, 235, 16), RGB(16, 235, 235), RGB(16, 235, 16),
                              RGB(235, 16, 235),  RGB(235, 16, 16),  RGB(16, 16, 235)};

void registerClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kOwnerClass;
    RegisterClassExW(&wc);
  });
}
}  // namespace

MediaWindow::MediaWindow(std::string id, std::wstring title, int index)
    : id_(std::move(id)), title_(std::move(title)), index_(index) {}

MediaWindow::~MediaWindow() { close(2000); }

bool MediaWindow::open(DWORD timeoutMs) {
  registerClasses();
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSEXW wc{sizeof wc};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = &MediaWindow::wndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kClass;
    RegisterClassExW(&wc);
  });
  readyEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  doneEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  thread_ = std::thread([this] {
    threadMain();
    SetEvent(doneEvent_);
  });
  DWORD w = WaitForSingleObject(readyEvent_, timeoutMs);
  return w == WAIT_OBJECT_0 && !failed_;
}

void MediaWindow::threadMain() {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  HWND owner = CreateWindowExW(0, kOwnerClass, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, inst, nullptr);
  RECT rc{0, 0, 640, 360};
  AdjustWindowRectEx(&rc, WS_OVERLAPPEDWINDOW, FALSE, 0);
  // Beside the game's window (at 0,0), so a screen capture shows both.
  int x = 1300 + index_ * 40, y = 40 + index_ * 60;
  HWND h = CreateWindowExW(0, kClass, title_.c_str(), WS_OVERLAPPEDWINDOW, x, y, rc.right - rc.left,
                           rc.bottom - rc.top, owner, nullptr, inst, this);
  if (!h) {
    failed_ = true;
    SetEvent(readyEvent_);
    if (owner) DestroyWindow(owner);
    return;
  }
  hwnd_ = h;
  ShowWindow(h, SW_SHOWNOACTIVATE);
  UpdateWindow(h);
  SetTimer(h, 1, 33, nullptr);
  ready_ = true;
  SetEvent(readyEvent_);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.hwnd == h && msg.message == kCloseMessage) {
      KillTimer(h, 1);
      DestroyWindow(h);
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  hwnd_ = nullptr;
  if (owner) DestroyWindow(owner);
}

LRESULT CALLBACK MediaWindow::wndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<MediaWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  switch (msg) {
    case WM_NCCREATE: {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
      SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
      break;
    }
    case WM_TIMER:
      InvalidateRect(h, nullptr, FALSE);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      RECT rc;
      GetClientRect(h, &rc);
      if (self) self->paint(dc, rc);
      EndPaint(h, &ps);
      return 0;
    }
    case WM_PRINTCLIENT: {
      RECT rc;
      GetClientRect(h, &rc);
      if (self) self->paint(reinterpret_cast<HDC>(wp), rc);
      return 0;
    }
    case WM_CLOSE:  // the user's close button: same as the scenario's close
      DestroyWindow(h);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

void MediaWindow::paint(HDC dc, const RECT& rc) {
  unsigned frame = ++paints_;
  int w = rc.right - rc.left, h = rc.bottom - rc.top;
  if (w <= 0 || h <= 0) return;
  int barsHeight = h * 4 / 5;
  int barWidth = (w + 6) / 7;
  int shift = static_cast<int>((GetTickCount64() / 40) % static_cast<ULONGLONG>(w));
  // Colour bars scrolling to the right, wrapping around.
  for (int i = 0; i < 7; ++i) {
    HBRUSH b = CreateSolidBrush(kBars[i]);
    for (int copy = -1; copy <= 0; ++copy) {
      RECT r{i * barWidth + shift + copy * w, 0, (i + 1) * barWidth + shift + copy * w, barsHeight};
      FillRect(dc, &r, b);
    }
    DeleteObject(b);
  }
  RECT strip{0, barsHeight, w, h};
  FillRect(dc, &strip, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  wchar_t text[512];
  wchar_t title[256];
  GetWindowTextW(hwnd_.load(), title, 256);
  swprintf(text, 512, L"%ls   frame %u", title, frame);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(245, 245, 245));
  TextOutW(dc, 12, barsHeight + (h - barsHeight) / 2 - 8, text, static_cast<int>(wcslen(text)));
}

void MediaWindow::setTitle(const std::wstring& title) {
  title_ = title;
  if (HWND h = hwnd_) SetWindowTextW(h, title.c_str());
}

void MediaWindow::show(int command) {
  if (HWND h = hwnd_) ShowWindowAsync(h, command);
}

bool MediaWindow::close(DWORD timeoutMs) {
  if (!thread_.joinable()) return true;
  if (HWND h = hwnd_) PostMessageW(h, kCloseMessage, 0, 0);
  DWORD w = WaitForSingleObject(doneEvent_, timeoutMs);
  if (w != WAIT_OBJECT_0) {
    thread_.detach();
    return false;
  }
  thread_.join();
  CloseHandle(readyEvent_);
  CloseHandle(doneEvent_);
  readyEvent_ = doneEvent_ = nullptr;
  return true;
}

}  // namespace zor::sim
