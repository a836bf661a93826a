// The panel's look: the style and colours applied once to the ImGui context, and the fixed
// palette of status colours the tabs use.
#pragma once

#include <imgui.h>

namespace zor::theme {

void apply(ImGuiStyle& style);

inline constexpr ImVec4 kGreen{0.2f, 0.9f, 0.36f, 1.0f};   // ready, active, OK
inline constexpr ImVec4 kAmber{1.0f, 0.68f, 0.24f, 1.0f};  // waiting
inline constexpr ImVec4 kRed{1.0f, 0.42f, 0.3f, 1.0f};     // blocked, error
inline constexpr ImVec4 kTitleCyan{0.25f, 0.78f, 1.0f, 1.0f};
inline constexpr ImVec4 kLightBlue{0.72f, 0.86f, 1.0f, 1.0f};
inline constexpr ImVec4 kMutedGreyBlue{0.48f, 0.57f, 0.68f, 1.0f};

}  // namespace zor::theme
