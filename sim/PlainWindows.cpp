#include "PlainWindows.h"

#include <windows.h>

#include <atomic>
#include <thread>

namespace zor::sim {
namespace {

std::atomic<int> g_count{0};

struct Batch {
  int first = 0, count = 0;
  HANDLE done = nullptr;
  std::atomic<bool> ok{false};
};

DWORD WINAPI windowThread(void* param) {
  auto* batch = static_cast<Batch*>(param);
  WNDCLASSEXW wc{sizeof wc};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ZorSimPlainWindow";
  RegisterClassExW(&wc);
  bool ok = true;
  for (int i = 0; i < batch->count && ok; ++i) {
    const std::wstring title = L"Ventana " + std::to_wstring(batch->first + i + 1);
    HWND h = CreateWindowExW(WS_EX_TOOLWINDOW, wc.lpszClassName, title.c_str(), WS_POPUP | WS_VISIBLE,
                             1300 + (i % 20) * 30, 20 + (i / 20) * 30, 160, 40, nullptr, nullptr, wc.hInstance, nullptr);
    ok = h != nullptr;
  }
  batch->ok = ok;
  SetEvent(batch->done);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}

}  // namespace

bool openPlainWindows(int count, std::string& error) {
  // The batch lives as long as its thread, which lives as long as the simulator.
  auto* batch = new Batch;
  batch->first = g_count.load();
  batch->count = count;
  batch->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, &windowThread, batch, 0, nullptr);
  if (!thread) return error = "cannot start the windows' thread", false;
  CloseHandle(thread);
  if (WaitForSingleObject(batch->done, 60000) != WAIT_OBJECT_0 || !batch->ok) {
    return error = "the windows could not be opened", false;
  }
  g_count += count;
  return true;
}

int plainWindowCount() { return g_count.load(); }

}  // namespace zor::sim
