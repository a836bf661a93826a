// What the plugin's panel drew in one frame, as its test build reports it (the export
// zor_test_panel_frame of ZorTabcastPlugin_playback.dll): the text lines and the places of its
// buttons, tabs, boxes and fields, so that scenarios click them with real X input and check
// what the player would read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zor::sim {

struct PanelItem {
  std::string label;  // as the panel names it; a "##" part is an id, not shown
  int x = 0, y = 0, width = 0, height = 0;  // game window client pixels, the visible part
  bool disabled = false;
  bool hidden = false;  // scrolled out of view (x, y, width, height: where it is)
};

struct PanelFrame {
  uint64_t number = 0;  // 0: no frame recorded yet
  std::string text;     // the lines drawn
  std::vector<PanelItem> items;

  // The n-th (from 1) item whose label, or its part before "##", is label; null when none.
  const PanelItem* find(std::string_view label, int n = 1) const;
};

// Parses a record of the plugin ("frame N", text, "items", one tab-separated item a line).
bool parsePanelFrame(std::string_view record, PanelFrame& out);

}  // namespace zor::sim
