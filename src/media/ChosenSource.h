// Resolving the chosen source (ChosenSource, media/PanelState.h): once when a window is chosen,
// and again only when its window is gone. Everything else takes the resolved value as it is.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "capture/WindowMatching.h"
#include "media/PanelState.h"

namespace zor {

// A window (null: a title alone) and its title: the window's process, start time and program
// (one look-up), and the library application that recognises the title or the program.
ChosenSource resolveSource(std::string_view titleUtf8, HWND window);
// The same for a window of a listing, which already names its process and program.
ChosenSource resolveListedSource(const VisibleWindow& listed, std::string_view titleUtf8);
// A title alone resolved on the desktop: the first visible window whose title contains it in any
// letter case; the title alone when none does.
ChosenSource findSourceByTitle(std::string_view titleUtf8);
// The panel's source as the audio uses it: the value itself while its window lives; else the
// window the capture engine has bound since (it searches for a lost window), else the first
// window whose title contains the source's title, resolved with the title the panel shows.
ChosenSource liveSource();
// The program whose main window stands for the source's keyword when no title holds it: the one
// its library application names (empty: none).
std::wstring searchProgramOf(const ChosenSource& source);

}  // namespace zor
