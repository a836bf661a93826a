// Starting and stopping playback, whatever asks for it: the panel's buttons, a profile, smart
// capture, an application card. Every start goes through startPlayback, which points the
// capture engine at the window, restores the application's audio and leaves the start request
// that the Present hook takes. Render thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "media/AppLibrary.h"
#include "media/PanelState.h"

namespace zor {

// Panel rows: 854x480 -> 0, 1280x720 -> 1, 1600x900 -> 2, 1920x1080 -> 3, 2560x1440 -> 4,
// 3840x2160 -> 5, any other size -> 3; fps 15 -> 0, 30 -> 1, 45 -> 2, 60 -> 3, other -> 1.
int32_t resolutionIndex(int64_t width, int64_t height);
int32_t fpsIndex(int64_t fps);
// The panel's capture size and its row; the panel's rate (kept within 1..60) and its row.
void setPanelCaptureSize(uint32_t width, uint32_t height);
void setPanelFps(int32_t fps);

// Starts playback of source (media/ChosenSource.h). The keyword handed to the capture engine is
// searchKeyword (UTF-8) when non-empty, else the source's title. A source whose window lives is
// captured whatever its title becomes; otherwise the window the keyword (or its application's
// program) finds now is resolved and becomes the panel's source. The source's audio settings are
// restored. False (and nothing changed but the profile mode, which every call clears) for a
// source without title. knownProgram (lower case) names the program whose main window stands for
// the keyword when the source's library application names none.
bool startPlayback(ChosenSource source, uint32_t width, uint32_t height, int32_t fps, std::string_view searchKeyword,
                   const std::wstring& knownProgram = {});
// An application's capture size, fps and (for a source with a title) volume become the panel's;
// the source becomes the panel's.
void applyAppSettings(const AppEntry& app, const ChosenSource& source);
// The source window's title as it reads now; the stored source title when no window is bound.
std::string sourceTitleNow();

// "Iniciar reproduccion": with a source window chosen, lifts the restore block, stores the
// panel's size, fps and volume into the window's library application (when there is one) and
// starts playback. False when no source window is chosen or the start failed.
bool startPlaybackFromPanel();
// "Restaurar GPS original": stops playback, gives the GPS its own picture back and blocks every
// automatic start until the next manual one.
void restoreOriginalGps();
// An application card's "Activar" for the window it matched.
bool activateApp(const AppEntry& app, const ChosenSource& source);

}  // namespace zor
