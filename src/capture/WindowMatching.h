// Finding the user's media window by a title fragment (the "keyword"), and listing the titles
// of the visible top-level windows. Stateless: every call walks the desktop again, front to
// back, and the first visible window that matches wins.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

// Titles take part in comparisons with at most this many characters.
inline constexpr size_t kMaxTitleChars = 511;

// text without its counter groups "(" digits ")", e.g. "(3) YouTube" -> " YouTube". Anything
// else, blanks around a removed group included, is kept.
std::wstring stripCounterGroups(const std::wstring& text);

// The display name of the first built-in alias whose key occurs in the lower-cased keyword
// ("youtube music - mix" -> "YouTube"), or the empty string.
std::wstring resolveTitleAlias(const std::wstring& keyword);

// The first visible top-level window whose title contains keyword (case-sensitive); failing
// that, the first whose counter-stripped title contains the counter-stripped keyword.
HWND findWindowByTitleFragment(const std::wstring& keyword);

// The first visible top-level window whose title contains text in any letter case (towlower).
HWND findWindowByTitleIgnoringCase(const std::wstring& text);

// The capture worker's search: the fragment search, then the same search for the keyword's
// alias, then (with a program named) that program's main window. Null for an empty keyword.
HWND findCaptureWindow(const std::wstring& keyword, const std::wstring& program = {});

// A visible top-level window with a non-empty title, as listed for recognition.
struct VisibleWindow {
  HWND window = nullptr;
  DWORD processId = 0;
  std::wstring title;    // at most kMaxTitleChars characters
  std::wstring program;  // lower-case executable file name; filled only when asked for
};
// Appends every visible top-level window with a non-empty title, in enumeration order; with
// withPrograms each gets its process's executable name.
void listVisibleWindows(std::vector<VisibleWindow>& out, bool withPrograms);

// Lower-case executable file name of a process ("spotify.exe"), or empty.
std::wstring processImageName(DWORD processId);
// A web browser's program ("chrome.exe", "msedge.exe", "firefox.exe"...): its windows are tabs of
// any site, so the program alone names none of them.
bool isWebBrowser(std::wstring_view program);
// The process whose program a window shows: its own, except for a store app's frame, which
// belongs to ApplicationFrameHost.exe and shows the program of its content window.
DWORD contentProcessId(HWND window);
// The lower-case executable name of that process, or empty.
std::wstring windowProgram(HWND window);

// EnumWindows, counted: every walk of the desktop's windows made for the plugin goes through it,
// so tests and benchmarks can tell how often an operation walks them.
BOOL enumerateWindows(WNDENUMPROC visit, LPARAM param);
uint64_t windowEnumerations() noexcept;

// Windows that DWM keeps cloaked (on another virtual desktop, a suspended store app) are not
// on screen: every listing and search here skips them. The question is DWM's unless a test
// installs its own (nullptr restores DWM's).
using CloakedQuery = bool (*)(HWND window);
void setCloakedQuery(CloakedQuery query) noexcept;
bool isCloaked(HWND window);
// The main window of a program among windows: the largest one that is not a tool window.
// -1 when none of them belongs to the program (or program is empty).
int programMainWindow(const std::vector<VisibleWindow>& windows, const std::wstring& program);
// The program's main window on the desktop now, or null.
HWND findProgramMainWindow(const std::wstring& program);
// A window's title as the system keeps it (no message sent), at most kMaxTitleChars characters.
std::wstring windowTitle(HWND window);
// The window still exists and belongs to the process (a handle the system gave to a new window
// of another process does not count).
bool isSameWindowAlive(HWND window, DWORD processId);

// Appends the title of every visible top-level window with a non-empty title, in enumeration
// order; out is not cleared first.
void listVisibleWindowTitles(std::vector<std::wstring>& out);

// fragment occurs in text once both are lower-cased with towlower; an empty fragment always does.
bool containsIgnoreCase(const std::wstring& text, const std::wstring& fragment);

}  // namespace zor
