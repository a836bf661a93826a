// The support report: the last diagnostic result (DiagnosticsCenter) as plain text, saved as
// "ZorTabcast_Diagnostic_Report.txt" beside the plugin DLL (UTF-8 without byte order mark, line
// feeds only), shown in Explorer with the file selected, and copied to the clipboard as UTF-16.
// After the fixed layout the report carries the newest lines of this session's log, which is
// what support asks for next. Render thread only; every failure is a message in
// DiagnosticsCenter::actionMessage.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace zor {

class DiagnosticsCenter;

class SupportReport {
 public:
  static constexpr const wchar_t* kFileName = L"ZorTabcast_Diagnostic_Report.txt";
  static constexpr size_t kLogLines = 200;

  // The report text: the fixed layout of the center's fields, then the log lines given.
  static std::string buildText(const DiagnosticsCenter& center, const std::vector<std::string>& logLines);

  // Runs a check first when none ran, builds the text (reportText), writes the file and
  // remembers its path (reportPath).
  static bool exportReport();
  // Opens Explorer on the report's folder with the file selected (exporting first when none was).
  static bool openReportFolder();
  // Puts reportText on the clipboard as UTF-16 text (exporting first when there is none), with
  // owner (a window of the game's or ours) as the clipboard's owner.
  static bool copyReportToClipboard(HWND owner);

  // Tests: the folder the report is written to; empty restores the plugin's folder.
  static void setFolder(const std::wstring& folder);
  // Tests: what opens Explorer (ShellExecuteW unless replaced; nullptr restores it).
  using ShellOpen = HINSTANCE(WINAPI*)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
  static void setShellOpen(ShellOpen fn);
};

}  // namespace zor
