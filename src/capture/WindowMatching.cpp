#include "capture/WindowMatching.h"

#include <windows.h>

#include <cwctype>

namespace zor {
namespace {
BOOL CALLBACK collectTitle(HWND window, LPARAM param) {
  if (!IsWindowVisible(window)) return TRUE;
  wchar_t title[512] = {};
  const int n = GetWindowTextW(window, title, 512);
  if (n >= 1) reinterpret_cast<std::vector<std::wstring>*>(param)->emplace_back(title, static_cast<size_t>(n));
  return TRUE;
}

std::wstring lowered(const std::wstring& text) {
  std::wstring out = text;
  for (wchar_t& c : out) c = static_cast<wchar_t>(std::towlower(c));
  return out;
}
}  // namespace

void listVisibleWindowTitles(std::vector<std::wstring>& out) {
  EnumWindows(&collectTitle, reinterpret_cast<LPARAM>(&out));
}

bool containsIgnoreCase(const std::wstring& text, const std::wstring& fragment) {
  if (fragment.empty()) return true;
  return lowered(text).find(lowered(fragment)) != std::wstring::npos;
}

}  // namespace zor
