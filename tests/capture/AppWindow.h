// Real top-level windows of the test process for the capture tests. Each lives on its own thread
// with its own message loop (as an application's window would, so PrintWindow from the capture
// worker is answered while the test thread waits). They are topmost (so they come before the
// windows of other programs on the shared display in every enumeration), never activated, and
// paint two colours (top half, bottom half) on WM_PAINT and WM_PRINTCLIENT.
// Hiding or destroying a shown window costs about 2 s under Wine: a test program keeps the few
// it needs for its whole run.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

namespace zor::test {

class AppWindow {
 public:
  // style: extra styles (WS_VISIBLE, WS_MINIMIZE); client size width x height at (x, y).
  AppWindow(const std::wstring& title, DWORD style, int x = 40, int y = 40, int width = 320, int height = 180);
  ~AppWindow();
  AppWindow(const AppWindow&) = delete;
  AppWindow& operator=(const AppWindow&) = delete;

  HWND hwnd() const { return hwnd_; }
  // Destroys the window (on its thread) and ends the thread; the handle then is stale.
  void destroy();
  void setTitle(const std::wstring& title) { SetWindowTextW(hwnd_, title.c_str()); }
  // Puts the window in front of every other window (its enumeration position becomes first).
  void toFront() { SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE); }
  // The colours of the top and bottom halves of the client area (repainted at once).
  void setColours(COLORREF top, COLORREF bottom) {
    top_ = top;
    bottom_ = bottom;
    InvalidateRect(hwnd_, nullptr, FALSE);
  }
  // A rectangle of the client area painted in one colour over the halves (an empty one: none).
  void setSpot(RECT spot, COLORREF colour) {
    spotLeft_ = spot.left, spotTop_ = spot.top, spotRight_ = spot.right, spotBottom_ = spot.bottom;
    spotColour_ = colour;
    InvalidateRect(hwnd_, nullptr, FALSE);
  }
  // false: WM_PRINTCLIENT paints nothing (PrintWindow leaves the window black, as it does for
  // another process's window on some hosts); the screen still shows the window's picture.
  void setPrintable(bool printable) { printable_ = printable; }
  // Client area of width x height (0 x 0 leaves nothing to capture).
  void resizeClient(int width, int height);
  // The next WM_PRINT/WM_PRINTCLIENT destroys the window while it is being printed.
  void destroyOnNextPrint() { destroyOnPrint_ = true; }
  // The next WM_PRINT/WM_PRINTCLIENT keeps the window's thread from answering for ms (a hung
  // application); hanging() is true meanwhile.
  void hangOnNextPrint(DWORD ms) { hangOnPrintMs_ = ms; }
  bool hanging() const { return hanging_.load(); }
  unsigned paints() const { return paints_.load(); }
  // What the last WM_PRINT asked for (PRF_ flags).
  unsigned lastPrintFlags() const { return printFlags_.load(); }

 private:
  static LRESULT CALLBACK wndProc(HWND, UINT, WPARAM, LPARAM);
  void paint(HDC dc);
  void threadMain(const std::wstring& title, DWORD style, int x, int y, int width, int height, HANDLE ready);

  std::thread thread_;
  DWORD threadId_ = 0;
  HWND hwnd_ = nullptr;
  std::atomic<COLORREF> top_{RGB(200, 40, 40)};
  std::atomic<COLORREF> bottom_{RGB(40, 40, 200)};
  std::atomic<unsigned> paints_{0};
  std::atomic<unsigned> printFlags_{0};
  std::atomic<bool> destroyOnPrint_{false};
  std::atomic<DWORD> hangOnPrintMs_{0};
  std::atomic<bool> hanging_{false};
  std::atomic<bool> printable_{true};
  std::atomic<int> spotLeft_{0}, spotTop_{0}, spotRight_{0}, spotBottom_{0};
  std::atomic<COLORREF> spotColour_{0};
  DWORD style_ = 0;
};

// A title unique to this test process, so windows of other programs never match by accident.
std::wstring uniqueToken();

}  // namespace zor::test
