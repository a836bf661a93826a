#include "Input.h"

#include <cctype>

namespace zor::sim {

bool splitKeyCombo(const std::string& combo, std::vector<std::string>& keys) {
  keys.clear();
  size_t start = 0;
  while (start <= combo.size()) {
    size_t plus = combo.find('+', start);
    std::string k = combo.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
    if (k.empty()) return false;
    keys.push_back(k);
    if (plus == std::string::npos) break;
    start = plus + 1;
  }
  return !keys.empty();
}

int virtualKeyFor(const std::string& key) {
  std::string k;
  for (char c : key) k += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (k == "ctrl" || k == "control" || k == "control_l") return VK_CONTROL;
  if (k == "shift" || k == "shift_l") return VK_SHIFT;
  if (k == "alt" || k == "alt_l") return VK_MENU;
  if (k == "up") return VK_UP;
  if (k == "down") return VK_DOWN;
  if (k == "left") return VK_LEFT;
  if (k == "right") return VK_RIGHT;
  if (k == "space") return VK_SPACE;
  if (k == "return" || k == "enter") return VK_RETURN;
  if (k == "escape") return VK_ESCAPE;
  if (k.size() >= 2 && k[0] == 'f' && std::isdigit(static_cast<unsigned char>(k[1]))) {
    int n = std::atoi(k.c_str() + 1);
    if (n >= 1 && n <= 24) return VK_F1 + n - 1;
  }
  if (k.size() == 1 && std::isalnum(static_cast<unsigned char>(k[0])))
    return std::toupper(static_cast<unsigned char>(k[0]));
  return 0;
}

bool runXdotool(const std::string& args, std::string& error) {
  std::wstring cmd = L"/usr/bin/xdotool " + std::wstring(args.begin(), args.end());
  STARTUPINFOW si{sizeof si};
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    error = "cannot start xdotool (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  // Wine starts a Unix program without making a Windows process for it and leaves the handles
  // it returns unset: closing those values would close whatever handles of this process they
  // happen to name (a thread's, which a join then finds gone). Only the handles that are what
  // the call says they are get closed.
  if (pi.dwThreadId != 0 && GetThreadId(pi.hThread) == pi.dwThreadId) CloseHandle(pi.hThread);
  if (pi.dwProcessId != 0 && GetProcessId(pi.hProcess) == pi.dwProcessId) CloseHandle(pi.hProcess);
  return true;
}

unsigned long long xWindowOf(HWND window) {
  return reinterpret_cast<unsigned long long>(GetPropW(window, L"__wine_x11_whole_window"));
}

}  // namespace zor::sim
