// The panel's share of the overlay's per-frame work, and what its shut-down resets.
#include <imgui.h>

#include "overlay/Panel.h"
#include "overlay/PanelTabs.h"

namespace zor::overlay {

void loadPanelSettings() {}

void panelFrameWork() {}

void seedPanelOnce() {}

// The wizard is not built yet: the panel stands in for it.
void drawWizard(int&, bool&) { drawPanel(); }

void resetPanelForShutdown() {}

void drawPlaybackTab() { ImGui::TextDisabled("Reproduccion"); }
void drawProfilesTab() { ImGui::TextDisabled("Perfiles"); }
void drawApplicationsTab() { ImGui::TextDisabled("Disponible en una proxima version."); }
void drawDiagnosticsTab() { ImGui::TextDisabled("Disponible en una proxima version."); }

}  // namespace zor::overlay
