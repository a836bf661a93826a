// Another program that keeps the clipboard open: opens it for a window of its own, as programs
// do, sets the event named by the first argument, and closes it when the event named by the
// second is set (or after 30 s).
#include <windows.h>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
  HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, argv[2]);
  if (!held || !release) return 3;
  HWND window = CreateWindowExA(0, "STATIC", "zor-clipboard-holder", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (!window || !OpenClipboard(window)) return 4;
  SetEvent(held);
  WaitForSingleObject(release, 30000);
  CloseClipboard();
  DestroyWindow(window);
  CloseHandle(held);
  CloseHandle(release);
  return 0;
}
