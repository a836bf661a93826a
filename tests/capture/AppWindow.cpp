#include "AppWindow.h"

#include <mutex>

namespace zor::test {
namespace {
constexpr wchar_t kClass[] = L"ZorCaptureTest.Window";
constexpr UINT kDestroyMessage = WM_APP + 7;
}  // namespace

AppWindow::AppWindow(const std::wstring& title, DWORD style, int x, int y, int width, int height) {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = &AppWindow::wndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kClass;
    RegisterClassExW(&wc);
  });
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  thread_ = std::thread([=, this] { threadMain(title, style, x, y, width, height, ready); });
  WaitForSingleObject(ready, 10000);
  CloseHandle(ready);
}

AppWindow::~AppWindow() { destroy(); }

void AppWindow::threadMain(const std::wstring& title, DWORD style, int x, int y, int width, int height,
                            HANDLE ready) {
  const DWORD fullStyle = WS_POPUP | style;
  style_ = fullStyle;
  const DWORD exStyle = WS_EX_TOPMOST | WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW;
  RECT rc{0, 0, width, height};
  AdjustWindowRectEx(&rc, fullStyle, FALSE, exStyle);
  threadId_ = GetCurrentThreadId();
  hwnd_ = CreateWindowExW(exStyle, kClass, title.c_str(), fullStyle, x, y, rc.right - rc.left, rc.bottom - rc.top,
                          nullptr, nullptr, GetModuleHandleW(nullptr), this);
  SetEvent(ready);
  if (!hwnd_) return;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == kDestroyMessage) {
      DestroyWindow(hwnd_);
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void AppWindow::resizeClient(int width, int height) {
  RECT rc{0, 0, width, height};
  AdjustWindowRectEx(&rc, style_, FALSE, WS_EX_TOPMOST | WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW);
  SetWindowPos(hwnd_, nullptr, 0, 0, width ? rc.right - rc.left : 0, height ? rc.bottom - rc.top : 0,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void AppWindow::destroy() {
  if (!thread_.joinable()) return;
  PostThreadMessageW(threadId_, kDestroyMessage, 0, 0);
  thread_.join();
}

LRESULT CALLBACK AppWindow::wndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* self = reinterpret_cast<AppWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      if (self) self->paint(dc);
      EndPaint(h, &ps);
      return 0;
    }
    case WM_PRINT:
      if (self) self->printFlags_ = static_cast<unsigned>(lp);
      break;
    case WM_PRINTCLIENT:
      if (self && self->destroyOnPrint_.exchange(false)) {
        DestroyWindow(h);
        PostQuitMessage(0);
        return 0;
      }
      if (self) {
        if (const DWORD ms = self->hangOnPrintMs_.exchange(0)) {
          self->hanging_ = true;
          Sleep(ms);
          self->hanging_ = false;
        }
        if (self->printable_) self->paint(reinterpret_cast<HDC>(wp));
      }
      return 0;
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

void AppWindow::paint(HDC dc) {
  paints_.fetch_add(1);
  RECT rc;
  GetClientRect(hwnd_, &rc);
  RECT top{0, 0, rc.right, rc.bottom / 2};
  RECT bottom{0, rc.bottom / 2, rc.right, rc.bottom};
  HBRUSH brush = CreateSolidBrush(top_.load());
  FillRect(dc, &top, brush);
  DeleteObject(brush);
  brush = CreateSolidBrush(bottom_.load());
  FillRect(dc, &bottom, brush);
  DeleteObject(brush);
  const RECT spot{spotLeft_.load(), spotTop_.load(), spotRight_.load(), spotBottom_.load()};
  if (!IsRectEmpty(&spot)) {
    brush = CreateSolidBrush(spotColour_.load());
    FillRect(dc, &spot, brush);
    DeleteObject(brush);
  }
}

std::wstring uniqueToken() { return L"Zq" + std::to_wstring(GetCurrentProcessId()) + L"x"; }

}  // namespace zor::test
