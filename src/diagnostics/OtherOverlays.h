// Who else is in the game's process: the overlays and injectors players run beside the plugin
// (their hooks on Present and the input functions, their window procedures), recognised by the
// file names of the modules they load. Support reads them at start in the log, in the
// diagnostics list and in the support report, so a crash of theirs is not taken for ours.
#pragma once

#include <string>
#include <vector>

namespace zor {

// Where a module file name means an overlay.
enum class OverlayPlace {
  Anywhere,    // its own name is enough (the Steam overlay's renderer, a frame-rate counter's hooks)
  GameFolder,  // a system library's name, loaded from the game's own folder (a post-processing proxy)
};

struct KnownOverlayModule {
  const wchar_t* fileName;  // compared without regard to case
  const char* product;
  OverlayPlace place;
};

// The table: one row per module file name. Add rows here.
inline constexpr KnownOverlayModule kKnownOverlayModules[] = {
    {L"GameOverlayRenderer64.dll", "Steam overlay", OverlayPlace::Anywhere},
    {L"RTSSHooks64.dll", "RivaTuner Statistics Server", OverlayPlace::Anywhere},
    {L"DiscordHook64.dll", "Discord overlay", OverlayPlace::Anywhere},
    {L"graphics-hook64.dll", "OBS game capture", OverlayPlace::Anywhere},
    {L"dxgi.dll", "proxy grafico (ReShade u otro)", OverlayPlace::GameFolder},
    {L"d3d11.dll", "proxy grafico (ReShade u otro)", OverlayPlace::GameFolder},
    {L"opengl32.dll", "proxy grafico (ReShade u otro)", OverlayPlace::GameFolder},
};

// The overlays among the given module paths, in their order: "<product> (<file name>)", and
// "plugin de telemetria (<file name>)" for every other module loaded from the plugins folder
// (ownModule, the plugin itself, left out). Folders compare without regard to case or a last
// separator; an empty folder matches nothing.
std::vector<std::string> recognizeOverlays(const std::vector<std::wstring>& modulePaths, const std::wstring& gameFolder,
                                           const std::wstring& pluginsFolder, const std::wstring& ownModule);

// The same for the modules loaded in this process now, the game's folder being the host
// executable's and the plugins folder the plugin's own.
std::vector<std::string> otherOverlaysInProcess();

// "Otros overlays en el juego: a, b" or "... ninguno" (the line logged at start).
std::string otherOverlaysLine(const std::vector<std::string>& overlays);

}  // namespace zor
