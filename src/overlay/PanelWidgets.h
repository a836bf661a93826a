// Small drawing helpers the panel's tabs share. Internal to the overlay.
#pragma once

#include <imgui.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "core/KeyBindings.h"
#include "overlay/Texts.h"

namespace zor::overlay {

// The capture sizes and rates the panel offers (the Playback tab, the application editor, the
// wizard's presets), row by row.
struct Resolution {
  Txt label;  // tr(label) is the text shown
  int32_t width, height;
};
inline constexpr Resolution kResolutions[] = {
    {"480p  |  854 x 480", 854, 480},
    {"HD  |  1280 x 720", 1280, 720},
    {"HD+  |  1600 x 900", 1600, 900},
    {"Full HD (Recomendado)  |  1920 x 1080", 1920, 1080},
    {"2K  |  2560 x 1440", 2560, 1440},
    {"4K UHD  |  3840 x 2160", 3840, 2160},
};
struct Rate {
  Txt label;
  int32_t fps;
};
inline constexpr Rate kRates[] = {{"15 FPS", 15}, {"30 FPS (Recomendado)", 30}, {"45 FPS", 45}, {"60 FPS", 60}};

// Section titles of the Playback and Profiles tabs.
inline constexpr ImVec4 kSectionColour{0.22f, 0.72f, 1.0f, 1.0f};

void sectionTitle(const char* text);
// Width of one of n buttons on a line, with `gap` pixels between them in all.
float buttonWidth(int n, float gap);
// A selectable row showing text exactly as it is (a title may hold "##", which ImGui would
// otherwise read as the start of an id). True when clicked.
bool selectableText(int id, std::string_view text, bool selected);
// A combo box whose closed preview shows text exactly as it is.
bool beginComboText(const char* id, std::string_view preview);
// Copies text into a fixed-size buffer as an input field edits it (cut at a character
// boundary, always terminated).
void fillBuffer(char* buffer, size_t size, std::string_view text);
// The action's key in force as the panel shows it ("Ctrl + F8", "Ctrl + Arriba"), or "Sin tecla".
std::string keyLabel(keys::Action action);

}  // namespace zor::overlay
