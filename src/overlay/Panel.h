// The panel drawn by the overlay host, and the panel-side work the host runs every frame.
#pragma once

namespace zor::overlay {

// At initialisation: the playback target, the stores the panel shows.
void loadPanelSettings();
// Every frame while the overlay is up, panel shown or not: the start-up profile, a pending
// automatic start, smart capture.
void panelFrameWork();
// Once, at the first frame the panel is shown: the source window and frame rate from the
// capture engine.
void seedPanelOnce();
// The panel window with its tabs; inside an ImGui frame.
void drawPanel();
// The first-run wizard at page `step`. True on the frame the player finishes it; setupCompleted
// then says whether it is to be shown again.
bool drawWizard(int& step, bool& setupCompleted);
// Overlay shut-down: what the next start must load or apply again.
void resetPanelForShutdown();

}  // namespace zor::overlay
