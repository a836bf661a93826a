#include "capture/WindowDpi.h"

namespace zor {
namespace {

using GetWindowContextFn = HANDLE(WINAPI*)(HWND);
using SetThreadContextFn = HANDLE(WINAPI*)(HANDLE);
using ContextsEqualFn = BOOL(WINAPI*)(HANDLE, HANDLE);
using GetThreadContextFn = HANDLE(WINAPI*)();

struct DpiFunctions {
  GetWindowContextFn windowContext = nullptr;
  SetThreadContextFn setThreadContext = nullptr;
  GetThreadContextFn threadContext = nullptr;
  ContextsEqualFn equal = nullptr;
  bool usable() const { return windowContext && setThreadContext && threadContext && equal; }
};

const DpiFunctions& dpiFunctions() {
  static const DpiFunctions functions = [] {
    DpiFunctions f;
    if (HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
      f.windowContext = reinterpret_cast<GetWindowContextFn>(GetProcAddress(user32, "GetWindowDpiAwarenessContext"));
      f.setThreadContext = reinterpret_cast<SetThreadContextFn>(GetProcAddress(user32, "SetThreadDpiAwarenessContext"));
      f.threadContext = reinterpret_cast<GetThreadContextFn>(GetProcAddress(user32, "GetThreadDpiAwarenessContext"));
      f.equal = reinterpret_cast<ContextsEqualFn>(GetProcAddress(user32, "AreDpiAwarenessContextsEqual"));
    }
    return f;
  }();
  return functions;
}

}  // namespace

WindowDpiScope::WindowDpiScope(HWND window) noexcept {
  const DpiFunctions& f = dpiFunctions();
  if (!f.usable() || !window) return;
  const HANDLE own = f.windowContext(window);
  if (!own || f.equal(own, f.threadContext())) return;
  previous_ = f.setThreadContext(own);
}

WindowDpiScope::~WindowDpiScope() {
  if (previous_) dpiFunctions().setThreadContext(previous_);
}

}  // namespace zor
