// A library of another program, for tests that need a module of its own in the process: one they
// can unload, or copy under an overlay's file name. Its window procedure counts what it sees and
// forwards everything to the procedure it found when it subclassed the window.
#include <windows.h>

namespace {
WNDPROC g_saved = nullptr;
int g_calls = 0;

LRESULT CALLBACK chainModuleProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  ++g_calls;
  return CallWindowProcW(g_saved, h, m, w, l);
}
}  // namespace

extern "C" __declspec(dllexport) void chainModuleSubclass(HWND window) {
  g_saved = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&chainModuleProc)));
}

extern "C" __declspec(dllexport) int chainModuleCalls() { return g_calls; }
