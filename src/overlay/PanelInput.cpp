#include "overlay/PanelInput.h"

#include "media/MediaControls.h"

namespace zor::overlay {

bool handleShortcut(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  try {
    return handleMediaShortcut(message, wParam, lParam) == ShortcutResult::Consumed;
  } catch (...) {
    return false;
  }
}

void forgetShortcutKeys() noexcept { clearConsumedKeys(); }

}  // namespace zor::overlay
