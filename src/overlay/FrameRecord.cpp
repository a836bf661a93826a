// The hooks' declarations, so that the definitions below are checked against them.
#define IMGUI_ENABLE_TEST_ENGINE
#include "overlay/FrameRecord.h"

#include <imgui.h>
#include <imgui_internal.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

namespace zor::overlay {
namespace {

std::atomic<bool> g_requested{false};
bool g_recording = false;  // render thread
// Render thread, while recording: the places ImGui gave items (ItemAdd) and the labels it
// named them by (ItemInfo), joined by id at the end of the frame (a tab is named before it is
// placed, a button after).
struct Placed {
  ImGuiID id;
  ImRect rect;     // where it is
  ImRect visible;  // the part of it in view
  bool disabled;
};
struct Named {
  ImGuiID id;
  std::string label;
};
std::vector<Placed> g_placed;
std::vector<Named> g_named;
std::string g_text;        // render thread, while recording
void (*g_savedSetClipboard)(void*, const char*) = nullptr;

// ImGui hands its text log to the clipboard function when the log ends (the End of the panel's
// window ends it): while a frame is recorded, that function is this one.
void keepLoggedText(void*, const char* text) {
  if (text) g_text.append(text);
}
uint64_t g_frames = 0;
std::mutex g_latestMutex;
std::string g_latest;

}  // namespace

void requestFrameRecord() noexcept { g_requested.store(true, std::memory_order_release); }

std::string latestFrameRecord() {
  std::lock_guard<std::mutex> lock(g_latestMutex);
  return g_latest;
}

void beginFrameRecord() {
  if (!g_requested.exchange(false, std::memory_order_acq_rel)) return;
  ImGuiContext& g = *ImGui::GetCurrentContext();
  if (g.LogEnabled) return;
  g_recording = true;
  g_placed.clear();
  g_named.clear();
  g_text.clear();
  g.TestEngineHookItems = true;
  ImGuiIO& io = ImGui::GetIO();
  g_savedSetClipboard = io.SetClipboardTextFn;
  io.SetClipboardTextFn = &keepLoggedText;
  ImGui::LogToClipboard();
}

void endFrameRecord() {
  if (!g_recording) return;
  g_recording = false;
  ImGuiContext& g = *ImGui::GetCurrentContext();
  g.TestEngineHookItems = false;
  ImGui::LogFinish();  // normally the panel's End has finished it already
  ImGui::GetIO().SetClipboardTextFn = g_savedSetClipboard;
  std::string record = "frame " + std::to_string(++g_frames) + "\n";
  record.append(g_text);
  record.append("\nitems\n");
  for (const Named& named : g_named) {
    const Placed* place = nullptr;
    for (const Placed& p : g_placed)
      if (p.id == named.id) place = &p;  // the last place of the frame
    if (!place) continue;
    const bool hidden = place->visible.GetWidth() < 1 || place->visible.GetHeight() < 1;
    const ImRect& r = hidden ? place->rect : place->visible;
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "\t%d\t%d\t%d\t%d\t%d\n", static_cast<int>(r.Min.x), static_cast<int>(r.Min.y),
                  static_cast<int>(r.GetWidth()), static_cast<int>(r.GetHeight()),
                  (place->disabled ? 1 : 0) | (hidden ? 2 : 0));
    for (char c : named.label) record.push_back(c == '\t' || c == '\n' ? ' ' : c);
    record.append(numbers);
  }
  std::lock_guard<std::mutex> lock(g_latestMutex);
  g_latest.swap(record);
}

void nameNextItem(const char* id) {
  if (g_recording && id) g_named.push_back({ImGui::GetID(id), id});
}

}  // namespace zor::overlay

// ImGui's item hooks (compiled in with IMGUI_ENABLE_TEST_ENGINE, called only while
// TestEngineHookItems is set).
void ImGuiTestEngineHook_ItemAdd(ImGuiContext* ctx, ImGuiID id, const ImRect& bb, const ImGuiLastItemData* item) {
  if (!zor::overlay::g_recording || !ctx || !ctx->CurrentWindow) return;
  ImRect visible = bb;
  visible.ClipWith(ctx->CurrentWindow->ClipRect);
  const bool disabled = item && (item->InFlags & ImGuiItemFlags_Disabled) != 0;
  zor::overlay::g_placed.push_back({id, bb, visible, disabled});
}

void ImGuiTestEngineHook_ItemInfo(ImGuiContext*, ImGuiID id, const char* label, ImGuiItemStatusFlags) {
  if (!zor::overlay::g_recording || !label) return;
  zor::overlay::g_named.push_back({id, label});
}

void ImGuiTestEngineHook_Log(ImGuiContext*, const char*, ...) {}

const char* ImGuiTestEngine_FindItemDebugLabel(ImGuiContext*, ImGuiID) { return nullptr; }
