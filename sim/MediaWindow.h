// Media windows: top-level windows of this process standing in for a browser tab or a music
// player. Each runs on its own thread with its own message loop and paints moving colour bars
// with a frame counter on WM_PAINT and WM_PRINTCLIENT, so a capture of it is recognisable.
// Each is owned by a hidden window of its thread, so it never passes for the game's window.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace zor::sim {

class MediaWindow {
 public:
  MediaWindow(std::string id, std::wstring title, int index);
  ~MediaWindow();
  MediaWindow(const MediaWindow&) = delete;
  MediaWindow& operator=(const MediaWindow&) = delete;

  // Creates the window on its thread; false when it did not come up within the timeout.
  bool open(DWORD timeoutMs);
  void setTitle(const std::wstring& title);
  void show(int command);  // SW_HIDE, SW_SHOWNOACTIVATE, SW_MINIMIZE, SW_RESTORE
  // Closes the window and joins its thread (bounded by the timeout).
  bool close(DWORD timeoutMs);

  const std::string& id() const { return id_; }
  HWND hwnd() const { return hwnd_.load(); }
  unsigned paints() const { return paints_.load(); }

 private:
  void threadMain();
  static LRESULT CALLBACK wndProc(HWND, UINT, WPARAM, LPARAM);
  void paint(HDC dc, const RECT& rc);

  std::string id_;
  std::wstring title_;
  int index_;
  std::thread thread_;
  std::atomic<HWND> hwnd_{nullptr};
  std::atomic<bool> ready_{false}, failed_{false};
  std::atomic<unsigned> paints_{0};
  HANDLE readyEvent_ = nullptr;
  HANDLE doneEvent_ = nullptr;
};

}  // namespace zor::sim
