#include "MediaTestSupport.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace zor::test {
namespace {

constexpr UINT kSetKeyState = WM_APP + 1;  // wParam: const BYTE[256]
constexpr UINT kMarker = WM_APP + 2;       // lParam: event to set

std::atomic<ShortcutResult> g_lastShortcut{ShortcutResult::NotHandled};
std::mutex g_postedMutex;
std::vector<std::pair<HWND, TestWindows::Posted>> g_posted;

LRESULT CALLBACK testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_KILLFOCUS: {
      // What the overlay's window procedure does with the panel closed.
      const ShortcutResult result = handleMediaShortcut(message, wParam, lParam);
      g_lastShortcut = result;
      if (result == ShortcutResult::Consumed) return 0;
      break;
    }
    case WM_APPCOMMAND: {
      std::lock_guard<std::mutex> lock(g_postedMutex);
      g_posted.push_back({window, {message, wParam, lParam}});
      return TRUE;
    }
    case kSetKeyState:
      SetKeyboardState(reinterpret_cast<BYTE*>(wParam));
      return 0;
    case kMarker:
      SetEvent(reinterpret_cast<HANDLE>(lParam));
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// The windows live on a thread of their own with a message loop, as an application's would:
// other threads (the capture worker, title reads) send them messages at any time.
struct Windows {
  HWND top[TestWindows::kCount] = {};
  HWND child = nullptr;
  Windows() {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread([this, ready] {
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
      SetEvent(ready);
      MSG msg;
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }).detach();  // lives as long as the program: destroying shown windows costs seconds
    WaitForSingleObject(ready, 10000);
    CloseHandle(ready);
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
  // Messages are handled in the order they were posted: once a marker posted now has been
  // handled, everything posted before it has been too.
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  PostMessageW(get(i), kMarker, 0, reinterpret_cast<LPARAM>(done));
  WaitForSingleObject(done, 10000);
  CloseHandle(done);
  std::vector<Posted> out;
  std::lock_guard<std::mutex> lock(g_postedMutex);
  for (auto it = g_posted.begin(); it != g_posted.end();) {
    if (it->first == get(i)) {
      out.push_back(it->second);
      it = g_posted.erase(it);
    } else {
      ++it;
    }
  }
  return out;
}

void TestWindows::setHeldKeys(const std::vector<int>& keys) {
  BYTE state[256] = {};
  for (int key : keys) state[key] = 0x80;
  SendMessageW(get(0), kSetKeyState, reinterpret_cast<WPARAM>(state), 0);
}

ShortcutResult lastShortcutResult() { return g_lastShortcut.load(); }

}  // namespace zor::test
