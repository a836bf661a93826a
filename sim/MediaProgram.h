// A media program: zor_media.exe (sim/media_app) started as a process of its own, standing in
// for a browser tab or a music player. The simulator drives its window from outside, as the
// user would: retitle, minimise, hide, show, close (WM_CLOSE ends the program), and reopens it
// by starting a new process. Programs are started in a job that ends them with the simulator.
#pragma once

#include <windows.h>

#include <string>

namespace zor::sim {

class MediaProgram {
 public:
  // index places the window (beside the game's window, one step lower per program).
  MediaProgram(std::string id, std::wstring title, int index);
  ~MediaProgram();
  MediaProgram(const MediaProgram&) = delete;
  MediaProgram& operator=(const MediaProgram&) = delete;

  // Starts the program (zor_media.exe beside this executable, or `exe`) and waits until its
  // window is shown; false with `error` set when it did not come up within the timeout.
  bool open(DWORD timeoutMs, std::string& error, const std::wstring& exe = {});
  // Opens the program's still test chart instead, frameless over the top-left width x height of
  // the screen (call before open).
  void showChart(int width, int height) { chartWidth_ = width, chartHeight_ = height; }
  void setTitle(const std::wstring& title);
  void show(int command);  // SW_HIDE, SW_SHOWNOACTIVATE, SW_SHOWMINNOACTIVE, ...
  // The program's window thread stops answering messages for ms (a page busy in a script).
  void hang(DWORD ms);
  // Covered: the program stops painting its window, as a browser does with a window it thinks
  // is covered (its title and everything else stay); uncovered: it paints again.
  void setCovered(bool covered);
  // Asks the program to close its window and waits for the process to end (it is terminated
  // when it does not end within the timeout; the result is then false).
  bool close(DWORD timeoutMs);

  const std::string& id() const { return id_; }
  HWND hwnd() const { return hwnd_; }
  DWORD processId() const { return processId_; }
  // WM_APPCOMMAND messages the program received so far, and the last command's number.
  unsigned commandCount() const;
  int lastCommand() const;

 private:
  std::string id_;
  std::wstring title_;
  int index_;
  HANDLE process_ = nullptr;
  DWORD processId_ = 0;
  HWND hwnd_ = nullptr;
  int chartWidth_ = 0, chartHeight_ = 0;
  ULONGLONG hungUntil_ = 0;  // the program's window answers nothing before this tick
};

// A copy of zor_media.exe named `name` ("spotify.exe") in a temporary folder of its own, so the
// program runs under another application's executable name; empty when it could not be made.
std::wstring mediaProgramCopy(const std::wstring& name);

// "NEXTTRACK", "PLAY_PAUSE", ... for an APPCOMMAND number; "-" for none.
const char* mediaCommandName(int command);

}  // namespace zor::sim
