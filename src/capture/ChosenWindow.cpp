#include "capture/ChosenWindow.h"

#include "capture/ProgramNames.h"
#include "capture/WindowMatching.h"

namespace zor {

uint64_t processStartTime(DWORD processId) {
  if (processId == 0) return 0;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (!process) return 0;
  const uint64_t created = creationTime(process);
  CloseHandle(process);
  return created;
}

ChosenWindow resolveChosenWindow(HWND window) {
  ChosenWindow chosen;
  if (!window || !IsWindow(window)) return chosen;
  chosen.window = window;
  GetWindowThreadProcessId(window, &chosen.processId);
  chosen.processStart = processStartTime(chosen.processId);
  chosen.program = windowProgram(window);
  return chosen;
}

bool isChosenWindowAlive(const ChosenWindow& chosen) {
  if (!isSameWindowAlive(chosen.window, chosen.processId)) return false;
  return chosen.processStart == 0 || processStartTime(chosen.processId) == chosen.processStart;
}

}  // namespace zor
