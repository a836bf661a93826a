// Window titles for the media sources: the visible windows' titles and the case-insensitive
// containment test. A stand-in with the two functions the media code needs, until the capture
// engine's window matching replaces this file.
#pragma once

#include <string>
#include <vector>

namespace zor {

// Appends the title (at most 511 characters) of every visible top-level window with a
// non-empty title, in enumeration order.
void listVisibleWindowTitles(std::vector<std::wstring>& out);
// Whether fragment occurs in text after both were lower-cased with towlower; an empty fragment
// is always contained.
bool containsIgnoreCase(const std::wstring& text, const std::wstring& fragment);

}  // namespace zor
