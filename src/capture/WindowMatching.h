// Finding the user's media window by a title fragment (the "keyword"), and listing the titles
// of the visible top-level windows. Stateless: every call walks the desktop again, front to
// back, and the first visible window that matches wins.
#pragma once

#include <windows.h>

#include <string>
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

// The capture worker's search: the fragment search, then the same search for the keyword's
// alias. Null for an empty keyword.
HWND findCaptureWindow(const std::wstring& keyword);

// Appends the title of every visible top-level window with a non-empty title, in enumeration
// order; out is not cleared first.
void listVisibleWindowTitles(std::vector<std::wstring>& out);

// fragment occurs in text once both are lower-cased with towlower; an empty fragment always does.
bool containsIgnoreCase(const std::wstring& text, const std::wstring& fragment);

}  // namespace zor
