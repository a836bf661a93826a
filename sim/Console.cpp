#include "Console.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

namespace zor::sim {

namespace {
std::mutex gMutex;
FILE* gFile = nullptr;
const ULONGLONG gStart = GetTickCount64();
}  // namespace

unsigned long long uptimeMs() { return GetTickCount64() - gStart; }

void consoleOpenFile(const std::wstring& path) {
  std::lock_guard lock(gMutex);
  if (gFile) fclose(gFile);
  gFile = _wfopen(path.c_str(), L"wb");
}

void consoleCloseFile() {
  std::lock_guard lock(gMutex);
  if (gFile) fclose(gFile);
  gFile = nullptr;
}

void say(const std::string& line) {
  std::lock_guard lock(gMutex);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  if (gFile) {
    std::fwrite(line.data(), 1, line.size(), gFile);
    std::fputc('\n', gFile);
    std::fflush(gFile);
  }
}

}  // namespace zor::sim
