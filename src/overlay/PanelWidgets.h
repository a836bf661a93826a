// Small drawing helpers the panel's tabs share. Internal to the overlay.
#pragma once

#include <imgui.h>

#include <string>
#include <string_view>

namespace zor::overlay {

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

}  // namespace zor::overlay
