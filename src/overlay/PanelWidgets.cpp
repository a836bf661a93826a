#include "overlay/PanelWidgets.h"

#include <imgui_internal.h>

#include <algorithm>
#include <cstring>

#include "media/PanelState.h"

namespace zor::overlay {

void sectionTitle(const char* text) { ImGui::TextColored(kSectionColour, "%s", text); }

float buttonWidth(int n, float gap) { return std::max(1.0f, (ImGui::GetContentRegionAvail().x - gap) / n); }

bool selectableText(int id, std::string_view text, bool selected) {
  ImGui::PushID(id);
  const bool clicked = ImGui::Selectable("##row", selected);
  if (selected) ImGui::SetItemDefaultFocus();
  const ImVec2 at = ImGui::GetItemRectMin();
  ImGui::GetWindowDrawList()->AddText(at, ImGui::GetColorU32(ImGuiCol_Text), text.data(), text.data() + text.size());
  ImGui::PopID();
  return clicked;
}

bool beginComboText(const char* id, std::string_view preview) {
  ImGui::SetNextItemWidth(-FLT_MIN);
  if (!ImGui::BeginCombo(id, nullptr, ImGuiComboFlags_CustomPreview)) {
    if (ImGui::BeginComboPreview()) {
      ImGui::TextUnformatted(preview.data(), preview.data() + preview.size());
      ImGui::EndComboPreview();
    }
    return false;
  }
  if (ImGui::BeginComboPreview()) {
    ImGui::TextUnformatted(preview.data(), preview.data() + preview.size());
    ImGui::EndComboPreview();
  }
  return true;
}

void fillBuffer(char* buffer, size_t size, std::string_view text) {
  const std::string clipped = clipUtf8(text, size - 1);
  std::memcpy(buffer, clipped.data(), clipped.size());
  buffer[clipped.size()] = '\0';
}

}  // namespace zor::overlay
