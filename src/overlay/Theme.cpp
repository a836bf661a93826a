#include "overlay/Theme.h"

namespace zor::theme {

void apply(ImGuiStyle& s) {
  s.WindowPadding = ImVec2(18, 16);
  s.WindowRounding = 14;
  s.ChildRounding = 11;
  s.PopupRounding = 9;
  s.WindowBorderSize = 1;
  s.ChildBorderSize = 1;
  s.PopupBorderSize = 1;
  s.FramePadding = ImVec2(11, 8);
  s.FrameRounding = 8;
  s.FrameBorderSize = 0;
  s.ItemSpacing = ImVec2(10, 10);
  s.ItemInnerSpacing = ImVec2(8, 6);
  s.CellPadding = ImVec2(8, 6);
  s.ScrollbarSize = 13;
  s.ScrollbarRounding = 9;
  s.GrabMinSize = 10;
  s.GrabRounding = 8;
  s.TabRounding = 8;
  s.TabBorderSize = 0;

  ImVec4* c = s.Colors;
  c[ImGuiCol_Text] = ImVec4(0.91f, 0.95f, 1.0f, 1.0f);
  c[ImGuiCol_TextDisabled] = ImVec4(0.48f, 0.57f, 0.68f, 1.0f);
  c[ImGuiCol_WindowBg] = ImVec4(0.025f, 0.045f, 0.075f, 0.985f);
  c[ImGuiCol_ChildBg] = ImVec4(0.035f, 0.07f, 0.115f, 0.94f);
  c[ImGuiCol_PopupBg] = ImVec4(0.028f, 0.055f, 0.09f, 0.99f);
  c[ImGuiCol_Border] = ImVec4(0.1f, 0.42f, 0.72f, 0.72f);
  c[ImGuiCol_BorderShadow] = ImVec4(0, 0, 0, 0);
  c[ImGuiCol_FrameBg] = ImVec4(0.055f, 0.105f, 0.165f, 1);
  c[ImGuiCol_FrameBgHovered] = ImVec4(0.075f, 0.185f, 0.285f, 1);
  c[ImGuiCol_FrameBgActive] = ImVec4(0.075f, 0.255f, 0.42f, 1);
  c[ImGuiCol_TitleBg] = ImVec4(0.025f, 0.09f, 0.16f, 1);
  c[ImGuiCol_TitleBgActive] = ImVec4(0.03f, 0.145f, 0.26f, 1);
  c[ImGuiCol_TitleBgCollapsed] = ImVec4(0.025f, 0.09f, 0.16f, 1);
  c[ImGuiCol_ScrollbarBg] = ImVec4(0.02f, 0.04f, 0.065f, 0.7f);
  c[ImGuiCol_ScrollbarGrab] = ImVec4(0.08f, 0.26f, 0.43f, 0.85f);
  c[ImGuiCol_ScrollbarGrabHovered] = ImVec4(0.1f, 0.39f, 0.64f, 1);
  c[ImGuiCol_ScrollbarGrabActive] = ImVec4(0.12f, 0.5f, 0.8f, 1);
  c[ImGuiCol_CheckMark] = ImVec4(0.18f, 0.78f, 1.0f, 1.0f);
  c[ImGuiCol_SliderGrab] = ImVec4(0.15f, 0.64f, 1.0f, 1.0f);
  c[ImGuiCol_SliderGrabActive] = ImVec4(0.25f, 0.82f, 1.0f, 1.0f);
  c[ImGuiCol_Button] = ImVec4(0.035f, 0.3f, 0.56f, 1);
  c[ImGuiCol_ButtonHovered] = ImVec4(0.055f, 0.43f, 0.76f, 1);
  c[ImGuiCol_ButtonActive] = ImVec4(0.025f, 0.235f, 0.455f, 1);
  c[ImGuiCol_Header] = ImVec4(0.045f, 0.245f, 0.44f, 1);
  c[ImGuiCol_HeaderHovered] = ImVec4(0.06f, 0.365f, 0.64f, 1);
  c[ImGuiCol_HeaderActive] = ImVec4(0.04f, 0.285f, 0.51f, 1);
  c[ImGuiCol_Separator] = ImVec4(0.1f, 0.32f, 0.52f, 0.7f);
  c[ImGuiCol_SeparatorHovered] = ImVec4(0.15f, 0.55f, 0.86f, 1);
  c[ImGuiCol_SeparatorActive] = ImVec4(0.2f, 0.7f, 1.0f, 1.0f);
  c[ImGuiCol_TabHovered] = ImVec4(0.055f, 0.36f, 0.63f, 1);
  c[ImGuiCol_Tab] = ImVec4(0.035f, 0.115f, 0.195f, 1);
  // This ImGui release names the selected and dimmed tab colours Active and Unfocused.
  c[ImGuiCol_TabActive] = ImVec4(0.045f, 0.285f, 0.52f, 1);
  c[ImGuiCol_TabUnfocused] = ImVec4(0.03f, 0.09f, 0.15f, 1);
  c[ImGuiCol_TabUnfocusedActive] = ImVec4(0.04f, 0.21f, 0.365f, 1);
  c[ImGuiCol_NavHighlight] = ImVec4(0.2f, 0.7f, 1.0f, 0.8f);
}

}  // namespace zor::theme
