// What the overlay drew in one frame, for tests that drive the panel as a player does (real
// clicks at the places the panel reports): the text it showed and where its buttons, tabs,
// boxes and fields are. Off unless a test asks; then the next drawn frame is recorded through
// ImGui's text log and its item hooks, and kept until the next one. Costs nothing otherwise
// (ImGui checks one flag per item). ImGui ends its log at the End of a popup too: with a combo
// open, the text below the combo is not in the record (its items are).
#pragma once

#include <string>

namespace zor::overlay {

// Any thread: record the next frame the overlay draws.
void requestFrameRecord() noexcept;
// The newest record: "frame <n>", the text lines drawn, then "items" and one line per item:
// label, x, y, width, height (game window client pixels: the part in view, or the whole item
// when none of it is) and flags (1 disabled, 2 out of view: scrolled away), separated by tabs.
// Empty before the first record.
std::string latestFrameRecord();

// Render thread, inside an ImGui frame, before the item is drawn: names the item of this id (in
// the current id scope) in the record, for items ImGui does not name itself (combo boxes).
void nameNextItem(const char* id);

// Render thread, inside an ImGui frame: around the drawing of the panel or the wizard.
void beginFrameRecord();
void endFrameRecord();

}  // namespace zor::overlay
