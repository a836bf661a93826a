// A window painted in its own DPI context. The capture worker is per-monitor DPI aware (it
// measures windows in their own pixels), but a program the system scales for it (not DPI-aware,
// on a 125-200 % display) paints at its logical size: measured and painted from a per-monitor
// context it would fill only the top-left part of a surface of its physical size. For the
// scope's life the thread takes the window's context; the functions are looked up at run time,
// so systems without them run as before.
#pragma once

#include <windows.h>

namespace zor {

class WindowDpiScope {
 public:
  explicit WindowDpiScope(HWND window) noexcept;
  ~WindowDpiScope();
  WindowDpiScope(const WindowDpiScope&) = delete;
  WindowDpiScope& operator=(const WindowDpiScope&) = delete;
  // The window's context is not the thread's own: the system scales the window.
  bool scaled() const { return previous_ != nullptr; }

 private:
  HANDLE previous_ = nullptr;  // the thread's context to restore; null when unchanged
};

}  // namespace zor
