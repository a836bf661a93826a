#include "overlay/PanelInput.h"

namespace zor::overlay {

bool handleShortcut(UINT, WPARAM, LPARAM) noexcept { return false; }

void forgetShortcutKeys() noexcept {}

}  // namespace zor::overlay
