// The simulator's console: every line goes to standard output and to console.txt in the
// output folder; callable from any thread.
#pragma once

#include <string>

namespace zor::sim {

void consoleOpenFile(const std::wstring& path);
void consoleCloseFile();
void say(const std::string& line);
// Elapsed milliseconds since the simulator started (for timestamps).
unsigned long long uptimeMs();

}  // namespace zor::sim
