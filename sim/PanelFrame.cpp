#include "PanelFrame.h"

#include "Scenario.h"

namespace zor::sim {

const PanelItem* PanelFrame::find(std::string_view label, int n) const {
  for (const PanelItem& item : items) {
    std::string_view shown = item.label;
    const size_t id = shown.find("##");
    if (id != std::string_view::npos && id > 0) shown = shown.substr(0, id);
    if ((item.label == label || shown == label) && --n == 0) return &item;
  }
  return nullptr;
}

bool parsePanelFrame(std::string_view record, PanelFrame& out) {
  out = {};
  const size_t firstEnd = record.find('\n');
  if (record.substr(0, 6) != "frame " || firstEnd == std::string_view::npos) return false;
  long long number = 0;
  if (!parseInt(record.substr(6, firstEnd - 6), number) || number <= 0) return false;
  out.number = static_cast<uint64_t>(number);
  record.remove_prefix(firstEnd + 1);
  const size_t items = record.rfind("\nitems\n");
  if (items == std::string_view::npos) return false;
  out.text = std::string(record.substr(0, items));
  record.remove_prefix(items + 7);
  while (!record.empty()) {
    const size_t end = record.find('\n');
    std::string_view line = record.substr(0, end);
    record.remove_prefix(end == std::string_view::npos ? record.size() : end + 1);
    std::vector<std::string_view> fields;
    for (size_t tab; (tab = line.find('\t')) != std::string_view::npos; line.remove_prefix(tab + 1))
      fields.push_back(line.substr(0, tab));
    fields.push_back(line);
    if (fields.size() != 6) return false;
    PanelItem item;
    item.label = std::string(fields[0]);
    long long v[5];
    for (int i = 0; i < 5; ++i)
      if (!parseInt(fields[static_cast<size_t>(i) + 1], v[i])) return false;
    item.x = static_cast<int>(v[0]);
    item.y = static_cast<int>(v[1]);
    item.width = static_cast<int>(v[2]);
    item.height = static_cast<int>(v[3]);
    item.disabled = (v[4] & 1) != 0;
    item.hidden = (v[4] & 2) != 0;
    out.items.push_back(std::move(item));
  }
  return true;
}

}  // namespace zor::sim
