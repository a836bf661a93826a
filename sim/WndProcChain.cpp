#include "WndProcChain.h"

namespace zor::sim {
namespace {

WNDPROC g_saved = nullptr;
bool g_swallowing = false;
unsigned long long g_messages = 0;

LRESULT CALLBACK chainedProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_swallowing && message >= 0xC000 && message <= 0xFFFF) return DefWindowProcW(window, message, wParam, lParam);
  ++g_messages;
  return CallWindowProcW(g_saved, window, message, wParam, lParam);
}

}  // namespace

bool addChainedWndProc(HWND window, bool swallowing) {
  if (g_saved) return false;
  WNDPROC saved = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
  if (!saved) return false;
  g_saved = saved;
  g_swallowing = swallowing;
  SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&chainedProc));
  return true;
}

void keepChainedWndProcOnTop(HWND window) {
  if (!g_saved || !g_swallowing || chainedWndProcOnTop(window)) return;
  g_saved = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&chainedProc)));
}

void forgetChainedWndProc() { g_saved = nullptr; }

bool removeChainedWndProc(HWND window) {
  if (!g_saved) return false;
  SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_saved));
  g_saved = nullptr;
  return true;
}

bool chainedWndProcOnTop(HWND window) {
  return g_saved && reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC)) == &chainedProc;
}

unsigned long long chainedWndProcMessages() { return g_messages; }

}  // namespace zor::sim
