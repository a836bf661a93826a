#include "MediaTestSupport.h"

namespace zor::test {
namespace {

ShortcutResult g_lastShortcut = ShortcutResult::NotHandled;

LRESULT CALLBACK testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_KILLFOCUS:
      // What the overlay's window procedure does with the panel closed.
      g_lastShortcut = handleMediaShortcut(message, wParam, lParam);
      if (g_lastShortcut == ShortcutResult::Consumed) return 0;
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

struct Windows {
  HWND top[TestWindows::kCount] = {};
  HWND child = nullptr;
  Windows() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &testWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZorMediaTestWindow";
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    RegisterClassW(&wc);
    for (size_t i = 0; i < TestWindows::kCount; ++i) {
      top[i] = CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 40 + 30 * static_cast<int>(i), 40,
                               200, 120, nullptr, nullptr, wc.hInstance, nullptr);
      ShowWindow(top[i], SW_SHOWNOACTIVATE);
    }
    child = CreateWindowExW(0, wc.lpszClassName, L"", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, top[0], nullptr,
                            wc.hInstance, nullptr);
  }
};

Windows& windows() {
  static Windows w;
  return w;
}

}  // namespace

HWND TestWindows::get(size_t i) { return windows().top[i]; }

HWND TestWindows::child() { return windows().child; }

void TestWindows::clearAll() {
  for (size_t i = 0; i < kCount; ++i) setTitle(i, L"");
}

std::vector<TestWindows::Posted> TestWindows::takePosted(size_t i) {
  std::vector<Posted> out;
  MSG msg;
  while (PeekMessageW(&msg, get(i), 0, 0, PM_REMOVE)) {
    if (msg.message == WM_APPCOMMAND) out.push_back({msg.message, msg.wParam, msg.lParam});
    DispatchMessageW(&msg);
  }
  return out;
}

ShortcutResult lastShortcutResult() { return g_lastShortcut; }

}  // namespace zor::test
